// The peer program of the region tests: an independent program that the
// tests start (posix_spawn) several times at once, so that programs which
// share nothing but a region's name share a device handle and its registry.
//
//   region_peer work NAME [--size BYTES] [--iterations N] [--seconds S]
//                         [--start-fd FD] [--env]
//     Attaches to region NAME, or creates it; finds the device handle
//     (named object "device", initialised by the first program), the ledger
//     and the pool resource, or makes them; then allocates, checks and frees
//     identifiers for N iterations or S seconds. Every identifier it is
//     given is marked with its pid in the ledger by compare-and-swap, so an
//     identifier handed to two programs at once is seen. Prints one summary
//     line (region_ledger.hpp) and exits 0, or 4 when an invariant failed.
//     --env takes the region from the environment (VEK_ROBUST_REGION)
//     instead of opening it; --start-fd waits for end-of-file on FD first,
//     so that all peers attach at the same instant.
//   region_peer open NAME
//     Attaches without creating; prints "open: status <st>: <description>"
//     and exits 0 when it could, 5 when not.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <vek_region.h>

#include "../rsrc/process_support.hpp"
#include "region_ledger.hpp"

namespace {

using namespace regiontest;

constexpr vek_st_t kDead = VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;
constexpr unsigned kLifetimeSeconds = 120; // a peer stuck longer than this dies

struct Options {
    std::string role;
    std::string name;
    size_t size = 1u << 20;
    long iterations = -1;
    double seconds = -1;
    int start_fd = -1;
    bool from_env = false;
};

int usage() {
    std::fprintf(stderr, "usage: region_peer work|open NAME [--size BYTES] [--iterations N] [--seconds S] "
                         "[--start-fd FD] [--env]\n");
    return kExitUsage;
}

bool parse(int argc, char **argv, Options &o) {
    if (argc < 3) return false;
    o.role = argv[1];
    o.name = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--env") {
            o.from_env = true;
        } else if (arg == "--size" && has_value) {
            o.size = std::strtoull(argv[++i], nullptr, 0);
        } else if (arg == "--iterations" && has_value) {
            o.iterations = std::atol(argv[++i]);
        } else if (arg == "--seconds" && has_value) {
            o.seconds = std::atof(argv[++i]);
        } else if (arg == "--start-fd" && has_value) {
            o.start_fd = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return o.role == "work" || o.role == "open";
}

// Blocks until every writer of the start pipe has closed it.
void wait_for_start(int fd) {
    char c;
    while (read(fd, &c, 1) != 0) {
        if (errno != EINTR) break;
    }
    close(fd);
}

using proctest::Rng;

bool held_status(vek_st_t st) { return st == VEK_ST_SUCCESS || st == kDead; }

// One program's work on the shared pool.
class Worker {
public:
    Worker(Ledger &ledger, vek_hdl_t *hdl, vek_rsrc_t *pool)
        : ledger_(ledger), hdl_(hdl), pool_(pool),
          me_(static_cast<uint32_t>(getpid())), rng_{(uint64_t{me_} << 24) ^
                                                     static_cast<uint64_t>(
                                                         std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                                     1u} {}

    void step() {
        const uint32_t r = rng_.next(100);
        if (r < 45) {
            const uint32_t n = 1 + rng_.next(4);
            // An 8000 does not tell whether the allocation happened: the
            // out-parameter does (it is written only then).
            uint32_t start = UINT32_MAX;
            const vek_st_t st = counted(vek_rsrc_allocate(pool_, n, &start));
            if (held_status(st)) {
                if (start != UINT32_MAX) take(start, n);
            } else if (st != VEK_ST_RSRC_INSUFF_IDS_AVAIL && st != VEK_ST_INVALID_PARAMETER) {
                // (7: enough identifiers free, but no run of them long enough.)
                violation("allocate: status ", st);
            }
        } else if (r < 55) {
            const uint32_t n = 1 + rng_.next(2);
            const uint32_t start = kPoolBase + rng_.next(kPoolIds - n + 1);
            const vek_st_t st = counted(vek_rsrc_allocate_fixed(pool_, n, start));
            // Taken or not after an 8000: nothing tells, so the run is left
            // to the reconciliation, as a dead program's.
            if (st == VEK_ST_SUCCESS) {
                take(start, n);
            } else if (st != kDead && st != VEK_ST_RSRC_INSUFF_IDS_AVAIL &&
                       st != VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE) {
                violation("allocate_fixed: status ", st);
            }
        } else if (r < 90) {
            if (!held_.empty()) give_back(rng_.next(static_cast<uint32_t>(held_.size())));
        } else if (r < 95) {
            own_resource();
        } else {
            verify();
        }
        if (held_.size() > 6) give_back(0);
    }

    void finish() {
        verify();
        while (!held_.empty()) give_back(0);
    }

    void summary() const {
        std::printf(kSummaryFormat, me_, static_cast<unsigned long long>(allocations_),
                    static_cast<unsigned long long>(frees_), static_cast<unsigned long long>(repairs_), violations_,
                    static_cast<void *>(hdl_));
        std::fflush(stdout);
    }

    uint32_t violations() const { return violations_; }

private:
    struct Run {
        uint32_t start, n;
    };

    vek_st_t counted(vek_st_t st) {
        if (st == kDead) {
            ++repairs_;
            __atomic_fetch_add(&ledger_.repairs, 1u, __ATOMIC_SEQ_CST);
        }
        return st;
    }

    void violation(const char *what, long long value) {
        ++violations_;
        char text[sizeof ledger_.first_violation];
        std::snprintf(text, sizeof text, "peer %u: %s%lld", me_, what, value);
        std::fprintf(stderr, "%s\n", text);
        if (__atomic_fetch_add(&ledger_.violations, 1u, __ATOMIC_SEQ_CST) == 0u) {
            std::memcpy(ledger_.first_violation, text, sizeof text);
        }
    }

    uint32_t *owner(uint32_t id) { return &ledger_.owner[id - kPoolBase]; }

    void take(uint32_t start, uint32_t n) {
        if (start < kPoolBase || start - kPoolBase + n > kPoolIds) {
            violation("allocation outside the pool at ", start);
            return;
        }
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t expected = 0;
            if (!__atomic_compare_exchange_n(owner(start + i), &expected, me_, false, __ATOMIC_SEQ_CST,
                                             __ATOMIC_SEQ_CST)) {
                violation("identifier given while another program holds it: ", start + i);
            }
        }
        held_.push_back({start, n});
        allocations_ += n;
        __atomic_fetch_add(&ledger_.allocations, n, __ATOMIC_SEQ_CST);
    }

