/**
 * @file vek_saltest.h
 * @brief Test controls of the stand-in platform library (libVekSalIf built
 *        by this project): fault injection, call counters and leak counters.
 *
 * Installed with the stand-in's development files (libveksalif-dev) as
 * <vek_saltest.h>. These functions exist only in the stand-in; a real
 * platform library does not have them. The project's own tests use them,
 * and so may users' tests of their own programs. They let a test make an
 * allocation fail, make a release or a mutex call return a chosen status,
 * count the platform calls the library makes, and count the live heap and robust blocks so that it can assert
 * that nothing leaked, e.g.
 * @code
 * vek_saltest_reset();
 * long before = vek_saltest_heap_live();
 * vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 2, 1);      // the 2nd heap allocation from now fails
 * assert(vek_map_set_i32_ll(map, "a.b", 1, 1) == VEK_ST_NO_MEMORY);
 * assert(vek_saltest_faults_fired() == 1);
 * vek_saltest_reset();
 * assert(vek_saltest_heap_live() == before);           // nothing leaked
 * @endcode
 *
 * Thread-safety: every control and counter is process-wide and may be used
 * from any thread. The live block counts are exact under any number of
 * threads; call counts are exact for calls made by one thread at a time, or
 * while a fault of that kind is armed (a disarmed control counts without a
 * locked instruction, so that the stand-in costs little on hot paths).
 */
#ifndef VEK_SALTEST_H
#define VEK_SALTEST_H

#include <stddef.h>
#include <stdint.h>
#include <vek/vek_status.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Allocation kind: the heap calls vek_malloc(), vek_realloc() (non-NULL block included) and vek_strdup(). */
#define VEK_SALTEST_HEAP 0
/** Allocation kind: the robust calls vek_nvm_robust_malloc() and vek_nvm_robust_realloc(). */
#define VEK_SALTEST_ROBUST 1
/** Allocation kind: both kinds, counted together (each allocation call counts once here too). */
#define VEK_SALTEST_ANY 2

/** Call vek_nvm_robust_free(): an injected status is returned, the block is released all the same. */
#define VEK_SALTEST_ROBUST_FREE 0
/** Call vek_mutex_init(): an injected status is returned and the mutex is left uninitialised. */
#define VEK_SALTEST_MUTEX_INIT 1
/** Call vek_mutex_lock(): an injected status is returned without locking, except 8000, which really locks (a dead owner
 * seen). */
#define VEK_SALTEST_MUTEX_LOCK 2
/** Call vek_mutex_unlock(): an injected status is returned, the mutex is unlocked all the same. */
#define VEK_SALTEST_MUTEX_UNLOCK 3
/** Call vek_mutex_destroy(): an injected status is returned, the mutex is destroyed all the same. */
#define VEK_SALTEST_MUTEX_DESTROY 4
/** Number of call kinds above. */
#define VEK_SALTEST_NUM_CALLS 5

/**
 * Disarms every fault and the death points (the heap's too), zeroes the call counters (the
 * platform-call count included) and the faults-fired counter, turns the
 * zero-byte answer off and removes the holder hook. The live-block counters
 * are kept.
 */
VEK_API void vek_saltest_reset(void);

/**
 * Makes allocation calls of one kind fail.
 * @param kind  ::VEK_SALTEST_HEAP, ::VEK_SALTEST_ROBUST or ::VEK_SALTEST_ANY;
 *              another value does nothing.
 * @param nth   Which call from now fails first: 1 = the next one; 0 disarms.
 * @param count How many calls fail from the nth on: 1 only the nth, n the n
 *              calls from it, 0 every call from it on.
 *
 * A failing heap call returns NULL; a failing robust call returns
 * ::VEK_ST_NO_MEMORY (vek_nvm_robust_realloc() also sets *newPtr to NULL, its
 * old block intact). Nothing is allocated by a failing call.
 */
VEK_API void vek_saltest_fail_alloc(int kind, uint32_t nth, uint32_t count);

/**
 * Allocation calls of one kind made since the last reset.
 * @param kind An allocation kind; another value gives 0.
 * @return The number of calls (failed ones included).
 */
