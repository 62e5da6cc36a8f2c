/**
 * @file vek_hash.h
 * @brief Hash table of 32-bit keys to one-word values, with chained buckets,
 *        move-to-front lookups and a pool of released nodes; and the
 *        intrusive doubly linked list it chains with.
 *
 * The bucket of a key is key % ht_size. Values are opaque words; an absent
 * key reads as 0, so a stored 0 cannot be told from "absent". All memory is
 * robust memory.
 *
 * Return convention: the hash operations return the value concerned (the old
 * value for put, 0 when none); no statuses.
 *
 * Thread-safety: none. Even vek_hash_get() writes (it moves the node found
 * to the front of its chain), so a table shared by threads needs a lock
 * around every call. The list operations touch only the links given.
 *
 * Trace lines (see ::vek_trace_level): create, put and rem print entry and
 * exit lines; the other hash operations and the list operations print none.
 */
#ifndef VEK_HASH_H
#define VEK_HASH_H

#include <stdint.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Capacity of a table's pool of released nodes, reused by later puts. */
#define VEK_HASH_MAX_FREE_NODES 32u

/**
 * A link of an intrusive doubly linked list, embedded in the caller's record.
 * Two shapes are supported: an open chain (first prev and last next are
 * NULL) and a ring round a sentinel head made by vek_llist_init_head().
 */
typedef struct vek_llist_s {
    struct vek_llist_s *next; /**< Next link (the head in a ring; NULL at the end of an open chain). */
    struct vek_llist_s *prev; /**< Previous link. */
} vek_llist_t;

/** A node of a hash table's bucket chain. */
typedef struct vek_hash_node_s {
    vek_llist_t link; /**< First member: next/prev within the bucket chain (an open chain). */
    uint32_t key;     /**< The key. */
    uintptr_t value;  /**< The value. */
} vek_hash_node_t;

/** A hash table; create with vek_hash_create_table(), end with vek_hash_delete_nodes_and_table(). */
typedef struct vek_hash_s {
    uint32_t ht_size;           /**< Number of buckets. */
    vek_hash_node_t **buckets;  /**< ht_size chain heads (NULL: empty bucket). */
    vek_hash_node_t *freeNodes; /**< Pool of released nodes, chained through link.next, newest first. */
    uint32_t numFreeNodes;      /**< Nodes in the pool (at most ::VEK_HASH_MAX_FREE_NODES). */
} vek_hash_t;

/**
 * Function called by vek_hash_delete_nodes_and_table() with every stored value.
 * @param value The value.
 * @return Ignored.
 */
typedef int32_t (*vek_hash_del_fn_t)(uintptr_t value);

/**
 * Creates an empty table.
 * @param ht_size Number of buckets; 0 gives NULL without allocating.
 * @return The table (robust memory), or NULL (nothing left allocated). End it
 *         with vek_hash_delete_nodes_and_table() or vek_hash_delete_table().
 */
VEK_API vek_hash_t *vek_hash_create_table(uint32_t ht_size);
/**
 * Stores a value for a key: replaces the value of an existing key, else
 * appends a node (from the pool, else newly allocated) at the end of the chain.
 * @param ht    The table; NULL does nothing.
 * @param key   The key.
 * @param value The value.
 * @return The previous value, or 0 for a new key. When the node cannot be
 *         allocated nothing is stored and the result is 0 as well (check
 *         with vek_hash_get() when that matters).
 */
VEK_API uintptr_t vek_hash_put(vek_hash_t *ht, uint32_t key, uintptr_t value);
/**
 * Value of a key; moves its node to the front of the chain (a write).
 * @param ht  The table; NULL gives 0.
 * @param key The key.
 * @return The value, or 0 when absent.
 */
VEK_API uintptr_t vek_hash_get(vek_hash_t *ht, uint32_t key);
/**
 * Removes a key; its node goes to the pool (or is released when the pool
 * holds ::VEK_HASH_MAX_FREE_NODES).
 * @param ht  The table; NULL gives 0.
 * @param key The key.
 * @return The removed value, or 0 when absent.
 */
VEK_API uintptr_t vek_hash_rem(vek_hash_t *ht, uint32_t key);
/**
 * An entry of the table: the head of the lowest non-empty bucket.
 * @param ht The table; NULL gives 0.
 * @param[out] key Receives its key, written only when an entry exists; may be NULL.
 * @return Its value, or 0 when the table is empty.
 */
VEK_API uintptr_t vek_hash_first_entry(vek_hash_t *ht, uint32_t *key);
/**
 * Prints the keys bucket by bucket on standard output: "Dumping the hash
 * table", then per bucket "Values at <b>    " followed by "<key>, " per
 * node (keys as signed decimals) and a newline.
 * @param ht The table; NULL prints nothing.
 */
VEK_API void vek_hash_print(vek_hash_t *ht);
/**
 * Releases a table: calls @p delFn with every stored value, releases every
 * node, the pool, the buckets and the header.
 * @param ht    The table; NULL does nothing.
 * @param delFn Called per stored value; may be NULL.
 */
VEK_API void vek_hash_delete_nodes_and_table(vek_hash_t *ht, vek_hash_del_fn_t delFn);
/**
 * Releases a table without calling anything for the values
 * (vek_hash_delete_nodes_and_table() with a NULL function).
 * @param ht The table; NULL does nothing.
 */
VEK_API void vek_hash_delete_table(vek_hash_t *ht);

/**
 * Makes @p head the sentinel of an empty ring (next and prev point to itself).
 * @param head The link; NULL does nothing.
 */
VEK_API void vek_llist_init_head(vek_llist_t *head);
/**
 * Inserts @p node after @p at (in an open chain @p at may be the last link).
 * @param node The link to insert; NULL does nothing.
 * @param at   The link to insert after; NULL does nothing.
 */
VEK_API void vek_llist_insert(vek_llist_t *node, vek_llist_t *at);
/**
 * Appends @p node at the end of the ring whose sentinel is @p head.
 * @param node The link to append; NULL does nothing.
 * @param head The sentinel; NULL does nothing.
 */
VEK_API void vek_llist_insert_tail(vek_llist_t *node, vek_llist_t *head);
/**
 * Unlinks @p node from its neighbours. Its own links are left as they were;
 * a pointer to the first link of an open chain is the caller's to update.
 * @param node The link; NULL does nothing.
 */
VEK_API void vek_llist_remove(vek_llist_t *node);
/**
 * Tells whether a ring is empty.
 * @param head The sentinel.
 * @return 1 when empty (or @p head is NULL), else 0.
 */
VEK_API int vek_llist_empty(vek_llist_t *head);

#ifdef __cplusplus
}
#endif

#endif /* VEK_HASH_H */
