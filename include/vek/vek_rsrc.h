/**
 * @file vek_rsrc.h
 * @brief Resource registry of a device handle: named ranges of identifiers
 *        (resources), each backed by a bitmap and guarded by robust mutexes.
 *
 * Set-up: a handle is a ::vek_hdl_t whose magic is ::VEK_HDL_MAGIC and whose
 * registry pointer starts NULL, e.g.
 * @code
 * vek_hdl_t hdl = { VEK_HDL_MAGIC, NULL };
 * vek_rsrc_t *ports;
 * uint32_t first;
 * if (vek_rsrc_init(&hdl) == VEK_ST_SUCCESS &&
 *     vek_rsrc_create(&hdl, 1, "ports", 64, 0x100, &ports) == VEK_ST_SUCCESS &&
 *     vek_rsrc_allocate(ports, 4, &first) == VEK_ST_SUCCESS) {
 *     ... identifiers first .. first+3 are ours until vek_rsrc_free(ports, first, 4) ...
 * }
 * vek_rsrc_release(&hdl);   // destroys every resource of the handle
 * @endcode
 * A resource is found again by its kind and name (vek_rsrc_find()). The kind
 * is the caller's classification, 0 .. ::VEK_RSRC_MAX_KIND; names are unique
 * per kind. A resource covers identifiers baseId .. baseId+numElems-1; every
 * kind except 5 must keep baseId + numElems within ::VEK_RSRC_ID_LIMIT (2^24).
 * A read-only resource (vek_rsrc_create_intern() with readOnly) has no bitmap:
 * all its identifiers count as in use and cannot be allocated or freed.
 *
 * Memory: the registry, the records, their names and bitmaps are robust
 * memory (see vek_sal.h), so that a registry may live in memory shared by
 * processes.
 *
 * Thread- and process-safety: the registry has a process-shared robust mutex
 * and so has each record; every operation takes the mutex it needs, so
 * threads (and processes sharing the memory) may call any of these functions
 * at the same time. Two rules remain the caller's: do not use a record
 * after vek_rsrc_destroy() or vek_rsrc_release() (no reference count protects
 * it), and do not release a handle while other threads use it.
 *
 * When a lock reports that its previous owner died
 * (::VEK_ST_PTHREAD_MUTEX_OWNER_DEAD, 8000), the mutex is held and what it
 * guards may be half-way through the dead owner's change. The operation
 * first repairs it, then goes on, unlocks and returns 8000, which replaces
 * any other status (other platform failures are merged the same way: the
 * first one is reported). The repair, which runs only on that path:
 * - a record (allocate, allocate_fixed, free, isset, issetv2, query): its
 *   bitmap's identifiers are taken as they stand (a run the dead owner
 *   half set stays in use until someone frees it, a run it half cleared is
 *   free where it was cleared), the free count is derived from them and the
 *   bitmap's search hint made the lowest free identifier;
 * - the registry (create, destroy, find, dump, release): records are linked
 *   only once whole and unlinked before they are torn down, so the list is
 *   always walkable and holds only whole records; its count is recounted. A
 *   record that a dead create built but never linked, or that a dead
 *   destroy or release unlinked but never released, is unreachable and
 *   stays allocated; nothing is released twice. A list that cannot come
 *   from a death (a loop, a record that is not whole) is cut before the bad
 *   link.
 * A structure the repair cannot make whole (a bitmap whose size or word
 * array does not fit its record) is left alone: the operation unlocks and
 * returns ::VEK_ST_ERROR (1) without doing its work.
 *
 * Structure checks: builds with VEK_STRUCTURE_CHECKS (Debug, sanitizer and
 * fuzz builds by default) check the record or registry after every
 * operation, the mutex still held, and abort with the broken property and
 * its place on standard error.
 *
 * Trace lines (see ::vek_trace_level): every operation except vek_rsrc_init()
 * and vek_rsrc_release() prints entry and exit lines.
 */
#ifndef VEK_RSRC_H
#define VEK_RSRC_H

#include <stdint.h>
#include "vek_status.h"
#include "vek_sal.h"
#include "vek_bitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Magic word of a valid handle ("$VEK" read from the most significant byte down). */
#define VEK_HDL_MAGIC 0x2456454Bu
/** Highest resource kind that can be created (kinds 0 .. 7). */
#define VEK_RSRC_MAX_KIND 7u
/** vek_rsrc_dump() kind that lists every kind. */
#define VEK_RSRC_KIND_ALL 8u
/** Limit of baseId + numElems of a resource, for every kind but 5 (2^24). */
#define VEK_RSRC_ID_LIMIT 0x1000000u

