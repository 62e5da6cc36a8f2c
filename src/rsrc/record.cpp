// Resource records: creation, destruction and lookup by kind and name.
#include <cstring>

#include "foundation/memory.hpp"
#include "foundation/trace.hpp"
#include "rsrc/rsrc_internal.hpp"

using namespace vek::rsrc;

namespace vek::rsrc {

void teardown_record(vek_rsrc_t *rec, vek_st_t &k, Teardown order) {
    MutexGuard guard(&rec->mutex);
    merge_status(k, guard.lock_status());
    if (order == Teardown::NameFirst) merge_status(k, robust_free(&rec->name));
    if (rec->bitmap != nullptr) vek_bitmap_delete(rec->bitmap); // its result says nothing
    rec->bitmap = nullptr;
    if (order == Teardown::BitmapFirst) merge_status(k, robust_free(&rec->name));
    guard.release(k);
    merge_status(k, vek_mutex_destroy(&rec->mutex));
    merge_status(k, robust_free(&rec));
}

} // namespace vek::rsrc

namespace {

vek_rsrc_t *find_record(const vek_rsrc_registry_t *reg, uint32_t kind, const char *name) {
    for (vek_rsrc_t *rec = reg->rsrcHead; rec != nullptr; rec = rec->next) {
        if (rec->kind == kind && std::strcmp(rec->name, name) == 0) return rec;
    }
    return nullptr;
}

bool name_usable(const char *name) { return name != nullptr && name[0] != '\0'; }

// Releases what a record under construction holds (its name block when
// allocated, its mutex when initialised, the record itself). Every step
// runs; the result is the first failure, a dead-owner status winning.
vek_st_t discard_record(vek_rsrc_t *rec, bool mutex_ready) {
    vek_st_t st = VEK_ST_SUCCESS;
    if (rec->name != nullptr) vek::merge_status(st, vek::robust_free(&rec->name));
    if (mutex_ready) vek::merge_status(st, vek_mutex_destroy(&rec->mutex));
    vek::merge_status(st, vek::robust_free(&rec));
    return st;
}

// Builds a record with its mutex, name copy (written straight into `name`)
// and, unless read-only, bitmap. On failure nothing is left allocated.
vek_st_t build_record(const char *name, uint32_t numElems, uint8_t readOnly, vek_rsrc_t **out) {
    vek_rsrc_t *rec = nullptr;
    vek_st_t st = vek::robust_alloc(&rec, VEK_NVM_NO_FILL);
    if (st != VEK_ST_SUCCESS) return st;
    rec->name = nullptr;
    rec->bitmap = nullptr;

    st = vek_mutex_init(&rec->mutex, VEK_MUTEX_SHARED);
    if (st != VEK_ST_SUCCESS) {
        vek::merge_status(st, discard_record(rec, false));
        return st;
    }

    const std::size_t len = std::strlen(name);
    st = vek::robust_alloc_array(len + 1, &rec->name, VEK_NVM_NO_FILL);
    if (st != VEK_ST_SUCCESS) {
        vek::merge_status(st, discard_record(rec, true));
        return st;
    }

    if (readOnly == 0) {
        rec->bitmap = vek_bitmap_create(numElems == 0 ? 1 : numElems);
        if (rec->bitmap == nullptr) {
            // A failing clean-up step reports its own status instead.
            st = discard_record(rec, true);
            return st != VEK_ST_SUCCESS ? st : VEK_ST_NO_MEMORY;
        }
    }

    std::memcpy(rec->name, name, len + 1);
    *out = rec;
    return VEK_ST_SUCCESS;
}

// The part of creation done with the registry's mutex held.
vek_st_t insert_record(vek_hdl_t *hdl, uint32_t kind, const char *name, uint32_t numElems, uint32_t baseId,
                       vek_rsrc_t **outRsrcHdl, uint8_t readOnly) {
    if (!name_usable(name) || kind > VEK_RSRC_MAX_KIND) return VEK_ST_INVALID_PARAMETER;
    // Checked in 64 bits: a sum that wraps in 32 bits is still beyond the limit.
    if (kind != kUnlimitedKind && uint64_t{numElems} + baseId > VEK_RSRC_ID_LIMIT) return VEK_ST_INVALID_VALUE;
    vek_rsrc_registry_t *reg = hdl->rsrcRegistry;
    if (find_record(reg, kind, name) != nullptr) return VEK_ST_INVALID_VALUE;

    vek_rsrc_t *rec = nullptr;
    const vek_st_t st = build_record(name, numElems, readOnly, &rec);
    if (st != VEK_ST_SUCCESS) return st;
    rec->kind = kind;
    rec->numElems = numElems;
    rec->numElemsFree = numElems;
    rec->baseId = baseId;
    rec->vekHdl = hdl;
    rec->next = reg->rsrcHead;
    // Published by the one store that links it, once it is whole; a death
    // before it leaves the record unreachable, one after it a count that the
    // next locker recounts.
    vek::store_barrier();
    reg->rsrcHead = rec;
    vek::store_barrier();
    if (outRsrcHdl != nullptr) *outRsrcHdl = rec;
    reg->numRsrcs += 1;
    return VEK_ST_SUCCESS;
}

vek_st_t create_record(vek_hdl_t *hdl, uint32_t kind, const char *name, uint32_t numElems, uint32_t baseId,
                       vek_rsrc_t **outRsrcHdl, uint8_t readOnly) {
    return with_registry(hdl, [&] { return insert_record(hdl, kind, name, numElems, baseId, outRsrcHdl, readOnly); });
}

vek_st_t destroy_record(vek_hdl_t *hdl, vek_rsrc_t *rec) {
    if (!handle_valid(hdl) || rec == nullptr || !handle_valid(rec->vekHdl)) return VEK_ST_INVALID_HANDLE;
    // Both registries must exist: the record's, and the one it is removed from.
    if (rec->vekHdl->rsrcRegistry == nullptr || hdl->rsrcRegistry == nullptr) return VEK_ST_ERROR;
    vek_rsrc_registry_t *reg = hdl->rsrcRegistry;

    // Goes on whatever the lock returns; a list left half-way by a dead
    // owner is repaired before it is walked.
    vek::MutexGuard guard(&reg->mutex);
    vek_st_t k = guard.lock_status();
    if (k == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD && !repair_registry(hdl)) {
        vek_st_t ignored = VEK_ST_SUCCESS;
        guard.release(ignored);
        return VEK_ST_ERROR;
    }

    vek_rsrc_t **link = &reg->rsrcHead;
    while (*link != nullptr && *link != rec) link = &(*link)->next;
    if (*link == nullptr) {
        // Not in this registry; a dead owner seen by the lock is still reported.
        if (k != VEK_ST_PTHREAD_MUTEX_OWNER_DEAD) k = VEK_ST_INVALID_PARAMETER;
    } else {
        // Unlinked and counted out before it is torn down: a death during
        // the tear-down leaves it unreachable, never released twice.
        *link = rec->next;
        vek::store_barrier();
        reg->numRsrcs -= 1;
        vek::store_barrier();
        teardown_record(rec, k, Teardown::NameFirst);
    }
    VEK_CHECK_STRUCTURE(verify_registry(hdl));
    guard.release(k);
    return k;
}

vek_st_t find_in_registry(vek_hdl_t *hdl, uint32_t kind, const char *name, vek_rsrc_t **outRsrcHdl) {
    return with_registry(hdl, [&] {
        if (!name_usable(name) || outRsrcHdl == nullptr) return VEK_ST_INVALID_PARAMETER;
        vek_rsrc_t *rec = find_record(hdl->rsrcRegistry, kind, name);
        if (rec == nullptr) return VEK_ST_INVALID_VALUE;
        *outRsrcHdl = rec;
        return VEK_ST_SUCCESS;
    });
}

} // namespace

