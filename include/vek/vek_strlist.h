/**
 * @file vek_strlist.h
 * @brief Parser of one-line lists ("1, 4:7, 10") into typed, ordered items,
 *        with an iterator and accessors.
 *
 * vek_strlist_list_build() walks a text byte by byte:
 * - white space (blank, tab, newline, CR, VT, FF) is dropped wherever it
 *   stands, inside items too ("a b" is the item "ab");
 * - the separator character ends an item; empty items are skipped;
 * - for integer lists the range mark splits an item into a start and an end,
 *   and the range expands into one item per value ("4:7" gives 4, 5, 6, 7);
 * - items are kept in ascending order of the comparison function (the
 *   type's default when none is given: strcmp() for strings, numeric for
 *   integers; custom values without a function keep input order); a new item
 *   goes before the items equal to it.
 *
 * Integer items are read as strtol() base 10 reads them: leading sign and
 * digits, the rest ignored; a non-numeric item becomes 0 with status 0, and
 * values saturate at the 32-bit limits. ::VEK_STRLIST_INT64 lists hold 64-bit
 * items but their values come from the same 32-bit conversion.
 *
 * Ownership: every block of a list (nodes, value records, string copies) is
 * ordinary heap memory of the platform layer through vek_strlist_malloc()
 * and friends; the list is the caller's and is released with
 * vek_strlist_list_free(), which also releases each non-zero custom value
 * with vek_strlist_free() (so a conversion function must return a block of
 * vek_strlist_malloc(), or 0). Iterators are released with
 * vek_strlist_iter_free().
 *
 * Thread-safety: a list and its iterators may be used by one thread at a
 * time; distinct lists are independent. No function here prints trace lines.
 */
#ifndef VEK_STRLIST_H
#define VEK_STRLIST_H

#include <stddef.h>
#include <stdint.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Item type of a list (one of the VEK_STRLIST_* type codes). */
typedef uint32_t vek_strlist_type_t;
/** Items are strings (payload.str, heap copies). */
#define VEK_STRLIST_STRING 1u
/** Items are 32-bit integers (payload.i32); ranges allowed. */
#define VEK_STRLIST_INT32 2u
/** Items are 64-bit integers (payload.i64) holding 32-bit values; ranges allowed. */
#define VEK_STRLIST_INT64 3u
/** Items are custom values made by the caller's conversion function (payload.cusval). */
#define VEK_STRLIST_CUSVAL 4u
/** Characters of one item at most, white space removed; longer gives ::VEK_ST_STRLIST_ITEM_EXCEED. */
#define VEK_STRLIST_MAX_ITEM_LEN 255u
/** Items one build may make (ranges included); more gives ::VEK_ST_STRLIST_ITEM_EXCEED before allocating. */
#define VEK_STRLIST_MAX_ITEMS 16777216u

/** The value of an item; the member is chosen by the item's type. */
typedef union vek_strlist_payload_u {
    char *str;        /**< ::VEK_STRLIST_STRING */
    int32_t i32;      /**< ::VEK_STRLIST_INT32 */
    int64_t i64;      /**< ::VEK_STRLIST_INT64 */
    uintptr_t cusval; /**< ::VEK_STRLIST_CUSVAL */
} vek_strlist_payload_t;

/** The value record of an item. */
typedef struct vek_strlist_val_s {
    vek_strlist_type_t type;       /**< The item's type. */
    vek_strlist_payload_t payload; /**< The item's value. */
} vek_strlist_val_t;

/** A node of a list (singly linked, in ascending order). */
typedef struct vek_strlist_node_s {
    struct vek_strlist_node_s *next; /**< Next node, NULL at the end. */
    vek_strlist_val_t *value;        /**< The item's value record. */
} vek_strlist_node_t;

/** An iterator over a list; it refers to the nodes without owning them. */
typedef struct vek_strlist_iter_s {
    vek_strlist_node_t *first;   /**< The list's first node. */
    vek_strlist_node_t *current; /**< The node vek_strlist_iter_getNext() returns next; NULL at the end. */
} vek_strlist_iter_t;

/**
 * Comparison function of a list build.
 * @param listItem An item already in the list.
 * @param newItem  The item being inserted.
 * For string lists both are the strings themselves; for integer and custom
 * lists, pointers to the payload words.
 * @return Negative, 0 or positive as @p listItem sorts before, with or after
 *         @p newItem.
 */
typedef int (*vek_strlist_cmp_fn)(const void *listItem, const void *newItem);
/**
 * Conversion function of a custom-value list.
 * @param text One item's text, white space removed.
 * @return The custom value: 0, or a block of vek_strlist_malloc(), which
 *         vek_strlist_list_free() releases with vek_strlist_free().
 */
typedef uintptr_t (*vek_strlist_conv_fn)(const char *text);

/**
 * Builds a list from a one-line text (see the file description).
 * @param text      The text; NULL gives ::VEK_ST_STRLIST_INV_VALUE (403).
 * @param type      Item type, VEK_STRLIST_*.
 * @param separator Character between items (e.g. ',').
 * @param rangeMark Character between a range's start and end (e.g. ':');
 *                  integer lists only.
 * @param convFn    Conversion function: required for ::VEK_STRLIST_CUSVAL,
 *                  must be NULL for the other types (else 406).
 * @param cmpFn     Comparison function; NULL takes the type's default.
 * @param[out] outList Receives the first node (NULL for a text without items);
 *                  NULL gives ::VEK_ST_STRLIST_INV_LIST (401).
 * @return ::VEK_ST_SUCCESS; 403; 401; ::VEK_ST_STRLIST_INV_CONV (406);
 *         ::VEK_ST_STRLIST_INV_RANGE (407) malformed range or end below start;
 *         ::VEK_ST_STRLIST_ITEM_EXCEED (408) an item longer than
 *         ::VEK_STRLIST_MAX_ITEM_LEN or more than ::VEK_STRLIST_MAX_ITEMS items;
 *         ::VEK_ST_NO_MEMORY (2). On failure *outList is NULL (once the
 *         arguments are checked) and nothing is left allocated.
 *
 * Release the list with vek_strlist_list_free().
 */
