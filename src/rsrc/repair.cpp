// Repair after a dead owner: a lock that reports VEK_ST_PTHREAD_MUTEX_OWNER_DEAD
// holds a mutex whose previous owner was killed inside its critical
// section, and the structure it guards may be half-way through a change.
// These functions bring it back to a whole state before the operation goes
// on; they run only on that path.
//
// What a death can leave, and why the repair suffices:
//  - record (allocate, allocate_fixed, free): bitmap words changed and the
//    free count not, or a run spanning words half set or half cleared. The
//    bits are taken as they stand (a half-set run stays in use until it is
//    freed; a half-cleared one is free where it was cleared), the free
//    count is derived from them and the hint made valid.
//  - registry (create, destroy, release): records are published by the
//    store of the list pointer that links them, after they are whole, and
//    unlinked before they are torn down, so the list is always walkable and
//    holds only whole records; numRsrcs may lag by one and is recounted. A
//    record a dead create built but never linked, or a dead destroy
//    unlinked but never released, is unreachable: it stays allocated and
//    is never released twice.
// A list that is not walkable (a loop, a record that is not whole) cannot
// come from a death; it is cut before the first bad link all the same, so
// that no operation follows it.
#include "bitmap/bitmap_check.hpp"
#include "rsrc/rsrc_internal.hpp"

namespace vek::rsrc {

bool repair_record(vek_rsrc_t *rec) {
    if (rec->bitmap != nullptr) {
        vek_bitmap_t *map = rec->bitmap;
        // The header, size and words never change after creation.
        if (map->bits == nullptr || map->size != (rec->numElems == 0u ? 1u : rec->numElems) ||
            map->words_needed != (uint64_t{map->size} + 31u) / 32u) {
            return false;
        }
        vek::bitmap::mend(map);
        rec->numElemsFree = vek::bitmap::count_free(*map, rec->numElems);
    }
    return verify_record(rec) == nullptr;
}

namespace {

// The record where a looping list comes back to (Brent: the loop's length,
// then two walkers that length apart meet at its start).
vek_rsrc_t *loop_start(vek_rsrc_registry_t *reg) {
    vek_rsrc_t *mark = reg->rsrcHead, *rec = reg->rsrcHead;
    uint32_t power = 1, length = 0;
    for (;;) {
        if (rec == nullptr) return nullptr;
        rec = rec->next;
        ++length;
        if (rec == mark) break;
        if (length == power) {
            mark = rec;
            power *= 2u;
            length = 0;
        }
    }
    vek_rsrc_t *ahead = reg->rsrcHead, *behind = reg->rsrcHead;
    for (uint32_t i = 0; i < length; ++i) ahead = ahead->next;
    while (ahead != behind) {
        ahead = ahead->next;
        behind = behind->next;
    }
    return behind;
}

} // namespace

bool repair_registry(vek_hdl_t *hdl) {
    vek_rsrc_registry_t *reg = hdl->rsrcRegistry;
    if (vek_rsrc_t *start = loop_start(reg)) {
        vek_rsrc_t *last = start;
        while (last->next != start) last = last->next;
        last->next = nullptr;
    }
    uint32_t count = 0;
    for (vek_rsrc_t **link = &reg->rsrcHead; *link != nullptr; link = &(*link)->next) {
        if (!record_in_place(hdl, *link)) {
            *link = nullptr;
            break;
        }
        ++count;
    }
    reg->numRsrcs = count;
    return verify_registry(hdl) == nullptr;
}

} // namespace vek::rsrc
