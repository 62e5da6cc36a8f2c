// The block counters of the test controls (vek_saltest_heap_live,
// vek_saltest_robust_live), kept per thread so that counting a block costs
// no locked instruction.
//
// Each thread adds to a slot of its own with plain (relaxed) stores; the
// total is the counts of threads gone plus every slot. A thread's slot is
// folded into the total when it ends and handed to the next thread. When
// every slot is taken, the threads without one count into the total with
// locked additions. The total is exact whenever no thread counts during
// the read, which is how tests read it.
#pragma once

#include <atomic>

namespace vek_sal::live {

enum Kind { kHeap = 0, kRobust = 1, kKinds = 2 };

struct alignas(64) Slot {
    std::atomic<long> n[kKinds];
    std::atomic<bool> taken;
};

extern Slot g_overflow; // "no slot left for this thread"
extern constinit __attribute__((tls_model("initial-exec"))) thread_local Slot *tl_slot;

void add_slow(Kind k, long d);

inline void add(Kind k, long d) {
    Slot *s = tl_slot;
    if (s != nullptr && s != &g_overflow) {
        s->n[k].store(s->n[k].load(std::memory_order_relaxed) + d, std::memory_order_relaxed);
    } else {
        add_slow(k, d);
    }
}

// The blocks of kind `k` in use in this process.
long total(Kind k);

} // namespace vek_sal::live