VEK_API uint32_t vek_saltest_alloc_calls(int kind);

/**
 * Makes calls of one kind return a chosen status (see the VEK_SALTEST_ROBUST_FREE
 * ... VEK_SALTEST_MUTEX_DESTROY constants for what each call does then).
 * @param call   One of the call kinds; another value does nothing.
 * @param nth    Which call from now is hit first: 1 = the next one; 0 disarms.
 * @param count  How many calls are hit: 1 only the nth, n the n calls from it,
 *               0 every call from it on.
 * @param status The status those calls return.
 */
VEK_API void vek_saltest_fail_call(int call, uint32_t nth, uint32_t count, vek_st_t status);

/**
 * Calls of one kind made since the last reset.
 * @param call A call kind; another value gives 0.
 * @return The number of calls.
 */
VEK_API uint32_t vek_saltest_calls(int call);

/**
 * Number of injected faults (allocation or call) that fired since the last reset.
 * @return The count.
 */
VEK_API uint32_t vek_saltest_faults_fired(void);

/**
 * Chooses how a robust allocation of 0 bytes is answered.
 * @param on Non-zero: vek_nvm_robust_malloc() of 0 bytes answers status 0
 *           and writes a null block (as C's malloc(0) may); the call still
 *           counts as a robust allocation and can be made to fail. 0 restores
 *           the default: a distinct block for every request.
 */
VEK_API void vek_saltest_zero_robust_null(int on);

/** Holder hook call: a vek_nvm_robust_malloc() that succeeded. */
#define VEK_SALTEST_HOLDER_MALLOC 0
/** Holder hook call: a vek_nvm_robust_free(). */
#define VEK_SALTEST_HOLDER_FREE 1
/**
 * Holder hook: told the address a caller passed to a robust call.
 * @param call   ::VEK_SALTEST_HOLDER_MALLOC or ::VEK_SALTEST_HOLDER_FREE.
 * @param holder The address the caller passed (where the block is written or read).
 * @param block  The block written (malloc) or about to be released (free).
 * @param ctx    The context given to vek_saltest_holder_hook().
 */
typedef void (*vek_saltest_holder_fn_t)(int call, void *const *holder, const void *block, void *ctx);
/**
 * Sets the holder hook: once set, every vek_nvm_robust_malloc() that succeeds
 * calls @p fn with ::VEK_SALTEST_HOLDER_MALLOC after writing the block through
 * its holder, and every vek_nvm_robust_free() calls it with
 * ::VEK_SALTEST_HOLDER_FREE before releasing the block its holder holds. Lets
 * a test check that the library hands over the very field that keeps a block.
 * @param fn  The hook; NULL removes it.
 * @param ctx Passed to every call of @p fn.
 */
VEK_API void vek_saltest_holder_hook(vek_saltest_holder_fn_t fn, void *ctx);

/** Death point: the process ends as the call is entered, before it does anything. */
#define VEK_SALTEST_DIE_BEFORE 0
/** Death point: the process ends when the call has done its work, before it returns to its caller. */
#define VEK_SALTEST_DIE_AFTER 1

/**
 * Arms a death point: the calling process ends with _exit(@p exitCode) at
 * the @p nth call of the platform interface from now (every function of
 * vek_sal.h counts, from any thread), holding whatever it holds at that
 * instant: mutexes stay locked (their next locker gets
 * ::VEK_ST_PTHREAD_MUTEX_OWNER_DEAD), blocks stay allocated, nothing is
 * flushed. Meant for a forked child sharing robust memory with its parent
 * (vek_saltest_shared_robust_begin()): the parent then sees what a process
 * killed at that point leaves. A test sweeps n = 1, 2, ... until the child
 * finishes its work without reaching the nth call.
 * @param nth      Which call from now: 1 = the next one; 0 disarms.
 * @param when     ::VEK_SALTEST_DIE_BEFORE or ::VEK_SALTEST_DIE_AFTER (another
 *                 value is taken as ::VEK_SALTEST_DIE_BEFORE).
 * @param exitCode The exit status the process ends with.
 */
