// What the region tests and their peer program share: the named objects
// every program finds in a region (the device handle and the ledger of
// identifier owners and counters), the pool resource, the peer's exit codes
// and the form of its summary line.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vek/vek_rsrc.h>

namespace regiontest {

// The shared device handle: a named object initialised once, by whichever
// program comes first.
constexpr const char *kDeviceObject = "device";
// The ledger: which program holds each identifier of the pool, and counters.
constexpr const char *kLedgerObject = "ledger";

// The resource every program allocates from.
constexpr const char *kPoolName = "pool";
constexpr uint32_t kPoolKind = 1;
constexpr uint32_t kPoolIds = 96;
constexpr uint32_t kPoolBase = 5000;
// Kind of the resources each program creates and destroys for itself
// (named "p<pid>").
constexpr uint32_t kOwnKind = 2;

struct Ledger {
    uint32_t owner[kPoolIds]; // pid of the program holding the identifier, 0: nobody
    uint64_t allocations;     // identifiers handed out, every program counted
    uint64_t frees;           // identifiers given back
    uint64_t repairs;         // calls that reported a dead owner (8000)
    uint32_t violations;
    uint32_t programs; // programs that got as far as their loop
    char first_violation[160];
};

// Initialiser of the device object: the handle set up as the library asks.
inline vek_st_t init_device(void *object, size_t size, void *) {
    if (size != sizeof(vek_hdl_t)) return VEK_ST_INVALID_PARAMETER;
    auto *hdl = static_cast<vek_hdl_t *>(object);
    hdl->magic = VEK_HDL_MAGIC;
    hdl->rsrcRegistry = nullptr;
    return vek_rsrc_init(hdl);
}

// Creates the pool, or finds it when another program was first (a dead
// owner's 8000 hides the create's refusal, so the record pointer tells).
inline vek_st_t get_pool(vek_hdl_t *hdl, vek_rsrc_t **pool) {
    *pool = nullptr;
    vek_st_t st = vek_rsrc_create(hdl, kPoolKind, kPoolName, kPoolIds, kPoolBase, pool);
    if (*pool == nullptr) st = vek_rsrc_find(hdl, kPoolKind, kPoolName, pool);
    return *pool == nullptr && st == VEK_ST_SUCCESS ? VEK_ST_INVALID_VALUE : st;
}

// Exit codes of the peer.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitSetup = 3;      // region, device, ledger or pool not reached
constexpr int kExitViolation = 4;  // an invariant did not hold
constexpr int kExitOpenFailed = 5; // role "open": the region could not be opened
// The status the platform library's start-up ends a program with when the
// region its environment names cannot be opened.
constexpr int kExitEnvRegion = 70;

// Summary line of a working peer:
//   "peer <pid>: <a> allocations, <f> frees, <r> repairs, <v> violations, device <address>"
constexpr const char *kSummaryFormat =
    "peer %u: %llu allocations, %llu frees, %llu repairs, %u violations, device %p\n";

} // namespace regiontest
