/**
 * @file vek_sal.h
 * @brief The platform layer (libVekSalIf): heap and robust memory,
 *        process-shared robust mutexes, string helpers, byte order and the
 *        trace level.
 *
 * libvekcommon never calls the C library for memory, locking or these string
 * and byte-order helpers: it calls the functions declared here, through their
 * dynamic symbols. libVekSalIf, built with this project, is a stand-in that
 * implements them on the C library and POSIX threads; a deployment replaces
 * it with its own platform library (same soname libVekSalIf.so.1, same
 * names, same behaviour as described per function), by installing it in its
 * place, through LD_LIBRARY_PATH, or by preloading a library that defines the
 * same names. A replacement must not call its own exported functions through
 * their exported names (a wrapper then sees each library call exactly once).
 *
 * Which family uses which memory:
 * - robust memory (vek_nvm_robust_malloc() and friends, meant to survive the
 *   process and to be shared between processes): bitmaps, the resource
 *   registry and its records, the paged table, the hash table, the sorted set;
 * - the ordinary heap (vek_malloc() and friends): the typed map (nodes, keys,
 *   texts, byte blocks, encoded buffers), string lists, vek_crt().
 *
 * Thread-safety: every function of the stand-in may be called from any thread
 * at the same time; a replacement must give the same guarantee.
 */
#ifndef VEK_SAL_H
#define VEK_SAL_H

#include <stddef.h>
#include <stdint.h>
#include <pthread.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * A mutex that can live in robust memory: a process-shared, robust pthread
 * mutex. Set up with vek_mutex_init(), ended with vek_mutex_destroy().
 */
typedef struct vek_mutex_s {
    pthread_mutex_t pmutex; /**< The pthread mutex itself (process-shared and robust once initialised). */
} vek_mutex_t;

/** vek_nvm_robust_malloc() flag: the block's bytes are left as they are (the caller initialises them). */
#define VEK_NVM_NO_FILL 0u
/** vek_nvm_robust_malloc() flag: the block is filled with zero bytes. */
#define VEK_NVM_ZERO_FILL 1u
/** vek_mutex_init() flag, the only one the library passes: process-shared robust mutex. */
#define VEK_MUTEX_SHARED 1u
/** Bits of ::vek_trace_level that turn on the entry and exit trace lines of the library's operations. */
#define VEK_TRACE_API_MASK 12u
/** Bit of ::vek_trace_level that turns on the map decoder's line about a malformed stream. */
#define VEK_TRACE_DECODE_ERROR 1u

/**
 * Trace level of the library, 0 when loaded; programs may write it at any
 * time (it is read without locking, so set it before starting threads).
 *
 * With any bit of ::VEK_TRACE_API_MASK set (e.g. 4), most exported operations
 * print an entry line and an exit line on standard output, each written by a
 * single output call:
 * @code
 * vek_bitmap_reserve map=55d0c0 size=3 base=7ffc10
 * vek_bitmap_reserve vekStatus=0 base=5
 * @endcode
 * that is the operation's name and " name=value" per traced value, values in
 * lower-case hexadecimal widened to 64 bits (pointers and unsigned values
 * zero-extended, signed values sign-extended, so -1 prints ffffffffffffffff).
 * Operations that call other exported operations print those calls' lines
 * nested between their own. With ::VEK_TRACE_DECODE_ERROR set, the map decoder
 * prints one line when it meets a malformed stream. Each function's
 * documentation says whether it traces.
 */
VEK_API extern uint32_t vek_trace_level;

/**
 * Allocates a block of the ordinary heap.
 *
 * @param[in] size Bytes wanted; 0 is allowed (the stand-in returns malloc(0)).
 * @return The block, suitably aligned for any type, or NULL when memory is
 *         exhausted. The caller releases it with vek_free().
 *
 * Stand-in: malloc(). Thread-safe.
 */
VEK_API void *vek_malloc(size_t size);

