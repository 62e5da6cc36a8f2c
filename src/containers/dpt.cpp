// Paged direct table: keys 0 .. tableSize-1 map straight to one-word values.
// A key is split into a page (key / pageSize) and a slot (key % pageSize);
// a page is allocated on the first non-zero store into it and released with
// its last value. A value of 0 marks an empty slot.
//
// Three kinds of bitmaps track the pages so that a free key can be proposed
// without scanning values:
//   allocatedPages    bit p set while page p exists;
//   unavailablePages  bit p clear exactly when page p exists and has an
//                     empty slot (set for absent and for full pages);
//   usedSlots (per page) bit s set while slot s holds a value.
#include <vek/vek_bitmap.h>
#include <vek/vek_dpt.h>
#include <vek/vek_sal.h>

#include "containers/dpt_page.hpp"
#include "containers/verify.hpp"
#include "foundation/check.hpp"
#include "foundation/invariant.hpp"
#include "foundation/memory.hpp"
#include "foundation/status_merge.hpp"
#include "foundation/trace.hpp"

namespace {

struct Where {
    uint32_t page;
    uint32_t slot;
};

inline Where split(const vek_dpt_t *dpt, uint32_t key) { return {key / dpt->pageSize, key % dpt->pageSize}; }

// A table that can be indexed by key: the caller's handle is not null, and
// creation (which refuses a page size of 0 and fails for a table of no
// keys) gave it its sizes and its directory.
inline bool usable(const vek_dpt_t *dpt) {
    return dpt != nullptr && VEK_ALWAYS(dpt->pageSize != 0 && dpt->pageDir != nullptr && dpt->tableSize != 0);
}

inline bool in_range(const vek_dpt_t *dpt, uint32_t key) { return usable(dpt) && key < dpt->tableSize; }

// Releases the directory, the page bitmaps and the header, as far as they
// were built (the pages themselves are released by the caller). Returns
// the merged release status.
vek_st_t free_header(vek_dpt_t *dpt) {
    vek_st_t st = VEK_ST_SUCCESS;
    vek::merge_status(st, vek::robust_free(&dpt->pageDir));
    if (dpt->unavailablePages != nullptr) vek_bitmap_delete(dpt->unavailablePages);
    if (dpt->allocatedPages != nullptr) vek_bitmap_delete(dpt->allocatedPages);
    vek::merge_status(st, vek::robust_free(&dpt));
    return st;
}

// A new, empty page of pageSize slots, or null when memory is short.
vek_dpt_page_t *new_page(uint32_t pageSize) {
    vek_dpt_page_t *page = nullptr;
    if (vek::robust_alloc(&page, VEK_NVM_NO_FILL) != VEK_ST_SUCCESS) return nullptr;
    page->values = nullptr;
    page->numUsed = 0;
    page->usedSlots = nullptr;
    if (vek::robust_alloc_array(pageSize, &page->values, VEK_NVM_NO_FILL) != VEK_ST_SUCCESS ||
        (page->usedSlots = vek_bitmap_create(pageSize)) == nullptr) {
        vek::dpt::free_page(page);
        return nullptr;
    }
    for (uint32_t s = 0; s < pageSize; ++s) page->values[s] = 0;
    return page;
}

// Empties slot w of an allocated page that holds `was` there, and releases
// the page when that was its last value.
void release_slot(vek_dpt_t *dpt, Where w, uintptr_t was) {
    vek_dpt_page_t *page = dpt->pageDir[w.page];
    page->values[w.slot] = 0;
    if (was == 0) return;
    vek_bitmap_clr(page->usedSlots, w.slot);
    if (page->numUsed == dpt->pageSize) vek_bitmap_clr(dpt->unavailablePages, w.page);
    page->numUsed--;
    if (page->numUsed != 0) return;
    vek_bitmap_set(dpt->unavailablePages, w.page);
    vek_bitmap_clr(dpt->allocatedPages, w.page);
    vek::dpt::free_page(page);
    dpt->pageDir[w.page] = nullptr;
    dpt->numAllocatedPages--;
}

// Stores a value into slot w, allocating the page when needed. Returns the
// status: VEK_ST_NO_MEMORY when the page cannot be allocated.
vek_st_t store(vek_dpt_t *dpt, Where w, uintptr_t value, uintptr_t *previous) {
    *previous = 0;
    vek_dpt_page_t *page = dpt->pageDir[w.page];
    if (page == nullptr) {
        if (value == 0) return VEK_ST_SUCCESS;
        page = new_page(dpt->pageSize);
        if (page == nullptr) return VEK_ST_NO_MEMORY;
        dpt->pageDir[w.page] = page;
        dpt->numAllocatedPages++;
        vek_bitmap_clr(dpt->unavailablePages, w.page);
        vek_bitmap_set(dpt->allocatedPages, w.page);
    }
    const uintptr_t was = page->values[w.slot];
    *previous = was;
    if (value == 0) {
        release_slot(dpt, w, was);
        return VEK_ST_SUCCESS;
    }
    page->values[w.slot] = value;
    vek_bitmap_set(page->usedSlots, w.slot);
    if (was == 0 && ++page->numUsed == dpt->pageSize) vek_bitmap_set(dpt->unavailablePages, w.page);
    return VEK_ST_SUCCESS;
}

// The lowest free key: the lowest empty slot of the lowest open page, else
// slot 0 of the lowest absent page. Only the last page can have slots past
// the table; when its only empty slots lie there it cannot give a key, and
// since no open page follows it the proposal falls back to absent pages.
bool pick(vek_dpt_t *dpt, uint32_t *key) {
    uint32_t p = 0;
    if (vek_bitmap_find(dpt->unavailablePages, 1, &p) == 0 && p < dpt->numPages && dpt->pageDir[p] != nullptr) {
        uint32_t s = 0;
        if (vek_bitmap_find(dpt->pageDir[p]->usedSlots, 1, &s) != 0) return false;
        const uint64_t k = uint64_t{p} * dpt->pageSize + s;
        if (k < dpt->tableSize) {
            *key = static_cast<uint32_t>(k);
            return true;
        }
    }
    if (vek_bitmap_find(dpt->allocatedPages, 1, &p) != 0 || p >= dpt->numPages) return false;
    *key = p * dpt->pageSize;
    return true;
}

// A new table in *out: every page absent.
vek_st_t create_table(uint32_t tableSize, uint32_t pageSize, vek_dpt_t **out) {
    if (pageSize == 0) return VEK_ST_INVALID_VALUE;
    vek_dpt_t *dpt = nullptr;
    vek_st_t st = vek::robust_alloc(&dpt, VEK_NVM_NO_FILL);
    if (st != VEK_ST_SUCCESS) return st;
    dpt->tableSize = tableSize;
    dpt->pageSize = pageSize;
    dpt->numPages = tableSize / pageSize + (tableSize % pageSize != 0 ? 1u : 0u);
    dpt->numAllocatedPages = 0;
    dpt->pageDir = nullptr;
    dpt->allocatedPages = nullptr;
    dpt->unavailablePages = nullptr;
    st = vek::robust_alloc_array(dpt->numPages, &dpt->pageDir, VEK_NVM_NO_FILL);
    if (st == VEK_ST_SUCCESS) {
        dpt->unavailablePages = vek_bitmap_create(dpt->numPages);
        if (dpt->unavailablePages != nullptr) dpt->allocatedPages = vek_bitmap_create(dpt->numPages);
        if (dpt->allocatedPages == nullptr) st = VEK_ST_NO_MEMORY;
    }
    if (st != VEK_ST_SUCCESS) {
        // Only what was obtained goes back: without a directory there
        // are no bitmaps either, just the header.
        vek::merge_status(st, dpt->pageDir != nullptr ? free_header(dpt) : vek::robust_free(&dpt));
        return st;
    }
    for (uint32_t p = 0; p < dpt->numPages; ++p) dpt->pageDir[p] = nullptr;
    // Every page starts absent, hence not available.
    uint32_t first = 0;
    vek_bitmap_reserve(dpt->unavailablePages, dpt->numPages, &first);
    *out = dpt;
    return VEK_ST_SUCCESS;
}

// Releases every page (handing each slot's value to delFn first), then the
// table; the merged release status.
vek_st_t delete_table(vek_dpt_t *dpt, vek_dpt_del_fn_t delFn) {
    if (dpt == nullptr) return VEK_ST_SUCCESS;
    vek_st_t st = VEK_ST_SUCCESS;
    if (VEK_ALWAYS(dpt->pageDir != nullptr)) {
        for (uint32_t p = 0; p < dpt->numPages; ++p) {
            vek_dpt_page_t *page = dpt->pageDir[p];
            if (page == nullptr) continue;
            if (delFn != nullptr && VEK_ALWAYS(page->values != nullptr)) {
                for (uint32_t s = 0; s < dpt->pageSize; ++s) delFn(page->values[s]);
            }
            vek::merge_status(st, vek::robust_free(&page->values));
            if (VEK_ALWAYS(page->usedSlots != nullptr)) vek_bitmap_delete(page->usedSlots);
            vek::merge_status(st, vek::robust_free(&page));
            dpt->pageDir[p] = nullptr;
        }
    }
    vek::merge_status(st, free_header(dpt));
    return st;
}

// The value at key (0 for an empty slot); VEK_ST_INVALID_VALUE for a key
// out of the table.
vek_st_t get(vek_dpt_t *dpt, uint32_t key, uintptr_t *value) {
    *value = 0;
    if (!in_range(dpt, key)) return VEK_ST_INVALID_VALUE;
    const Where w = split(dpt, key);
    const vek_dpt_page_t *page = dpt->pageDir[w.page];
    if (page != nullptr) *value = page->values[w.slot];
    return VEK_ST_SUCCESS;
}

// Stores value at key (0 empties the slot); the value it replaces in
// *previous.
vek_st_t put(vek_dpt_t *dpt, uint32_t key, uintptr_t value, uintptr_t *previous) {
    *previous = 0;
    if (!in_range(dpt, key)) return VEK_ST_INVALID_VALUE;
    return store(dpt, split(dpt, key), value, previous);
}

// Empties key's slot; the value it held.
uintptr_t rem(vek_dpt_t *dpt, uint32_t key) {
    if (!in_range(dpt, key)) return 0;
    const Where w = split(dpt, key);
    if (dpt->pageDir[w.page] == nullptr) return 0;
    const uintptr_t value = dpt->pageDir[w.page]->values[w.slot];
    release_slot(dpt, w, value);
    return value;
}

// The proposed free key in *key (0 with -1 when there is none).
int32_t pick_key(vek_dpt_t *dpt, uint32_t *key) {
    *key = 0;
    return usable(dpt) && pick(dpt, key) ? 0 : -1;
}

} // namespace