    void give_back(size_t k) {
        const Run r = held_[k];
        held_.erase(held_.begin() + static_cast<long>(k));
        for (uint32_t i = 0; i < r.n; ++i) {
            uint32_t expected = me_;
            if (!__atomic_compare_exchange_n(owner(r.start + i), &expected, 0u, false, __ATOMIC_SEQ_CST,
                                             __ATOMIC_SEQ_CST)) {
                violation("identifier held by this program marked by another: ", r.start + i);
            }
        }
        const vek_st_t st = counted(vek_rsrc_free(pool_, r.start, r.n));
        if (!held_status(st)) violation("free of a held run: status ", st);
        frees_ += r.n;
        __atomic_fetch_add(&ledger_.frees, r.n, __ATOMIC_SEQ_CST);
    }

    // A resource of its own, created, used and destroyed: the registry's
    // list and the region's allocator change under the other programs.
    void own_resource() {
        char name[24];
        std::snprintf(name, sizeof name, "p%u", me_);
        vek_rsrc_t *mine = nullptr;
        vek_st_t st = counted(vek_rsrc_create(hdl_, kOwnKind, name, 16, 0, &mine));
        if (st == VEK_ST_NO_MEMORY) return; // a full region refuses it and changes nothing
        // Left by a dead program of the same pid: found instead (a dead
        // owner's 8000 hides the create's refusal, so the pointer tells).
        if (mine == nullptr && (st == VEK_ST_INVALID_VALUE || st == kDead)) {
            st = counted(vek_rsrc_find(hdl_, kOwnKind, name, &mine));
        }
        if (!held_status(st) || mine == nullptr) {
            violation("create of its own resource: status ", st);
            return;
        }
        uint32_t id = 0;
        st = counted(vek_rsrc_allocate(mine, 1, &id));
        if (!held_status(st)) violation("allocate on its own resource: status ", st);
        st = counted(vek_rsrc_destroy(hdl_, mine));
        if (!held_status(st)) violation("destroy of its own resource: status ", st);
    }

