// Sorted set: (key, value) words in one contiguous node array, kept in the
// order of the caller's comparison function and searched by bisection. The
// array grows by a fixed number of nodes (the creator's step in bytes / 8).
#include <cstring>

#include "sorted_set/sorted_set_internal.hpp"
#include "foundation/check.hpp"
#include "foundation/memory.hpp"
#include "foundation/trace.hpp"

namespace {

// The exit line of creation, which names the set's fields after a
// "Sorted_set:" label.
void create_exit_line(const char *op, vek_st_t st, const vek_sorted_set_t *set) {
    const bool slot = set != nullptr && set->maxSortedSetSize != 0u && set->sortedSet != nullptr;
    vek::trace::raw("%s vekStatus=%llx Sorted_set: maxSortedSetSize=%llx curSortedSetSize=%llx "
                    "mallocSizeBytes=%llx sortedSet->key=%llx sortedSet->value=%llx\n",
                    op, vek::trace::widen(st), vek::trace::widen(set ? set->maxSortedSetSize : 0u),
                    vek::trace::widen(set ? set->curSortedSetSize : 0u),
                    vek::trace::widen(set ? set->mallocSizeBytes : 0u),
                    vek::trace::widen(slot ? set->sortedSet[0].key : 0u),
                    vek::trace::widen(slot ? set->sortedSet[0].value : 0u));
}

// Grows a full set by mallocSizeBytes / 8 nodes; the new slots read as zero.
// False (set unchanged) when the step is 0 or no larger array comes back.
bool grow(vek_sorted_set_t *set) {
    const uint32_t step = set->mallocSizeBytes / 8u;
    const uint64_t capacity = static_cast<uint64_t>(set->maxSortedSetSize) + step;
    std::size_t bytes = 0;
    if (step == 0u || capacity > UINT32_MAX ||
        !vek::array_bytes(static_cast<std::size_t>(capacity), sizeof(vek_sorted_set_node_t), &bytes)) {
        return false;
    }
    void *grown = nullptr;
    vek_nvm_robust_realloc(set->sortedSet, bytes, &grown);
    if (grown == nullptr) return false;
    set->sortedSet = static_cast<vek_sorted_set_node_t *>(grown);
    std::memset(set->sortedSet + set->maxSortedSetSize, 0,
                static_cast<std::size_t>(step) * sizeof(vek_sorted_set_node_t));
    set->maxSortedSetSize = static_cast<uint32_t>(capacity);
    return true;
}

// The names the internal steps print in their trace lines.
constexpr const char *kRemoveNodeOp = "_vek_sorted_set_remove_node_n";    // printed in trace lines
constexpr const char *kCreateOp = "_vek_sorted_set_create";               // printed in trace lines
constexpr const char *kDeleteOp = "_vek_sorted_set_delete_nodes_and_set"; // printed in trace lines
constexpr const char *kIterateOp = "_vek_sorted_set_iterate_through_set"; // printed in trace lines

} // namespace

uint32_t vek::sorted_set::search(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn,
                                 uint8_t *found) {
    *found = 0;
    if (compareFn == nullptr || sorted_set == nullptr || sorted_set->curSortedSetSize == 0u) return 0;
    const vek_sorted_set_node_t *nodes = sorted_set->sortedSet;
    uint32_t low = 0;
    uint32_t high = sorted_set->curSortedSetSize - 1u;
    uint32_t candidate = 0;
    uint32_t remaining = 0;
    do {
        const auto mid = static_cast<uint32_t>((static_cast<uint64_t>(low) + high) / 2u);
        const int32_t r = compareFn(key, nodes[mid].key);
        if (r == 0) {
            *found = 1;
            return mid;
        }
        if (r == 1) {
            if (mid == 0u) return 0;
            candidate = mid;
            remaining = mid - low;
            high = mid - 1u;
        } else {
            // 2, and any result outside the contract, sorts after.
            candidate = mid + 1u;
            remaining = high - mid;
            low = mid + 1u;
        }
    } while (remaining != 0u);
    return candidate;
}

