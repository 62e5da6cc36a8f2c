// Shared robust memory for multi-process tests: while the arena is on,
// robust blocks come from one MAP_SHARED anonymous mapping, so that
// processes forked afterwards see the same blocks (and the robust mutexes
// inside them) at the same addresses. The mapping is a region image like a
// named region's (header with its robust process-shared lock, the robust
// allocator's area; no object directory), served by the same routing: a
// process killed inside the allocator leaves the lock to the next locker,
// which mends the heap before going on.
#include <sys/mman.h>

#include <cstdint>

#include "region.hpp"
#include "robust_heap.hpp"
#include "vek_saltest.h"

namespace {

using vek_sal::region::Mapping;

Mapping g_arena; // inherited by forked children
bool g_mapped = false;

void unmap() {
    vek_sal::region::set_arena(nullptr);
    vek_sal::region::delist(&g_arena);
    munmap(g_arena.base, g_arena.size);
    g_arena = Mapping{};
    g_mapped = false;
}

} // namespace

extern "C" {

VEK_API int vek_saltest_shared_robust_begin(size_t bytes) {
    namespace r = vek_sal::region;
    if (g_mapped || bytes < 4096) return -1;
    const std::size_t heap_off = r::heap_offset(0);
    // The heap gets `bytes` for blocks on top of its own bookkeeping.
    const std::size_t size = heap_off + r::round_up(bytes, 4096) + vek_sal::heap::min_area_bytes();
    void *m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return -1;
    if (!r::format(m, size, reinterpret_cast<std::uintptr_t>(m), 0)) {
        munmap(m, size);
        return -1;
    }
    static_cast<r::Header *>(m)->ready.store(r::kReady);
    g_arena = Mapping{static_cast<unsigned char *>(m), size, heap_off, r::dir_offset(), 0};
    if (!r::enlist(&g_arena)) {
        munmap(m, size);
        g_arena = Mapping{};
        return -1;
    }
    g_mapped = true;
    r::set_arena(&g_arena);
    return 0;
}

VEK_API int vek_saltest_shared_robust_end(void) {
    vek_sal::region::set_arena(nullptr);
    if (!g_mapped) return 0;
    if (vek_sal::region::blocks_in_use(g_arena) != 0) return -1;
    unmap();
    return 0;
}

VEK_API long vek_saltest_shared_robust_abandon(void) {
    vek_sal::region::set_arena(nullptr);
    if (!g_mapped) return 0;
    const long live = vek_sal::region::blocks_in_use(g_arena);
    unmap();
    return live;
}

VEK_API const char *vek_saltest_shared_robust_check(void) {
    if (!g_mapped) return "no arena";
    return vek_sal::region::check_locked(g_arena);
}

VEK_API long vek_saltest_shared_robust_live(void) { return g_mapped ? vek_sal::region::blocks_in_use(g_arena) : -1; }

VEK_API int vek_saltest_shared_robust_contains(const void *ptr) {
    return g_mapped && vek_sal::region::owner_of(ptr) == &g_arena ? 1 : 0;
}

} // extern "C"
