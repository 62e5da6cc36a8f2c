// The two ways a string list gets its order: the insertion walk, item by
// item, and a natural merge sort of the whole list for consistent orders.
#include "text/strlist_order.hpp"

#include <cstddef>

namespace vek::text {

namespace {

// True when the earlier item a stays before the later item b.
bool stays_before(const vek_strlist_node_t *a, const vek_strlist_node_t *b, vek_strlist_cmp_fn cmp) {
    return cmp(compare_key(a->value), compare_key(b->value)) < 0;
}

// Merges two ordered chains whose items in `older` were all added before
// those in `newer`. Every comparison is cmp(earlier item, later item), and
// the earlier item goes first only when it sorts before the later one, so
// equal items end up newest first, exactly as the walk puts them.
vek_strlist_node_t *merge(vek_strlist_node_t *older, vek_strlist_node_t *newer, vek_strlist_cmp_fn cmp) {
    vek_strlist_node_t head{};
    vek_strlist_node_t *tail = &head;
    while (older != nullptr && newer != nullptr) {
        if (stays_before(older, newer, cmp)) {
            tail->next = older;
            older = older->next;
        } else {
            tail->next = newer;
            newer = newer->next;
        }
        tail = tail->next;
    }
    tail->next = older != nullptr ? older : newer;
    return head.next;
}

} // namespace

void insert_by_walk(vek_strlist_node_t **head, vek_strlist_node_t *node, vek_strlist_cmp_fn cmp) {
    const void *key = compare_key(node->value);
    vek_strlist_node_t **link = head;
    while (*link != nullptr && cmp(compare_key((*link)->value), key) < 0) link = &(*link)->next;
    node->next = *link;
    *link = node;
}

// Runs already in order are cut off one after the other and merged like the
// digits of a binary counter, so pending[i] holds 2^i runs and older items
// sit in higher slots. Ascending input (a range) is one run and costs one
// comparison per item.
vek_strlist_node_t *sort_as_walk(vek_strlist_node_t *list, vek_strlist_cmp_fn cmp) {
    if (list == nullptr) return nullptr;
    vek_strlist_node_t *pending[64] = {};
    vek_strlist_node_t *rest = list;
    while (rest != nullptr) {
        vek_strlist_node_t *run = rest;
        vek_strlist_node_t *end = rest;
        while (end->next != nullptr && stays_before(end, end->next, cmp)) end = end->next;
        rest = end->next;
        end->next = nullptr;
        std::size_t i = 0;
        for (; pending[i] != nullptr; ++i) {
            run = merge(pending[i], run, cmp);
            pending[i] = nullptr;
        }
        pending[i] = run;
    }
    vek_strlist_node_t *sorted = nullptr;
    for (vek_strlist_node_t *p : pending) {
        if (p != nullptr) sorted = sorted == nullptr ? p : merge(p, sorted, cmp);
    }
    return sorted;
}

} // namespace vek::text