int32_t vek::sorted_set::remove_node_n(vek_sorted_set_t *sorted_set, uint32_t n, vek_sorted_set_node_t *outNode) {
    const vek::trace::Call call(kRemoveNodeOp, {{"sorted_set", sorted_set}, {"n", n}, {"outNode", outNode}});
    int32_t rc = -1;
    if (n < sorted_set->curSortedSetSize) {
        vek_sorted_set_node_t *nodes = sorted_set->sortedSet;
        *outNode = nodes[n];
        std::memmove(nodes + n, nodes + n + 1,
                     static_cast<std::size_t>(sorted_set->curSortedSetSize - n - 1u) * sizeof(vek_sorted_set_node_t));
        --sorted_set->curSortedSetSize;
        // The node vacated at the end is a spare node again, and spare nodes read as zero.
        nodes[sorted_set->curSortedSetSize] = {0u, 0u};
        rc = 0;
    }
    call.exit({{"sorted_set", sorted_set},
               {"n", n},
               {"curSortedSetSize", sorted_set->curSortedSetSize},
               {"outNode", outNode},
               {"result", rc}});
    return rc;
}

// Creation, traced under its own name (kCreateOp).
vek_sorted_set_t *vek::sorted_set::create(uint32_t msize, uint32_t numInitialNodes) {
    const vek::trace::Call call(kCreateOp, {{"msize", msize}, {"numInitialNodes", numInitialNodes}});
    // A step that is not a whole number of nodes has no exit line.
    if ((msize & 7u) != 0u) return nullptr;
    vek_sorted_set_t *set = nullptr;
    vek_st_t st = vek::robust_alloc(&set, VEK_NVM_NO_FILL);
    if (st == VEK_ST_SUCCESS) {
        set->maxSortedSetSize = numInitialNodes;
        set->curSortedSetSize = 0;
        set->mallocSizeBytes = msize;
        set->sortedSet = nullptr;
        st = vek::robust_alloc_array(numInitialNodes, &set->sortedSet, VEK_NVM_ZERO_FILL);
        // A set without a node array is of no use: release the header.
        if (st != VEK_ST_SUCCESS) vek::robust_free(&set);
    }
    create_exit_line(call.op(), st, set);
    return set;
}

// Deletion and the walk, traced under their own names as well.
void vek::sorted_set::delete_nodes_and_set(vek_sorted_set_t *sorted_set, vek_sorted_set_del_fn_t delFn) {
    const vek::trace::Call call(kDeleteOp, {{"sorted_set", sorted_set}, {"delFn", delFn}});
    if (sorted_set != nullptr) {
        bool stopped = false;
        if (delFn != nullptr) {
            for (uint32_t i = 0; i < sorted_set->curSortedSetSize; ++i) {
                const vek_sorted_set_node_t &node = sorted_set->sortedSet[i];
                if (delFn(node.key, node.value) != 0) {
                    stopped = true; // the set stays allocated, every node in place
                    break;
                }
            }
        }
        if (!stopped) {
            vek::robust_free(&sorted_set->sortedSet);
            vek::robust_free(&sorted_set);
        }
    }
    call.exit({{"vekStatus", VEK_ST_SUCCESS}});
}

int32_t vek::sorted_set::iterate_through_set(vek_sorted_set_t *sorted_set, vek_sorted_set_visit_fn_t fn,
                                             uintptr_t args) {
    const vek::trace::Call call(kIterateOp, {{"sorted_set", sorted_set}, {"fn", fn}, {"args", args}});
    int32_t rval = 0;
    if (sorted_set != nullptr && fn != nullptr) {
        // The count is read again before every call: a callback may change it.
        for (uint32_t i = 0; i < sorted_set->curSortedSetSize; ++i) {
            const vek_sorted_set_node_t node = sorted_set->sortedSet[i];
            rval = fn(i, node.key, node.value, args);
            if (rval != 0) break;
        }
    }
    call.exit({{"rval", rval}});
    return rval;
}

