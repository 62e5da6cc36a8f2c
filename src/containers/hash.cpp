// Hash table: unsigned 32-bit keys to one-word values through a fixed
// number of buckets, each an open chain of nodes linked with the list
// operations. Lookups move the node they find to the front of its chain;
// released nodes are kept in a pool of up to VEK_HASH_MAX_FREE_NODES for
// reuse. All memory is robust memory.
//
// The bucket of a key is key % ht_size, computed without a division where
// the compiler has 128-bit products: the bucket block holds, past the
// ht_size chain heads, the 64-bit reciprocal of ht_size, and the remainder
// follows from two multiplications (D. Lemire, "Faster remainder by direct
// computation", 2019: exact for every 32-bit key and divisor).
#include <cstdio>
#include <cstring>

#include <vek/vek_hash.h>
#include <vek/vek_sal.h>

#include "containers/verify.hpp"
#include "foundation/check.hpp"
#include "foundation/invariant.hpp"
#include "foundation/memory.hpp"
#include "foundation/status_merge.hpp"
#include "foundation/trace.hpp"

namespace {

// The link is the node's first member, so a link is its node and back.
inline vek_hash_node_t *next_of(const vek_hash_node_t *node) {
    return reinterpret_cast<vek_hash_node_t *>(node->link.next);
}
inline vek_llist_t *link_of(vek_hash_node_t *node) { return reinterpret_cast<vek_llist_t *>(node); }

// A table that can be indexed: the caller's handle is not null, and
// creation (which refuses a bucket count of 0) gave it its buckets.
inline bool usable(const vek_hash_t *ht) {
    return ht != nullptr && VEK_ALWAYS(ht->ht_size != 0 && ht->buckets != nullptr);
}

#ifdef __SIZEOF_INT128__
// Slots of the bucket block past the heads that hold the reciprocal.
constexpr uint32_t kReciprocalSlots = (sizeof(uint64_t) + sizeof(void *) - 1) / sizeof(void *);

inline uint64_t reciprocal_of(uint32_t d) { return UINT64_MAX / d + 1; }

inline void store_reciprocal(vek_hash_t *ht) {
    const uint64_t m = reciprocal_of(ht->ht_size);
    std::memcpy(ht->buckets + ht->ht_size, &m, sizeof m);
}

inline bool reciprocal_holds(const vek_hash_t *ht) {
    uint64_t m;
    std::memcpy(&m, ht->buckets + ht->ht_size, sizeof m);
    return m == reciprocal_of(ht->ht_size);
}

inline uint32_t bucket_index(const vek_hash_t *ht, uint32_t key) {
    uint64_t m;
    std::memcpy(&m, ht->buckets + ht->ht_size, sizeof m);
    const uint64_t low = m * key;
    return static_cast<uint32_t>((static_cast<unsigned __int128>(low) * ht->ht_size) >> 64);
}
#else
constexpr uint32_t kReciprocalSlots = 0;
inline void store_reciprocal(vek_hash_t *) {}
inline bool reciprocal_holds(const vek_hash_t *) { return true; }
inline uint32_t bucket_index(const vek_hash_t *ht, uint32_t key) { return key % ht->ht_size; }
#endif

inline vek_hash_node_t **bucket_of(vek_hash_t *ht, uint32_t key) { return &ht->buckets[bucket_index(ht, key)]; }

// Takes a node out of its chain as vek_llist_remove does (the node's own
// links stay), without the call.
inline void unlink(vek_hash_node_t *n) {
    vek_llist_t *next = n->link.next;
    vek_llist_t *prev = n->link.prev;
    if (next != nullptr) next->prev = prev;
    if (prev != nullptr) prev->next = next;
}

// The node holding key in the chain at *head, or null.
vek_hash_node_t *find(vek_hash_node_t *head, uint32_t key) {
    for (vek_hash_node_t *n = head; n != nullptr; n = next_of(n)) {
        if (n->key == key) return n;
    }
    return nullptr;
}

// A node for a new entry: the most recently pooled one, else a new block.
vek_hash_node_t *take_node(vek_hash_t *ht) {
    vek_hash_node_t *node = ht->freeNodes;
    if (node != nullptr) {
        ht->freeNodes = next_of(node);
        ht->numFreeNodes--;
        return node;
    }
    if (vek::robust_alloc(&node, VEK_NVM_NO_FILL) != VEK_ST_SUCCESS) return nullptr;
    return node;
}

// Pools a node taken out of its chain, or releases it when the pool is full.
vek_st_t give_back_node(vek_hash_t *ht, vek_hash_node_t *node) {
    if (ht->numFreeNodes >= VEK_HASH_MAX_FREE_NODES) return vek::robust_free(&node);
    node->link.next = link_of(ht->freeNodes);
    node->link.prev = nullptr;
    ht->freeNodes = node;
    ht->numFreeNodes++;
    return VEK_ST_SUCCESS;
}

// A new empty table of ht_size buckets in *out.
vek_st_t create_table(uint32_t ht_size, vek_hash_t **out) {
    if (ht_size == 0) return VEK_ST_INVALID_VALUE;
    vek_hash_t *ht = nullptr;
    vek_st_t st = vek::robust_alloc(&ht, VEK_NVM_NO_FILL);
    if (st != VEK_ST_SUCCESS) return st;
    ht->ht_size = ht_size;
    ht->buckets = nullptr;
    ht->freeNodes = nullptr;
    ht->numFreeNodes = 0;
    st = vek::robust_alloc_array(std::size_t{ht_size} + kReciprocalSlots, &ht->buckets, VEK_NVM_ZERO_FILL);
    if (st != VEK_ST_SUCCESS) {
        vek::merge_status(st, vek::robust_free(&ht));
        return st;
    }
    store_reciprocal(ht);
    *out = ht;
    return VEK_ST_SUCCESS;
}

// Stores value under key; the value it replaces, or 0 for a new key (and
// when no node can be had).
uintptr_t put(vek_hash_t *ht, uint32_t key, uintptr_t value) {
    if (!usable(ht)) return 0;
    vek_hash_node_t **head = bucket_of(ht, key);
    vek_hash_node_t *last = nullptr;
    vek_hash_node_t *n = *head;
    for (; n != nullptr && n->key != key; n = next_of(n)) last = n;
    if (n != nullptr) {
        const uintptr_t old = n->value;
        n->value = value;
        return old;
    }
    if ((n = take_node(ht)) == nullptr) return 0;
    n->link.next = nullptr;
    n->link.prev = nullptr;
    n->key = key;
    n->value = value;
    if (last == nullptr) {
        *head = n;
    } else {
        // Appended after the last node of the chain.
        n->link.prev = &last->link;
        last->link.next = &n->link;
    }
    return 0;
}

// Takes key's entry out; its value in *value (0 when absent). The status is
// that of releasing the node.
vek_st_t rem(vek_hash_t *ht, uint32_t key, uintptr_t *value) {
    *value = 0;
    if (!usable(ht)) return VEK_ST_SUCCESS;
    vek_hash_node_t **head = bucket_of(ht, key);
    vek_hash_node_t *n = find(*head, key);
    if (n == nullptr) return VEK_ST_SUCCESS;
    *value = n->value;
    unlink(n);
    if (n == *head) *head = next_of(n);
    return give_back_node(ht, n);
}

// The value under key, moving its node to the front of its chain.
uintptr_t get(vek_hash_t *ht, uint32_t key) {
    if (!usable(ht)) return 0;
    vek_hash_node_t **head = bucket_of(ht, key);
    vek_hash_node_t *n = find(*head, key);
    if (n == nullptr) return 0;
    if (n != *head) {
        // Move to front so that keys read often stay at the chain heads.
        unlink(n);
        n->link.next = link_of(*head);
        n->link.prev = nullptr;
        (*head)->link.prev = &n->link;
        *head = n;
    }
    return n->value;
}

// The value and key of the head of the first non-empty bucket; 0 (key
// untouched) for an empty table.
uintptr_t first_entry(const vek_hash_t *ht, uint32_t *key) {
    if (!usable(ht)) return 0;
    for (uint32_t b = 0; b < ht->ht_size; ++b) {
        const vek_hash_node_t *n = ht->buckets[b];
        if (n == nullptr) continue;
        if (key != nullptr) *key = n->key;
        return n->value;
    }
    return 0;
}

void print(const vek_hash_t *ht) {
    if (!usable(ht)) return;
    std::puts("Dumping the hash table");
    for (uint32_t b = 0; b < ht->ht_size; ++b) {
        std::printf("Values at %d    ", static_cast<int>(b));
        for (const vek_hash_node_t *n = ht->buckets[b]; n != nullptr; n = next_of(n)) {
            std::printf("%d, ", static_cast<int>(n->key));
        }
        std::printf("\n");
    }
}

} // namespace

