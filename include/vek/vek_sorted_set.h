/**
 * @file vek_sorted_set.h
 * @brief Sorted set: (key, value) words kept in the order of a caller's
 *        comparison function in one growing array, searched by bisection.
 *
 * Keys and values are opaque machine words (uintptr_t); the set never looks
 * at what they point to. Absent keys read as value 0, so a stored value 0
 * cannot be told from "absent". The node array lives in robust memory.
 *
 * Return convention: values (0 for "none"), sizes, or the visit function's
 * result; no statuses.
 *
 * Thread-safety: none. A set may be used by one thread at a time; callers
 * that share one must lock around every call (reads included).
 *
 * Trace lines (see ::vek_trace_level): create, delete, iterate, get, get_n,
 * put_n and removals of a node print lines; put, size and remove print none
 * of their own.
 */
#ifndef VEK_SORTED_SET_H
#define VEK_SORTED_SET_H

#include <stdint.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/** One entry of a sorted set. */
typedef struct vek_sorted_set_node_s {
    uintptr_t key;   /**< The caller's key word (compared only through the comparison function). */
    uintptr_t value; /**< The caller's value word. */
} vek_sorted_set_node_t;

/** A sorted set; create with vek_sorted_set_create(), end with vek_sorted_set_delete_nodes_and_set(). */
typedef struct vek_sorted_set_s {
    uint32_t maxSortedSetSize; /**< Capacity of the node array, in nodes. */
    uint32_t curSortedSetSize; /**< Nodes in use (sortedSet[0 .. cur-1], in order). */
    uint32_t mallocSizeBytes;  /**< Growth step as passed to create (msize): a full set grows by msize / 8 nodes. */
    vek_sorted_set_node_t *sortedSet; /**< The node array (robust memory); spare nodes read as zero. */
} vek_sorted_set_t;

/**
 * Comparison function of a sorted set.
 * @param key1 The key sought or inserted.
 * @param key2 The key of a node of the set.
 * @return 0 when equal, 1 when @p key1 sorts before @p key2, 2 when after.
 *         Any other result is taken as 2.
 */
typedef int32_t (*vek_sorted_set_cmp_fn_t)(uintptr_t key1, uintptr_t key2);
/**
 * Function called for every node when a set is deleted (to release what the
 * words refer to).
 * @param key   The node's key.
 * @param value The node's value.
 * @return 0 to go on; non-zero stops the deletion and leaves the set allocated
 *         with every node in place.
 */
typedef int32_t (*vek_sorted_set_del_fn_t)(uintptr_t key, uintptr_t value);
/**
 * Function called for every node by vek_sorted_set_iterate_through_set().
 * @param n     The node's position (0 = first).
 * @param key   The node's key.
 * @param value The node's value.
 * @param args  The word passed to the iteration.
 * @return 0 to go on; non-zero stops the walk and becomes its result.
 */
typedef int32_t (*vek_sorted_set_visit_fn_t)(uint32_t n, uintptr_t key, uintptr_t value, uintptr_t args);

/**
 * Creates an empty sorted set.
 *
 * @param msize           Growth step in bytes; must be a multiple of 8 (the set
 *                        grows by msize / 8 nodes whenever a put finds it full;
 *                        0 makes a set that never grows).
 * @param numInitialNodes Capacity to start with, in nodes (may be 0).
 * @return The set (robust memory), or NULL when @p msize is not a multiple of 8
 *         or memory is exhausted (nothing is then left allocated). Released by
 *         vek_sorted_set_delete_nodes_and_set().
 *
 * Traces an entry line "_vek_sorted_set_create msize=.. numInitialNodes=.." and,
 * unless msize was refused, an exit line with the status and the set's fields.
 */
