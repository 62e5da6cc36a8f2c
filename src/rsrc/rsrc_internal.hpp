// Shared pieces of the resource registry: the handle and record checks, the
// one place where a mutex is taken and the body's status merged with the
// lock and unlock statuses, and the tear-down of a record.
#pragma once

#include <vek/vek_rsrc.h>

#include "device/handle.hpp"
#include "foundation/check.hpp"
#include "foundation/status_merge.hpp"
#include "foundation/store_order.hpp"

namespace vek::rsrc {

// Kind without the 2^24 limit on baseId + numElems.
inline constexpr uint32_t kUnlimitedKind = 5;

// A handle is valid when it is not null and carries the magic word: the
// test of vek_validate_handle.
using vek::device::handle_valid;

// Operations taking a device handle: 5 when it is not valid, 1 when it has
// no registry, else 0.
inline vek_st_t check_handle(const vek_hdl_t *hdl) {
    if (!handle_valid(hdl)) return VEK_ST_INVALID_HANDLE;
    if (hdl->rsrcRegistry == nullptr) return VEK_ST_ERROR;
    return VEK_ST_SUCCESS;
}

// Operations taking a record: the record and the handle it belongs to.
// The record is not looked up in the registry's list.
inline vek_st_t check_record(const vek_rsrc_t *rec) {
    if (rec == nullptr) return VEK_ST_INVALID_HANDLE;
    return check_handle(rec->vekHdl);
}

// Runs body() with *m held and returns its status merged with the lock's
// and the unlock's. A lock that fails returns its status at once and
// nothing is unlocked. A lock that reports a dead owner holds the mutex:
// repair() first brings what the mutex guards back to a whole state (it
// runs on that path only), then the body runs as after a successful lock
// and the 8000 is reported. A structure that the repair cannot make whole
// is not touched: the mutex is unlocked and VEK_ST_ERROR returned.
template <typename Repair, typename Body>
vek_st_t locked(vek_mutex_t *m, Repair &&repair, Body &&body) {
    MutexGuard guard(m);
    if (!guard.held()) return guard.lock_status();
    vek_st_t st = guard.lock_status();
    if (st == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD && !repair()) {
        vek_st_t ignored = VEK_ST_SUCCESS;
        guard.release(ignored);
        return VEK_ST_ERROR;
    }
    merge_status(st, body());
    guard.release(st);
    return st;
}

// Structure checks (see foundation/check.hpp). A record: its name, kind and
// handle, its bitmap whole, of its size, and the free count equal to the
// bitmap's free identifiers (a read-only record's equal to numElems). A
// registry: its list ends, holds only records in place (named, of a kind in
// range, of a handle of this registry) and numRsrcs of them.
const char *verify_record(const vek_rsrc_t *rec);
const char *verify_registry(const vek_hdl_t *hdl);

// What a walk of a registry's list finds: the records up to the first that
// is not in place (`bad`), or the loop.
struct ListShape {
    uint32_t count = 0;
    const vek_rsrc_t *bad = nullptr;
    bool looped = false;
};
ListShape list_shape(const vek_hdl_t *hdl);
bool record_in_place(const vek_hdl_t *hdl, const vek_rsrc_t *rec);

// Repairs after a dead owner (repair.cpp); true when the structure is whole
// afterwards.
bool repair_record(vek_rsrc_t *rec);
bool repair_registry(vek_hdl_t *hdl);

// Record check, then body() with the record's mutex held, as locked(): a
// dead owner's record is repaired first, and in checked builds the record
// is checked after the body, the mutex still held.
template <typename Body>
vek_st_t with_record(vek_rsrc_t *rec, Body &&body) {
    const vek_st_t st = check_record(rec);
    if (st != VEK_ST_SUCCESS) return st;
    return locked(
        &rec->mutex, [rec] { return repair_record(rec); },
        [&] {
            const vek_st_t s = body();
            VEK_CHECK_STRUCTURE(verify_record(rec));
            return s;
        });
}

// check_handle(), then body() with the registry's mutex held, as locked():
// a dead owner's list is repaired first, and in checked builds the registry
// is checked after the body.
template <typename Body>
vek_st_t with_registry(vek_hdl_t *hdl, Body &&body) {
    const vek_st_t st = check_handle(hdl);
    if (st != VEK_ST_SUCCESS) return st;
    return locked(
        &hdl->rsrcRegistry->mutex, [hdl] { return repair_registry(hdl); },
        [&] {
            const vek_st_t s = body();
            VEK_CHECK_STRUCTURE(verify_registry(hdl));
            return s;
        });
}

// The order in which a record's name block and bitmap go.
enum class Teardown { BitmapFirst, NameFirst };

// Ends a record that is no longer reachable from the list: locks it, drops
// its bitmap and name, unlocks it when the lock is held (a lock that
// reported a dead owner included), destroys its mutex and releases the
// block. Every status is merged into k; every step runs whatever failed.
void teardown_record(vek_rsrc_t *rec, vek_st_t &k, Teardown order);

} // namespace vek::rsrc