void vek::dpt::free_page(vek_dpt_page_t *page) {
    if (page == nullptr) return;
    if (page->values != nullptr) vek::robust_free(&page->values);
    if (page->usedSlots != nullptr) vek_bitmap_delete(page->usedSlots);
    vek::robust_free(&page);
}

extern "C" VEK_API vek_dpt_t *vek_dpt_create_table(uint32_t tableSize, uint32_t pageSize) {
    const vek::trace::Call call(__func__, {{"tableSize", tableSize}, {"pageSize", pageSize}});
    vek_dpt_t *dpt = nullptr;
    const vek_st_t st = create_table(tableSize, pageSize, &dpt);
    call.exit({{"vekStatus", st}, {"nDpt", dpt}});
    VEK_CHECK_STRUCTURE(vek::dpt::verify_if_table(dpt));
    return dpt;
}

extern "C" VEK_API void vek_dpt_delete_nodes_and_table(vek_dpt_t *dpt, vek_dpt_del_fn_t delFn) {
    const vek::trace::Call call(__func__, {{"dpt", dpt}, {"delFn", delFn}});
    const vek_st_t st = delete_table(dpt, delFn);
    call.exit({{"vekStatus", st}});
}

extern "C" VEK_API uintptr_t vek_dpt_get(vek_dpt_t *dpt, uint32_t key) {
    const vek::trace::Call call(__func__, {{"dpt", dpt}, {"key", key}});
    uintptr_t value = 0;
    const vek_st_t st = get(dpt, key, &value);
    call.exit({{"vekStatus", st}, {"value", value}});
    VEK_CHECK_STRUCTURE(vek::dpt::verify_if_table(dpt));
    return value;
}