extern "C" VEK_API vek_hash_t *vek_hash_create_table(uint32_t ht_size) {
    const vek::trace::Call call(__func__, {{"ht_size", ht_size}});
    vek_hash_t *ht = nullptr;
    const vek_st_t st = create_table(ht_size, &ht);
    call.exit({{"vekStatus", st}, {"hash", ht}});
    VEK_CHECK_STRUCTURE(vek::hash::verify_if_table(ht));
    return ht;
}

extern "C" VEK_API uintptr_t vek_hash_put(vek_hash_t *ht, uint32_t key, uintptr_t value) {
    const vek::trace::Call call(__func__, {{"ht", ht}, {"key", key}, {"value", value}});
    const uintptr_t old = put(ht, key, value);
    call.exit({{"old_value", old}});
    VEK_CHECK_STRUCTURE(vek::hash::verify_if_table(ht));
    return old;
}

extern "C" VEK_API uintptr_t vek_hash_get(vek_hash_t *ht, uint32_t key) {
    const uintptr_t value = get(ht, key);
    VEK_CHECK_STRUCTURE(vek::hash::verify_if_table(ht));
    return value;
}

extern "C" VEK_API uintptr_t vek_hash_rem(vek_hash_t *ht, uint32_t key) {
    const vek::trace::Call call(__func__, {{"ht", ht}, {"key", key}});
    uintptr_t value = 0;
    const vek_st_t st = rem(ht, key, &value);
    call.exit({{"vekStatus", st}, {"value", value}});
    VEK_CHECK_STRUCTURE(vek::hash::verify_if_table(ht));
    return value;
}

