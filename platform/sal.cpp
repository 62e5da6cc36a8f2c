// Stand-in platform library (libVekSalIf): heap and robust memory on the C
// library's heap, process-shared robust pthread mutexes, string helpers and
// byte order, with the fault controls and block counters of vek_saltest.h.
//
// Robust memory is private (the C library's heap) unless a mapping serves
// it: the shared arena of forked tests or a named region (region.hpp);
// a block is always released into the mapping it came from.
//
// The exported functions never call one another through their exported
// names, so a replacement library sees each call of libvekcommon once.
#include <arpa/inet.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <vek/vek_sal.h>

#include "live_count.hpp"
#include "private_heap.hpp"
#include "region.hpp"
#include "vek_saltest.h"

extern "C" {
VEK_API uint32_t vek_trace_level = 0;
}

namespace {

// One armed fault: calls nth .. nth+count-1 (count 0: no end) counted from
// the moment it was armed fail.
struct Fault {
    std::atomic<uint32_t> calls{0};
    std::atomic<uint32_t> first{0}; // 0: disarmed
    std::atomic<uint32_t> last{0};  // 0: no end
    std::atomic<uint32_t> status{0};

    void arm(uint32_t nth, uint32_t count, vek_st_t st) {
        first.store(0);
        status.store(st);
        const uint32_t base = calls.load();
        last.store(count == 0 ? 0 : base + nth + count - 1);
        first.store(nth == 0 ? 0 : base + nth);
    }
    void reset() {
        first.store(0);
        last.store(0);
        calls.store(0);
    }
    // Counts one call; true when it must fail. While disarmed the count is
    // a plain relaxed increment (no locked instruction on the hot path):
    // exact for one thread, which is how tests read it.
    bool hit() {
        if (first.load(std::memory_order_relaxed) == 0) {
            calls.store(calls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            return false;
        }
        const uint32_t n = calls.fetch_add(1) + 1;
        const uint32_t f = first.load();
        if (f == 0 || n < f) return false;
        const uint32_t l = last.load();
        return l == 0 || n <= l;
    }
};

Fault g_alloc[3]; // heap, robust, any
Fault g_call[VEK_SALTEST_NUM_CALLS];
std::atomic<uint32_t> g_fired{0};
std::atomic<bool> g_zero_null{false}; // a 0-byte robust request answers null, status 0
std::atomic<vek_saltest_holder_fn_t> g_holder_fn{nullptr};
std::atomic<void *> g_holder_ctx{nullptr};

// Death points: every call of the platform interface counts once; the
// armed one ends the process with _exit before or after its work.
std::atomic<uint32_t> g_platform_calls{0};
std::atomic<uint32_t> g_die_at{0}; // the call's number; 0: disarmed
std::atomic<int> g_die_when{VEK_SALTEST_DIE_BEFORE};
std::atomic<int> g_die_code{0};

class CallPoint {
public:
    CallPoint() : n_(g_platform_calls.load(std::memory_order_relaxed) + 1) {
        g_platform_calls.store(n_, std::memory_order_relaxed);
        if (armed_here() && g_die_when.load(std::memory_order_relaxed) == VEK_SALTEST_DIE_BEFORE) die();
    }
    ~CallPoint() {
        if (armed_here() && g_die_when.load(std::memory_order_relaxed) == VEK_SALTEST_DIE_AFTER) die();
    }
    CallPoint(const CallPoint &) = delete;
    CallPoint &operator=(const CallPoint &) = delete;

private:
    bool armed_here() const {
        const uint32_t at = g_die_at.load(std::memory_order_relaxed);
        return at != 0 && at == n_;
    }
    [[noreturn]] static void die() { _exit(g_die_code.load()); }
    uint32_t n_;
};

// Shows the holder of a robust malloc or free to the test's hook, if any.
void show_holder(int call, void *const *holder, const void *block) {
    const vek_saltest_holder_fn_t fn = g_holder_fn.load();
    if (fn != nullptr) fn(call, holder, block, g_holder_ctx.load());
}

// Counts an allocation call of one kind; true when it must fail.
bool alloc_fails(int kind) {
    const bool k = g_alloc[kind].hit();
    const bool any = g_alloc[VEK_SALTEST_ANY].hit();
    if (k || any) {
        g_fired.fetch_add(1);
        return true;
    }
    return false;
}

// Counts a call; true (with the status to return) when it must fail.
bool call_fails(int call, vek_st_t *st) {
    if (!g_call[call].hit()) return false;
    g_fired.fetch_add(1);
    *st = g_call[call].status.load();
    return true;
}

void *heap_alloc(std::size_t size) {
    if (alloc_fails(VEK_SALTEST_HEAP)) return nullptr;
    void *p = std::malloc(size);
    if (p != nullptr) vek_sal::live::add(vek_sal::live::kHeap, 1);
    return p;
}

void heap_release(void *ptr) {
    if (ptr == nullptr) return;
    vek_sal::live::add(vek_sal::live::kHeap, -1);
    std::free(ptr);
}

void *robust_alloc(std::size_t size) {
    if (alloc_fails(VEK_SALTEST_ROBUST)) return nullptr;
    const vek_sal::region::Mapping *m = vek_sal::region::serving();
    void *p = m != nullptr ? vek_sal::region::alloc(*m, size) : vek_sal::private_heap::alloc(size);
    if (p != nullptr) vek_sal::live::add(vek_sal::live::kRobust, 1);
    return p;
}

vek_st_t robust_malloc_to(std::size_t size, void **ptr, uint32_t flag) {
    if (size == 0 && g_zero_null.load()) {
        if (alloc_fails(VEK_SALTEST_ROBUST)) return VEK_ST_NO_MEMORY;
        *ptr = nullptr;
        return VEK_ST_SUCCESS;
    }
    void *p = robust_alloc(size);
    if (p == nullptr) return VEK_ST_NO_MEMORY;
    if (flag == VEK_NVM_ZERO_FILL) std::memset(p, 0, size);
    *ptr = p;
    return VEK_ST_SUCCESS;
}

// Releases a robust block where it belongs; VEK_ST_PTHREAD_MUTEX_OWNER_DEAD
// when its mapping's lock came back from a dead owner.
vek_st_t robust_release(void *ptr) {
    if (ptr == nullptr) return VEK_ST_SUCCESS;
    if (const vek_sal::region::Mapping *m = vek_sal::region::mapping_of(ptr)) {
        // Inside a mapping but not a block of it in use: nothing to release.
        const vek_st_t st = vek_sal::region::release(*m, ptr);
        if (st == VEK_ST_INVALID_PARAMETER) return VEK_ST_SUCCESS;
        vek_sal::live::add(vek_sal::live::kRobust, -1);
        return st;
    }
    vek_sal::live::add(vek_sal::live::kRobust, -1);
    vek_sal::private_heap::release(ptr);
    return VEK_ST_SUCCESS;
}

} // namespace

extern "C" {

// ---- ordinary heap ---------------------------------------------------------

VEK_API void *vek_malloc(size_t size) {
    const CallPoint point;
    return heap_alloc(size);
}

VEK_API void *vek_realloc(void *ptr, size_t size) {
    const CallPoint point;
    if (ptr == nullptr) return heap_alloc(size);
    if (alloc_fails(VEK_SALTEST_HEAP)) return nullptr;
    if (size == 0) {
        heap_release(ptr);
        return nullptr;
    }
    return std::realloc(ptr, size);
}

VEK_API void vek_free(void *ptr) {
    const CallPoint point;
    heap_release(ptr);
}

VEK_API char *vek_strdup(const char *str) {
    const CallPoint point;
    const std::size_t n = std::strlen(str) + 1;
    char *p = static_cast<char *>(heap_alloc(n));
    if (p != nullptr) std::memcpy(p, str, n);
    return p;
}

// ---- robust memory ---------------------------------------------------------

VEK_API vek_st_t vek_nvm_robust_malloc(size_t size, void **ptr, uint32_t flag) {
    const CallPoint point;
    const vek_st_t st = robust_malloc_to(size, ptr, flag);
    if (st == VEK_ST_SUCCESS) show_holder(VEK_SALTEST_HOLDER_MALLOC, ptr, *ptr);
    return st;
}

VEK_API vek_st_t vek_nvm_robust_realloc(void *ptr, size_t size, void **newPtr) {
    const CallPoint point;
    if (ptr == nullptr) {
        const vek_st_t st = robust_malloc_to(size, newPtr, VEK_NVM_NO_FILL);
        if (st != VEK_ST_SUCCESS) *newPtr = nullptr;
        return st;
    }
    void *p = nullptr;
    if (!alloc_fails(VEK_SALTEST_ROBUST)) {
        const vek_sal::region::Mapping *m = vek_sal::region::mapping_of(ptr);
        p = m != nullptr ? vek_sal::region::resize(*m, ptr, size) : vek_sal::private_heap::resize(ptr, size);
    }
    *newPtr = p;
    return p == nullptr ? VEK_ST_NO_MEMORY : VEK_ST_SUCCESS;
}

VEK_API vek_st_t vek_nvm_robust_free(void **ptr) {
    const CallPoint point;
    show_holder(VEK_SALTEST_HOLDER_FREE, ptr, *ptr);
    vek_st_t st = VEK_ST_SUCCESS;
    call_fails(VEK_SALTEST_ROBUST_FREE, &st);
    const vek_st_t released = robust_release(*ptr);
    *ptr = nullptr;
    return st != VEK_ST_SUCCESS ? st : released;
}

// ---- mutexes ---------------------------------------------------------------

VEK_API vek_st_t vek_mutex_init(vek_mutex_t *mutex, uint32_t flag) {
    const CallPoint point;
    vek_st_t st = VEK_ST_SUCCESS;
    if (call_fails(VEK_SALTEST_MUTEX_INIT, &st)) return st;
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return VEK_ST_MUTEX_ATTR_INIT_ERROR;
    const int shared = flag == VEK_MUTEX_SHARED ? PTHREAD_PROCESS_SHARED : PTHREAD_PROCESS_PRIVATE;
    if (pthread_mutexattr_setpshared(&attr, shared) != 0 ||
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) != 0) {
        pthread_mutexattr_destroy(&attr);
        return VEK_ST_MUTEX_SHARED_INIT_ERROR;
    }
    const int rc = pthread_mutex_init(&mutex->pmutex, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc == 0 ? VEK_ST_SUCCESS : VEK_ST_MUTEX_INIT_ERROR;
}

VEK_API vek_st_t vek_mutex_lock(vek_mutex_t *mutex) {
    const CallPoint point;
    vek_st_t st = VEK_ST_SUCCESS;
    const bool injected = call_fails(VEK_SALTEST_MUTEX_LOCK, &st);
    if (injected && st != VEK_ST_PTHREAD_MUTEX_OWNER_DEAD) return st;
    const int rc = pthread_mutex_lock(&mutex->pmutex);
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&mutex->pmutex);
        return VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;
    }
    if (rc != 0) return VEK_ST_MUTEX_WAIT_ERROR;
    return st;
}