/**
 * Resizes a block of the ordinary heap.
 *
 * @param[in] ptr  A block of vek_malloc() / vek_realloc() / vek_strdup(), or
 *                 NULL (then it allocates like vek_malloc()).
 * @param[in] size New size in bytes.
 * @return The resized block (maybe moved; the contents are kept up to the
 *         smaller size), or NULL on failure, the old block then intact and
 *         still the caller's. A size of 0 releases @p ptr and returns NULL.
 *
 * Stand-in: realloc(). Thread-safe.
 */
VEK_API void *vek_realloc(void *ptr, size_t size);

/**
 * Releases a block of the ordinary heap.
 *
 * @param[in] ptr A block of vek_malloc(), vek_realloc() or vek_strdup(), or
 *                NULL (nothing happens).
 *
 * Stand-in: free(). Thread-safe.
 */
VEK_API void vek_free(void *ptr);

/**
 * Copies a string into a new block of the ordinary heap.
 *
 * @param[in] str The string; must not be NULL.
 * @return The copy (release it with vek_free()), or NULL when memory is
 *         exhausted.
 *
 * Stand-in: strdup(). Thread-safe.
 */
VEK_API char *vek_strdup(const char *str);

/**
 * Allocates a block of robust memory.
 *
 * Robust memory holds the state that the library's process-shared mutexes
 * protect (registries, bitmaps, tables); a real platform library may serve it
 * from memory that outlives the process or is mapped by several processes.
 *
 * @param[in]  size Bytes wanted; 0 gives a valid block.
 * @param[out] ptr  Receives the block; must not be NULL. Not written on failure.
 * @param[in]  flag ::VEK_NVM_ZERO_FILL to get zero bytes, ::VEK_NVM_NO_FILL to
 *                  leave the bytes as they come.
 * @return ::VEK_ST_SUCCESS, or ::VEK_ST_NO_MEMORY when memory is exhausted.
 *         The caller releases the block with vek_nvm_robust_free().
 *
 * Thread-safe.
 */
VEK_API vek_st_t vek_nvm_robust_malloc(size_t size, void **ptr, uint32_t flag);

/**
 * Resizes a block of robust memory.
 *
 * @param[in]  ptr    A robust block, or NULL (then it allocates, bytes not filled).
 * @param[in]  size   New size in bytes.
 * @param[out] newPtr Receives the resized block (maybe moved, contents kept up
 *                    to the smaller size); receives NULL on failure. Must not be NULL.
 * @return ::VEK_ST_SUCCESS, or ::VEK_ST_NO_MEMORY; on failure the old block is
 *         intact and still the caller's.
 *
 * The library uses it only to grow a sorted set's node array. Thread-safe.
 */
VEK_API vek_st_t vek_nvm_robust_realloc(void *ptr, size_t size, void **newPtr);

/**
 * Releases a block of robust memory and clears the caller's pointer.
 *
 * @param[in,out] ptr Address of the pointer to the block; must not be NULL.
 *                    *ptr may be NULL (nothing to release). *ptr is set to NULL.
 * @return ::VEK_ST_SUCCESS. A real platform library may report a failure
 *         (including ::VEK_ST_PTHREAD_MUTEX_OWNER_DEAD from its own locking);
 *         the library merges such a status into the result of the operation
 *         that released the block and goes on.
 *
 * Thread-safe.
 */
VEK_API vek_st_t vek_nvm_robust_free(void **ptr);

/**
 * Initialises a mutex.
 *
 * @param[out] mutex The mutex to set up (usually inside a robust block);
 *                   must not be NULL.
 * @param[in]  flag  ::VEK_MUTEX_SHARED (the only value the library passes): a
 *                   process-shared, robust mutex. Any other value makes a
 *                   process-private robust mutex in the stand-in.
 * @return ::VEK_ST_SUCCESS, or ::VEK_ST_MUTEX_ATTR_INIT_ERROR (301),
 *         ::VEK_ST_MUTEX_SHARED_INIT_ERROR (302), ::VEK_ST_MUTEX_INIT_ERROR (303);
 *         on failure the mutex is not usable and must not be destroyed.
 *
 * Thread-safe (for distinct mutexes).
 */
