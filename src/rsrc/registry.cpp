// The registry of a device handle: set-up, tear-down and the printed table.
#include <cstdio>

#include "foundation/memory.hpp"
#include "foundation/trace.hpp"
#include "rsrc/rsrc_internal.hpp"

using namespace vek::rsrc;

namespace {

vek_st_t init_registry(vek_hdl_t *hdl) {
    if (!handle_valid(hdl)) return VEK_ST_INVALID_HANDLE;
    if (hdl->rsrcRegistry != nullptr) return VEK_ST_SUCCESS;

    // Zero-filled: numRsrcs and rsrcHead start at 0.
    vek_rsrc_registry_t *reg = nullptr;
    vek_st_t st = vek::robust_alloc(&reg, VEK_NVM_ZERO_FILL);
    if (st != VEK_ST_SUCCESS) return st;

    st = vek_mutex_init(&reg->mutex, VEK_MUTEX_SHARED);
    if (st != VEK_ST_SUCCESS) {
        // A registry without a working mutex is not kept.
        vek::merge_status(st, vek::robust_free(&reg));
        return st;
    }
    // Published once its mutex works; a death before leaves it unreachable.
    vek::store_barrier();
    hdl->rsrcRegistry = reg;
    return VEK_ST_SUCCESS;
}

vek_st_t release_registry(vek_hdl_t *hdl) {
    if (!handle_valid(hdl)) return VEK_ST_INVALID_HANDLE;
    vek_rsrc_registry_t *reg = hdl->rsrcRegistry;
    if (reg == nullptr) return VEK_ST_SUCCESS;

    // Goes on whatever the lock returns; the mutex is destroyed below, so a
    // lock that holds it (dead owner included) is unlocked first. A list
    // left half-way by a dead owner is repaired before it is walked.
    vek::MutexGuard guard(&reg->mutex);
    vek_st_t k = guard.lock_status();
    if (k == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD) repair_registry(hdl); // a list cut short is released as far as it goes
    // Each record is unlinked before it is torn down, and the registry is
    // taken from the handle before it goes: a death at any point leaves a
    // handle whose registry, if any, holds only whole records.
    while (vek_rsrc_t *rec = reg->rsrcHead) {
        reg->rsrcHead = rec->next;
        vek::store_barrier();
        reg->numRsrcs -= 1;
        vek::store_barrier();
        teardown_record(rec, k, Teardown::BitmapFirst);
    }
    reg->numRsrcs = 0;
    vek::store_barrier();
    hdl->rsrcRegistry = nullptr;
    vek::store_barrier();
    guard.release(k);
    vek::merge_status(k, vek_mutex_destroy(&reg->mutex));
    vek::merge_status(k, vek::robust_free(&reg));
    return k;
}

vek_st_t dump_registry(vek_hdl_t *hdl, uint32_t kind) {
    vek_st_t st = check_handle(hdl);
    if (st != VEK_ST_SUCCESS) return st;
    if (kind > VEK_RSRC_KIND_ALL) return VEK_ST_INVALID_PARAMETER;
    return with_registry(hdl, [&] {
        const vek_rsrc_registry_t *reg = hdl->rsrcRegistry;
        std::puts("Kind Name                            BaseId    NumElems  NumElemsFree");
        for (const vek_rsrc_t *rec = reg->rsrcHead; rec != nullptr; rec = rec->next) {
            if (kind != VEK_RSRC_KIND_ALL && rec->kind != kind) continue;
            std::printf("%3d  %32s  %8d  %8d  %8d\n", static_cast<int>(rec->kind), rec->name,
                        static_cast<int>(rec->baseId), static_cast<int>(rec->numElems),
                        static_cast<int>(rec->numElemsFree));
        }
        return VEK_ST_SUCCESS;
    });
}

} // namespace

// Set-up and tear-down are not traced.
extern "C" VEK_API vek_st_t vek_rsrc_init(vek_hdl_t *inVekHdl) {
    const vek::trace::Call call(__func__);
    return init_registry(inVekHdl);
}

extern "C" VEK_API vek_st_t vek_rsrc_release(vek_hdl_t *inVekHdl) {
    const vek::trace::Call call(__func__);
    return release_registry(inVekHdl);
}

extern "C" VEK_API vek_st_t vek_rsrc_dump(vek_hdl_t *inVekHdl, uint32_t inKind) {
    const vek::trace::Call call(__func__, {{"inVekHdl", inVekHdl}, {"inKind", inKind}});
    const vek_st_t st = dump_registry(inVekHdl, inKind);
    call.exit({{"vekStatus", st}});
    return st;
}
