/**
 * @file vek_region.h
 * @brief Named robust regions of the platform library (libVekSalIf): robust
 *        memory that independent programs on one Linux host share.
 *
 * Installed with the platform library's development files as
 * <vek_region.h>. libvekcommon never calls these functions; programs do.
 *
 * A region is a POSIX shared-memory object ("/vek.<name>", under /dev/shm)
 * mapped at the same address in every process that uses it. The address is
 * fixed when the region is created and recorded in its header; attaching
 * maps it there or fails naming the range (it never relocates). The first
 * user creates the region, later ones attach; no process is special and the
 * start order does not matter. A region outlives its users until it is
 * removed (vek_region_remove(), `vekutil region rm`).
 *
 * While a region serves the process's robust memory (::VEK_REGION_ROBUST,
 * or the environment below), vek_nvm_robust_malloc() and its siblings
 * allocate from it, under the region's process-shared robust lock, so that
 * the registries, records and containers libvekcommon builds there are
 * shared by every process attached to it. A process that dies at any
 * instant, inside the allocator included, leaves the region usable: the
 * next locker checks and mends it.
 *
 * Without code changes, a program is given a region by its environment,
 * read when the platform library is loaded:
 * - `VEK_ROBUST_REGION=<name>`: robust memory comes from that region,
 *   attached, or created when absent;
 * - `VEK_ROBUST_REGION_SIZE=<bytes>[K|M|G]`: its size when created
 *   (default 64M);
 * - `VEK_ROBUST_REGION_MODE=group`: create it with mode 0660 instead of 0600.
 * A region the environment names that cannot be opened ends the program at
 * start-up with a message on standard error naming the cause (exit 70), so
 * that a misconfiguration is never mistaken for private memory.
 *
 * Named objects let the processes find what they share: vek_region_object()
 * creates and initialises an object exactly once, even when programs start
 * at the same instant; the others wait until it is ready. An initialiser
 * that dies leaves the object to the next user, who initialises it again
 * from zeroed memory (what the dead one allocated stays allocated).
 *
 * Every function returns a status: 0 (::VEK_ST_SUCCESS) or the failure, with
 * a one-line English description of it in vek_region_error(). Statuses:
 * - ::VEK_ST_INVALID_PARAMETER: a null pointer, a name that is empty, too long
 *   or has a character outside [A-Za-z0-9._-] (or starts with '.'), unknown
 *   flags, a size of 0 or below ::VEK_REGION_MIN_SIZE when creating;
 * - ::VEK_ST_INVALID_VALUE: the region (or named object) does not exist and
 *   may not be created, or exists and ::VEK_REGION_EXCL was given, or exists
 *   with another size than the one asked for;
 * - ::VEK_ST_API_NOT_SUPPORTED: the region was made by another layout
 *   version, architecture, pointer width or byte order;
 * - ::VEK_ST_NVM_ERROR: the header is corrupted or disagrees with the
 *   object (size, base), the object is a symbolic link or not a regular
 *   shared-memory object, the fixed address range is taken in this process
 *   (the message names the range), or the system refused (the message names
 *   the call and errno's text);
 * - ::VEK_ST_NO_MEMORY: the region is full (an allocation from it fails with
 *   this status too, and changes nothing);
 * - ::VEK_ST_HANDLE_IN_USE: another region already serves the process's
 *   robust memory.
 *
 * Thread-safety: every function may be called from any thread; a region
 * handle may be used by many threads at once until it is closed.
 */
#ifndef VEK_REGION_H
#define VEK_REGION_H

#include <stddef.h>
#include <stdint.h>
#include <vek/vek_status.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Longest region or object name, in bytes. */
#define VEK_REGION_NAME_MAX 63
/** Smallest region size accepted at creation (header, lock and directory included). */
#define VEK_REGION_MIN_SIZE (64u * 1024u)

/** Open flag: create the region when it does not exist (with the size given). */
#define VEK_REGION_CREATE 0x1u
/** Open flag, with ::VEK_REGION_CREATE: fail when the region exists already. */
#define VEK_REGION_EXCL 0x2u
/** Open flag, with ::VEK_REGION_CREATE: mode 0660 (the group may attach) instead of 0600. */
#define VEK_REGION_GROUP 0x4u
/** Open flag: the region serves this process's robust memory (vek_nvm_robust_malloc()) until it is closed. */
#define VEK_REGION_ROBUST 0x8u