VEK_API vek_st_t vek_mutex_unlock(vek_mutex_t *mutex) {
    const CallPoint point;
    vek_st_t st = VEK_ST_SUCCESS;
    call_fails(VEK_SALTEST_MUTEX_UNLOCK, &st);
    if (pthread_mutex_unlock(&mutex->pmutex) != 0 && st == VEK_ST_SUCCESS) st = VEK_ST_MUTEX_POST_ERROR;
    return st;
}

VEK_API vek_st_t vek_mutex_destroy(vek_mutex_t *mutex) {
    const CallPoint point;
    vek_st_t st = VEK_ST_SUCCESS;
    call_fails(VEK_SALTEST_MUTEX_DESTROY, &st);
    if (pthread_mutex_destroy(&mutex->pmutex) != 0 && st == VEK_ST_SUCCESS) st = VEK_ST_MUTEX_DESTROY_ERROR;
    return st;
}

// ---- strings ---------------------------------------------------------------

VEK_API size_t vek_strlen(const char *str) {
    const CallPoint point;
    return std::strlen(str);
}
VEK_API char *vek_strcpy(char *dst, const char *src) {
    const CallPoint point;
    return std::strcpy(dst, src);
}
VEK_API int vek_stricmp(const char *s1, const char *s2) {
    const CallPoint point;
    return strcasecmp(s1, s2);
}
VEK_API int vek_strincmp(const char *s1, const char *s2, size_t n) {
    const CallPoint point;
    return strncasecmp(s1, s2, n);
}

