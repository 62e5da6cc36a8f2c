// Shared robust memory for multi-process tests: while the arena is on,
// robust blocks come from one MAP_SHARED anonymous mapping, so that
// processes forked afterwards see the same blocks (and the robust mutexes
// inside them) at the same addresses. A first-fit allocator with
// neighbour coalescing serves the blocks under a process-shared robust
// mutex kept at the start of the mapping.
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
std::atomic<bool> g_routing{false};  // new robust blocks come from the arena

std::size_t round_up(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

unsigned char *area() { return reinterpret_cast<unsigned char *>(g_arena) + round_up(sizeof(Arena)); }

Block *block_at(std::size_t off) { return reinterpret_cast<Block *>(area() + off); }

class Locked {
public:
    Locked() {
        if (pthread_mutex_lock(&g_arena->lock) == EOWNERDEAD) pthread_mutex_consistent(&g_arena->lock);
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
    return c >= area() && c < area() + g_arena->capacity;
}

void *alloc(std::size_t size) {
    if (g_arena == nullptr || size > g_arena->capacity) return nullptr;
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
                    b->size = want;
                }
                b->used = 1;
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
    g_arena->top += sizeof(Block) + want;
    ++g_arena->live;
    return b + 1;
}

std::size_t block_size(const void *p) { return (static_cast<const Block *>(p) - 1)->size; }

void release(void *p) {
    Locked guard;
    Block *b = static_cast<Block *>(p) - 1;
    b->used = 0;
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
    long live = 0;
    {
        Locked guard;
        live = g_arena->live;
    }
    if (live != 0) return -1;
    pthread_mutex_destroy(&g_arena->lock);
    munmap(g_arena, g_arena->mapped);
    g_arena = nullptr;
    return 0;
}

VEK_API long vek_saltest_shared_robust_live(void) {
    if (g_arena == nullptr) return -1;
    Locked guard;
    return g_arena->live;
}

VEK_API int vek_saltest_shared_robust_contains(const void *ptr) { return owns(ptr) ? 1 : 0; }

} // extern "C"
