// Intrusive doubly linked list: link operations on a two-pointer link that
// callers embed in their own records. Two shapes are supported: an open
// chain (the first link's prev and the last link's next are null) and a
// ring around a sentinel head. Nothing is allocated and nothing is traced.
// The links belong to the caller, so the structure check of an insertion
// or removal (checked builds) reads only the links around the one touched.
//
// A null link handed to any operation does nothing (vek_llist_empty of a
// null head reports an empty list).
#include <vek/vek_hash.h>

#include "containers/verify.hpp"
#include "foundation/check.hpp"

namespace vek::llist {

namespace {

// The neighbours of x point back at it.
const char *verify_link(const vek_llist_t *x) {
    if (x->next != nullptr && x->next->prev != x) return "next link does not point back";
    if (x->prev != nullptr && x->prev->next != x) return "previous link does not point forward";
    return nullptr;
}

} // namespace

const char *verify_around(const vek_llist_t *link) {
    if (link->prev != nullptr) {
        if (const char *broken = verify_link(link->prev)) return broken;
    }
    if (const char *broken = verify_link(link)) return broken;
    if (link->next != nullptr) return verify_link(link->next);
    return nullptr;
}

const char *verify_removed(const vek_llist_t *link) {
    if (link->prev != nullptr) return verify_around(link->prev);
    if (link->next != nullptr) return verify_around(link->next);
    return nullptr;
}

} // namespace vek::llist

extern "C" VEK_API void vek_llist_init_head(vek_llist_t *head) {
    if (head == nullptr) return;
    head->next = head;
    head->prev = head;
}

// Inserts node after at; in an open chain at may be the last link.
extern "C" VEK_API void vek_llist_insert(vek_llist_t *node, vek_llist_t *at) {
    if (node == nullptr || at == nullptr) return;
    vek_llist_t *after = at->next;
    at->next = node;
    if (after != nullptr) after->prev = node;
    node->next = after;
    node->prev = at;
    VEK_CHECK_STRUCTURE(vek::llist::verify_around(node));
}

// Appends node before the sentinel head of a ring.
extern "C" VEK_API void vek_llist_insert_tail(vek_llist_t *node, vek_llist_t *head) {
    if (node == nullptr || head == nullptr) return;
    node->next = head;
    node->prev = head->prev;
    head->prev = node;
    if (node->prev != nullptr) node->prev->next = node;
    VEK_CHECK_STRUCTURE(vek::llist::verify_around(node));
}

// Unlinks node from its neighbours. The node's own links are left as they
// were so that a caller walking the list can still follow them; whatever
// points at the first link of an open chain is the caller's to update.
extern "C" VEK_API void vek_llist_remove(vek_llist_t *node) {
    if (node == nullptr) return;
    if (node->next != nullptr) node->next->prev = node->prev;
    if (node->prev != nullptr) node->prev->next = node->next;
    // The node keeps its links; the list closed up around it.
    VEK_CHECK_STRUCTURE(vek::llist::verify_removed(node));
}

extern "C" VEK_API int vek_llist_empty(vek_llist_t *head) {
    if (head == nullptr) return 1;
    return head->next == head ? 1 : 0;
}
