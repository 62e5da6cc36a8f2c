// A process's private robust memory (see private_heap.hpp).
//
// Areas are mappings aligned to kChunk, so that the chunk map tells from a
// pointer alone which area holds it (and that it is ours at all). Ordinary
// areas are one chunk; a very large block gets an area of as many chunks as
// it needs, unmapped again with its block.
//
// A thread caches released small blocks per class, linked through their
// first word; the second holds a tag (the block's address mixed with a
// secret of the process) while the block waits in a cache, and is cleared
// when the block is handed out, so that a block released again while it
// waits is known by its tag.
#include "private_heap.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <new>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "robust_heap.hpp"
#include "robust_heap_classes.hpp"

namespace vek_sal::private_heap {

namespace {

constexpr unsigned kChunkShift = 26;
constexpr std::size_t kChunk = std::size_t{1} << kChunkShift; // 64 MiB, mostly never touched
constexpr std::size_t kMapChunks = std::size_t{1} << (47 - kChunkShift);
constexpr std::size_t kHugeBlock = kChunk / 4;

// Per chunk of the address space: 0, or the area's first chunk + 1 (bit 31
// set for an area of one very large block) in the low half and its chunk
// count in the high half.
std::atomic<std::uint64_t> g_map[kMapChunks];
constexpr std::uint64_t kHugeArea = std::uint64_t{1} << 31;

struct AreaRef {
    unsigned char *mem = nullptr;
    std::size_t bytes = 0;
    bool huge = false;
};

AreaRef area_of(const void *p) {
    const auto a = reinterpret_cast<std::uintptr_t>(p) >> kChunkShift;
    if (a >= kMapChunks) return {};
    const std::uint64_t e = g_map[a].load(std::memory_order_acquire);
    if (e == 0) return {};
    const std::uint64_t first = (e & (kHugeArea - 1)) - 1;
    return {reinterpret_cast<unsigned char *>(static_cast<std::uintptr_t>(first << kChunkShift)),
            static_cast<std::size_t>((e >> 32) << kChunkShift), (e & kHugeArea) != 0};
}

void map_area(const AreaRef &r, bool on) {
    const std::uint64_t first = reinterpret_cast<std::uintptr_t>(r.mem) >> kChunkShift;
    const std::uint64_t chunks = r.bytes >> kChunkShift;
    const std::uint64_t e = (first + 1) | (r.huge ? kHugeArea : 0) | (chunks << 32);
    for (std::uint64_t i = 0; i < chunks; ++i) g_map[first + i].store(on ? e : 0, std::memory_order_release);
}

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

class Locked {
public:
    Locked() { pthread_mutex_lock(&g_lock); }
    ~Locked() { pthread_mutex_unlock(&g_lock); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
};

// The ordinary areas (under g_lock), in a mapping that doubles as it fills.
unsigned char **g_areas = nullptr;
std::size_t g_area_count = 0;
std::size_t g_area_room = 0;
std::size_t g_current = 0; // the area tried first

// A mapping of `bytes` (a multiple of kChunk) aligned to kChunk, formatted.
AreaRef new_area(std::size_t bytes) {
    void *m = mmap(nullptr, bytes + kChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) return {};
    auto *start = static_cast<unsigned char *>(m);
    auto *aligned =
        reinterpret_cast<unsigned char *>((reinterpret_cast<std::uintptr_t>(m) + kChunk - 1) & ~(kChunk - 1));
    if (aligned > start) munmap(start, static_cast<std::size_t>(aligned - start));
    const std::size_t tail = static_cast<std::size_t>(start + bytes + kChunk - (aligned + bytes));
    if (tail > 0) munmap(aligned + bytes, tail);
    if ((reinterpret_cast<std::uintptr_t>(aligned) >> kChunkShift) + (bytes >> kChunkShift) > kMapChunks ||
        !heap::format(aligned, bytes)) {
        munmap(aligned, bytes);
        return {};
    }
    return {aligned, bytes, false};
}

// Adds an ordinary area (under g_lock); false when no memory is left.
bool add_area() {
    if (g_area_count == g_area_room) {
        const std::size_t room = g_area_room == 0 ? 512 : g_area_room * 2;
        void *m =
            mmap(nullptr, room * sizeof(unsigned char *), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return false;
        auto **grown = static_cast<unsigned char **>(m);
        if (g_area_count != 0) std::memcpy(grown, g_areas, g_area_count * sizeof(unsigned char *));
        if (g_areas != nullptr) munmap(g_areas, g_area_room * sizeof(unsigned char *));
        g_areas = grown;
        g_area_room = room;
    }
    const AreaRef r = new_area(kChunk);
    if (r.mem == nullptr) return false;
    map_area(r, true);
    g_areas[g_area_count] = r.mem;
    g_current = g_area_count++;
    return true;
}

// A block from the ordinary areas (under g_lock).
void *alloc_locked(std::size_t size) {
    if (g_area_count != 0) {
        if (void *p = heap::alloc(g_areas[g_current], size)) return p;
        for (std::size_t i = g_area_count; i-- > 0;) {
            if (void *p = heap::alloc(g_areas[i], size)) {
                g_current = i;
                return p;
            }
        }
    }
    if (!add_area()) return nullptr;
    return heap::alloc(g_areas[g_current], size);
}

void *alloc_huge(std::size_t size) {
    if (size > SIZE_MAX / 4) return nullptr; // keeps the sum below from wrapping
    const std::size_t bytes = (size + size / 64 + 4 * heap::min_area_bytes() + kChunk - 1) & ~(kChunk - 1);
    const AreaRef r = new_area(bytes);
    if (r.mem == nullptr) return nullptr;
    void *p = heap::alloc(r.mem, size);
    if (p == nullptr) {
        munmap(r.mem, r.bytes);
        return nullptr;
    }
    map_area({r.mem, r.bytes, true}, true);
    return p;
}

// ---- thread caches -------------------------------------------------------------

struct Bin {
    void *head = nullptr;
    std::uint32_t count = 0;
};

struct Cache {
    Bin bins[heap::kClasses];
};

// Blocks a bin holds at most: about 64 KiB, 32 .. 512 blocks. A bin past
// its limit gives a quarter of it back; an empty one takes a quarter, so a
// working set of up to the limit settles in the cache.
constexpr auto kLimit = [] {
    std::array<std::uint32_t, heap::kClasses> t{};
    for (std::size_t c = 0; c < heap::kClasses; ++c) {
        const std::uint32_t n = 65536 / heap::kClassSize[c];
        t[c] = n < 32 ? 32 : n > 512 ? 512 : n;
    }
    return t;
}();
constexpr std::uint32_t limit_of(std::size_t c) { return kLimit[c]; }

std::uint64_t g_secret = 0;
pthread_once_t g_once = PTHREAD_ONCE_INIT;
pthread_key_t g_key;

__attribute__((tls_model("initial-exec"))) thread_local Cache *tl_cache = nullptr;

std::uint64_t tag_of(const void *p) { return g_secret ^ reinterpret_cast<std::uintptr_t>(p); }

[[noreturn]] void fail(const char *what, const void *p) {
    std::fprintf(stderr, "libVekSalIf: robust block %p: %s\n", p, what);
    std::abort();
}

// Gives `n` blocks from the head of bin `c` back to the areas.
void drain(Bin &bin, std::uint32_t n) {
    const Locked guard;
    while (n-- > 0 && bin.head != nullptr) {
        auto *w = static_cast<std::uint64_t *>(bin.head);
        bin.head = reinterpret_cast<void *>(w[0]);
        --bin.count;
        w[1] = 0;
        const AreaRef r = area_of(w);
        if (r.mem == nullptr || !heap::release(r.mem, w)) fail("no block in use", w);
    }
}

void flush(Cache *cache) {
    for (Bin &bin : cache->bins) drain(bin, bin.count);
}

void thread_gone(void *p) {
    auto *cache = static_cast<Cache *>(p);
    tl_cache = nullptr;
    flush(cache);
    const Locked guard;
    const AreaRef r = area_of(cache);
    if (r.mem != nullptr) heap::release(r.mem, cache);
}

void lock_for_fork() { pthread_mutex_lock(&g_lock); }
void unlock_after_fork() { pthread_mutex_unlock(&g_lock); }

void init_once() {
    std::uint64_t s = static_cast<std::uint64_t>(std::time(nullptr)) * 0x9E37'79B9'7F4A'7C15ULL;
    s ^= reinterpret_cast<std::uintptr_t>(&s) ^ (static_cast<std::uint64_t>(getpid()) << 32);
    s ^= reinterpret_cast<std::uintptr_t>(&g_secret) * 0xBF58'476D'1CE4'E5B9ULL;
    g_secret = s | 1;
    pthread_key_create(&g_key, thread_gone);
    pthread_atfork(lock_for_fork, unlock_after_fork, unlock_after_fork);
}

Cache *new_cache();

inline Cache *cache() {
    Cache *c = tl_cache;
    return c != nullptr ? c : new_cache();
}

Cache *new_cache() {
    pthread_once(&g_once, init_once);
    void *m = nullptr;
    {
        const Locked guard;
        m = alloc_locked(sizeof(Cache));
    }
    if (m == nullptr) return nullptr;
    auto *c = new (m) Cache;
    pthread_setspecific(g_key, c);
    tl_cache = c;
    return c;
}

// Fills an empty bin with a quarter of its limit, whole bitmap words of
// slabs at a time; false when no block could be had.
bool refill(Bin &bin, std::size_t c) {
    void *got[512];
    const std::size_t want = limit_of(c) / 4;
    std::size_t n = 0;
    {
        const Locked guard;
        if (g_area_count != 0) n = heap::alloc_small_blocks(g_areas[g_current], heap::kClassSize[c], got, want);
        if (n == 0) {
            // The current area is full: any block (from another area, a
            // new one, or a page run) will do.
            if (void *p = alloc_locked(heap::kClassSize[c])) got[n++] = p;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        auto *w = static_cast<std::uint64_t *>(got[i]);
        w[0] = reinterpret_cast<std::uintptr_t>(bin.head);
        w[1] = tag_of(w);
        bin.head = w;
        ++bin.count;
    }
    return n != 0;
}

void *alloc_small(std::size_t size) {
    const std::size_t c = heap::class_of(size);
    Cache *cache_ = cache();
    if (cache_ == nullptr) return nullptr;
    Bin &bin = cache_->bins[c];
    if (bin.head == nullptr) {
        if (!refill(bin, c)) return nullptr;
    }
    auto *w = static_cast<std::uint64_t *>(bin.head);
    bin.head = reinterpret_cast<void *>(w[0]);
    --bin.count;
    w[1] = 0;
    return w;
}

} // namespace

namespace areas {

void *alloc(std::size_t size) {
    if (size == 0) size = 1;
    if (size <= heap::kSmallMax) return alloc_small(size);
    if (size >= kHugeBlock) return alloc_huge(size);
    const Locked guard;
    return alloc_locked(size);
}

bool release(void *block) {
    const AreaRef r = area_of(block);
    if (r.mem == nullptr) return false;
    const std::size_t slot = heap::slot_size(r.mem, r.bytes, block);
    if (slot != 0) {
        auto *w = static_cast<std::uint64_t *>(block);
        if (w[1] == tag_of(block)) return false; // waits in a cache: released already
        Cache *c = cache();
        if (c == nullptr) {
            const Locked guard;
            return heap::release(r.mem, block);
        }
        const std::size_t cls = heap::class_of(slot);
        Bin &bin = c->bins[cls];
        w[0] = reinterpret_cast<std::uintptr_t>(bin.head);
        w[1] = tag_of(block);
        bin.head = block;
        if (++bin.count > limit_of(cls)) drain(bin, limit_of(cls) / 4);
        return true;
    }
    if (r.huge) {
        // A very large block's own area goes with it.
        {
            const Locked guard;
            if (!heap::release(r.mem, block)) return false;
            map_area(r, false);
        }
        munmap(r.mem, r.bytes);
        return true;
    }
    const Locked guard;
    return heap::release(r.mem, block);
}

std::size_t block_size(const void *block) {
    const AreaRef r = area_of(block);
    if (r.mem == nullptr) return 0;
    if (const std::size_t slot = heap::slot_size(r.mem, r.bytes, block)) return slot;
    const Locked guard;
    return heap::block_size(r.mem, block);
}

void *resize(void *block, std::size_t size) {
    const std::size_t old = block_size(block);
    if (old == 0) return nullptr;
    if (size <= old && (size > old / 2 || old <= heap::kSmallMax)) return block;
    void *p = alloc(size);
    if (p == nullptr) return nullptr;
    std::memcpy(p, block, old < size ? old : size);
    if (!release(block)) fail("no block in use", block);
    return p;
}

bool owns(const void *p) { return area_of(p).mem != nullptr; }

void flush_thread_cache() {
    if (tl_cache != nullptr) flush(tl_cache);
}

} // namespace areas

// ---- the choice of heap --------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VEK_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VEK_SANITIZED_BUILD 1
#endif
#endif

bool system_heap() {
#ifdef VEK_SANITIZED_BUILD
    return true;
#else
    static const bool from_env = [] {
        const char *v = std::getenv("VEK_ROBUST_SYSTEM_HEAP");
        return v != nullptr && std::strcmp(v, "1") == 0;
    }();
    return from_env;
#endif
}

void *alloc(std::size_t size) { return system_heap() ? std::malloc(size == 0 ? 1 : size) : areas::alloc(size); }

void release(void *block) {
    if (block == nullptr) return;
    if (system_heap()) {
        std::free(block);
    } else if (!areas::release(block)) {
        fail(areas::owns(block) ? "no block in use (released twice?)" : "not a robust block", block);
    }
}

void *resize(void *block, std::size_t size) {
    if (system_heap()) return std::realloc(block, size == 0 ? 1 : size);
    if (areas::block_size(block) == 0) {
        fail(areas::owns(block) ? "no block in use (released twice?)" : "not a robust block", block);
    }
    return areas::resize(block, size);
}

} // namespace vek_sal::private_heap
