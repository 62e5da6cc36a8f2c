// Per-thread block counters (see live_count.hpp).
#include "live_count.hpp"

#include <pthread.h>

namespace vek_sal::live {

namespace {

constexpr int kSlots = 256;
Slot g_slots[kSlots];
std::atomic<long> g_folded[kKinds]; // threads gone, and threads without a slot
pthread_once_t g_once = PTHREAD_ONCE_INIT;
pthread_key_t g_key;

// A thread's end: its counts join the total and its slot is free again.
// The order (total first, slot after) may count a block twice for a
// moment, never miss one.
void thread_gone(void *p) {
    auto *s = static_cast<Slot *>(p);
    tl_slot = nullptr;
    for (int k = 0; k < kKinds; ++k) {
        const long n = s->n[k].load(std::memory_order_relaxed);
        g_folded[k].fetch_add(n);
        s->n[k].fetch_sub(n);
    }
    s->taken.store(false, std::memory_order_release);
}

void make_key() { pthread_key_create(&g_key, thread_gone); }

// The calling thread's slot, &g_overflow when none is left.
Slot *claim() {
    pthread_once(&g_once, make_key);
    for (Slot &s : g_slots) {
        bool free_slot = false;
        if (!s.taken.load(std::memory_order_relaxed) && s.taken.compare_exchange_strong(free_slot, true)) {
            if (pthread_setspecific(g_key, &s) != 0) {
                s.taken.store(false);
                return &g_overflow;
            }
            return &s;
        }
    }
    return &g_overflow;
}

} // namespace

Slot g_overflow;
constinit __attribute__((tls_model("initial-exec"))) thread_local Slot *tl_slot = nullptr;

void add_slow(Kind k, long d) {
    if (tl_slot == nullptr) tl_slot = claim();
    if (tl_slot != &g_overflow) {
        add(k, d);
    } else {
        g_folded[k].fetch_add(d);
    }
}

long total(Kind k) {
    long n = g_folded[k].load();
    for (const Slot &s : g_slots) n += s.n[k].load(std::memory_order_relaxed);
    return n;
}

} // namespace vek_sal::live