VEK_API vek_st_t vek_mutex_init(vek_mutex_t *mutex, uint32_t flag);

/**
 * Locks a mutex, waiting as long as needed.
 *
 * @param[in] mutex An initialised mutex; must not be NULL.
 * @return ::VEK_ST_SUCCESS: the mutex is held.
 *         ::VEK_ST_PTHREAD_MUTEX_OWNER_DEAD (8000): the previous owner (a thread
 *         or process) died holding it; the mutex has been made consistent
 *         (pthread_mutex_consistent()) and is held now; the data it guards
 *         may be half-updated. The library's operations go on in this case,
 *         unlock normally and report 8000.
 *         ::VEK_ST_MUTEX_WAIT_ERROR (304): the mutex is not held.
 *
 * Thread-safe.
 */
VEK_API vek_st_t vek_mutex_lock(vek_mutex_t *mutex);

/**
 * Unlocks a mutex held by the calling thread.
 *
 * @param[in] mutex The mutex; must not be NULL.
 * @return ::VEK_ST_SUCCESS, or ::VEK_ST_MUTEX_POST_ERROR (307).
 *
 * Thread-safe.
 */
VEK_API vek_st_t vek_mutex_unlock(vek_mutex_t *mutex);

/**
 * Destroys an unlocked mutex set up by vek_mutex_init().
 *
 * @param[in] mutex The mutex; must not be NULL. It must not be used afterwards.
 * @return ::VEK_ST_SUCCESS, or ::VEK_ST_MUTEX_DESTROY_ERROR (308).
 *
 * Thread-safe (for distinct mutexes).
 */
VEK_API vek_st_t vek_mutex_destroy(vek_mutex_t *mutex);

/**
 * Length of a string.
 * @param[in] str The string; must not be NULL.
 * @return Bytes before the terminating NUL (stand-in: strlen()).
 */
VEK_API size_t vek_strlen(const char *str);

/**
 * Copies a string, terminating NUL included.
 * @param[out] dst Room for strlen(src) + 1 bytes; must not overlap @p src.
 * @param[in]  src The string; must not be NULL.
 * @return @p dst (stand-in: strcpy()).
 */
VEK_API char *vek_strcpy(char *dst, const char *src);

/**
 * Compares two strings ignoring ASCII case (the map's key comparisons).
 * @param[in] s1 First string; must not be NULL.
 * @param[in] s2 Second string; must not be NULL.
 * @return 0 when equal ignoring case, else negative or positive as @p s1
 *         sorts before or after @p s2 (stand-in: strcasecmp()).
 */
VEK_API int vek_stricmp(const char *s1, const char *s2);

/**
 * Compares at most @p n characters of two strings ignoring ASCII case.
 * @param[in] s1 First string; must not be NULL.
 * @param[in] s2 Second string; must not be NULL.
 * @param[in] n  Characters to compare at most.
 * @return 0 when the first @p n characters (or both whole strings, when
 *         shorter) are equal ignoring case, else negative or positive
 *         (stand-in: strncasecmp()).
 */
VEK_API int vek_strincmp(const char *s1, const char *s2, size_t n);

/**
 * 32-bit value from host to network (big-endian) byte order.
 * @param[in] value Host-order value.
 * @return The value in big-endian order (stand-in: htonl()).
 */
VEK_API uint32_t vek_htonl(uint32_t value);
/**
 * 32-bit value from network (big-endian) to host byte order.
 * @param[in] value Big-endian value.
 * @return The value in host order (stand-in: ntohl()).
 */
VEK_API uint32_t vek_ntohl(uint32_t value);
/**
 * 64-bit value from host to network (big-endian) byte order.
 * @param[in] value Host-order value.
 * @return The value in big-endian order.
 */
VEK_API uint64_t vek_htonll(uint64_t value);
/**
 * 64-bit value from network (big-endian) to host byte order.
 * @param[in] value Big-endian value.
 * @return The value in host order.
 */
VEK_API uint64_t vek_ntohll(uint64_t value);

#ifdef __cplusplus
}
#endif

#endif /* VEK_SAL_H */
