// Shared pieces of the resource registry: the handle and record checks, the
// one place where a mutex is taken and the body's status merged with the
// lock and unlock statuses, and the tear-down of a record.
#pragma once

#include <vek/vek_rsrc.h>

#include "foundation/status_merge.hpp"

namespace vek::rsrc {

// Kind without the 2^24 limit on baseId + numElems.
inline constexpr uint32_t kUnlimitedKind = 5;

// A handle is valid when it is not null and carries the magic word.
inline bool handle_valid(const vek_hdl_t *hdl) { return hdl != nullptr && hdl->magic == VEK_HDL_MAGIC; }

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
// nothing is unlocked; a lock that reports a dead owner holds the mutex, so
// the body runs as after a successful lock and the 8000 is reported.
template <typename Body>
vek_st_t locked(vek_mutex_t *m, Body &&body) {
    MutexGuard guard(m);
    if (!guard.held()) return guard.lock_status();
    vek_st_t st = guard.lock_status();
    merge_status(st, body());
    guard.release(st);
    return st;
}

// Record check, then body() with the record's mutex held, as locked().
template <typename Body>
vek_st_t with_record(vek_rsrc_t *rec, Body &&body) {
    const vek_st_t st = check_record(rec);
    if (st != VEK_ST_SUCCESS) return st;
    return locked(&rec->mutex, body);
}

// The order in which a record's name block and bitmap go.
enum class Teardown { BitmapFirst, NameFirst };

// Ends a record that is no longer reachable from the list: locks it, drops
// its bitmap and name, unlocks it when the lock is held (a lock that
// reported a dead owner included), destroys its mutex and releases the
// block. Every status is merged into k; every step runs whatever failed.
void teardown_record(vek_rsrc_t *rec, vek_st_t &k, Teardown order);

} // namespace vek::rsrc