// ---- byte order ------------------------------------------------------------

VEK_API uint32_t vek_htonl(uint32_t value) {
    const CallPoint point;
    return htonl(value);
}
VEK_API uint32_t vek_ntohl(uint32_t value) {
    const CallPoint point;
    return ntohl(value);
}

VEK_API uint64_t vek_htonll(uint64_t value) {
    const CallPoint point;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return __builtin_bswap64(value);
#else
    return value;
#endif
}

VEK_API uint64_t vek_ntohll(uint64_t value) {
    const CallPoint point;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return __builtin_bswap64(value);
#else
    return value;
#endif
}

// ---- test controls ---------------------------------------------------------

VEK_API void vek_saltest_reset(void) {
    g_die_at.store(0);
    vek_saltest_heap_die_at(0, 0);
    g_platform_calls.store(0);
    for (Fault &f : g_alloc) f.reset();
    for (Fault &f : g_call) f.reset();
    g_fired.store(0);
    g_zero_null.store(false);
    g_holder_fn.store(nullptr);
    g_holder_ctx.store(nullptr);
}

VEK_API void vek_saltest_zero_robust_null(int on) { g_zero_null.store(on != 0); }

VEK_API void vek_saltest_holder_hook(vek_saltest_holder_fn_t fn, void *ctx) {
    g_holder_fn.store(nullptr);
    g_holder_ctx.store(ctx);
    g_holder_fn.store(fn);
}

