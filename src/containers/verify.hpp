// Structure checks of the containers (see foundation/check.hpp): each
// returns nullptr when the object is whole, else a short static text naming
// the first property that does not hold. They read only the structure
// itself, bound every walk, and change nothing. Every operation of the
// families ends with one of them in checked builds (VEK_CHECK_STRUCTURE).
#pragma once

#include <cstdint>

#include <vek/vek_dpt.h>
#include <vek/vek_hash.h>

namespace vek::hash {

// The whole table: its bucket block, every chain (each node in the bucket
// of its key, links that point back, no key twice among a chain's first
// nodes) and the node pool (its count, its links, none of its nodes a chain
// head).
const char *verify(const vek_hash_t *ht);

// The check that ends an operation on the table handed in; nothing to
// check for a null pointer.
inline const char *verify_if_table(const vek_hash_t *ht) { return ht != nullptr ? verify(ht) : nullptr; }

} // namespace vek::hash

namespace vek::llist {

// The links around `link` (its neighbours and theirs) point at each other:
// what a list operation that touched `link` leaves behind.
const char *verify_around(const vek_llist_t *link);

// The check after `link` was removed (its own links left as they were):
// the list around its former neighbours.
const char *verify_removed(const vek_llist_t *link);

} // namespace vek::llist

namespace vek::dpt {

// The whole table: its sizes, the page directory against the two page
// bitmaps and the allocated-page count, and every page against its slots.
const char *verify(const vek_dpt_t *dpt);

// The check that ends an operation on the table handed in; nothing to
// check for a null pointer.
inline const char *verify_if_table(const vek_dpt_t *dpt) { return dpt != nullptr ? verify(dpt) : nullptr; }

} // namespace vek::dpt