extern "C" VEK_API int32_t vek_dpt_put(vek_dpt_t *dpt, uint32_t key, uintptr_t value, uintptr_t *old_value) {
    // The entry line has a comma after the key, so it is printed by hand.
    const vek::trace::Call call(__func__);
    vek::trace::raw("%s dpt=%llx key=%llx, value=%llx\n", call.op(), vek::trace::widen(dpt), vek::trace::widen(key),
                    vek::trace::widen(value));
    uintptr_t previous = 0;
    const vek_st_t st = put(dpt, key, value, &previous);
    const int32_t result = st == VEK_ST_SUCCESS ? 0 : -1;
    if (old_value != nullptr) *old_value = previous;
    call.exit({{"vekStatus", st}, {"status", result}, {"old_value", vek::trace::out_value(old_value)}});
    VEK_CHECK_STRUCTURE(vek::dpt::verify_if_table(dpt));
    return result;
}

extern "C" VEK_API uintptr_t vek_dpt_rem(vek_dpt_t *dpt, uint32_t key) {
    const vek::trace::Call call(__func__, {{"dpt", dpt}, {"key", key}});
    const uintptr_t value = rem(dpt, key);
    call.exit({{"value", value}});
    VEK_CHECK_STRUCTURE(vek::dpt::verify_if_table(dpt));
    return value;
}