extern "C" VEK_API vek_st_t vek_rsrc_create_intern(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name,
                                                   uint32_t inNumelems, uint32_t inBaseId, vek_rsrc_t **outRsrcHdl,
                                                   uint8_t readOnly) {
    const vek::trace::Call call(__func__, {{"inVekHdl", inVekHdl},
                                           {"inKind", inKind},
                                           {"inNumelems", inNumelems},
                                           {"inBaseId", inBaseId},
                                           {"outRsrcHdl", outRsrcHdl},
                                           {"readOnly", readOnly}});
    const vek_st_t st = create_record(inVekHdl, inKind, name, inNumelems, inBaseId, outRsrcHdl, readOnly);
    call.exit({{"vekStatus", st}});
    return st;
}

// Its entry line ends with a space; the rest is vek_rsrc_create_intern's.
extern "C" VEK_API vek_st_t vek_rsrc_create(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name, uint32_t inNumelems,
                                            uint32_t inBaseId, vek_rsrc_t **outRsrcHdl) {
    using vek::trace::widen;
    const vek::trace::Call call(__func__);
    vek::trace::raw("%s inVekHdl=%llx inKind=%llx inNumelems=%llx inBaseId=%llx outRsrcHdl=%llx \n", call.op(),
                    widen(inVekHdl), widen(inKind), widen(inNumelems), widen(inBaseId), widen(outRsrcHdl));
    return vek_rsrc_create_intern(inVekHdl, inKind, name, inNumelems, inBaseId, outRsrcHdl, 0);
}

extern "C" VEK_API vek_st_t vek_rsrc_destroy(vek_hdl_t *inVekHdl, vek_rsrc_t *inRsrcHdl) {
    const vek::trace::Call call(__func__, {{"inVekHdl", inVekHdl}, {"inRsrcHdl", inRsrcHdl}});
    const vek_st_t st = destroy_record(inVekHdl, inRsrcHdl);
    call.exit({{"vekStatus", st}});
    return st;
}

extern "C" VEK_API vek_st_t vek_rsrc_find(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name,
                                          vek_rsrc_t **outRsrcHdl) {
    const vek::trace::Call call(__func__, {{"inVekHdl", inVekHdl}, {"inKind", inKind}, {"outRsrcHdl", outRsrcHdl}});
    const vek_st_t st = find_in_registry(inVekHdl, inKind, name, outRsrcHdl);
    call.exit({{"vekStatus", st}, {"outRsrcHdl", vek::trace::out_value(outRsrcHdl)}});
    return st;
}
