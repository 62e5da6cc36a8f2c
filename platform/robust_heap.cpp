// The allocator of robust memory (see robust_heap.hpp), formatted in place.
//
// Layout of an area, every reference an index or offset from its start:
//
//   Header | page descriptors (one per page) | pages (kPage bytes each)
//
// The pages are tiled by runs: the run heads, walked from page 0 by their
// page counts, are the authoritative state of the page level. A run is
// free, one large block, or a slab of one size class. A slab starts with a
// header whose used-slot bitmap is the authoritative state of its slots.
// Everything else (the list of free runs, each class's list of slabs with
// a free slot, the boundary tags giving the previous run's length, the
// descriptors inside runs, the slabs' used counts and the area's counters)
// is derived: mend() builds it again from the authoritative state.
//
// A change of the authoritative state is one aligned store: a run's page
// count (split a free run after writing the new head inside it; absorb a
// free neighbour), a head's state (allocate, release), one bitmap word.
// Every store is followed by step(), a compiler barrier that also counts
// the step for the death-point control, so a process killed between any
// two stores leaves a tiling whose every block is either in use as its
// owner was told, or free, or in use and unknown to anyone (a leak).
#include "robust_heap.hpp"
#include "robust_heap_classes.hpp"

#include <unistd.h>

#include <array>
#include <atomic>
#include <bit>
#include <cstring>

#include "../src/foundation/store_order.hpp"
#include "vek_saltest.h"

namespace vek_sal::heap {

namespace {

constexpr std::uint64_t kMagic = 0x7665'6b68'6561'7031ULL; // "vekheap1"
constexpr std::size_t kPage = 4096;
constexpr std::uint32_t kNone = 0xFFFF'FFFFu;

// Descriptor states. Run heads are kFree, kLarge or kSlab; a page inside a
// slab is kSlabPart (naming its head), any other inner page kInner.
enum : std::uint32_t { kInner = 0, kFree = 1, kLarge = 2, kSlab = 3, kSlabPart = 4 };

struct Desc {
    std::uint32_t state;
    std::uint32_t run;       // head: pages of the run
    std::uint32_t prev_run;  // head: pages of the run before it (0 for the first)
    std::uint32_t aux;       // slab head: size class; slab part: head page
    std::uint32_t next_free; // free head: list of free runs
    std::uint32_t prev_free;
    std::uint32_t unused[2];
};
static_assert(sizeof(Desc) == 32);

constexpr std::size_t kSlabHeader = 64;
constexpr std::size_t kMaxSlots = 256;

constexpr std::uint32_t class_pages(std::size_t c) {
    const std::uint32_t size = kClassSize[c];
    return size <= 256 ? 1 : size <= 512 ? 2 : size <= 1792 ? 4 : 8;
}

// Per class: pages of a slab, slots of a slab, and the reciprocal that
// turns an offset into a slot number without a division (exact for every
// offset inside a slab: offset * size < 2^32).
struct ClassShape {
    std::uint32_t pages;
    std::uint32_t slots;
    std::uint64_t reciprocal;
};
constexpr auto kShape = [] {
    std::array<ClassShape, kClasses> t{};
    for (std::size_t c = 0; c < kClasses; ++c) {
        const std::size_t n = (class_pages(c) * kPage - kSlabHeader) / kClassSize[c];
        t[c] = {class_pages(c), static_cast<std::uint32_t>(n < kMaxSlots ? n : kMaxSlots),
                (std::uint64_t{1} << 32) / kClassSize[c] + 1};
    }
    return t;
}();
static_assert(8 * kPage * std::uint64_t{kSmallMax} < (std::uint64_t{1} << 32));

constexpr std::uint32_t pages_of_class(std::size_t c) { return kShape[c].pages; }
constexpr std::uint32_t slots_of_class(std::size_t c) { return kShape[c].slots; }

// The slot at `off` bytes past a slab's first slot, or kMaxSlots when
// `off` starts no slot of class c.
inline std::uint32_t slot_at(std::size_t c, std::size_t off) {
    if (off >= std::size_t{kShape[c].pages} * kPage) return kMaxSlots;
    const auto slot = static_cast<std::uint32_t>((off * kShape[c].reciprocal) >> 32);
    return slot < kShape[c].slots && std::size_t{slot} * kClassSize[c] == off ? slot : kMaxSlots;
}

struct Slab {
    std::uint64_t used_bits[kMaxSlots / 64]; // authoritative
    std::uint32_t next;                      // class list of slabs with a free slot
    std::uint32_t prev;
    std::uint32_t used; // derived: bits set
    std::uint32_t unused[5];
};
static_assert(sizeof(Slab) == kSlabHeader);

struct Header {
    std::uint64_t magic;
    std::uint64_t bytes; // as formatted
    std::uint64_t npages;
    std::uint64_t pages_off; // offset of page 0
    std::uint32_t free_runs; // first free run
    std::uint32_t unused;
    std::uint32_t partial[kClasses];
    std::uint64_t used_bytes;
    std::uint64_t free_bytes;
    std::uint64_t blocks;
};
constexpr std::size_t kDescOff = (sizeof(Header) + 63) / 64 * 64;

struct Geometry {
    std::uint64_t npages = 0;
    std::uint64_t pages_off = 0;
};

std::uint64_t round_page(std::uint64_t n) { return (n + kPage - 1) / kPage * kPage; }

// The most pages an area of `bytes` holds with their descriptors.
Geometry geometry(std::size_t bytes) {
    Geometry g;
    if (bytes <= kDescOff) return g;
    std::uint64_t n = (bytes - kDescOff) / (kPage + sizeof(Desc));
    while (n > 0 && round_page(kDescOff + n * sizeof(Desc)) + n * kPage > bytes) --n;
    if (n > kNone - 1) n = kNone - 1;
    g.npages = n;
    g.pages_off = round_page(kDescOff + n * sizeof(Desc));
    return g;
}

// ---- death points ------------------------------------------------------------

std::atomic<std::uint32_t> g_steps{0};
std::atomic<std::uint32_t> g_die_at{0}; // 0: disarmed
std::atomic<int> g_die_code{0};

// Ends one ordered step: keeps the compiler from moving the stores of the
// next step before it, and counts it for vek_saltest_heap_die_at().
void step() {
    vek::store_barrier();
    const std::uint32_t n = g_steps.load(std::memory_order_relaxed) + 1;
    g_steps.store(n, std::memory_order_relaxed);
    const std::uint32_t at = g_die_at.load(std::memory_order_relaxed);
    if (at != 0 && at == n) _exit(g_die_code.load(std::memory_order_relaxed));
    vek::store_barrier();
}

// ---- the area ------------------------------------------------------------------

// An area seen through its header, with the geometry checked against the
// size the header claims.
class Area {
public:
    explicit Area(void *mem) : base_(static_cast<unsigned char *>(mem)), h_(static_cast<Header *>(mem)) {}

