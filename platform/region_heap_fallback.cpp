// A plain first-fit allocator behind robust_heap.hpp, built only while the
// tree has no robust_heap.cpp: blocks in address order with a header each,
// neighbours merged on allocation. Every store of a step is ordered so that
// a death between two leaves a list mend() cuts back to whole blocks.
#include <atomic>
#include <cstring>

#include "robust_heap.hpp"

namespace vek_sal::heap {

namespace {

constexpr std::size_t kAlign = 16;
constexpr std::uint64_t kMagic = 0x5045484C4B4556ull;

struct alignas(kAlign) Area {
    std::uint64_t magic;
    std::uint64_t capacity;  // bytes of the block area
    std::uint64_t top;       // bytes handed out as blocks so far
    std::uint64_t live;      // blocks in use
};

struct alignas(kAlign) Block {
    std::uint64_t size;  // payload bytes, a multiple of kAlign
    std::uint64_t used;  // 1 allocated, 0 free
};

void barrier() { std::atomic_signal_fence(std::memory_order_seq_cst); }
std::size_t round_up(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

Area *area(void *mem) { return static_cast<Area *>(mem); }
const Area *area(const void *mem) { return static_cast<const Area *>(mem); }
unsigned char *blocks(void *mem) { return static_cast<unsigned char *>(mem) + sizeof(Area); }
const unsigned char *blocks(const void *mem) { return static_cast<const unsigned char *>(mem) + sizeof(Area); }
Block *block_at(void *mem, std::uint64_t off) { return reinterpret_cast<Block *>(blocks(mem) + off); }
const Block *block_at(const void *mem, std::uint64_t off) {
    return reinterpret_cast<const Block *>(blocks(mem) + off);
}

std::uint64_t capacity_of(std::size_t bytes) { return (bytes - sizeof(Area)) / kAlign * kAlign; }

struct Walk {
    const char *broken = nullptr;
    std::uint64_t whole_top = 0;
    std::uint64_t used = 0;
    std::uint64_t used_bytes = 0;
    std::uint64_t free_bytes = 0;
};

Walk walk(const void *mem, std::size_t bytes) {
    Walk w;
    const Area *a = area(mem);
    if (bytes < sizeof(Area) || a->magic != kMagic) {
        w.broken = "heap magic wrong";
        return w;
    }
    if (a->capacity != capacity_of(bytes)) {
        w.broken = "heap capacity differs from its mapping";
        return w;
    }
    if (a->top > a->capacity || a->top % kAlign != 0) {
        w.broken = "heap top outside its area";
        return w;
    }
    for (std::uint64_t off = 0; off < a->top;) {
        if (a->top - off < sizeof(Block)) {
            w.broken = "heap block header past the top";
            return w;
        }
        const Block *b = block_at(mem, off);
        if (b->size == 0 || b->size % kAlign != 0 || b->size > a->top - off - sizeof(Block)) {
            w.broken = "heap block size outside the area";
            return w;
        }
        if (b->used > 1) {
            w.broken = "heap block neither used nor free";
            return w;
        }
        w.used += b->used;
        (b->used ? w.used_bytes : w.free_bytes) += sizeof(Block) + b->size;
        off += sizeof(Block) + b->size;
        w.whole_top = off;
    }
    w.free_bytes += a->capacity - a->top;
    if (w.used != a->live) w.broken = "heap live count differs from its blocks";
    return w;
}

void coalesce(void *mem, Block *b, std::uint64_t off) {
    for (;;) {
        const std::uint64_t next = off + sizeof(Block) + b->size;
        if (next >= area(mem)->top) return;
        const Block *n = block_at(mem, next);
        if (n->used != 0) return;
        b->size += sizeof(Block) + n->size;
    }
}

// The block whose payload starts at `p`, or nullptr.
const Block *find(const void *mem, const void *p, std::uint64_t *at = nullptr) {
    const Area *a = area(mem);
    const auto *c = static_cast<const unsigned char *>(p);
    if (c < blocks(mem) + sizeof(Block) || c >= blocks(mem) + a->top) return nullptr;
    for (std::uint64_t off = 0; off < a->top;) {
        const Block *b = block_at(mem, off);
        if (reinterpret_cast<const unsigned char *>(b + 1) == c) {
            if (at != nullptr) *at = off;
            return b;
        }
        if (b->size == 0) return nullptr;
        off += sizeof(Block) + b->size;
    }
    return nullptr;
}

} // namespace

std::size_t min_area_bytes() { return sizeof(Area) + sizeof(Block) + kAlign; }

bool format(void *mem, std::size_t bytes) {
    if (bytes < min_area_bytes()) return false;
    Area *a = area(mem);
    a->capacity = capacity_of(bytes);
    a->top = 0;
    a->live = 0;
    barrier();
    a->magic = kMagic;
    return true;
}

void *alloc(void *mem, std::size_t size) {
    Area *a = area(mem);
    if (size > a->capacity) return nullptr;
    const std::uint64_t want = round_up(size == 0 ? 1 : size);
    for (std::uint64_t off = 0; off < a->top;) {
        Block *b = block_at(mem, off);
        if (b->used == 0) {
            coalesce(mem, b, off);
            if (b->size >= want) {
                if (b->size >= want + sizeof(Block) + kAlign) {
                    Block *rest = block_at(mem, off + sizeof(Block) + want);
                    rest->size = b->size - want - sizeof(Block);
                    rest->used = 0;
                    barrier();
                    b->size = want;
                    barrier();
                }
                b->used = 1;
                barrier();
                ++a->live;
                return b + 1;
            }
        }
        off += sizeof(Block) + b->size;
    }
    if (a->capacity - a->top < sizeof(Block) + want) return nullptr;
    Block *b = block_at(mem, a->top);
    b->size = want;
    b->used = 1;
    barrier();
    a->top += sizeof(Block) + want;
    barrier();
    ++a->live;
    return b + 1;
}

bool release(void *mem, void *block) {
    auto *b = const_cast<Block *>(find(mem, block));
    if (b == nullptr || b->used != 1) return false;
    std::memset(block, 0xA5, b->size);
    barrier();
    b->used = 0;
    barrier();
    --area(mem)->live;
    return true;
}

std::size_t block_size(const void *mem, const void *block) {
    const Block *b = find(mem, block);
    return b == nullptr ? 0 : b->size;
}

bool owns(const void *mem, std::size_t bytes, const void *p) {
    const auto *c = static_cast<const unsigned char *>(p);
    return bytes >= sizeof(Area) && c >= blocks(mem) && c < static_cast<const unsigned char *>(mem) + bytes;
}

const char *check(const void *mem, std::size_t bytes) {
    if (bytes < sizeof(Area) || area(mem)->magic != kMagic) return "heap magic wrong";
    if (area(mem)->capacity != capacity_of(bytes)) return "heap capacity differs from its mapping";
    Walk w = walk(mem, bytes);
    return w.broken;
}

void mend(void *mem, std::size_t bytes) {
    Area *a = area(mem);
    a->capacity = capacity_of(bytes);
    if (a->top > a->capacity) a->top = 0;
    const Walk w = walk(mem, bytes);
    a->top = w.whole_top;
    a->live = w.used;
    a->magic = kMagic;
}

Stats stats(const void *mem) {
    const Area *a = area(mem);
    Walk w = walk(mem, sizeof(Area) + a->capacity);
    return Stats{w.used_bytes, w.free_bytes, w.used};
}

} // namespace vek_sal::heap