VEK_API void vek_saltest_die_at(uint32_t nth, int when, int exitCode);

/**
 * Calls of the platform interface (every function of vek_sal.h) made since
 * the last reset; exact for calls made by one thread at a time.
 * @return The count.
 */
VEK_API uint32_t vek_saltest_platform_calls(void);

/**
 * Heap blocks allocated and not yet released (since the library was loaded).
 * @return The count.
 */
VEK_API long vek_saltest_heap_live(void);
/**
 * Robust blocks allocated and not yet released (since the library was loaded).
 * @return The count.
 */
VEK_API long vek_saltest_robust_live(void);

/**
 * Starts serving robust memory from one shared mapping, for multi-process
 * tests: robust blocks then come from a MAP_SHARED anonymous mapping of
 * @p bytes bytes, under a process-shared robust lock, so that processes forked
 * afterwards share them (and the robust mutexes inside them) at the same
 * addresses. Blocks of the arena are released into it whenever they are
 * freed, from any process.
 * @param bytes Size of the block area; at least 4096.
 * @return 0 started; -1 when an arena exists already, @p bytes is below 4096,
 *         or the mapping fails.
 */
VEK_API int vek_saltest_shared_robust_begin(size_t bytes);
/**
 * Stops serving new robust blocks from the arena and unmaps it when no block
 * of it is live.
 * @return 0 when unmapped (or there was no arena); -1 when blocks are still
 *         live (the arena stays mapped; blocks freed later still go back to it).
 */
VEK_API int vek_saltest_shared_robust_end(void);

/**
 * Blocks live in the arena, counted across all processes.
 * @return The count, or -1 without an arena.
 */
VEK_API long vek_saltest_shared_robust_live(void);

/**
 * Unmaps the arena whatever is still allocated in it, for tests whose
 * processes died holding blocks (those blocks are lost with the arena).
 * Robust blocks are no longer served from it.
 * @return The number of blocks that were still live (0 without an arena).
 */
VEK_API long vek_saltest_shared_robust_abandon(void);

/**
 * Checks the arena's block list under its lock (a lock whose owner died
 * mends the list first, as every arena operation does): every block lies
 * inside the area, is used or free, and the live count agrees with the
 * blocks.
 * @return NULL when the arena is whole, else a static text naming the first
 *         property that does not hold ("no arena" without one).
 */
VEK_API const char *vek_saltest_shared_robust_check(void);

/**
 * Tells whether a pointer lies in the arena.
 * @param ptr Any pointer.
 * @return 1 when @p ptr lies in the arena, else 0.
 */
VEK_API int vek_saltest_shared_robust_contains(const void *ptr);

/* ---- robust-memory allocator ---------------------------------------------- */

/**
 * Arms a death point inside the robust-memory allocator: the calling process
 * ends with _exit(@p exitCode) at the @p nth ordered store step from now of
 * any area's allocation or release (a step is one store, or a few stores to
 * derived bookkeeping, that the allocator orders before the next), holding
 * whatever lock guards the area. Meant for a forked child working on a
 * shared area: the next locker sees what a process killed between those two
 * stores leaves, mends the area and finds it whole. A test sweeps n = 1,
 * 2, ... until the child finishes without reaching the nth step. Steps are
 * counted across threads; private robust memory takes them for large blocks
 * and when a thread's cache of small blocks is filled from or emptied into
 * its areas. vek_saltest_reset() disarms it too (the step count is kept).
 * @param nth      Which step from now: 1 = the next one; 0 disarms.
 * @param exitCode The exit status the process ends with.
 */
VEK_API void vek_saltest_heap_die_at(uint32_t nth, int exitCode);

/**
 * Ordered store steps the robust-memory allocator took since the library was
 * loaded (exact for steps taken by one thread at a time). Read it before and
 * after an operation to know how many death points the operation has.
 * @return The count.
 */
VEK_API uint32_t vek_saltest_heap_steps(void);

#ifdef __cplusplus
}
#endif

#endif /* VEK_SALTEST_H */