/** The resource registry of a handle (see struct vek_rsrc_registry_s). */
typedef struct vek_rsrc_registry_s vek_rsrc_registry_t;
/** A resource record (see struct vek_rsrc_s); callers hold pointers to it as resource handles. */
typedef struct vek_rsrc_s vek_rsrc_t;

/**
 * Device handle. Only these two fields belong to this library; set them up
 * as { ::VEK_HDL_MAGIC, NULL } before vek_rsrc_init().
 */
typedef struct vek_hdl_s {
    uint32_t magic;                    /**< ::VEK_HDL_MAGIC in a valid handle. */
    vek_rsrc_registry_t *rsrcRegistry; /**< The registry; NULL until vek_rsrc_init() and after vek_rsrc_release(). */
} vek_hdl_t;

/** The resource registry of a handle (robust memory). Read it only through the functions. */
struct vek_rsrc_registry_s {
    vek_mutex_t mutex;    /**< Guards the list of records. */
    uint32_t numRsrcs;    /**< Records in the list. */
    vek_rsrc_t *rsrcHead; /**< First record (the newest). */
};

/** A resource record (robust memory). Read it only through the functions. */
struct vek_rsrc_s {
    vek_mutex_t mutex;     /**< Guards the record's counters and bitmap. */
    uint32_t kind;         /**< Kind, 0 .. ::VEK_RSRC_MAX_KIND. */
    char *name;            /**< Name (robust copy of the creator's string). */
    uint32_t numElems;     /**< Identifiers covered. */
    uint32_t numElemsFree; /**< Identifiers free now. */
    uint32_t baseId;       /**< First identifier. */
    vek_bitmap_t *bitmap;  /**< Bit i stands for baseId + i; NULL for a read-only resource. */
    vek_rsrc_t *next;      /**< Next record of the registry's list. */
    vek_hdl_t *vekHdl;     /**< The handle the record belongs to. */
};

/** What vek_rsrc_query() reports about a resource. */
typedef struct vek_rsrc_info_s {
    uint32_t kind;         /**< Kind. */
    const char *name;      /**< The record's own string: valid while the resource exists; do not free. */
    uint32_t baseId;       /**< First identifier. */
    uint32_t numElems;     /**< Identifiers covered. */
    uint32_t numElemsFree; /**< Identifiers free at the time of the query. */
} vek_rsrc_info_t;

/**
 * Gives a handle its (empty) registry.
 * @param inVekHdl The handle, magic set; its registry pointer must be NULL or a
 *                 registry made by an earlier call.
 * @return ::VEK_ST_SUCCESS (also when the handle has a registry already: nothing
 *         changes); ::VEK_ST_INVALID_HANDLE (5) for a NULL handle or wrong magic;
 *         ::VEK_ST_NO_MEMORY (2); a mutex-initialisation status (301-303). On
 *         failure nothing is left allocated and the handle keeps no registry.
 *
 * Release with vek_rsrc_release(). Not safe against a concurrent
 * vek_rsrc_init() or vek_rsrc_release() of the same handle. Prints no trace line.
 */
VEK_API vek_st_t vek_rsrc_init(vek_hdl_t *inVekHdl);
/**
 * Destroys every resource of a handle and its registry.
 *
 * Takes the registry mutex, tears down every record (its mutex, bitmap, name
 * and block), destroys the registry mutex, releases the registry and sets the
 * handle's registry pointer to NULL. Every step runs whatever failed before.
 * Every ::vek_rsrc_t of the handle is invalid afterwards.
 *
 * @param inVekHdl The handle.
 * @return ::VEK_ST_SUCCESS (also when the handle has no registry);
 *         ::VEK_ST_INVALID_HANDLE (5); otherwise the first failing platform
 *         status (lock, unlock, destroy, release), 8000 winning.
 *
 * Prints no trace line.
 */