    // The header is one this allocator wrote, and its geometry lies inside
    // the size it claims (exactly as format() computed it: check()).
    bool sound() const {
        if (base_ == nullptr || h_->magic != kMagic) return false;
        const std::uint64_t n = h_->npages;
        const std::uint64_t off = h_->pages_off;
        return n != 0 && n < kNone && off % kPage == 0 && off >= kDescOff + n * sizeof(Desc) && off <= h_->bytes &&
               (h_->bytes - off) / kPage >= n;
    }
    Header &h() const { return *h_; }
    std::uint32_t n() const { return static_cast<std::uint32_t>(h_->npages); }
    Desc &d(std::uint32_t i) const { return reinterpret_cast<Desc *>(base_ + kDescOff)[i]; }
    unsigned char *page(std::uint32_t i) const { return base_ + h_->pages_off + std::size_t{i} * kPage; }
    Slab &slab(std::uint32_t i) const { return *reinterpret_cast<Slab *>(page(i)); }
    unsigned char *pages_begin() const { return base_ + h_->pages_off; }
    unsigned char *pages_end() const { return pages_begin() + std::size_t{n()} * kPage; }
    bool in(std::uint32_t i) const { return i < n(); }
    // A run head whose run stays inside the area.
    bool run_ok(std::uint32_t i) const { return in(i) && d(i).run != 0 && d(i).run <= n() - i; }

    void set_prev_run(std::uint32_t next, std::uint32_t run) const {
        if (in(next)) {
            d(next).prev_run = run;
            step();
        }
    }

