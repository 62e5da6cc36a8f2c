/*
 * vek_sorted_set.h - a set of (key, value) words kept in the order of a
 * caller's comparison function, searched by bisection.
 */
#ifndef VEK_SORTED_SET_H
#define VEK_SORTED_SET_H

#include <stdint.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vek_sorted_set_node_s {
    uintptr_t key;
    uintptr_t value;
} vek_sorted_set_node_t;

typedef struct vek_sorted_set_s {
    uint32_t               maxSortedSetSize;   /* capacity in nodes */
    uint32_t               curSortedSetSize;   /* nodes in use */
    uint32_t               mallocSizeBytes;    /* growth step as passed; grows by msize / 8 nodes */
    vek_sorted_set_node_t *sortedSet;          /* node array */
} vek_sorted_set_t;

/* 0: equal; 1: key1 sorts before key2 (a node's key); 2: after */
typedef int32_t (*vek_sorted_set_cmp_fn_t)(uintptr_t key1, uintptr_t key2);
/* 0: go on; non-zero: stop */
typedef int32_t (*vek_sorted_set_del_fn_t)(uintptr_t key, uintptr_t value);
typedef int32_t (*vek_sorted_set_visit_fn_t)(uint32_t n, uintptr_t key, uintptr_t value, uintptr_t args);

VEK_API vek_sorted_set_t *vek_sorted_set_create(uint32_t msize, uint32_t numInitialNodes);
VEK_API void      vek_sorted_set_delete_nodes_and_set(vek_sorted_set_t *sorted_set, vek_sorted_set_del_fn_t delFn);
VEK_API int32_t   vek_sorted_set_iterate_through_set(vek_sorted_set_t *sorted_set, vek_sorted_set_visit_fn_t fn, uintptr_t args);
VEK_API uintptr_t vek_sorted_set_get(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn);
VEK_API uintptr_t vek_sorted_set_get_n(vek_sorted_set_t *sorted_set, uint32_t n);
VEK_API uintptr_t vek_sorted_set_put(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn, uintptr_t value);
VEK_API uintptr_t vek_sorted_set_put_n(vek_sorted_set_t *sorted_set, uint32_t n, uintptr_t value);
VEK_API uint32_t  vek_sorted_set_size(vek_sorted_set_t *sorted_set);
VEK_API uintptr_t vek_sorted_set_remove(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn);

#ifdef __cplusplus
}
#endif

#endif /* VEK_SORTED_SET_H */