VEK_API vek_st_t vek_rsrc_release(vek_hdl_t *inVekHdl);
/**
 * Creates a resource with its bitmap (vek_rsrc_create_intern() with readOnly 0;
 * its entry line has a blank before the newline, then the lines of
 * vek_rsrc_create_intern() follow).
 * @param inVekHdl   The handle.
 * @param inKind     Kind, 0 .. ::VEK_RSRC_MAX_KIND.
 * @param name       Name, not NULL or empty; copied.
 * @param inNumelems Identifiers covered.
 * @param inBaseId   First identifier.
 * @param[out] outRsrcHdl Receives the record; may be NULL.
 * @return As vek_rsrc_create_intern().
 */
VEK_API vek_st_t vek_rsrc_create(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name, uint32_t inNumelems,
                                 uint32_t inBaseId, vek_rsrc_t **outRsrcHdl);
/**
 * Creates a resource, optionally read-only, and puts it at the head of the
 * handle's registry.
 *
 * @param inVekHdl   The handle (registry set up by vek_rsrc_init()).
 * @param inKind     Kind, 0 .. ::VEK_RSRC_MAX_KIND.
 * @param name       Name, not NULL or empty; copied into robust memory.
 * @param inNumelems Identifiers covered (0 allowed).
 * @param inBaseId   First identifier; unless the kind is 5, inBaseId +
 *                   inNumelems (in 64 bits) must not pass ::VEK_RSRC_ID_LIMIT.
 * @param[out] outRsrcHdl Receives the record; may be NULL.
 * @param readOnly   Non-zero: no bitmap, every identifier counts as in use.
 * @return ::VEK_ST_SUCCESS;
 *         ::VEK_ST_INVALID_HANDLE (5) NULL handle or wrong magic;
 *         ::VEK_ST_ERROR (1) the handle has no registry;
 *         ::VEK_ST_INVALID_PARAMETER (7) NULL or empty name, kind above 7;
 *         ::VEK_ST_INVALID_VALUE (4) range beyond the limit, or a resource of
 *         that kind and name exists;
 *         ::VEK_ST_NO_MEMORY (2), mutex statuses (301-308), 8000.
 *         On failure nothing is left allocated and the registry is unchanged.
 *
 * The record is released by vek_rsrc_destroy() or vek_rsrc_release().
 */
VEK_API vek_st_t vek_rsrc_create_intern(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name, uint32_t inNumelems,
                                        uint32_t inBaseId, vek_rsrc_t **outRsrcHdl, uint8_t readOnly);
/**
 * Removes a resource from the handle's registry and releases it (bitmap,
 * name, mutex, record). The record must not be used afterwards, by any
 * thread.
 * @param inVekHdl The handle whose registry holds the record.
 * @param inRsrcHdl The record.
 * @return ::VEK_ST_SUCCESS; ::VEK_ST_INVALID_HANDLE (5) NULL or invalid handle,
 *         NULL record, or a record whose own handle is invalid; ::VEK_ST_ERROR
 *         (1) either handle has no registry; ::VEK_ST_INVALID_PARAMETER (7) the
 *         record is not in this registry (8000 instead when the registry lock
 *         reported a dead owner); platform statuses of the tear-down (the
 *         tear-down completes anyway).
 */
VEK_API vek_st_t vek_rsrc_destroy(vek_hdl_t *inVekHdl, vek_rsrc_t *inRsrcHdl);
/**
 * Finds a resource by kind and name (exact, case-sensitive).
 * @param inVekHdl The handle.
 * @param inKind   Kind.
 * @param name     Name; NULL or empty gives 7.
 * @param[out] outRsrcHdl Receives the record; NULL gives 7. Unchanged on failure.
 * @return ::VEK_ST_SUCCESS; 5; 1 (no registry); ::VEK_ST_INVALID_PARAMETER (7);
 *         ::VEK_ST_INVALID_VALUE (4) no such resource; lock statuses, 8000.
 */
VEK_API vek_st_t vek_rsrc_find(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name, vek_rsrc_t **outRsrcHdl);
/**
 * Allocates a run of free identifiers, first fit from the bitmap's hint (see
 * vek_bitmap_reserve()).
 * @param inRsrcHdl The resource.
 * @param inNumIds  Identifiers wanted; 0 gives 7.
 * @param[out] outStartId Receives the first identifier (baseId included); NULL
 *             gives 7.
 * @return ::VEK_ST_SUCCESS; ::VEK_ST_INVALID_HANDLE (5) NULL record or invalid
 *         handle; ::VEK_ST_ERROR (1) no registry; checked in this order:
 *         ::VEK_ST_RSRC_INSUFF_IDS_AVAIL (1102) more than numElemsFree,
 *         ::VEK_ST_RSRC_READ_ONLY (1104), ::VEK_ST_INVALID_PARAMETER (7) count 0
 *         or NULL out-parameter; then ::VEK_ST_INVALID_PARAMETER (7) as well
 *         when enough identifiers are free but no free run is long enough
 *         (fragmentation); lock statuses, 8000. Nothing changes on failure.
 *
 * The identifiers stay allocated until vek_rsrc_free() or the resource's end.
 */