VEK_API vek_st_t vek_strlist_list_build(const char *text, vek_strlist_type_t type, char separator, char rangeMark,
                                        vek_strlist_conv_fn convFn, vek_strlist_cmp_fn cmpFn,
                                        vek_strlist_node_t **outList);
/**
 * Releases a whole list: per node its string copy or non-zero custom value,
 * its value record and the node.
 * @param list The first node; NULL does nothing.
 * @return Always ::VEK_ST_SUCCESS.
 */
VEK_API vek_st_t vek_strlist_list_free(vek_strlist_node_t *list);
/**
 * Makes an iterator at the start of a list.
 * @param list The first node; NULL gives ::VEK_ST_STRLIST_INV_LIST (401).
 * @param[out] outIter Receives the iterator (NULL when memory is exhausted);
 *             NULL gives ::VEK_ST_STRLIST_INV_ITER (405).
 * @return ::VEK_ST_SUCCESS, 401, 405 or ::VEK_ST_NO_MEMORY (2). Release the
 *         iterator with vek_strlist_iter_free() (before or after the list).
 */
VEK_API vek_st_t vek_strlist_iter_fetch(vek_strlist_node_t *list, vek_strlist_iter_t **outIter);
/**
 * Tells whether the iterator has a node left.
 * @param iter The iterator; NULL gives 0.
 * @return 1 when vek_strlist_iter_getNext() will return a node, else 0.
 */
VEK_API int vek_strlist_iter_hasNext(vek_strlist_iter_t *iter);
/**
 * Returns the next node and advances.
 * @param iter The iterator; NULL gives NULL.
 * @return The list's own node (do not free), or NULL at the end.
 */
VEK_API vek_strlist_node_t *vek_strlist_iter_getNext(vek_strlist_iter_t *iter);
/**
 * Releases an iterator (not the list).
 * @param iter The iterator; NULL does nothing.
 */
VEK_API void vek_strlist_iter_free(vek_strlist_iter_t *iter);
/**
 * Reads a string item.
 * @param node The node; NULL gives ::VEK_ST_STRLIST_INV_NODE (402).
 * @param[out] value Receives the list's own string (do not free); must not be NULL.
 * @return ::VEK_ST_SUCCESS; 402; ::VEK_ST_STRLIST_INV_VALUE (403) node without a
 *         value record; ::VEK_ST_STRLIST_INV_TYPE (404) not a string item.
 */
VEK_API vek_st_t vek_strlist_node_val_getString(vek_strlist_node_t *node, const char **value);
/**
 * Reads a 32-bit integer item.
 * @param node The node.
 * @param[out] value Receives the value; must not be NULL.
 * @return As vek_strlist_node_val_getString().
 */
VEK_API vek_st_t vek_strlist_node_val_getInt32(vek_strlist_node_t *node, int32_t *value);
/**
 * Reads a 64-bit integer item.
 * @param node The node.
 * @param[out] value Receives the value; must not be NULL.
 * @return As vek_strlist_node_val_getString().
 */
VEK_API vek_st_t vek_strlist_node_val_getInt64(vek_strlist_node_t *node, int64_t *value);
/**
 * Reads a custom-value item.
 * @param node The node.
 * @param[out] value Receives the custom value (still owned by the list); must not be NULL.
 * @return As vek_strlist_node_val_getString().
 */
VEK_API vek_st_t vek_strlist_node_val_getCusval(vek_strlist_node_t *node, uintptr_t *value);
/**
 * Reads an item's type.
 * @param node The node; NULL or without a value record gives
 *             ::VEK_ST_STRLIST_INV_NODE (402).
 * @param[out] type Receives the type; must not be NULL.
 * @return ::VEK_ST_SUCCESS or 402.
 */
VEK_API vek_st_t vek_strlist_node_val_getType(vek_strlist_node_t *node, vek_strlist_type_t *type);
/**
 * Allocates heap memory of the lists' allocator (vek_malloc()), e.g. for custom values.
 * @param size Bytes.
 * @return The block or NULL; release with vek_strlist_free().
 */
VEK_API void *vek_strlist_malloc(size_t size);
/**
 * Resizes a block of vek_strlist_malloc() (vek_realloc()).
 * @param ptr  The block, or NULL.
 * @param size New size in bytes.
 * @return The block, or NULL (old block intact).
 */
VEK_API void *vek_strlist_realloc(void *ptr, size_t size);
/**
 * Releases a block of the lists' allocator.
 * @param ptr The block; NULL is ignored.
 */
VEK_API void vek_strlist_free(void *ptr);
/**
 * Copies a string with the lists' allocator.
 * @param str The string; NULL gives NULL.
 * @return The copy (release with vek_strlist_free()) or NULL.
 */
VEK_API char *vek_strlist_strdup(const char *str);

#ifdef __cplusplus
}
#endif

#endif /* VEK_STRLIST_H */