    // Every identifier held is allocated and marked as this program's; the
    // pool is still the registry's.
    void verify() {
        for (const Run &r : held_) {
            for (uint32_t i = 0; i < r.n; ++i) {
                uint8_t set = 0;
                const vek_st_t st = counted(vek_rsrc_issetv2(pool_, r.start + i, &set));
                if (st == VEK_ST_SUCCESS && set != 1) violation("held identifier free in the pool: ", r.start + i);
                if (!held_status(st)) violation("issetv2: status ", st);
                if (__atomic_load_n(owner(r.start + i), __ATOMIC_SEQ_CST) != me_) {
                    violation("held identifier marked by another: ", r.start + i);
                }
            }
        }
        vek_rsrc_t *found = nullptr;
        const vek_st_t st = counted(vek_rsrc_find(hdl_, kPoolKind, kPoolName, &found));
        if (!held_status(st) || found != pool_) violation("find of the pool: status ", st);
    }

    Ledger &ledger_;
    vek_hdl_t *hdl_;
    vek_rsrc_t *pool_;
    uint32_t me_;
    Rng rng_;
    std::vector<Run> held_;
    uint64_t allocations_ = 0, frees_ = 0, repairs_ = 0;
    uint32_t violations_ = 0;
};

int setup_failed(const char *step, vek_st_t st) {
    std::fprintf(stderr, "region_peer: %s: status %d: %s\n", step, static_cast<int>(st), vek_region_error());
    return kExitSetup;
}

int open_only(const Options &o) {
    vek_region_t *region = nullptr;
    const vek_st_t st = vek_region_open(o.name.c_str(), 0, 0, &region);
    std::printf("open: status %d: %s\n", static_cast<int>(st), vek_region_error());
    std::fflush(stdout);
    vek_region_close(region);
    return st == VEK_ST_SUCCESS ? kExitOk : kExitOpenFailed;
}

int work(const Options &o) {
    vek_region_t *opened = nullptr;
    vek_region_t *region = nullptr;
    if (o.from_env) {
        region = vek_region_current();
        if (region == nullptr) return setup_failed("no region from the environment", 0);
    } else {
        const vek_st_t st = vek_region_open(o.name.c_str(), o.size, VEK_REGION_CREATE | VEK_REGION_ROBUST, &opened);
        if (st != VEK_ST_SUCCESS) return setup_failed("open", st);
        region = opened;
    }
    void *object = nullptr;
    vek_st_t st = vek_region_object(region, kDeviceObject, sizeof(vek_hdl_t), init_device, nullptr, &object);
    if (st != VEK_ST_SUCCESS) return setup_failed("device object", st);
    auto *hdl = static_cast<vek_hdl_t *>(object);
    st = vek_region_object(region, kLedgerObject, sizeof(Ledger), nullptr, nullptr, &object);
    if (st != VEK_ST_SUCCESS) return setup_failed("ledger object", st);
    auto &ledger = *static_cast<Ledger *>(object);

    vek_rsrc_t *pool = nullptr;
    st = get_pool(hdl, &pool);
    if (!held_status(st)) return setup_failed("pool", st);
    __atomic_fetch_add(&ledger.programs, 1u, __ATOMIC_SEQ_CST);

    Worker worker(ledger, hdl, pool);
    const auto began = std::chrono::steady_clock::now();
    const auto time_up = [&] {
        return o.seconds >= 0 &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() >= o.seconds;
    };
    for (long i = 0; (o.iterations < 0 || i < o.iterations) && !time_up(); ++i) worker.step();
    worker.finish();
    worker.summary();
    vek_region_close(opened);
    return worker.violations() == 0 ? kExitOk : kExitViolation;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) return usage();
    alarm(kLifetimeSeconds);
    if (o.start_fd >= 0) wait_for_start(o.start_fd);
    return o.role == "open" ? open_only(o) : work(o);
}