    // Takes free run `f` out of the free list; false when its links are broken.
    bool unlink_free(std::uint32_t f) const {
        const std::uint32_t p = d(f).prev_free;
        const std::uint32_t x = d(f).next_free;
        if ((p != kNone && !in(p)) || (x != kNone && !in(x))) return false;
        if (p == kNone) {
            h_->free_runs = x;
        } else {
            d(p).next_free = x;
        }
        step();
        if (x != kNone) {
            d(x).prev_free = p;
            step();
        }
        return true;
    }

    void push_free(std::uint32_t f) const {
        const std::uint32_t old = h_->free_runs;
        d(f).next_free = in(old) ? old : kNone;
        d(f).prev_free = kNone;
        step();
        if (in(old)) {
            d(old).prev_free = f;
            step();
        }
        h_->free_runs = f;
        step();
    }

    // A free run of at least `want` pages, first fit, made a run of
    // exactly `want` pages with state `state` after `prepare(head)` has
    // written what must be in place before it is published. kNone when no
    // run fits (or the free list is broken).
    template <class Prepare>
    std::uint32_t take_run(std::uint32_t want, std::uint32_t state, Prepare prepare) const {
        std::uint32_t f = h_->free_runs;
        for (std::uint32_t guard = 0;; ++guard) {
            if (f == kNone || guard > n() || !run_ok(f) || d(f).state != kFree) return kNone;
            if (d(f).run >= want) break;
            f = d(f).next_free;
        }
        const std::uint32_t run = d(f).run;
        if (run > want) {
            // The rest becomes a free run of its own, taking f's place in
            // the free list: its head is written inside f before f shrinks.
            const std::uint32_t rest = f + want;
            const std::uint32_t p = d(f).prev_free;
            const std::uint32_t x = d(f).next_free;
            if ((p != kNone && !in(p)) || (x != kNone && !in(x))) return kNone;
            Desc &r = d(rest);
            r.state = kFree;
            r.run = run - want;
            r.prev_run = want;
            r.aux = 0;
            r.next_free = x;
            r.prev_free = p;
            step();
            d(f).run = want;
            step();
            set_prev_run(f + run, run - want);
            if (p == kNone) {
                h_->free_runs = rest;
            } else {
                d(p).next_free = rest;
            }
            step();
            if (x != kNone) {
                d(x).prev_free = rest;
                step();
            }
        } else if (!unlink_free(f)) {
            return kNone;
        }
        prepare(f);
        step();
        d(f).state = state;
        step();
        return f;
    }

    // Gives run `f` (in use, a whole head) back, merged with free neighbours.
    void give_run(std::uint32_t f) const {
        d(f).state = kFree;
        step();
        std::uint32_t run = d(f).run;
        const std::uint32_t x = f + run;
        if (run_ok(x) && d(x).state == kFree && unlink_free(x)) {
            run += d(x).run;
            d(f).run = run;
            step();
            d(x).state = kInner;
            step();
            set_prev_run(f + run, run);
        }
        const std::uint32_t back = d(f).prev_run;
        if (f > 0 && back != 0 && back <= f) {
            const std::uint32_t p = f - back;
            if (d(p).state == kFree && d(p).run == back) {
                const std::uint32_t merged = back + run;
                d(p).run = merged;
                step();
                d(f).state = kInner;
                step();
                set_prev_run(p + merged, merged);
                return;
            }
        }
        push_free(f);
    }

    void count(std::int64_t used, std::int64_t free, std::int64_t blocks) const {
        h_->used_bytes += static_cast<std::uint64_t>(used);
        h_->free_bytes += static_cast<std::uint64_t>(free);
        h_->blocks += static_cast<std::uint64_t>(blocks);
        step();
    }

    // Links slab `s` of class `c` first in its class list.
    void push_partial(std::size_t c, std::uint32_t s) const {
        const std::uint32_t old = h_->partial[c];
        slab(s).next = in(old) ? old : kNone;
        slab(s).prev = kNone;
        step();
        if (in(old)) {
            slab(old).prev = s;
            step();
        }
        h_->partial[c] = s;
        step();
    }

    bool unlink_partial(std::size_t c, std::uint32_t s) const {
        const std::uint32_t p = slab(s).prev;
        const std::uint32_t x = slab(s).next;
        if ((p != kNone && !in(p)) || (x != kNone && !in(x))) return false;
        if (p == kNone) {
            h_->partial[c] = x;
        } else {
            slab(p).next = x;
        }
        step();
        if (x != kNone) {
            slab(x).prev = p;
            step();
        }
        return true;
    }