VEK_API vek_st_t vek_rsrc_allocate(vek_rsrc_t *inRsrcHdl, uint32_t inNumIds, uint32_t *outStartId);
/**
 * Allocates a run of identifiers at a given position.
 * @param inRsrcHdl The resource.
 * @param inNumIds  Identifiers wanted; 0 gives 7.
 * @param inStartId First identifier (baseId included); must lie in the resource.
 * @return ::VEK_ST_SUCCESS; 5; 1; 1102 (more than numElemsFree); 1104
 *         (read-only); 7 (count 0, start outside the resource);
 *         ::VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE (1103) some identifier of the
 *         run is in use or past the end; lock statuses, 8000. Nothing changes on
 *         failure.
 */
VEK_API vek_st_t vek_rsrc_allocate_fixed(vek_rsrc_t *inRsrcHdl, uint32_t inNumIds, uint32_t inStartId);
/**
 * Frees a run of allocated identifiers.
 * @param inRsrcHdl The resource.
 * @param inStartId First identifier (baseId included).
 * @param inNumIds  Identifiers to free.
 * @return ::VEK_ST_SUCCESS; 5; 1; ::VEK_ST_INVALID_PARAMETER (7) count 0, run
 *         not inside the resource (end computed in 64 bits) or any identifier
 *         of it not allocated; ::VEK_ST_RSRC_READ_ONLY (1104); lock statuses,
 *         8000. Nothing changes on failure.
 */
VEK_API vek_st_t vek_rsrc_free(vek_rsrc_t *inRsrcHdl, uint32_t inStartId, uint32_t inNumIds);
/**
 * Tells whether an identifier is allocated (every identifier of a read-only
 * resource inside its range is).
 * @param inRsrcHdl The resource.
 * @param inId      The identifier (baseId included).
 * @return 1 allocated; 0 free, outside the resource, or whenever the check
 *         fails (bad record or handle, lock failure, even 8000): use
 *         vek_rsrc_issetv2() to tell failures apart.
 */
VEK_API uint32_t vek_rsrc_isset(vek_rsrc_t *inRsrcHdl, uint32_t inId);
/**
 * Tells whether an identifier is allocated, with a status.
 * @param inRsrcHdl The resource.
 * @param inId      The identifier (baseId included).
 * @param[out] res  Receives 1 allocated, 0 free or outside; 0 whenever the
 *             status is not 0. NULL gives 7.
 * @return ::VEK_ST_SUCCESS; 5; 1; 7; lock statuses, 8000. The entry line names
 *         the record "isRsrcHdl".
 */
VEK_API vek_st_t vek_rsrc_issetv2(vek_rsrc_t *inRsrcHdl, uint32_t inId, uint8_t *res);
/**
 * Reports a resource's kind, name, range and free count.
 * @param inRsrcHdl The resource.
 * @param[out] outInfo Receives the information; NULL gives 7. Unchanged on failure.
 * @return ::VEK_ST_SUCCESS; 5; 1; 7; lock statuses, 8000.
 */
VEK_API vek_st_t vek_rsrc_query(vek_rsrc_t *inRsrcHdl, vek_rsrc_info_t *outInfo);
/**
 * Prints the registry's resources as a table on standard output: the header
 * line "Kind Name                            BaseId    NumElems  NumElemsFree"
 * and one line per record, newest first, formatted "%3d  %32s  %8d  %8d  %8d"
 * (numbers as signed decimals).
 * @param inVekHdl The handle.
 * @param inKind   A kind 0 .. 7 lists that kind, ::VEK_RSRC_KIND_ALL lists all.
 * @return ::VEK_ST_SUCCESS; 5; 1; ::VEK_ST_INVALID_PARAMETER (7) kind above 8;
 *         lock statuses, 8000.
 */
VEK_API vek_st_t vek_rsrc_dump(vek_hdl_t *inVekHdl, uint32_t inKind);

#ifdef __cplusplus
}
#endif

#endif /* VEK_RSRC_H */
