/**
 * @file vek_dpt.h
 * @brief Paged direct table: keys 0 .. tableSize-1 map straight to one-word
 *        values stored in pages that exist only while they hold a value.
 *
 * A value of 0 means "empty": storing 0 removes the key, and reading an
 * empty key gives 0. Pages of pageSize slots are allocated on the first store
 * into them and released with their last value. All memory is robust memory.
 *
 * Return conventions: values (0 = empty or failure), and 0 / -1 for put and
 * the key pickers. No ::vek_st_t is returned; the status computed shows only in
 * the trace exit lines.
 *
 * Thread-safety: none; a table may be used by one thread at a time (callers
 * sharing one lock around every call).
 *
 * Trace lines (see ::vek_trace_level): every operation prints entry and exit
 * lines except vek_dpt_traverse(); the bitmap operations it uses print theirs
 * nested.
 */
#ifndef VEK_DPT_H
#define VEK_DPT_H

#include <stdint.h>
#include "vek_status.h"
#include "vek_bitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

/** One page of a paged direct table. */
typedef struct vek_dpt_page_s {
    uintptr_t *values;       /**< pageSize value words (0 = empty slot). */
    uint32_t numUsed;        /**< Slots holding a non-zero value. */
    vek_bitmap_t *usedSlots; /**< Bitmap of the slots in use. */
} vek_dpt_page_t;

/** A paged direct table; create with vek_dpt_create_table(), end with vek_dpt_delete_nodes_and_table(). */
typedef struct vek_dpt_s {
    uint32_t tableSize;             /**< Keys 0 .. tableSize-1. */
    uint32_t pageSize;              /**< Slots per page. */
    uint32_t numPages;              /**< Pages: tableSize / pageSize rounded up. */
    uint32_t numAllocatedPages;     /**< Pages that exist now. */
    vek_dpt_page_t **pageDir;       /**< numPages page pointers (NULL: page absent). */
    vek_bitmap_t *allocatedPages;   /**< Bitmap of the pages that exist. */
    vek_bitmap_t *unavailablePages; /**< Bitmap of the pages that cannot take a new key: absent or full. */
} vek_dpt_t;

/**
 * Function called by vek_dpt_delete_nodes_and_table() for every slot of every
 * existing page, empty slots (value 0) included.
 * @param value The slot's value.
 * @return Ignored.
 */
typedef int32_t (*vek_dpt_del_fn_t)(uintptr_t value);
/**
 * Function called by vek_dpt_traverse() for every non-empty key.
 * @param key   The key.
 * @param value Its value (never 0).
 * @return Ignored.
 */
typedef int32_t (*vek_dpt_visit_fn_t)(uint32_t key, uintptr_t value);

/**
 * Creates an empty table (no page allocated yet).
 * @param tableSize Number of keys.
 * @param pageSize  Slots per page; 0 gives NULL without allocating.
 * @return The table (robust memory), or NULL when @p pageSize is 0, @p tableSize
 *         is 0 or memory is exhausted (nothing left allocated). End it with
 *         vek_dpt_delete_nodes_and_table().
 */
VEK_API vek_dpt_t *vek_dpt_create_table(uint32_t tableSize, uint32_t pageSize);
/**
 * Releases a table, its pages and bitmaps, calling @p delFn for every slot of
 * every existing page first.
 * @param dpt   The table; NULL does nothing.
 * @param delFn Called per slot (empty slots too, with 0); may be NULL.
 */
VEK_API void vek_dpt_delete_nodes_and_table(vek_dpt_t *dpt, vek_dpt_del_fn_t delFn);
/**
 * Value of a key.
 * @param dpt The table.
 * @param key The key.
 * @return The value, or 0 when the key is empty, out of range or the table is
 *         NULL (all alike).
 */
VEK_API uintptr_t vek_dpt_get(vek_dpt_t *dpt, uint32_t key);
/**
 * Stores a value; 0 removes the key (and releases the page with its last value).
 * @param dpt       The table.
 * @param key       The key.
 * @param value     The value; 0 empties the slot.
 * @param[out] old_value Receives the previous value (0 when empty or on
 *                  failure); may be NULL.
 * @return 0 stored; -1 for a NULL table, a key out of range, or a page that
 *         could not be allocated (nothing changed). The entry line prints
 *         "dpt=.. key=.., value=.." (with a comma).
 */
VEK_API int32_t vek_dpt_put(vek_dpt_t *dpt, uint32_t key, uintptr_t value, uintptr_t *old_value);
/**
 * Removes a key.
 * @param dpt The table.
 * @param key The key.
 * @return The removed value, or 0 when empty, out of range or NULL table.
 */
VEK_API uintptr_t vek_dpt_rem(vek_dpt_t *dpt, uint32_t key);
/**
 * Proposes a free key without storing anything: the lowest empty slot of the
 * lowest existing page that is not full, else slot 0 of the lowest absent
 * page. Never proposes a key at or past tableSize.
 * @param dpt The table.
 * @param[out] outKey Receives the key (0 on failure); NULL gives -1.
 * @return 0 proposed; -1 when the table is NULL or full.
 */
VEK_API int32_t vek_dpt_pick_key(vek_dpt_t *dpt, uint32_t *outKey);
/**
 * Picks a free key with vek_dpt_pick_key() and stores a value there with
 * vek_dpt_put() (their lines appear nested).
 * @param dpt   The table.
 * @param value The value; 0 gives -1.
 * @param[out] outKey Receives the key used (0 on failure); NULL gives -1.
 * @return 0 stored; -1 otherwise (nothing stored).
 */
VEK_API int32_t vek_dpt_put_pick_key(vek_dpt_t *dpt, uintptr_t value, uint32_t *outKey);
/**
 * Calls @p fn for every non-empty key in ascending order. The function must not
 * change the table; if it empties the page being walked, that page's walk ends.
 * @param dpt The table; NULL does nothing.
 * @param fn  The visit function; NULL does nothing.
 *
 * Prints no trace line.
 */
VEK_API void vek_dpt_traverse(vek_dpt_t *dpt, vek_dpt_visit_fn_t fn);

#ifdef __cplusplus
}
#endif

#endif /* VEK_DPT_H */