    // The slab head holding page `k`, or kNone.
    std::uint32_t slab_of(std::uint32_t k) const {
        const Desc &dk = d(k);
        const std::uint32_t s = dk.state == kSlab ? k : dk.state == kSlabPart ? dk.aux : kNone;
        if (!in(s) || s > k || d(s).state != kSlab || d(s).aux >= kClasses) return kNone;
        if (d(s).run != pages_of_class(d(s).aux) || k - s >= d(s).run) return kNone;
        return s;
    }

private:
    unsigned char *base_;
    Header *h_;
};

void *alloc_large(const Area &a, std::size_t size) {
    const std::uint64_t want = (std::uint64_t{size} + kPage - 1) / kPage;
    if (want > a.n()) return nullptr;
    const std::uint32_t f = a.take_run(static_cast<std::uint32_t>(want), kLarge, [](std::uint32_t) {});
    if (f == kNone) return nullptr;
    const auto bytes = static_cast<std::int64_t>(want * kPage);
    a.count(bytes, -bytes, 1);
    return a.page(f);
}

std::uint32_t new_slab(const Area &a, std::size_t c) {
    const std::uint32_t pages = pages_of_class(c);
    const std::uint32_t s = a.take_run(pages, kSlab, [&](std::uint32_t f) {
        Slab &sl = a.slab(f);
        std::memset(&sl, 0, sizeof sl);
        sl.next = kNone;
        sl.prev = kNone;
        for (std::uint32_t i = 1; i < pages; ++i) {
            a.d(f + i).state = kSlabPart;
            a.d(f + i).aux = f;
        }
        a.d(f).aux = static_cast<std::uint32_t>(c);
    });
    if (s == kNone) return kNone;
    a.push_partial(c, s);
    a.count(0, std::int64_t{slots_of_class(c)} * kClassSize[c] - std::int64_t{pages} * kPage, 0);
    return s;
}

void *alloc_small(const Area &a, std::size_t c) {
    std::uint32_t s = a.h().partial[c];
    if (s == kNone) s = new_slab(a, c);
    if (s == kNone) return nullptr;
    if (!a.in(s) || a.slab_of(s) != s || a.d(s).aux != c) return nullptr;
    Slab &sl = a.slab(s);
    const std::uint32_t slots = slots_of_class(c);
    for (std::uint32_t w = 0; w * 64 < slots; ++w) {
        std::uint64_t free = ~sl.used_bits[w];
        if (slots - w * 64 < 64) free &= (std::uint64_t{1} << (slots - w * 64)) - 1;
        if (free == 0) continue;
        const int bit = std::countr_zero(free);
        sl.used_bits[w] |= std::uint64_t{1} << bit;
        step();
        const std::uint32_t used = sl.used + 1;
        sl.used = used;
        step();
        if (used >= slots) a.unlink_partial(c, s);
        a.count(kClassSize[c], -std::int64_t{kClassSize[c]}, 1);
        return a.page(s) + kSlabHeader + (w * 64 + static_cast<std::uint32_t>(bit)) * std::size_t{kClassSize[c]};
    }
    return nullptr; // a full slab in the list: the area is not whole
}

// Up to `want` slots of class c from one slab, marked in use by one store
// of one bitmap word; how many were taken (0: no slab could be had).
std::size_t take_slots(const Area &a, std::size_t c, void **out, std::size_t want) {
    std::uint32_t s = a.h().partial[c];
    if (s == kNone) s = new_slab(a, c);
    if (s == kNone || !a.in(s) || a.slab_of(s) != s || a.d(s).aux != c) return 0;
    Slab &sl = a.slab(s);
    const std::uint32_t slots = slots_of_class(c);
    const std::size_t size = kClassSize[c];
    for (std::uint32_t w = 0; w * 64 < slots; ++w) {
        std::uint64_t free = ~sl.used_bits[w];
        if (slots - w * 64 < 64) free &= (std::uint64_t{1} << (slots - w * 64)) - 1;
        if (free == 0) continue;
        std::uint64_t take = 0;
        std::size_t k = 0;
        for (; free != 0 && k < want; ++k) {
            const std::uint64_t low = free & (~free + 1);
            out[k] = a.page(s) + kSlabHeader + (w * 64 + static_cast<std::uint32_t>(std::countr_zero(low))) * size;
            take |= low;
            free &= free - 1;
        }
        sl.used_bits[w] |= take;
        step();
        const std::uint32_t used = sl.used + static_cast<std::uint32_t>(k);
        sl.used = used;
        step();
        if (used >= slots) a.unlink_partial(c, s);
        a.count(static_cast<std::int64_t>(k * size), -static_cast<std::int64_t>(k * size),
                static_cast<std::int64_t>(k));
        return k;
    }
    return 0; // a full slab in the list: the area is not whole
}

// Where a block lies: its run head, and for a small block its slot.
struct Found {
    std::uint32_t head = kNone;
    bool small = false;
    std::size_t cls = 0;
    std::uint32_t slot = 0;
};

// Finds the block in use that starts at `p`; head kNone when there is none.
Found find(const Area &a, const void *p) {
    Found f;
    const auto *c = static_cast<const unsigned char *>(p);
    if (c < a.pages_begin() || c >= a.pages_end()) return f;
    const std::size_t off = static_cast<std::size_t>(c - a.pages_begin());
    const auto k = static_cast<std::uint32_t>(off / kPage);
    if (a.d(k).state == kLarge) {
        if (off % kPage == 0 && a.run_ok(k)) f.head = k;
        return f;
    }
    const std::uint32_t s = a.slab_of(k);
    if (s == kNone) return f;
    const std::size_t cls = a.d(s).aux;
    const unsigned char *first = a.page(s) + kSlabHeader;
    if (c < first) return f;
    const std::uint32_t slot = slot_at(cls, static_cast<std::size_t>(c - first));
    if (slot == kMaxSlots) return f;
    if ((a.slab(s).used_bits[slot / 64] >> (slot % 64) & 1) == 0) return f;
    f.head = s;
    f.small = true;
    f.cls = cls;
    f.slot = slot;
    return f;
}

void release_small(const Area &a, const Found &f) {
    Slab &sl = a.slab(f.head);
    const std::uint32_t slots = slots_of_class(f.cls);
    const std::uint32_t size = kClassSize[f.cls];
    sl.used_bits[f.slot / 64] &= ~(std::uint64_t{1} << (f.slot % 64));
    step();
    const bool was_full = sl.used >= slots;
    const std::uint32_t used = sl.used == 0 ? 0 : sl.used - 1;
    sl.used = used;
    step();
    a.count(-std::int64_t{size}, size, -1);
    if (was_full) {
        a.push_partial(f.cls, f.head);
        return;
    }
    // An empty slab goes back to the pages unless it is its class's only
    // one with free slots (which stays, so that one block allocated and
    // released over and over does not carve a slab each time).
    if (used == 0 && (a.h().partial[f.cls] != f.head || sl.next != kNone) && a.unlink_partial(f.cls, f.head)) {
        a.give_run(f.head);
        const std::int64_t pages = std::int64_t{pages_of_class(f.cls)} * kPage;
        a.count(0, pages - std::int64_t{slots} * size, 0);
    }
}

} // namespace

std::size_t min_area_bytes() { return round_page(kDescOff + sizeof(Desc)) + kPage; }

bool format(void *mem, std::size_t bytes) {
    if (mem == nullptr || bytes < min_area_bytes()) return false;
    const Geometry g = geometry(bytes);
    auto *h = static_cast<Header *>(mem);
    h->magic = 0;
    vek::store_barrier();
    std::memset(static_cast<unsigned char *>(mem) + kDescOff, 0, g.npages * sizeof(Desc));
    h->bytes = bytes;
    h->npages = g.npages;
    h->pages_off = g.pages_off;
    h->unused = 0;
    for (std::uint32_t &p : h->partial) p = kNone;
    h->used_bytes = 0;
    h->free_bytes = g.npages * kPage;
    h->blocks = 0;
    const Area a(mem);
    Desc &d0 = a.d(0);
    d0.state = kFree;
    d0.run = static_cast<std::uint32_t>(g.npages);
    d0.prev_run = 0;
    d0.next_free = kNone;
    d0.prev_free = kNone;
    h->free_runs = 0;
    vek::store_barrier();
    h->magic = kMagic;
    vek::store_barrier();
    return true;
}

void *alloc(void *mem, std::size_t size) {
    const Area a(mem);
    if (!a.sound()) return nullptr;
    if (size == 0) size = 1;
    if (size <= kSmallMax) {
        void *p = alloc_small(a, class_of(size));
        // A small area may lack the pages of a slab: a run serves.
        return p != nullptr ? p : alloc_large(a, size);
    }
    if (size > a.h().bytes) return nullptr;
    return alloc_large(a, size);
}

std::size_t alloc_small_blocks(void *mem, std::size_t size, void **out, std::size_t n) {
    const Area a(mem);
    if (!a.sound() || size > kSmallMax) return 0;
    const std::size_t c = class_of(size == 0 ? 1 : size);
    std::size_t got = 0;
    while (got < n) {
        const std::size_t k = take_slots(a, c, out + got, n - got);
        if (k == 0) break;
        got += k;
    }
    return got;
}

bool release(void *mem, void *block) {
    const Area a(mem);
    if (!a.sound()) return false;
    const Found f = find(a, block);
    if (f.head == kNone) return false;
    if (f.small) {
        release_small(a, f);
        return true;
    }
    const auto bytes = static_cast<std::int64_t>(std::uint64_t{a.d(f.head).run} * kPage);
    a.give_run(f.head);
    a.count(-bytes, bytes, -1);
    return true;
}

std::size_t block_size(const void *mem, const void *block) {
    const Area a(const_cast<void *>(mem));
    if (!a.sound()) return 0;
    const Found f = find(a, block);
    if (f.head == kNone) return 0;
    return f.small ? kClassSize[f.cls] : std::size_t{a.d(f.head).run} * kPage;
}

std::size_t slot_size(const void *mem, std::size_t bytes, const void *block) {
    const Area a(const_cast<void *>(mem));
    if (!a.sound() || a.h().bytes != bytes) return 0;
    const auto *c = static_cast<const unsigned char *>(block);
    if (c < a.pages_begin() || c >= a.pages_end()) return 0;
    const auto k = static_cast<std::uint32_t>(static_cast<std::size_t>(c - a.pages_begin()) / kPage);
    const std::uint32_t s = a.slab_of(k);
    if (s == kNone) return 0;
    const std::size_t size = kClassSize[a.d(s).aux];
    const unsigned char *first = a.page(s) + kSlabHeader;
    if (c < first || slot_at(a.d(s).aux, static_cast<std::size_t>(c - first)) == kMaxSlots) return 0;
    return size;
}

bool owns(const void *mem, std::size_t bytes, const void *p) {
    if (mem == nullptr || p == nullptr) return false;
    const Geometry g = geometry(bytes);
    const auto *begin = static_cast<const unsigned char *>(mem) + g.pages_off;
    const auto *c = static_cast<const unsigned char *>(p);
    return g.npages != 0 && c >= begin && c < begin + g.npages * kPage;
}

namespace {

// What a walk of the runs finds; the counters the area should hold.
struct Tally {
    std::uint64_t used_bytes = 0;
    std::uint64_t free_bytes = 0;
    std::uint64_t blocks = 0;
    std::uint32_t free_runs = 0;
    std::array<std::uint32_t, kClasses> partial{};
};

std::uint32_t popcount(const Slab &sl) {
    std::uint32_t n = 0;
    for (const std::uint64_t w : sl.used_bits) n += static_cast<std::uint32_t>(std::popcount(w));
    return n;
}

// The used bits of slots a slab of class c does not have.
bool stray_bits(const Slab &sl, std::size_t c) {
    const std::uint32_t slots = slots_of_class(c);
    for (std::uint32_t w = 0; w < kMaxSlots / 64; ++w) {
        std::uint64_t beyond = ~std::uint64_t{0};
        if (slots > w * 64) beyond = slots - w * 64 >= 64 ? 0 : ~((std::uint64_t{1} << (slots - w * 64)) - 1);
        if ((sl.used_bits[w] & beyond) != 0) return true;
    }
    return false;
}

void tally_slab(Tally &t, const Slab &sl, std::size_t c) {
    const std::uint32_t used = popcount(sl);
    const std::uint32_t slots = slots_of_class(c);
    t.used_bytes += std::uint64_t{used} * kClassSize[c];
    t.free_bytes += std::uint64_t{slots - used} * kClassSize[c];
    t.blocks += used;
    if (used < slots) ++t.partial[c];
}

const char *check_runs(const Area &a, Tally &t) {
    const std::uint32_t n = a.n();
    std::uint32_t prev_run = 0;
    bool prev_free = false;
    for (std::uint32_t i = 0; i < n;) {
        const Desc &d = a.d(i);
        if (d.state != kFree && d.state != kLarge && d.state != kSlab) return "heap run head with no state";
        if (d.run == 0 || d.run > n - i) return "heap run outside the area";
        if (d.prev_run != prev_run) return "heap boundary tag differs from the run before";
        if (d.state == kFree && prev_free) return "heap free runs not merged";
        for (std::uint32_t k = 1; k < d.run; ++k) {
            const Desc &in = a.d(i + k);
            if (d.state == kSlab ? in.state != kSlabPart || in.aux != i : in.state != kInner && in.state != kSlabPart)
                return "heap page inside a run marked as a head";
        }
        if (d.state == kFree) {
            ++t.free_runs;
            t.free_bytes += std::uint64_t{d.run} * kPage;
        } else if (d.state == kLarge) {
            ++t.blocks;
            t.used_bytes += std::uint64_t{d.run} * kPage;
        } else {
            if (d.aux >= kClasses || d.run != pages_of_class(d.aux)) return "heap slab of no size class";
            const Slab &sl = a.slab(i);
            if (stray_bits(sl, d.aux)) return "heap slab bitmap marks slots past its end";
            if (sl.used != popcount(sl)) return "heap slab used count differs from its bitmap";
            tally_slab(t, sl, d.aux);
        }
        prev_free = d.state == kFree;
        prev_run = d.run;
        i += d.run;
    }
    return nullptr;
}

const char *check_lists(const Area &a, const Tally &t) {
    const std::uint32_t n = a.n();
    std::uint32_t count = 0;
    std::uint32_t back = kNone;
    for (std::uint32_t f = a.h().free_runs; f != kNone; f = a.d(f).next_free) {
        if (!a.in(f) || a.d(f).state != kFree) return "heap free list holds a run in use";
        if (a.d(f).prev_free != back) return "heap free list links disagree";
        if (++count > t.free_runs) return "heap free list differs from the free runs";
        back = f;
    }
    if (count != t.free_runs) return "heap free list differs from the free runs";
    for (std::size_t c = 0; c < kClasses; ++c) {
        count = 0;
        back = kNone;
        for (std::uint32_t s = a.h().partial[c]; s != kNone; s = a.slab(s).next) {
            if (!a.in(s) || a.d(s).state != kSlab || a.d(s).aux != c)
                return "heap class list holds no slab of its class";
            if (a.slab(s).used >= slots_of_class(c)) return "heap class list holds a full slab";
            if (a.slab(s).prev != back) return "heap class list links disagree";
            if (++count > t.partial[c] || count > n) return "heap class list differs from its slabs";
            back = s;
        }
        if (count != t.partial[c]) return "heap class list differs from its slabs";
    }
    const Header &h = a.h();
    if (h.used_bytes != t.used_bytes || h.free_bytes != t.free_bytes || h.blocks != t.blocks)
        return "heap counters differ from its blocks";
    return nullptr;
}

// The header fits `bytes` and was written by format().
bool header_fits(const void *mem, std::size_t bytes) {
    if (mem == nullptr || bytes < min_area_bytes()) return false;
    const auto *h = static_cast<const Header *>(mem);
    return h->magic == kMagic && h->bytes == bytes;
}

} // namespace

const char *check(const void *mem, std::size_t bytes) {
    if (mem == nullptr || bytes < min_area_bytes()) return "heap area smaller than its bookkeeping";
    const auto *h = static_cast<const Header *>(mem);
    if (h->magic != kMagic) return "heap area not formatted";
    if (h->bytes != bytes) return "heap area size differs from its mapping";
    const Area a(const_cast<void *>(mem));
    const Geometry g = geometry(bytes);
    if (!a.sound() || h->npages != g.npages || h->pages_off != g.pages_off)
        return "heap geometry differs from its size";
    Tally t;
    if (const char *broken = check_runs(a, t)) return broken;
    return check_lists(a, t);
}

void mend(void *mem, std::size_t bytes) {
    if (!header_fits(mem, bytes)) return;
    auto *h = static_cast<Header *>(mem);
    const Geometry g = geometry(bytes);
    h->npages = g.npages;
    h->pages_off = g.pages_off;
    vek::store_barrier();
    const Area a(mem);
    const std::uint32_t n = a.n();
    // The runs: a head that cannot be one ends the tiling, its pages kept
    // as one block nobody holds; free neighbours merge; inner pages and
    // boundary tags are written again.
    Tally t;
    std::uint32_t prev = kNone;
    for (std::uint32_t i = 0; i < n;) {
        Desc &d = a.d(i);
        const bool head_ok =
            (d.state == kFree || d.state == kLarge || d.state == kSlab) && d.run != 0 && d.run <= n - i;
        if (!head_ok) {
            d.run = n - i;
            vek::store_barrier();
            d.state = kLarge;
        } else if (d.state == kSlab && (d.aux >= kClasses || d.run != pages_of_class(d.aux))) {
            d.state = kLarge;
        }
        vek::store_barrier();
        if (d.state == kFree && prev != kNone && a.d(prev).state == kFree) {
            Desc &p = a.d(prev);
            p.run += d.run;
            vek::store_barrier();
            d.state = kInner;
            for (std::uint32_t k = 1; k < d.run; ++k) a.d(i + k).state = kInner;
            i = prev + p.run;
            continue;
        }
        d.prev_run = prev == kNone ? 0 : a.d(prev).run;
        for (std::uint32_t k = 1; k < d.run; ++k) {
            Desc &in = a.d(i + k);
            in.state = d.state == kSlab ? kSlabPart : kInner;
            in.aux = d.state == kSlab ? i : 0;
        }
        if (d.state == kSlab) {
            Slab &sl = a.slab(i);
            const std::uint32_t slots = slots_of_class(d.aux);
            for (std::uint32_t w = 0; w < kMaxSlots / 64; ++w) {
                if (slots <= w * 64) {
                    sl.used_bits[w] = 0;
                } else if (slots - w * 64 < 64) {
                    sl.used_bits[w] &= (std::uint64_t{1} << (slots - w * 64)) - 1;
                }
            }
            sl.used = popcount(sl);
        }
        prev = i;
        i += d.run;
    }
    vek::store_barrier();
    // The derived state, from the runs.
    h->free_runs = kNone;
    for (std::uint32_t &p : h->partial) p = kNone;
    std::uint32_t last_free = kNone;
    std::array<std::uint32_t, kClasses> last_slab;
    last_slab.fill(kNone);
    for (std::uint32_t i = 0; i < n; i += a.d(i).run) {
        Desc &d = a.d(i);
        if (d.state == kFree) {
            ++t.free_runs;
            t.free_bytes += std::uint64_t{d.run} * kPage;
            d.prev_free = last_free;
            d.next_free = kNone;
            if (last_free == kNone) {
                h->free_runs = i;
            } else {
                a.d(last_free).next_free = i;
            }
            last_free = i;
        } else if (d.state == kLarge) {
            ++t.blocks;
            t.used_bytes += std::uint64_t{d.run} * kPage;
        } else {
            const std::size_t c = d.aux;
            Slab &sl = a.slab(i);
            const std::uint32_t before = t.partial[c];
            tally_slab(t, sl, c);
            if (t.partial[c] == before) continue;
            sl.prev = last_slab[c];
            sl.next = kNone;
            if (last_slab[c] == kNone) {
                h->partial[c] = i;
            } else {
                a.slab(last_slab[c]).next = i;
            }
            last_slab[c] = i;
        }
    }
    h->used_bytes = t.used_bytes;
    h->free_bytes = t.free_bytes;
    h->blocks = t.blocks;
    vek::store_barrier();
}

Stats stats(const void *mem) {
    const Area a(const_cast<void *>(mem));
    if (!a.sound()) return Stats{0, 0, 0};
    return Stats{a.h().used_bytes, a.h().free_bytes, a.h().blocks};
}

} // namespace vek_sal::heap

extern "C" {

VEK_API void vek_saltest_heap_die_at(uint32_t nth, int exitCode) {
    using namespace vek_sal::heap;
    g_die_at.store(0);
    g_die_code.store(exitCode);
    if (nth != 0) g_die_at.store(g_steps.load() + nth);
}

VEK_API uint32_t vek_saltest_heap_steps(void) { return vek_sal::heap::g_steps.load(); }

} // extern "C"
