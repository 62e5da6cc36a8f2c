// The order of a string list (private to the library).
//
// A list is in the order that inserting each item by a walk from the first
// node makes: the new item goes before the first item for which
// cmp(item in the list, new item) is zero or positive, or at the end when
// there is none. The builder gets that order in one of two ways:
//
// - insert_by_walk() is the walk itself, one item at a time, with exactly
//   the walk's calls of the comparison. A caller's comparison is used this
//   way: it need not be a consistent order, and it sees every call the walk
//   makes, in the walk's order, interleaved with the conversion calls.
// - sort_as_walk() orders a list made in input order at once, in
//   O(n log n) comparisons. It gives the walk's list only when the
//   comparison is a consistent order (transitive, with transitive
//   equality), as the built-in comparisons are; its calls are not the walk's.
#pragma once

#include <vek/vek_strlist.h>

namespace vek::text {

// What a comparison is called with for an item: the string itself for a
// string item, a pointer to the payload word for every other item.
inline const void *compare_key(const vek_strlist_val_t *val) {
    if (val->type == VEK_STRLIST_STRING) return val->payload.str;
    return &val->payload;
}

// Inserts node (its next pointer is overwritten) into the list at *head by
// the walk from the first node.
void insert_by_walk(vek_strlist_node_t **head, vek_strlist_node_t *node, vek_strlist_cmp_fn cmp);

// Reorders a list whose nodes stand in input order into the walk's order
// for a consistent cmp, and returns its new first node.
vek_strlist_node_t *sort_as_walk(vek_strlist_node_t *list, vek_strlist_cmp_fn cmp);

} // namespace vek::text