/** A process's handle of an attached region (opaque). */
typedef struct vek_region vek_region_t;

/** What vek_region_info() reports. */
typedef struct vek_region_info {
    char name[VEK_REGION_NAME_MAX + 1]; /**< The region's name. */
    uint32_t layout;                    /**< Layout version of its header. */
    uint64_t base;                      /**< Address it is mapped at in every process. */
    uint64_t size;                      /**< Bytes of the whole region. */
    uint64_t usedBytes;                 /**< Bytes of allocated blocks (their headers included). */
    uint64_t freeBytes;                 /**< Bytes an allocation could still use. */
    uint64_t blocksInUse;               /**< Allocated blocks. */
    uint32_t objects;                   /**< Named objects. */
    uint32_t mode;                      /**< Permission bits of the shared-memory object. */
} vek_region_info_t;

/**
 * Opens a region: attaches to it, or creates it when absent and
 * ::VEK_REGION_CREATE is given. Two processes creating the same region at
 * the same instant end up attached to one region.
 * A region this process has open already is not mapped twice: the same
 * handle is returned, and each open is matched by one vek_region_close().
 * An attacher that finds the region still being made waits for its
 * creator (about a second at most); a creator that died midway leaves it
 * to the next opener with ::VEK_REGION_CREATE, which makes it again.
 * @param name  The region's name (see the file comment for the rule).
 * @param size  Bytes of the region when it is created (rounded up to pages);
 *              when attaching, 0 or the region's own size.
 * @param flags ::VEK_REGION_CREATE, ::VEK_REGION_EXCL, ::VEK_REGION_GROUP,
 *              ::VEK_REGION_ROBUST, or'ed.
 * @param out   Receives the handle; left untouched on failure.
 * @return 0, or a status of the file comment.
 */
VEK_API vek_st_t vek_region_open(const char *name, size_t size, uint32_t flags, vek_region_t **out);

/**
 * Detaches from a region: unmaps it and frees the handle. The region and
 * everything in it stay for the other users and later ones. Robust memory
 * the region served must no longer be used by this process.
 * @param region The handle; NULL is accepted and does nothing.
 * @return 0.
 */
VEK_API vek_st_t vek_region_close(vek_region_t *region);

/**
 * Removes a region's name: no process can attach to it afterwards, while
 * those attached keep using it until they close it; its memory is returned
 * to the system when the last of them has.
 * @param name The region's name.
 * @return 0, ::VEK_ST_INVALID_PARAMETER, ::VEK_ST_INVALID_VALUE (no such
 *         region), ::VEK_ST_NVM_ERROR.
 */
VEK_API vek_st_t vek_region_remove(const char *name);

/**
 * The description of the calling thread's last failure of a vek_region_*
 * function, e.g. "region 'ctl': created for armhf (32-bit), this is x86_64
 * (64-bit)" or "region 'ctl': address range 0x300000000000-0x300004000000 is
 * taken in this process".
 * @return A text owned by the library, valid until the thread's next call;
 *         "" when the last call succeeded.
 */
VEK_API const char *vek_region_error(void);

/**
 * The region that serves the process's robust memory, if any (the one named
 * by the environment, or opened with ::VEK_REGION_ROBUST).
 * @return The handle, or NULL when robust memory is private.
 */
VEK_API vek_region_t *vek_region_current(void);

/**
 * Initialiser of a named object: called with the object's zeroed memory,
 * once, by one process, while the others wait.
 * @param object The object's memory, zeroed.
 * @param size   Its size in bytes.
 * @param ctx    The context given to vek_region_object().
 * @return 0 when the object is ready; any other status leaves it
 *         uninitialised (the next vek_region_object() tries again) and is
 *         returned to the caller.
 */
typedef vek_st_t (*vek_region_init_fn)(void *object, size_t size, void *ctx);

