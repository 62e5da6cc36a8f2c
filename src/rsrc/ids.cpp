// Identifier allocation on one resource, with the record's mutex held:
// allocate, allocate at a fixed position, free, test, and query the record.
// Identifiers passed in and out are external ones (baseId included); bit i
// of the bitmap stands for baseId + i.
#include "bitmap/bitmap_internal.hpp"
#include "foundation/trace.hpp"
#include "rsrc/rsrc_internal.hpp"

using namespace vek::rsrc;

namespace {

// Checks shared by allocate and allocate_fixed, in this order.
vek_st_t check_allocatable(const vek_rsrc_t &rec, uint32_t numIds) {
    if (numIds > rec.numElemsFree) return VEK_ST_RSRC_INSUFF_IDS_AVAIL;
    if (rec.bitmap == nullptr) return VEK_ST_RSRC_READ_ONLY;
    if (numIds == 0) return VEK_ST_INVALID_PARAMETER;
    return VEK_ST_SUCCESS;
}

// Maps a bitmap reservation result to a status.
vek_st_t reservation_status(int32_t rc) {
    switch (rc) {
    case 0: return VEK_ST_SUCCESS;
    case -2: return VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE;
    default: return VEK_ST_INVALID_PARAMETER;
    }
}

vek_st_t allocate_ids(vek_rsrc_t *rec, uint32_t numIds, uint32_t *outStartId) {
    return with_record(rec, [&] {
        vek_st_t s = check_allocatable(*rec, numIds);
        if (s != VEK_ST_SUCCESS) return s;
        if (outStartId == nullptr) return VEK_ST_INVALID_PARAMETER;
        // The bitmap stores the first bit of the run; the caller gets baseId + bit.
        s = reservation_status(vek_bitmap_reserve(rec->bitmap, numIds, outStartId));
        if (s != VEK_ST_SUCCESS) return s;
        rec->numElemsFree -= numIds;
        *outStartId += rec->baseId;
        return VEK_ST_SUCCESS;
    });
}

// Offset of an identifier inside the resource, or false when it lies outside.
bool offset_of(const vek_rsrc_t &rec, uint32_t id, uint32_t *offset) {
    if (id < rec.baseId || id - rec.baseId >= rec.numElems) return false;
    *offset = id - rec.baseId;
    return true;
}

vek_st_t allocate_fixed_ids(vek_rsrc_t *rec, uint32_t numIds, uint32_t startId) {
    return with_record(rec, [&] {
        vek_st_t s = check_allocatable(*rec, numIds);
        if (s != VEK_ST_SUCCESS) return s;
        uint32_t offset = 0;
        if (!offset_of(*rec, startId, &offset)) return VEK_ST_INVALID_PARAMETER;
        s = reservation_status(vek_bitmap_reserve_fixed(rec->bitmap, numIds, offset));
        if (s != VEK_ST_SUCCESS) return s;
        rec->numElemsFree -= numIds;
        return VEK_ST_SUCCESS;
    });
}

vek_st_t free_ids(vek_rsrc_t *rec, uint32_t startId, uint32_t numIds) {
    return with_record(rec, [&] {
        if (numIds == 0) return VEK_ST_INVALID_PARAMETER;
        // The run must lie inside the resource; the end is computed in 64 bits.
        if (startId < rec->baseId) return VEK_ST_INVALID_PARAMETER;
        if (uint64_t{startId} + numIds > uint64_t{rec->baseId} + rec->numElems) return VEK_ST_INVALID_PARAMETER;
        if (rec->bitmap == nullptr) return VEK_ST_RSRC_READ_ONLY;
        const uint32_t offset = startId - rec->baseId;
        if (!vek::bitmap::run_all_set(*rec->bitmap, offset, numIds)) return VEK_ST_INVALID_PARAMETER;
        vek_bitmap_unreserve(rec->bitmap, numIds, offset);
        rec->numElemsFree += numIds;
        return VEK_ST_SUCCESS;
    });
}

// The answer of isset and issetv2: 1 when id is in use. Every identifier of
// a read-only resource is in use.
uint8_t id_in_use(const vek_rsrc_t &rec, uint32_t id) {
    const uint32_t offset = id - rec.baseId;
    if (rec.bitmap == nullptr) return offset < rec.numElems ? 1 : 0;
    return vek_bitmap_isset(rec.bitmap, offset) == 1 ? 1 : 0;
}

// Any failure, a dead owner or a failing unlock included, answers 0.
// has_out false: the caller has nowhere to put the answer (7).
vek_st_t test_id(vek_rsrc_t *rec, uint32_t id, bool has_out, uint8_t *answer) {
    uint8_t a = 0;
    const vek_st_t st = with_record(rec, [&] {
        if (!has_out) return VEK_ST_INVALID_PARAMETER;
        a = id_in_use(*rec, id);
        return VEK_ST_SUCCESS;
    });
    *answer = st == VEK_ST_SUCCESS ? a : 0;
    return st;
}

vek_st_t query_record(vek_rsrc_t *rec, vek_rsrc_info_t *outInfo) {
    return with_record(rec, [&] {
        if (outInfo == nullptr) return VEK_ST_INVALID_PARAMETER;
        outInfo->kind = rec->kind;
        outInfo->name = rec->name;
        outInfo->baseId = rec->baseId;
        outInfo->numElems = rec->numElems;
        outInfo->numElemsFree = rec->numElemsFree;
        return VEK_ST_SUCCESS;
    });
}

} // namespace