extern "C" VEK_API uintptr_t vek_hash_first_entry(vek_hash_t *ht, uint32_t *key) {
    const uintptr_t value = first_entry(ht, key);
    VEK_CHECK_STRUCTURE(vek::hash::verify_if_table(ht));
    return value;
}

extern "C" VEK_API void vek_hash_print(vek_hash_t *ht) {
    print(ht);
    VEK_CHECK_STRUCTURE(vek::hash::verify_if_table(ht));
}

extern "C" VEK_API void vek_hash_delete_nodes_and_table(vek_hash_t *ht, vek_hash_del_fn_t delFn) {
    if (ht == nullptr) return;
    if (VEK_ALWAYS(ht->buckets != nullptr)) {
        for (uint32_t b = 0; b < ht->ht_size; ++b) {
            vek_hash_node_t *n = ht->buckets[b];
            while (n != nullptr) {
                vek_hash_node_t *next = next_of(n);
                if (delFn != nullptr) delFn(n->value);
                vek::robust_free(&n);
                n = next;
            }
        }
        vek::robust_free(&ht->buckets);
    }
    vek_hash_node_t *n = ht->freeNodes;
    while (n != nullptr) {
        vek_hash_node_t *next = next_of(n);
        vek::robust_free(&n);
        n = next;
    }
    vek::robust_free(&ht);
}

extern "C" VEK_API void vek_hash_delete_table(vek_hash_t *ht) { vek_hash_delete_nodes_and_table(ht, nullptr); }

// ---- structure check -----------------------------------------------------

namespace {

// Nodes at the front of a chain whose keys are compared pairwise: keys are
// unique in the table, and a check that compared every pair of a long
// chain would cost its length squared.
constexpr uint32_t kDistinctKeysChecked = 32;

const char *verify_header(const vek_hash_t *ht) {
    if (ht->ht_size == 0) return "bucket count is zero";
    if (ht->buckets == nullptr) return "bucket array is absent";
    if (!reciprocal_holds(ht)) return "bucket reciprocal differs from the bucket count";
    return nullptr;
}

// Chain b. The walk ends: a node reached a second time would have two
// predecessors (or, as the head, a previous link), and every node's
// successor is checked to point back before the walk moves on.
const char *verify_chain(const vek_hash_t *ht, uint32_t b) {
    const vek_hash_node_t *head = ht->buckets[b];
    if (head == nullptr) return nullptr;
    if (head->link.prev != nullptr) return "chain head has a previous link";
    uint32_t pos = 0;
    for (const vek_hash_node_t *n = head; n != nullptr; n = next_of(n), ++pos) {
        if (bucket_index(ht, n->key) != b) return "node in the wrong bucket of its key";
        const vek_llist_t *next = n->link.next;
        if (next != nullptr && next->prev != &n->link) return "chain link does not point back";
        if (pos < kDistinctKeysChecked) {
            for (const vek_hash_node_t *m = head; m != n; m = next_of(m)) {
                if (m->key == n->key) return "key twice in a chain";
            }
        }
    }
    return nullptr;
}

// The pool: as many nodes as its count (at most the limit), chained through
// next with no previous link, none of them still at the head of a chain.
const char *verify_pool(const vek_hash_t *ht) {
    if (ht->numFreeNodes > VEK_HASH_MAX_FREE_NODES) return "free-node count above the pool limit";
    const vek_hash_node_t *n = ht->freeNodes;
    for (uint32_t i = 0; i < ht->numFreeNodes; ++i, n = next_of(n)) {
        if (n == nullptr) return "free-node pool shorter than its count";
        if (n->link.prev != nullptr) return "pooled node has a previous link";
        if (ht->buckets[bucket_index(ht, n->key)] == n) return "pooled node is a chain head";
    }
    if (n != nullptr) return "free-node pool longer than its count";
    return nullptr;
}

} // namespace

namespace vek::hash {

const char *verify(const vek_hash_t *ht) {
    if (const char *broken = verify_header(ht)) return broken;
    if (const char *broken = verify_pool(ht)) return broken;
    for (uint32_t b = 0; b < ht->ht_size; ++b) {
        if (const char *broken = verify_chain(ht, b)) return broken;
    }
    return nullptr;
}

} // namespace vek::hash
