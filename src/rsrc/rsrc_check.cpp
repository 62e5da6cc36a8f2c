// Structure checks of the resource registry: a record (counters against
// its bitmap) and a registry (its list of records).
#include "bitmap/bitmap_check.hpp"
#include "rsrc/rsrc_internal.hpp"

namespace vek::rsrc {

const char *verify_record(const vek_rsrc_t *rec) {
    if (rec == nullptr) return "record missing";
    if (rec->name == nullptr || rec->name[0] == '\0') return "record without a name";
    if (rec->kind > VEK_RSRC_MAX_KIND) return "record kind out of range";
    if (!handle_valid(rec->vekHdl)) return "record of a handle that is not valid";
    if (rec->bitmap == nullptr) {
        // Read-only: nothing is ever taken or given back.
        return rec->numElemsFree == rec->numElems ? nullptr : "read-only record with a changed free count";
    }
    if (const char *broken = vek::bitmap::verify(rec->bitmap)) return broken;
    if (rec->bitmap->size != (rec->numElems == 0u ? 1u : rec->numElems)) {
        return "record bitmap size differs from its identifiers";
    }
    if (rec->numElemsFree != vek::bitmap::count_free(*rec->bitmap, rec->numElems)) {
        return "record free count differs from its bitmap";
    }
    return nullptr;
}

const char *verify_registry(const vek_hdl_t *hdl) {
    if (!handle_valid(hdl)) return "registry of a handle that is not valid";
    const vek_rsrc_registry_t *reg = hdl->rsrcRegistry;
    if (reg == nullptr) return "registry missing";
    const ListShape shape = list_shape(hdl);
    if (shape.looped) return "registry list loops";
    if (shape.bad != nullptr) return "registry list holds a record that is not whole";
    if (shape.count != reg->numRsrcs) return "registry count differs from its list";
    return nullptr;
}

bool record_in_place(const vek_hdl_t *hdl, const vek_rsrc_t *rec) {
    return rec->name != nullptr && rec->name[0] != '\0' && rec->kind <= VEK_RSRC_MAX_KIND &&
           handle_valid(rec->vekHdl) && rec->vekHdl->rsrcRegistry == hdl->rsrcRegistry;
}

ListShape list_shape(const vek_hdl_t *hdl) {
    ListShape shape;
    const vek_rsrc_registry_t *reg = hdl->rsrcRegistry;
    // Brent's cycle detection: `mark` is a record seen `power` steps ago at
    // most; meeting it again means the list loops.
    const vek_rsrc_t *mark = nullptr;
    uint32_t power = 1, steps = 0;
    for (const vek_rsrc_t *rec = reg->rsrcHead; rec != nullptr; rec = rec->next) {
        if (rec == mark) {
            shape.looped = true;
            return shape;
        }
        if (!record_in_place(hdl, rec)) {
            shape.bad = rec;
            return shape;
        }
        ++shape.count;
        if (++steps == power) {
            mark = rec;
            power *= 2u;
            steps = 0;
        }
    }
    return shape;
}

} // namespace vek::rsrc