extern "C" VEK_API vek_st_t vek_rsrc_allocate(vek_rsrc_t *inRsrcHdl, uint32_t inNumIds, uint32_t *outStartId) {
    const vek::trace::Call call(__func__,
                                {{"inRsrcHdl", inRsrcHdl}, {"inNumIds", inNumIds}, {"outStartId", outStartId}});
    const vek_st_t st = allocate_ids(inRsrcHdl, inNumIds, outStartId);
    call.exit({{"vekStatus", st}, {"outStartId", vek::trace::out_value(outStartId)}});
    return st;
}

extern "C" VEK_API vek_st_t vek_rsrc_allocate_fixed(vek_rsrc_t *inRsrcHdl, uint32_t inNumIds, uint32_t inStartId) {
    const vek::trace::Call call(__func__, {{"inRsrcHdl", inRsrcHdl}, {"inNumIds", inNumIds}, {"inStartId", inStartId}});
    const vek_st_t st = allocate_fixed_ids(inRsrcHdl, inNumIds, inStartId);
    call.exit({{"vekStatus", st}});
    return st;
}

extern "C" VEK_API vek_st_t vek_rsrc_free(vek_rsrc_t *inRsrcHdl, uint32_t inStartId, uint32_t inNumIds) {
    const vek::trace::Call call(__func__, {{"inRsrcHdl", inRsrcHdl}, {"inStartId", inStartId}, {"inNumIds", inNumIds}});
    const vek_st_t st = free_ids(inRsrcHdl, inStartId, inNumIds);
    call.exit({{"vekStatus", st}});
    return st;
}

extern "C" VEK_API uint32_t vek_rsrc_isset(vek_rsrc_t *inRsrcHdl, uint32_t inId) {
    const vek::trace::Call call(__func__, {{"inRsrcHdl", inRsrcHdl}, {"inId", inId}});
    uint8_t answer = 0;
    const vek_st_t st = test_id(inRsrcHdl, inId, true, &answer);
    call.exit({{"vekStatus", st}, {"res", answer}});
    return answer;
}

extern "C" VEK_API vek_st_t vek_rsrc_issetv2(vek_rsrc_t *inRsrcHdl, uint32_t inId, uint8_t *res) {
    // The entry line names the handle "isRsrcHdl".
    const vek::trace::Call call(__func__, {{"isRsrcHdl", inRsrcHdl}, {"inId", inId}, {"res", res}});
    uint8_t answer = 0;
    const vek_st_t st = test_id(inRsrcHdl, inId, res != nullptr, &answer);
    if (res != nullptr) *res = answer;
    call.exit({{"vekStatus", st}, {"res", vek::trace::out_value(res)}});
    return st;
}

extern "C" VEK_API vek_st_t vek_rsrc_query(vek_rsrc_t *inRsrcHdl, vek_rsrc_info_t *outInfo) {
    using vek::trace::widen;
    const vek::trace::Call call(__func__, {{"inRsrcHdl", inRsrcHdl}, {"outInfo", outInfo}});
    const vek_st_t st = query_record(inRsrcHdl, outInfo);
    // The exit line labels the record's fields "outInfo:".
    if (vek::trace::on()) {
        const vek_rsrc_info_t shown = vek::trace::out_value(outInfo);
        vek::trace::raw("%s vekStatus=%llx outInfo: kind=%llx name=%llx baseId=%llx numElems=%llx numElemsFree=%llx\n",
                        call.op(), widen(st), widen(shown.kind), widen(shown.name), widen(shown.baseId),
                        widen(shown.numElems), widen(shown.numElemsFree));
    }
    return st;
}