namespace {

uintptr_t put(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn, uintptr_t value) {
    if (sorted_set == nullptr) return 0;
    uint8_t found = 0;
    const uint32_t n = vek::sorted_set::search(sorted_set, key, compareFn, &found);
    if (found) {
        vek_sorted_set_node_t &node = sorted_set->sortedSet[n];
        const uintptr_t old = node.value;
        node = {key, value};
        return old;
    }
    if (sorted_set->curSortedSetSize >= sorted_set->maxSortedSetSize && !grow(sorted_set)) return 0;
    vek_sorted_set_node_t *nodes = sorted_set->sortedSet;
    std::memmove(nodes + n + 1, nodes + n,
                 static_cast<std::size_t>(sorted_set->curSortedSetSize - n) * sizeof(vek_sorted_set_node_t));
    nodes[n] = {key, value};
    ++sorted_set->curSortedSetSize;
    return 0;
}

uintptr_t put_n(vek_sorted_set_t *sorted_set, uint32_t n, uintptr_t value) {
    if (sorted_set == nullptr || n >= sorted_set->curSortedSetSize) return 0;
    const uintptr_t old = sorted_set->sortedSet[n].value;
    sorted_set->sortedSet[n].value = value;
    return old;
}

uintptr_t get(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn) {
    uint8_t found = 0;
    const uint32_t n = vek::sorted_set::search(sorted_set, key, compareFn, &found);
    return found ? sorted_set->sortedSet[n].value : 0u;
}

uintptr_t get_n(const vek_sorted_set_t *sorted_set, uint32_t n) {
    return (sorted_set != nullptr && n < sorted_set->curSortedSetSize) ? sorted_set->sortedSet[n].value : 0u;
}

uintptr_t remove(vek_sorted_set_t *sorted_set, uintptr_t key, vek_sorted_set_cmp_fn_t compareFn) {
    if (sorted_set == nullptr || sorted_set->curSortedSetSize == 0u) return 0;
    uint8_t found = 0;
    const uint32_t n = vek::sorted_set::search(sorted_set, key, compareFn, &found);
    if (!found) return 0;
    vek_sorted_set_node_t removed{};
    vek::sorted_set::remove_node_n(sorted_set, n, &removed);
    return removed.value;
}

} // namespace

namespace vek::sorted_set {

const char *verify(const vek_sorted_set_t *sorted_set) {
    if (sorted_set->curSortedSetSize > sorted_set->maxSortedSetSize) return "node count above the capacity";
    if ((sorted_set->mallocSizeBytes & 7u) != 0u) return "growth step not a whole number of nodes";
    if (sorted_set->maxSortedSetSize == 0u) return nullptr;
    if (sorted_set->sortedSet == nullptr) return "node array is absent";
    for (uint32_t i = sorted_set->curSortedSetSize; i < sorted_set->maxSortedSetSize; ++i) {
        const vek_sorted_set_node_t &spare = sorted_set->sortedSet[i];
        if (spare.key != 0u || spare.value != 0u) return "spare node not zero";
    }
    return nullptr;
}

} // namespace vek::sorted_set

// Its trace lines are those of vek::sorted_set::create (kCreateOp).
extern "C" VEK_API vek_sorted_set_t *vek_sorted_set_create(uint32_t msize, uint32_t numInitialNodes) {
    const vek::trace::Call call(__func__);
    vek_sorted_set_t *set = vek::sorted_set::create(msize, numInitialNodes);
    VEK_CHECK_STRUCTURE(vek::sorted_set::verify_if_set(set));
    return set;
}

