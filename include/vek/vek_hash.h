/*
 * vek_hash.h - hash table with chained buckets, move-to-front lookups and a
 * pool of released nodes; the intrusive doubly linked list it chains with.
 */
#ifndef VEK_HASH_H
#define VEK_HASH_H

#include <stdint.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_HASH_MAX_FREE_NODES 32u   /* capacity of the pool of released nodes */

typedef struct vek_llist_s {
    struct vek_llist_s *next;
    struct vek_llist_s *prev;
} vek_llist_t;

typedef struct vek_hash_node_s {
    vek_llist_t link;          /* first member: next/prev within the bucket chain */
    uint32_t    key;
    uintptr_t   value;
} vek_hash_node_t;

typedef struct vek_hash_s {
    uint32_t          ht_size;
    vek_hash_node_t **buckets;       /* ht_size chain heads */
    vek_hash_node_t  *freeNodes;     /* pool, chained through link.next */
    uint32_t          numFreeNodes;
} vek_hash_t;

typedef int32_t (*vek_hash_del_fn_t)(uintptr_t value);   /* result ignored */

VEK_API vek_hash_t *vek_hash_create_table(uint32_t ht_size);
VEK_API uintptr_t   vek_hash_put(vek_hash_t *ht, uint32_t key, uintptr_t value);
VEK_API uintptr_t   vek_hash_get(vek_hash_t *ht, uint32_t key);
VEK_API uintptr_t   vek_hash_rem(vek_hash_t *ht, uint32_t key);
VEK_API uintptr_t   vek_hash_first_entry(vek_hash_t *ht, uint32_t *key);
VEK_API void        vek_hash_print(vek_hash_t *ht);
VEK_API void        vek_hash_delete_nodes_and_table(vek_hash_t *ht, vek_hash_del_fn_t delFn);
VEK_API void        vek_hash_delete_table(vek_hash_t *ht);

VEK_API void vek_llist_init_head(vek_llist_t *head);
VEK_API void vek_llist_insert(vek_llist_t *node, vek_llist_t *at);
VEK_API void vek_llist_insert_tail(vek_llist_t *node, vek_llist_t *head);
VEK_API void vek_llist_remove(vek_llist_t *node);
VEK_API int  vek_llist_empty(vek_llist_t *head);

#ifdef __cplusplus
}
#endif

#endif /* VEK_HASH_H */
