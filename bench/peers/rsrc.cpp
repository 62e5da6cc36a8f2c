// Registry pairs: vek_rsrc_allocate + vek_rsrc_free of one identifier on a
// resource of 4096, beside the same bitmap calls (vek_bitmap_reserve +
// vek_bitmap_unreserve) under a std::mutex, with one and with two threads
// sharing the resource. The registry takes the record's robust, process-
// shared mutex from the platform layer and checks the handle and the run;
// the peer takes a process-private std::mutex.
#include <pthread.h>

#include <cstdint>
#include <mutex>

#include <benchmark/benchmark.h>

#include <vek/vekcommon.h>

namespace {

constexpr uint32_t kIds = 4096;

struct Registry {
    vek_hdl_t hdl{VEK_HDL_MAGIC, nullptr};
    vek_rsrc_t *rec = nullptr;
    Registry() {
        vek_rsrc_init(&hdl);
        vek_rsrc_create(&hdl, 1, "bench", kIds, 100, &rec);
    }
};

Registry &registry() {
    static Registry r;
    return r;
}

struct Guarded {
    std::mutex mutex;
    vek_bitmap_t *map = vek_bitmap_create(kIds);
};

Guarded &guarded() {
    static Guarded g;
    return g;
}

void alloc_free_vek(benchmark::State &state) {
    vek_rsrc_t *rec = registry().rec;
    // Cross-check: an identifier comes back and goes again.
    uint32_t id = 0;
    if (vek_rsrc_allocate(rec, 1, &id) != VEK_ST_SUCCESS || vek_rsrc_free(rec, id, 1) != VEK_ST_SUCCESS) {
        state.SkipWithError("allocate/free failed");
        return;
    }
    for (auto _ : state) {
        vek_rsrc_allocate(rec, 1, &id);
        vek_rsrc_free(rec, id, 1);
        benchmark::DoNotOptimize(id);
    }
}

void alloc_free_mutex(benchmark::State &state) {
    Guarded &g = guarded();
    uint32_t id = 0;
    for (auto _ : state) {
        {
            const std::lock_guard<std::mutex> lock(g.mutex);
            vek_bitmap_reserve(g.map, 1, &id);
        }
        {
            const std::lock_guard<std::mutex> lock(g.mutex);
            if (vek_bitmap_isset(g.map, id) == 1) vek_bitmap_unreserve(g.map, 1, id);
        }
        benchmark::DoNotOptimize(id);
    }
}

// The floor the locks impose: allocate and free each take the record's
// mutex once, so one pair is two lock/unlock pairs of the platform's robust,
// process-shared mutex (vek), of the same pthread mutex called directly
// (pthread_robust_shared), and of a std::mutex.
struct Locks {
    vek_mutex_t vek{};
    pthread_mutex_t robust{};
    std::mutex plain;
    Locks() {
        vek_mutex_init(&vek, VEK_MUTEX_SHARED);
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        pthread_mutex_init(&robust, &attr);
        pthread_mutexattr_destroy(&attr);
    }
};

Locks &locks() {
    static Locks l;
    return l;
}

void lock_floor_vek(benchmark::State &state) {
    vek_mutex_t *m = &locks().vek;
    for (auto _ : state) {
        vek_mutex_lock(m);
        vek_mutex_unlock(m);
        vek_mutex_lock(m);
        vek_mutex_unlock(m);
    }
}

void lock_floor_pthread(benchmark::State &state) {
    pthread_mutex_t *m = &locks().robust;
    for (auto _ : state) {
        pthread_mutex_lock(m);
        pthread_mutex_unlock(m);
        pthread_mutex_lock(m);
        pthread_mutex_unlock(m);
    }
}

void lock_floor_std(benchmark::State &state) {
    std::mutex &m = locks().plain;
    for (auto _ : state) {
        m.lock();
        m.unlock();
        m.lock();
        m.unlock();
    }
}

BENCHMARK(lock_floor_vek)->Name("peers/rsrc_lock_floor/vek");
BENCHMARK(lock_floor_pthread)->Name("peers/rsrc_lock_floor/pthread_robust_shared");
BENCHMARK(lock_floor_std)->Name("peers/rsrc_lock_floor/std_mutex");
BENCHMARK(alloc_free_vek)->Name("peers/rsrc_alloc_free_1thread/vek");
BENCHMARK(alloc_free_mutex)->Name("peers/rsrc_alloc_free_1thread/bitmap_std_mutex");
BENCHMARK(alloc_free_vek)->Name("peers/rsrc_alloc_free_2threads/vek")->Threads(2)->UseRealTime();
BENCHMARK(alloc_free_mutex)->Name("peers/rsrc_alloc_free_2threads/bitmap_std_mutex")->Threads(2)->UseRealTime();

} // namespace
