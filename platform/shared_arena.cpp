// Shared robust memory for multi-process tests: while the arena is on,
// robust blocks come from one MAP_SHARED anonymous mapping, so that
// processes forked afterwards see the same blocks (and the robust mutexes
// inside them) at the same addresses. A first-fit allocator with
// neighbour coalescing serves the blocks under a process-shared robust
// mutex kept at the start of the mapping.
//
// Any process may be killed inside the allocator, holding its lock. Its
// stores are ordered so that every prefix is a block list the next locker
// can walk: a block is split by writing the new header inside its payload
// before its size shrinks, the area grows by writing the new header before
// `top` moves, and `live` is a count the next locker derives again. The
// lock's owner-dead path checks the block list and mends it.
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <pthread.h>

#include "vek_saltest.h"

namespace vek_sal_arena {

namespace {

constexpr std::size_t kAlign = 16;

// Every block starts with this header; payload follows it.
struct alignas(kAlign) Block {
    std::size_t size;  // payload bytes, a multiple of kAlign
    std::size_t used;  // 1 allocated, 0 free
};

struct alignas(kAlign) Arena {
    pthread_mutex_t lock;
    std::size_t mapped;    // bytes of the whole mapping
    std::size_t capacity;  // bytes of the block area
    std::size_t top;       // bytes of the block area handed out as blocks so far
    long live;             // allocated blocks, all processes
};

Arena *g_arena = nullptr;            // inherited by forked children
std::size_t g_mapped = 0;            // bytes mapped, as this process mapped them
std::atomic<bool> g_routing{false};  // new robust blocks come from the arena

// Keeps the compiler from moving the stores of one step past the next.
void store_barrier() { std::atomic_signal_fence(std::memory_order_seq_cst); }

std::size_t round_up(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

unsigned char *area() { return reinterpret_cast<unsigned char *>(g_arena) + round_up(sizeof(Arena)); }

Block *block_at(std::size_t off) { return reinterpret_cast<Block *>(area() + off); }

// Bytes of the block area, from this process's own mapping.
std::size_t area_capacity() { return g_mapped - round_up(sizeof(Arena)); }

// What a walk of the block list finds.
struct Walk {
    const char *broken = nullptr;  // the first property that does not hold
    std::size_t whole_top = 0;     // end of the last whole block
    long used = 0;                 // allocated blocks up to there
};

// Walks the block list, trusting nothing the mapping does not bound.
Walk walk_blocks() {
    Walk w;
    const std::size_t capacity = area_capacity();
    if (g_arena->capacity != capacity) {
        w.broken = "arena capacity differs from its mapping";
        return w;
    }
    if (g_arena->top > capacity || g_arena->top % kAlign != 0) {
        w.broken = "arena top outside its area";
        return w;
    }
    for (std::size_t off = 0; off < g_arena->top;) {
        if (g_arena->top - off < sizeof(Block)) {
            w.broken = "arena block header past the top";
            return w;
        }
        const Block *b = block_at(off);
        if (b->size == 0 || b->size % kAlign != 0 || b->size > g_arena->top - off - sizeof(Block)) {
            w.broken = "arena block size outside the area";
            return w;
        }
        if (b->used > 1) {
            w.broken = "arena block neither used nor free";
            return w;
        }
        w.used += static_cast<long>(b->used);
        off += sizeof(Block) + b->size;
        w.whole_top = off;
    }
    if (w.used != g_arena->live) w.broken = "arena live count differs from its blocks";
    return w;
}

// After a dead owner: the list is cut after its last whole block (a death
// cannot break one; blocks past a broken header are given up) and the live
// count derived from it.
void mend() {
    const Walk w = walk_blocks();
    g_arena->capacity = area_capacity();
    g_arena->top = w.whole_top;
    g_arena->live = w.used;
}

class Locked {
public:
    Locked() {
        if (pthread_mutex_lock(&g_arena->lock) == EOWNERDEAD) {
            mend();
            pthread_mutex_consistent(&g_arena->lock);
        }
    }
    ~Locked() { pthread_mutex_unlock(&g_arena->lock); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
};

// Merges a free block with the free blocks that follow it.
void coalesce(Block *b, std::size_t off) {
    for (;;) {
        const std::size_t next = off + sizeof(Block) + b->size;
        if (next >= g_arena->top) return;
        Block *n = block_at(next);
        if (n->used != 0) return;
        b->size += sizeof(Block) + n->size;
    }
}

} // namespace

bool routing() { return g_routing.load(); }

bool owns(const void *p) {
    if (g_arena == nullptr || p == nullptr) return false;
    const auto *c = static_cast<const unsigned char *>(p);
    return c >= area() && c < area() + area_capacity();
}

void *alloc(std::size_t size) {
    if (g_arena == nullptr || size > area_capacity()) return nullptr;
    const std::size_t want = round_up(size == 0 ? 1 : size);
    Locked guard;
    for (std::size_t off = 0; off < g_arena->top;) {
        Block *b = block_at(off);
        if (b->used == 0) {
            coalesce(b, off);
            if (b->size >= want) {
                if (b->size >= want + sizeof(Block) + kAlign) {
                    Block *rest = block_at(off + sizeof(Block) + want);
                    rest->size = b->size - want - sizeof(Block);
                    rest->used = 0;
                    store_barrier();
                    b->size = want;
                    store_barrier();
                }
                b->used = 1;
                store_barrier();
                ++g_arena->live;
                return b + 1;
            }
        }
        off += sizeof(Block) + b->size;
    }
    if (g_arena->capacity - g_arena->top < sizeof(Block) + want) return nullptr;
    Block *b = block_at(g_arena->top);
    b->size = want;
    b->used = 1;
    store_barrier();
    g_arena->top += sizeof(Block) + want;
    store_barrier();
    ++g_arena->live;
    return b + 1;
}

std::size_t block_size(const void *p) { return (static_cast<const Block *>(p) - 1)->size; }

void release(void *p) {
    Locked guard;
    Block *b = static_cast<Block *>(p) - 1;
    // A released block is scrubbed, so that a use after release reads
    // nonsense instead of the old contents.
    std::memset(p, 0xA5, b->size);
    store_barrier();
    b->used = 0;
    store_barrier();
    --g_arena->live;
}

void *resize(void *p, std::size_t size) {
    void *n = alloc(size);
    if (n == nullptr) return nullptr;
    const std::size_t old = block_size(p);
    std::memcpy(n, p, old < size ? old : size);
    release(p);
    return n;
}

} // namespace vek_sal_arena

using namespace vek_sal_arena;

namespace {

long live_blocks() {
    const Locked guard;
    return g_arena->live;
}

void unmap() {
    munmap(g_arena, g_mapped);
    g_arena = nullptr;
}

} // namespace

extern "C" {

VEK_API int vek_saltest_shared_robust_begin(size_t bytes) {
    if (g_arena != nullptr || bytes < 4096) return -1;
    const std::size_t mapped = round_up(sizeof(Arena)) + round_up(bytes);
    void *m = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return -1;
    auto *a = static_cast<Arena *>(m);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    const int rc = pthread_mutex_init(&a->lock, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        munmap(m, mapped);
        return -1;
    }
    a->mapped = mapped;
    g_mapped = mapped;
    a->capacity = round_up(bytes);
    a->top = 0;
    a->live = 0;
    g_arena = a;
    g_routing.store(true);
    return 0;
}

VEK_API int vek_saltest_shared_robust_end(void) {
    g_routing.store(false);
    if (g_arena == nullptr) return 0;
    if (live_blocks() != 0) return -1;
    pthread_mutex_destroy(&g_arena->lock);
    unmap();
    return 0;
}

VEK_API long vek_saltest_shared_robust_abandon(void) {
    g_routing.store(false);
    if (g_arena == nullptr) return 0;
    const long live = live_blocks();
    unmap();
    return live;
}

VEK_API const char *vek_saltest_shared_robust_check(void) {
    if (g_arena == nullptr) return "no arena";
    Locked guard;
    return walk_blocks().broken;
}

VEK_API long vek_saltest_shared_robust_live(void) { return g_arena == nullptr ? -1 : live_blocks(); }

VEK_API int vek_saltest_shared_robust_contains(const void *ptr) { return owns(ptr) ? 1 : 0; }

} // extern "C"