extern "C" VEK_API int32_t vek_dpt_pick_key(vek_dpt_t *dpt, uint32_t *outKey) {
    const vek::trace::Call call(__func__, {{"dpt", dpt}});
    uint32_t key = 0;
    const int32_t result = outKey != nullptr ? pick_key(dpt, &key) : -1;
    if (outKey != nullptr) *outKey = key;
    call.exit({{"status", result}, {"outKey", key}});
    VEK_CHECK_STRUCTURE(vek::dpt::verify_if_table(dpt));
    return result;
}

extern "C" VEK_API int32_t vek_dpt_put_pick_key(vek_dpt_t *dpt, uintptr_t value, uint32_t *outKey) {
    const vek::trace::Call call(__func__, {{"dpt", dpt}, {"value", value}});
    uint32_t key = 0;
    int32_t result = -1;
    if (value != 0 && outKey != nullptr && vek_dpt_pick_key(dpt, &key) == 0) {
        result = vek_dpt_put(dpt, key, value, nullptr);
    }
    if (outKey != nullptr) *outKey = key;
    call.exit({{"status", result}, {"outKey", key}});
    VEK_CHECK_STRUCTURE(vek::dpt::verify_if_table(dpt));
    return result;
}

extern "C" VEK_API void vek_dpt_traverse(vek_dpt_t *dpt, vek_dpt_visit_fn_t fn) {
    if (usable(dpt) && fn != nullptr) {
        for (uint32_t p = 0; p < dpt->numPages; ++p) {
            const uint32_t base = p * dpt->pageSize;
            // The page is looked up again for every slot, so a visit function
            // that breaks the rule and empties the page ends the walk of that
            // page instead of reading released memory.
            for (uint32_t s = 0; s < dpt->pageSize && dpt->pageDir[p] != nullptr; ++s) {
                const uintptr_t value = dpt->pageDir[p]->values[s];
                if (value != 0) fn(base + s, value);
            }
        }
    }
    VEK_CHECK_STRUCTURE(vek::dpt::verify_if_table(dpt));
}

// ---- structure check -----------------------------------------------------

namespace {

// A bitmap of `size` identifiers whose words can be read.
bool readable(const vek_bitmap_t *map, uint32_t size) {
    return map != nullptr && map->size == size && map->bits != nullptr && uint64_t{map->words_needed} * 32u >= size;
}

bool bit(const vek_bitmap_t *map, uint32_t i) { return ((map->bits[i / 32u] >> (i % 32u)) & 1u) != 0u; }

// Page p against its slots: its blocks, the slot bitmap against the values,
// the used count, and no value past the end of the table.
const char *verify_page(const vek_dpt_t *dpt, uint32_t p) {
    const vek_dpt_page_t *page = dpt->pageDir[p];
    if (page->values == nullptr) return "page has no values";
    if (page->usedSlots == nullptr) return "page has no slot bitmap";
    if (!readable(page->usedSlots, dpt->pageSize)) return "slot bitmap size differs from the page size";
    uint32_t used = 0;
    const uint64_t base = uint64_t{p} * dpt->pageSize;
    for (uint32_t s = 0; s < dpt->pageSize; ++s) {
        const bool holds = page->values[s] != 0;
        if (bit(page->usedSlots, s) != holds) return "used-slot bit differs from the value";
        if (holds && base + s >= dpt->tableSize) return "value past the end of the table";
        used += holds ? 1u : 0u;
    }
    if (page->numUsed != used) return "used-slot count differs from the values";
    if (used == 0) return "empty page kept";
    return nullptr;
}

} // namespace

namespace vek::dpt {

const char *verify(const vek_dpt_t *dpt) {
    if (dpt->pageSize == 0) return "page size is zero";
    if (dpt->tableSize == 0) return "table has no keys";
    if (dpt->numPages != dpt->tableSize / dpt->pageSize + (dpt->tableSize % dpt->pageSize != 0 ? 1u : 0u)) {
        return "page count differs from the table size";
    }
    if (dpt->pageDir == nullptr) return "page directory is absent";
    if (!readable(dpt->allocatedPages, dpt->numPages) || !readable(dpt->unavailablePages, dpt->numPages)) {
        return "page bitmap size differs from the page count";
    }
    uint32_t allocated = 0;
    for (uint32_t p = 0; p < dpt->numPages; ++p) {
        const vek_dpt_page_t *page = dpt->pageDir[p];
        if (bit(dpt->allocatedPages, p) != (page != nullptr)) return "allocated-page bit differs from the directory";
        if (page != nullptr) {
            ++allocated;
            if (const char *broken = verify_page(dpt, p)) return broken;
        }
        const bool open = page != nullptr && page->numUsed < dpt->pageSize;
        if (bit(dpt->unavailablePages, p) == open) return "unavailable-page bit differs from the page";
    }
    if (dpt->numAllocatedPages != allocated) return "allocated page count differs from the directory";
    return nullptr;
}

} // namespace vek::dpt