VEK_API void vek_saltest_fail_alloc(int kind, uint32_t nth, uint32_t count) {
    if (kind < 0 || kind > VEK_SALTEST_ANY) return;
    g_alloc[kind].arm(nth, count, VEK_ST_NO_MEMORY);
}

VEK_API uint32_t vek_saltest_alloc_calls(int kind) {
    if (kind < 0 || kind > VEK_SALTEST_ANY) return 0;
    return g_alloc[kind].calls.load();
}

VEK_API void vek_saltest_fail_call(int call, uint32_t nth, uint32_t count, vek_st_t status) {
    if (call < 0 || call >= VEK_SALTEST_NUM_CALLS) return;
    g_call[call].arm(nth, count, status);
}

VEK_API uint32_t vek_saltest_calls(int call) {
    if (call < 0 || call >= VEK_SALTEST_NUM_CALLS) return 0;
    return g_call[call].calls.load();
}

VEK_API void vek_saltest_die_at(uint32_t nth, int when, int exitCode) {
    g_die_at.store(0);
    g_die_when.store(when == VEK_SALTEST_DIE_AFTER ? VEK_SALTEST_DIE_AFTER : VEK_SALTEST_DIE_BEFORE);
    g_die_code.store(exitCode);
    if (nth != 0) g_die_at.store(g_platform_calls.load() + nth);
}

VEK_API uint32_t vek_saltest_platform_calls(void) { return g_platform_calls.load(); }

VEK_API uint32_t vek_saltest_faults_fired(void) { return g_fired.load(); }
VEK_API long vek_saltest_heap_live(void) { return vek_sal::live::total(vek_sal::live::kHeap); }
VEK_API long vek_saltest_robust_live(void) { return vek_sal::live::total(vek_sal::live::kRobust); }

} // extern "C"
