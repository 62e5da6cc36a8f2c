// Keyed and positional work of the sorted set, shared with white-box tests.
#pragma once

#include <cstdint>

#include <vek/vek_sorted_set.h>

namespace vek::sorted_set {

// Binary search for `key`. Returns the position of the matching node with
// *found = 1, or with *found = 0 the position where `key` would be
// inserted (the first node that sorts after it, or the count).
uint32_t search(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn, uint8_t *found);

// Removes node `n`, copying it to *outNode first; 0, or -1 when `n` is not
// below the count (nothing changes then). Its trace lines carry the name
// "_vek_sorted_set_remove_node_n" (sorted_set.cpp).
int32_t remove_node_n(vek_sorted_set_t *sorted_set, uint32_t n, vek_sorted_set_node_t *outNode);

// The traced bodies of creation, deletion and the walk; the exported
// operations call them. Their trace lines carry the names
// "_vek_sorted_set_create", "_vek_sorted_set_delete_nodes_and_set" and
// "_vek_sorted_set_iterate_through_set" (sorted_set.cpp).
vek_sorted_set_t *create(uint32_t msize, uint32_t numInitialNodes);
void delete_nodes_and_set(vek_sorted_set_t *sorted_set, vek_sorted_set_del_fn_t delFn);
int32_t iterate_through_set(vek_sorted_set_t *sorted_set, vek_sorted_set_visit_fn_t fn, uintptr_t args);

// Structure check (see foundation/check.hpp): the count within the
// capacity, a growth step of whole nodes, the node array present for a
// non-zero capacity, and every spare node zero. The order of the nodes is
// the caller's comparison function's and is not checked.
const char *verify(const vek_sorted_set_t *sorted_set);

// The check that ends an operation on the set handed in; nothing to check
// for a null pointer.
inline const char *verify_if_set(const vek_sorted_set_t *sorted_set) {
    return sorted_set != nullptr ? verify(sorted_set) : nullptr;
}

} // namespace vek::sorted_set
