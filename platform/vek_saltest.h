/*
 * vek_saltest.h - test controls of the stand-in platform library.
 *
 * Not installed: only the project's own tests use these. They let a test
 * make an allocation fail, make a release or a mutex call return a chosen
 * status, and count the live heap and robust blocks so that it can assert
 * that nothing leaked. All counters are process-wide. The live block
 * counts are exact under any number of threads; call counts are exact for
 * calls made by one thread at a time, or while a fault of that kind is
 * armed (a disarmed control counts without a locked instruction, so that
 * the stand-in costs little on hot paths).
 */
#ifndef VEK_SALTEST_H
#define VEK_SALTEST_H

#include <stddef.h>
#include <stdint.h>
#include <vek/vek_status.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Allocation kinds for the allocation controls. */
#define VEK_SALTEST_HEAP    0   /* vek_malloc, vek_realloc, vek_strdup */
#define VEK_SALTEST_ROBUST  1   /* vek_nvm_robust_malloc, vek_nvm_robust_realloc */
#define VEK_SALTEST_ANY     2   /* both kinds, counted together */

/* Calls whose status can be chosen. */
#define VEK_SALTEST_ROBUST_FREE    0   /* vek_nvm_robust_free: block released, status returned */
#define VEK_SALTEST_MUTEX_INIT     1   /* vek_mutex_init: mutex left uninitialised */
#define VEK_SALTEST_MUTEX_LOCK     2   /* vek_mutex_lock: not locked, except 8000 which locks */
#define VEK_SALTEST_MUTEX_UNLOCK   3   /* vek_mutex_unlock: unlocked all the same */
#define VEK_SALTEST_MUTEX_DESTROY  4   /* vek_mutex_destroy: destroyed all the same */
#define VEK_SALTEST_NUM_CALLS      5

/* Disarms every fault, zeroes the call counters, turns the zero-byte answer
 * off and removes the holder hook (live counts are kept). */
VEK_API void vek_saltest_reset(void);

/* Makes allocation calls of `kind` fail: the nth call from now (1 = the
 * next one) and, when `count` > 1, the count - 1 calls after it; count 0
 * makes every call from the nth on fail. nth 0 disarms. A failing heap call
 * returns NULL; a failing robust call returns VEK_ST_NO_MEMORY. */
VEK_API void vek_saltest_fail_alloc(int kind, uint32_t nth, uint32_t count);

/* Allocation calls of `kind` made since the last reset. */
VEK_API uint32_t vek_saltest_alloc_calls(int kind);

/* Makes calls of `call` return `status`: the nth from now and, when `count`
 * > 1, the count - 1 after it; count 0 makes every call from the nth on
 * return it. nth 0 disarms. */
VEK_API void vek_saltest_fail_call(int call, uint32_t nth, uint32_t count, vek_st_t status);

/* Calls of `call` made since the last reset. */
VEK_API uint32_t vek_saltest_calls(int call);

/* Number of injected faults (allocation or call) that fired since the last reset. */
VEK_API uint32_t vek_saltest_faults_fired(void);

/* With `on` non-zero, a vek_nvm_robust_malloc of 0 bytes answers status 0
 * and writes a null block (as C's malloc(0) may); the call still counts as
 * a robust allocation and can be made to fail. 0 restores the default (a
 * distinct block for every request). */
VEK_API void vek_saltest_zero_robust_null(int on);

/* Holder hook: once set, every vek_nvm_robust_malloc that succeeds calls
 * fn(VEK_SALTEST_HOLDER_MALLOC, holder, block, ctx) after writing the block
 * through `holder`, and every vek_nvm_robust_free calls
 * fn(VEK_SALTEST_HOLDER_FREE, holder, block, ctx) before releasing the block
 * `holder` holds. `holder` is the address the caller passed. NULL removes
 * the hook. */
#define VEK_SALTEST_HOLDER_MALLOC 0
#define VEK_SALTEST_HOLDER_FREE   1
typedef void (*vek_saltest_holder_fn_t)(int call, void *const *holder, const void *block, void *ctx);
VEK_API void vek_saltest_holder_hook(vek_saltest_holder_fn_t fn, void *ctx);

/* Live blocks: allocated and not yet released. */
VEK_API long vek_saltest_heap_live(void);
VEK_API long vek_saltest_robust_live(void);

/* Shared robust memory for multi-process tests. After a successful begin
 * (0; -1 when an arena exists already or the mapping fails), robust blocks
 * come from one MAP_SHARED anonymous mapping of `bytes` bytes, served under
 * a process-shared robust lock, so processes forked afterwards share them
 * at the same addresses. end stops serving new blocks from it and unmaps it
 * when no block is live (0), else leaves it mapped (-1); blocks of the
 * arena are released into it whenever they are freed. */
VEK_API int vek_saltest_shared_robust_begin(size_t bytes);
VEK_API int vek_saltest_shared_robust_end(void);

/* Blocks live in the arena, counted across all processes; -1 without one. */
VEK_API long vek_saltest_shared_robust_live(void);

/* 1 when ptr lies in the arena. */
VEK_API int vek_saltest_shared_robust_contains(const void *ptr);

#ifdef __cplusplus
}
#endif

#endif /* VEK_SALTEST_H */