VEK_API vek_sorted_set_t *vek_sorted_set_create(uint32_t msize, uint32_t numInitialNodes);
/**
 * Deletes a sorted set, calling a function for every node first.
 *
 * @param sorted_set The set; NULL does nothing.
 * @param delFn      Called with each node's key and value in order; may be NULL.
 *                   When it returns non-zero the walk stops and nothing is
 *                   released (the set stays valid and allocated).
 *
 * Traces entry lines (the public name and "_vek_sorted_set_delete_nodes_and_set")
 * and an exit line "... vekStatus=0".
 */
VEK_API void vek_sorted_set_delete_nodes_and_set(vek_sorted_set_t *sorted_set, vek_sorted_set_del_fn_t delFn);
/**
 * Calls a function for every node, in order.
 *
 * @param sorted_set The set; NULL visits nothing.
 * @param fn         The visit function; NULL visits nothing. It may change the
 *                   set: the node count is read again before every call.
 * @param args       Passed to every call.
 * @return 0 when every node was visited (or nothing was), else the first
 *         non-zero result of @p fn.
 *
 * Traces entry and exit lines.
 */
VEK_API int32_t vek_sorted_set_iterate_through_set(vek_sorted_set_t *sorted_set, vek_sorted_set_visit_fn_t fn,
                                                   uintptr_t args);
/**
 * Looks a key up.
 *
 * @param sorted_set The set; NULL finds nothing.
 * @param key        The key sought.
 * @param compareFn  The set's comparison function; NULL finds nothing.
 * @return The value of the node whose key compares equal, or 0 when there is
 *         none (a stored 0 looks the same).
 *
 * Traces entry and exit lines.
 */
VEK_API uintptr_t vek_sorted_set_get(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn);
/**
 * Value of the node at a position.
 *
 * @param sorted_set The set; NULL gives 0.
 * @param n          Position, 0 = first in order.
 * @return The value, or 0 when @p n is not below the node count.
 *
 * Traces entry and exit lines.
 */
VEK_API uintptr_t vek_sorted_set_get_n(vek_sorted_set_t *sorted_set, uint32_t n);
/**
 * Inserts a node, or replaces the node with an equal key.
 *
 * @param sorted_set The set; NULL does nothing.
 * @param key        The key.
 * @param compareFn  The set's comparison function (the same one for every call).
 * @param value      The value.
 * @return The previous value when a node with an equal key was replaced (its
 *         key is replaced too), else 0. A full set grows by msize / 8 nodes
 *         first; when it cannot grow (step 0 or memory exhausted) the put is
 *         refused, the set is unchanged and the result is 0 too: compare
 *         vek_sorted_set_size() before and after to tell.
 *
 * Prints no trace line.
 */
VEK_API uintptr_t vek_sorted_set_put(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn,
                                     uintptr_t value);
/**
 * Replaces the value of the node at a position (the key and the order stay).
 *
 * @param sorted_set The set; NULL does nothing.
 * @param n          Position, 0 = first.
 * @param value      The new value.
 * @return The previous value, or 0 when @p n is not below the node count
 *         (nothing changed).
 *
 * Traces entry and exit lines.
 */
VEK_API uintptr_t vek_sorted_set_put_n(vek_sorted_set_t *sorted_set, uint32_t n, uintptr_t value);
/**
 * Number of nodes in a set.
 * @param sorted_set The set; NULL gives 0.
 * @return The node count. Prints no trace line.
 */
VEK_API uint32_t vek_sorted_set_size(vek_sorted_set_t *sorted_set);
/**
 * Removes the node with an equal key; later nodes move up one place.
 *
 * @param sorted_set The set; NULL or empty removes nothing.
 * @param key        The key.
 * @param compareFn  The set's comparison function.
 * @return The removed node's value, or 0 when there was none. The array is
 *         not shrunk.
 *
 * Prints no line of its own; a removal prints the lines of
 * "_vek_sorted_set_remove_node_n".
 */
VEK_API uintptr_t vek_sorted_set_remove(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn);

#ifdef __cplusplus
}
#endif

#endif /* VEK_SORTED_SET_H */