/**
 * Finds the named object, or creates it: allocates @p size bytes in the
 * region, zeroed, and runs @p init on them, exactly once across all
 * processes. Callers that find the object being initialised wait until it
 * is ready. When the initialiser dies, the next caller initialises it again
 * from zeroed memory.
 * @param region The region.
 * @param name   The object's name (the rule of region names).
 * @param size   Its size in bytes (at least 1); an existing object of
 *               another size is refused (::VEK_ST_INVALID_VALUE).
 * @param init   The initialiser; NULL leaves the object zeroed.
 * @param ctx    Passed to @p init.
 * @param out    Receives the object's address, the same in every process.
 * @return 0, ::VEK_ST_INVALID_PARAMETER, ::VEK_ST_INVALID_VALUE,
 *         ::VEK_ST_NO_MEMORY (region or directory full), or @p init's status.
 */
VEK_API vek_st_t vek_region_object(vek_region_t *region, const char *name, size_t size, vek_region_init_fn init,
                                   void *ctx, void **out);

/**
 * Finds a named object that is ready, without creating it or waiting.
 * @param region The region.
 * @param name   The object's name.
 * @param out    Receives its address.
 * @param size   Receives its size; may be NULL.
 * @return 0, ::VEK_ST_INVALID_PARAMETER, ::VEK_ST_INVALID_VALUE (no ready
 *         object of that name).
 */
VEK_API vek_st_t vek_region_object_find(vek_region_t *region, const char *name, void **out, size_t *size);

/**
 * Visitor of vek_region_objects().
 * @param name   The object's name.
 * @param object Its address.
 * @param size   Its size in bytes.
 * @param ready  1 when it is initialised, 0 while it is not (yet).
 * @param ctx    The context given to vek_region_objects().
 * @return 0 to go on, anything else to stop the walk.
 */
typedef int (*vek_region_object_fn)(const char *name, void *object, size_t size, int ready, void *ctx);

/**
 * Calls @p fn for every named object of the region, in creation order
 * (ready or not), under no lock of the caller's.
 * @param region The region.
 * @param fn     The visitor.
 * @param ctx    Passed to every call of @p fn.
 * @return 0, ::VEK_ST_INVALID_PARAMETER, ::VEK_ST_NVM_ERROR (directory broken).
 */
VEK_API vek_st_t vek_region_objects(vek_region_t *region, vek_region_object_fn fn, void *ctx);

/**
 * Reports the region's figures, taken under its lock.
 * @param region The region.
 * @param info   Receives the figures.
 * @return 0, ::VEK_ST_INVALID_PARAMETER.
 */
VEK_API vek_st_t vek_region_info(vek_region_t *region, vek_region_info_t *info);

/**
 * Checks the region under its lock: the header, the allocator's structures
 * and the object directory, trusting nothing that the mapping does not
 * bound (a lock whose owner died mends the region first, as every region
 * operation does).
 * @param region    The region.
 * @param violation Receives NULL when the region is whole, else a static
 *                  text naming the first property that does not hold.
 * @return 0 (whatever the check found), ::VEK_ST_INVALID_PARAMETER.
 */
VEK_API vek_st_t vek_region_check(vek_region_t *region, const char **violation);

/**
 * Allocates a block from a region, whether or not it serves the process's
 * robust memory.
 * @param region The region.
 * @param size   Bytes wanted (0 is taken as 1).
 * @param out    Receives the block, 16-byte aligned.
 * @return 0 with the block in @p *out, ::VEK_ST_NO_MEMORY (full; nothing
 *         changes), ::VEK_ST_INVALID_PARAMETER.
 */
VEK_API vek_st_t vek_region_alloc(vek_region_t *region, size_t size, void **out);

/**
 * Releases a block of the region (NULL is accepted).
 * @param region The region.
 * @param block  A block of vek_region_alloc() or of the region's robust memory.
 * @return 0, ::VEK_ST_INVALID_PARAMETER (not a block of this region),
 *         ::VEK_ST_PTHREAD_MUTEX_OWNER_DEAD (the lock was taken over from a
 *         dead owner and the block released all the same).
 */
VEK_API vek_st_t vek_region_free(vek_region_t *region, void *block);

#ifdef __cplusplus
}
#endif

#endif /* VEK_REGION_H */
