// The test process's own attachment to a region the peers share: the
// device, ledger and pool found or made as a peer does, and the audit that
// follows the peers' end (what the dead held freed, the pool whole again,
// their leftover resources destroyed, the region's check passed).
#pragma once

#include <pthread.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <vek_region.h>

#include "../rsrc/process_support.hpp"

#include "region_ledger.hpp"

namespace regiontest {

constexpr vek_st_t kDead = VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;

inline bool held_status(vek_st_t st) { return st == VEK_ST_SUCCESS || st == kDead; }

// Whether a process-shared robust mutex reports the death of its owner
// here (qemu-user does not implement robust futex lists): tried, not assumed.
using proctest::robust_mutexes_work;

class Attached {
public:
    Attached() = default;
    ~Attached() { close(); }
    Attached(const Attached &) = delete;
    Attached &operator=(const Attached &) = delete;

    vek_st_t open(const char *name, size_t size, uint32_t flags) {
        close();
        return vek_region_open(name, size, flags, &region_);
    }
    void close() {
        vek_region_close(region_);
        region_ = nullptr;
    }
    vek_region_t *region() const { return region_; }

    // The shared objects, made as a peer makes them when absent.
    vek_st_t make_objects() {
        void *object = nullptr;
        vek_st_t st = vek_region_object(region_, kDeviceObject, sizeof(vek_hdl_t), init_device, nullptr, &object);
        if (st != VEK_ST_SUCCESS) return st;
        hdl_ = static_cast<vek_hdl_t *>(object);
        st = vek_region_object(region_, kLedgerObject, sizeof(Ledger), nullptr, nullptr, &object);
        if (st != VEK_ST_SUCCESS) return st;
        ledger_ = static_cast<Ledger *>(object);
        return get_pool(hdl_, &pool_);
    }

    // The shared objects the peers made; false when one is missing.
    bool find_objects() {
        void *object = nullptr;
        size_t size = 0;
        if (vek_region_object_find(region_, kDeviceObject, &object, &size) != VEK_ST_SUCCESS ||
            size != sizeof(vek_hdl_t)) {
            return false;
        }
        hdl_ = static_cast<vek_hdl_t *>(object);
        if (vek_region_object_find(region_, kLedgerObject, &object, &size) != VEK_ST_SUCCESS ||
            size != sizeof(Ledger)) {
            return false;
        }
        ledger_ = static_cast<Ledger *>(object);
        return held_status(vek_rsrc_find(hdl_, kPoolKind, kPoolName, &pool_)) && pool_ != nullptr;
    }

    vek_hdl_t *hdl() const { return hdl_; }
    Ledger &ledger() const { return *ledger_; }
    vek_rsrc_t *pool() const { return pool_; }

    uint32_t programs() const { return __atomic_load_n(&ledger_->programs, __ATOMIC_SEQ_CST); }

    // Frees what a dead program marked as its own in the ledger (those
    // identifiers are still allocated); the count of identifiers freed.
    uint32_t reclaim(uint32_t dead, std::string &problems) {
        uint32_t freed = 0;
        for (uint32_t i = 0; i < kPoolIds; ++i) {
            uint32_t expected = dead;
            if (__atomic_compare_exchange_n(&ledger_->owner[i], &expected, 0u, false, __ATOMIC_SEQ_CST,
                                            __ATOMIC_SEQ_CST)) {
                const vek_st_t st = vek_rsrc_free(pool_, kPoolBase + i, 1);
                if (!held_status(st)) problems += "free of a dead program's identifier: " + std::to_string(st) + "\n";
                ++freed;
            }
        }
        return freed;
    }

    struct Audit {
        uint32_t reclaimed = 0; // identifiers marked by a program that is gone
        uint32_t unmarked = 0;  // allocated but marked by nobody (a death between the two)
        uint32_t leftovers = 0; // resources of dead programs still in the registry
        std::string problems;   // empty: everything whole
    };

    // With no peer running: frees every identifier (marked or not),
    // destroys the resources the dead left (this process must have the
    // region as its robust memory for that), then checks that the pool is
    // whole, a whole-pool allocation succeeds and the region is whole.
    Audit audit() {
        Audit a;
        for (uint32_t i = 0; i < kPoolIds; ++i) {
            const uint32_t owner = __atomic_exchange_n(&ledger_->owner[i], 0u, __ATOMIC_SEQ_CST);
            // A test that takes the lock over from a dead owner answers 0
            // whatever the bit says (with 8000): ask again.
            uint8_t set = 0;
            vek_st_t st = vek_rsrc_issetv2(pool_, kPoolBase + i, &set);
            if (st == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD) st = vek_rsrc_issetv2(pool_, kPoolBase + i, &set);
            if (!held_status(st)) a.problems += "issetv2: status " + std::to_string(st) + "\n";
            if (owner != 0 && set != 1) a.problems += "marked identifier free: " + std::to_string(kPoolBase + i) + "\n";
            if (set != 1) continue;
            ++(owner != 0 ? a.reclaimed : a.unmarked);
            if (!held_status(vek_rsrc_free(pool_, kPoolBase + i, 1))) a.problems += "free in the audit\n";
        }
        std::vector<vek_rsrc_t *> left;
        for (vek_rsrc_t *rec = hdl_->rsrcRegistry->rsrcHead; rec != nullptr; rec = rec->next) {
            if (rec != pool_) left.push_back(rec);
        }
        for (vek_rsrc_t *rec : left) {
            ++a.leftovers;
            if (!held_status(vek_rsrc_destroy(hdl_, rec))) a.problems += "destroy of a dead program's resource\n";
        }
        vek_rsrc_info_t info{};
        if (!held_status(vek_rsrc_query(pool_, &info)) || info.numElemsFree != kPoolIds) {
            a.problems += "pool not free after the audit: " + std::to_string(info.numElemsFree) + " by its count, " +
                          std::to_string(vek_bitmap_count(pool_->bitmap, 0)) + " by its bitmap\n";
            for (uint32_t i = 0; i < kPoolIds; ++i) {
                uint8_t set = 0;
                vek_rsrc_issetv2(pool_, kPoolBase + i, &set);
                if (set != 0) a.problems += "still set: " + std::to_string(kPoolBase + i) + "\n";
            }
        }
        uint32_t first = 0;
        if (!held_status(vek_rsrc_allocate(pool_, kPoolIds, &first)) || first != kPoolBase ||
            !held_status(vek_rsrc_free(pool_, first, kPoolIds))) {
            a.problems += "whole-pool allocation failed\n";
        }
        const char *violation = "(check not run)";
        if (vek_region_check(region_, &violation) != VEK_ST_SUCCESS || violation != nullptr) {
            a.problems += std::string("region check: ") + (violation != nullptr ? violation : "status") + "\n";
        }
        return a;
    }

private:
    vek_region_t *region_ = nullptr;
    vek_hdl_t *hdl_ = nullptr;
    Ledger *ledger_ = nullptr;
    vek_rsrc_t *pool_ = nullptr;
};

} // namespace regiontest
