// Named robust regions: what sharing a registry between processes costs.
//   rsrc_alloc_free/2procs: allocate + free of one identifier on a resource
//     of a region's shared device handle, while a second process (forked)
//     does the same on the same resource the whole time;
//   rsrc_alloc_free/2threads: its peer, the same on a private registry,
//     with a second thread of the process in the helper's place;
//   rsrc_alloc_free/1proc and /1thread: the same alone, region against
//     private registry (the lock uncontended);
//   region_attach: open + close of an existing region;
//   region_create: create + close + remove of a region, by size.
// The shared cases are timed in wall time (a waiter sleeps in the kernel,
// which CPU time would not see). Ratio to report: 2procs / 2threads.
#include <atomic>
#include <cstdint>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <vek/vekcommon.h>
#include <vek_region.h>

#include <shared_device.h>

namespace {

constexpr uint32_t kKind = 1;
constexpr uint32_t kIds = 1024;

std::string region_name(const char *what) {
    return std::string("vekbench-") + what + "-" + std::to_string(static_cast<long>(getpid()));
}

// One allocate + free of one identifier; false on a failure.
inline bool alloc_free(vek_rsrc_t *r) {
    uint32_t id = 0;
    if (vek_rsrc_allocate(r, 1, &id) != VEK_ST_SUCCESS) return false;
    benchmark::DoNotOptimize(id);
    return vek_rsrc_free(r, id, 1) == VEK_ST_SUCCESS;
}

// A region serving this process's robust memory, with the shared handle,
// one resource and a stop flag for the helper process; removed at the end.
struct SharedSetup {
    std::string name = region_name("rsrc");
    vek_region_t *region = nullptr;
    vek_hdl_t *dev = nullptr;
    vek_rsrc_t *ids = nullptr;
    std::atomic<int> *stop = nullptr;

    bool open() {
        vek_region_remove(name.c_str());
        void *flag = nullptr;
        return vek_region_open(name.c_str(), 1u << 20, VEK_REGION_CREATE | VEK_REGION_EXCL | VEK_REGION_ROBUST,
                               &region) == VEK_ST_SUCCESS &&
               vek_shared_device(region, VEK_SHARED_DEVICE, &dev) == VEK_ST_SUCCESS &&
               vek_rsrc_create(dev, kKind, "ids", kIds, 0, &ids) == VEK_ST_SUCCESS &&
               vek_region_object(region, "stop", sizeof(std::atomic<int>), nullptr, nullptr, &flag) == VEK_ST_SUCCESS &&
               (stop = static_cast<std::atomic<int> *>(flag)) != nullptr;
    }
    ~SharedSetup() {
        if (dev != nullptr) vek_rsrc_release(dev);
        vek_region_close(region);
        vek_region_remove(name.c_str());
    }
};

void shared_case(benchmark::State &state, bool helper) {
    SharedSetup s;
    if (!s.open()) {
        state.SkipWithError(vek_region_error());
        return;
    }
    pid_t child = -1;
    if (helper) {
        child = fork();
        if (child == 0) { // the second process: the same work until told to stop
            while (s.stop->load(std::memory_order_relaxed) == 0) {
                if (!alloc_free(s.ids)) _exit(1);
            }
            _exit(0);
        }
        if (child < 0) {
            state.SkipWithError("fork failed");
            return;
        }
    }
    bool ok = true;
    for (auto _ : state) ok = alloc_free(s.ids) && ok;
    s.stop->store(1);
    int status = 0;
    if (child > 0 && (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        ok = false;
    }
    if (!ok) state.SkipWithError("allocate or free failed");
}

void private_case(benchmark::State &state, bool helper) {
    vek_hdl_t dev = {VEK_HDL_MAGIC, nullptr};
    vek_rsrc_t *ids = nullptr;
    if (vek_rsrc_init(&dev) != VEK_ST_SUCCESS || vek_rsrc_create(&dev, kKind, "ids", kIds, 0, &ids) != VEK_ST_SUCCESS) {
        state.SkipWithError("cannot set up the registry");
        vek_rsrc_release(&dev);
        return;
    }
    std::atomic<int> stop{0};
    std::atomic<bool> helperOk{true};
    std::thread other;
    if (helper) {
        other = std::thread([&] {
            while (stop.load(std::memory_order_relaxed) == 0) {
                if (!alloc_free(ids)) helperOk = false;
            }
        });
    }
    bool ok = true;
    for (auto _ : state) ok = alloc_free(ids) && ok;
    stop.store(1);
    if (other.joinable()) other.join();
    vek_rsrc_release(&dev);
    if (!ok || !helperOk) state.SkipWithError("allocate or free failed");
}

void BM_TwoProcesses(benchmark::State &state) { shared_case(state, true); }
void BM_TwoThreads(benchmark::State &state) { private_case(state, true); }
void BM_OneProcess(benchmark::State &state) { shared_case(state, false); }
void BM_OneThread(benchmark::State &state) { private_case(state, false); }

BENCHMARK(BM_TwoProcesses)->Name("rsrc_alloc_free/2procs")->UseRealTime();
BENCHMARK(BM_TwoThreads)->Name("rsrc_alloc_free/2threads")->UseRealTime();
BENCHMARK(BM_OneProcess)->Name("rsrc_alloc_free/1proc")->UseRealTime();
BENCHMARK(BM_OneThread)->Name("rsrc_alloc_free/1thread")->UseRealTime();

void BM_RegionAttach(benchmark::State &state) {
    const std::string name = region_name("attach");
    vek_region_remove(name.c_str());
    vek_region_t *owner = nullptr;
    if (vek_region_open(name.c_str(), static_cast<size_t>(state.range(0)), VEK_REGION_CREATE, &owner) !=
        VEK_ST_SUCCESS) {
        state.SkipWithError(vek_region_error());
        return;
    }
    // Attaching needs the fixed range free in this process: the creator's
    // handle goes first, the region stays.
    vek_region_close(owner);
    bool ok = true;
    for (auto _ : state) {
        vek_region_t *r = nullptr;
        ok = vek_region_open(name.c_str(), 0, 0, &r) == VEK_ST_SUCCESS && ok;
        vek_region_close(r);
    }
    vek_region_remove(name.c_str());
    if (!ok) state.SkipWithError("attach failed");
}
BENCHMARK(BM_RegionAttach)->Name("region_attach")->Arg(1 << 20)->Arg(64 << 20)->UseRealTime();

void BM_RegionCreate(benchmark::State &state) {
    const std::string name = region_name("create");
    vek_region_remove(name.c_str());
    bool ok = true;
    for (auto _ : state) {
        vek_region_t *r = nullptr;
        ok = vek_region_open(name.c_str(), static_cast<size_t>(state.range(0)), VEK_REGION_CREATE | VEK_REGION_EXCL,
                             &r) == VEK_ST_SUCCESS &&
             ok;
        vek_region_close(r);
        vek_region_remove(name.c_str());
    }
    if (!ok) state.SkipWithError("create failed");
}
BENCHMARK(BM_RegionCreate)->Name("region_create+remove")->Arg(1 << 20)->Arg(64 << 20)->UseRealTime();

} // namespace