// Its own entry line, then the lines of vek::sorted_set::delete_nodes_and_set (kDeleteOp).
extern "C" VEK_API void vek_sorted_set_delete_nodes_and_set(vek_sorted_set_t *sorted_set,
                                                            vek_sorted_set_del_fn_t delFn) {
    const vek::trace::Call call(__func__, {{"sorted_set", sorted_set}, {"delFn", delFn}});
    vek::sorted_set::delete_nodes_and_set(sorted_set, delFn);
}

// Its own entry line, then the lines of vek::sorted_set::iterate_through_set (kIterateOp).
extern "C" VEK_API int32_t vek_sorted_set_iterate_through_set(vek_sorted_set_t *sorted_set,
                                                              vek_sorted_set_visit_fn_t fn, uintptr_t args) {
    const vek::trace::Call call(__func__, {{"sorted_set", sorted_set}, {"fn", fn}, {"args", args}});
    const int32_t rval = vek::sorted_set::iterate_through_set(sorted_set, fn, args);
    VEK_CHECK_STRUCTURE(vek::sorted_set::verify_if_set(sorted_set));
    return rval;
}

extern "C" VEK_API uintptr_t vek_sorted_set_get(vek_sorted_set_t *sorted_set, uintptr_t key,
                                                vek_sorted_set_cmp_fn_t compareFn) {
    const vek::trace::Call call(__func__, {{"sorted_set", sorted_set}, {"key", key}, {"compareFn", compareFn}});
    const uintptr_t value = get(sorted_set, key, compareFn);
    call.exit({{"returnvalue", value}});
    VEK_CHECK_STRUCTURE(vek::sorted_set::verify_if_set(sorted_set));
    return value;
}

extern "C" VEK_API uintptr_t vek_sorted_set_get_n(vek_sorted_set_t *sorted_set, uint32_t n) {
    const vek::trace::Call call(__func__, {{"sorted_set", sorted_set}, {"n", n}});
    const uintptr_t value = get_n(sorted_set, n);
    call.exit({{"returnvalue", value}});
    VEK_CHECK_STRUCTURE(vek::sorted_set::verify_if_set(sorted_set));
    return value;
}

// Not traced: the pickers put once per gap.
extern "C" VEK_API uintptr_t vek_sorted_set_put(vek_sorted_set_t *sorted_set, uintptr_t key,
                                                vek_sorted_set_cmp_fn_t compareFn, uintptr_t value) {
    const vek::trace::Call call(__func__);
    const uintptr_t old = put(sorted_set, key, compareFn, value);
    VEK_CHECK_STRUCTURE(vek::sorted_set::verify_if_set(sorted_set));
    return old;
}

extern "C" VEK_API uintptr_t vek_sorted_set_put_n(vek_sorted_set_t *sorted_set, uint32_t n, uintptr_t value) {
    const vek::trace::Call call(__func__, {{"sorted_set", sorted_set}, {"n", n}, {"value", value}});
    const uintptr_t old = put_n(sorted_set, n, value);
    call.exit({{"returnvalue", old}});
    VEK_CHECK_STRUCTURE(vek::sorted_set::verify_if_set(sorted_set));
    return old;
}

extern "C" VEK_API uint32_t vek_sorted_set_size(vek_sorted_set_t *sorted_set) {
    const vek::trace::Call call(__func__);
    const uint32_t size = sorted_set != nullptr ? sorted_set->curSortedSetSize : 0u;
    VEK_CHECK_STRUCTURE(vek::sorted_set::verify_if_set(sorted_set));
    return size;
}

// Not traced itself; a removal shows the lines of vek::sorted_set::remove_node_n (kRemoveNodeOp).
extern "C" VEK_API uintptr_t vek_sorted_set_remove(vek_sorted_set_t *sorted_set, uintptr_t key,
                                                   vek_sorted_set_cmp_fn_t compareFn) {
    const vek::trace::Call call(__func__);
    const uintptr_t value = remove(sorted_set, key, compareFn);
    VEK_CHECK_STRUCTURE(vek::sorted_set::verify_if_set(sorted_set));
    return value;
}
