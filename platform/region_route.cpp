// Robust blocks in this process's mappings: the lock of a mapping with its
// dead-owner repair, the table of attached mappings that releases consult,
// and which mapping serves new robust blocks.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "region.hpp"
#include "robust_heap.hpp"

namespace vek_sal::region {

namespace {

constexpr int kMaxMappings = 32;
std::atomic<const Mapping *> g_mappings[kMaxMappings];
// Slots at and past this one were never used: a lookup stops there, so a
// process with no mapping (most of them) pays one load per release.
std::atomic<int> g_mappings_used{0};
std::atomic<const Mapping *> g_arena{nullptr};
std::atomic<const Mapping *> g_current{nullptr};

} // namespace

namespace {

// After a repair the area must be whole: checked builds (VEK_STRUCTURE_CHECKS)
// stop the program when it is not, as libvekcommon's checks do.
void prove_mended(const Mapping &m) {
#if defined(VEK_STRUCTURE_CHECKS) && VEK_STRUCTURE_CHECKS
    if (const char *broken = heap::check(m.heap(), m.heap_bytes())) {
        std::fprintf(stderr, "libVekSalIf: structure check failed: %s after a repair of the robust memory at %p\n",
                     broken, static_cast<void *>(m.base));
        std::abort();
    }
#else
    (void)m;
#endif
}

} // namespace

Locked::Locked(const Mapping &m) : m_(m) {
    const int rc = pthread_mutex_lock(&m.header()->lock);
    if (rc == EOWNERDEAD) {
        heap::mend(m.heap(), m.heap_bytes());
        prove_mended(m);
        pthread_mutex_consistent(&m.header()->lock);
        took_over_ = true;
    }
    held_ = rc == 0 || rc == EOWNERDEAD;
}

Locked::~Locked() {
    if (held_) pthread_mutex_unlock(&m_.header()->lock);
}

bool enlist(const Mapping *m) {
    for (int i = 0; i < kMaxMappings; ++i) {
        const Mapping *none = nullptr;
        if (!g_mappings[i].compare_exchange_strong(none, m)) continue;
        int used = g_mappings_used.load();
        while (used <= i && !g_mappings_used.compare_exchange_weak(used, i + 1)) {
        }
        return true;
    }
    return false;
}

void delist(const Mapping *m) {
    for (auto &slot : g_mappings) {
        const Mapping *want = m;
        slot.compare_exchange_strong(want, nullptr);
    }
}

const Mapping *mapping_of(const void *p) {
    if (p == nullptr) return nullptr;
    const auto *c = static_cast<const unsigned char *>(p);
    const int used = g_mappings_used.load(std::memory_order_acquire);
    for (int i = 0; i < used; ++i) {
        const Mapping *m = g_mappings[i].load(std::memory_order_acquire);
        if (m != nullptr && c >= m->base && c < m->base + m->size) return m;
    }
    return nullptr;
}

const Mapping *owner_of(const void *p) {
    const Mapping *m = mapping_of(p);
    return m != nullptr && heap::owns(m->heap(), m->heap_bytes(), p) ? m : nullptr;
}

const Mapping *serving() {
    const Mapping *a = g_arena.load();
    return a != nullptr ? a : g_current.load();
}

void set_arena(const Mapping *m) { g_arena.store(m); }

bool set_current(const Mapping *m) {
    const Mapping *none = nullptr;
    return g_current.compare_exchange_strong(none, m) || none == m;
}

bool has_current() { return g_current.load() != nullptr; }

void clear_current(const Mapping *m) {
    const Mapping *want = m;
    g_current.compare_exchange_strong(want, nullptr);
}

void *alloc(const Mapping &m, std::size_t size) {
    const Locked lock(m);
    if (!lock.held()) return nullptr;
    return heap::alloc(m.heap(), size);
}

vek_st_t release(const Mapping &m, void *block) {
    const Locked lock(m);
    if (!lock.held()) return VEK_ST_NVM_ERROR;
    if (!heap::release(m.heap(), block)) return VEK_ST_INVALID_PARAMETER;
    return lock.took_over() ? VEK_ST_PTHREAD_MUTEX_OWNER_DEAD : VEK_ST_SUCCESS;
}

void *resize(const Mapping &m, void *block, std::size_t size) {
    const Locked lock(m);
    if (!lock.held()) return nullptr;
    const std::size_t old = heap::block_size(m.heap(), block);
    if (old == 0) return nullptr;
    void *n = heap::alloc(m.heap(), size);
    if (n == nullptr) return nullptr;
    std::memcpy(n, block, old < size ? old : size);
    heap::release(m.heap(), block);
    return n;
}

long blocks_in_use(const Mapping &m) {
    const Locked lock(m);
    return static_cast<long>(heap::stats(m.heap()).blocks);
}

const char *check_locked(const Mapping &m) {
    const Locked lock(m);
    if (!lock.held()) return "region lock unusable";
    return check(m.base, m.size);
}

} // namespace vek_sal::region
