// Threads sharing resources: allocations and frees of runs of varying size
// from the same records, creation and destruction of other records in the
// same registry, lookups and queries, for a bounded number of rounds. No
// identifier is ever held by two threads, and the free counts and bitmaps
// are right at the end. Also built under ThreadSanitizer
// (scripts/test-tsan.sh).
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rsrc_fixture.hpp"

namespace {

using rsrctest::RsrcTest;

constexpr int kWorkers = 4;
constexpr int kRounds = 1000;
constexpr uint32_t kIds = 96;

// Small deterministic generator, one per thread.
struct Rng {
    uint32_t s;
    uint32_t next(uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) % n;
    }
};

// Who holds each identifier of a resource: 0 free, else worker number + 1.
struct Owners {
    vek_rsrc_t *rec;
    std::unique_ptr<std::atomic<int>[]> slot;
    std::atomic<int> clashes{0};

    explicit Owners(vek_rsrc_t *r) : rec(r), slot(new std::atomic<int>[r->numElems]) {
        for (uint32_t i = 0; i < r->numElems; ++i) slot[i].store(0);
    }
    // Marks a run as held by `who`; a slot already held is a clash.
    void claim(uint32_t start, uint32_t n, int who) {
        for (uint32_t i = 0; i < n; ++i) {
            int expected = 0;
            if (!slot[start - rec->baseId + i].compare_exchange_strong(expected, who)) clashes.fetch_add(1);
        }
    }
    void release(uint32_t start, uint32_t n, int who) {
        for (uint32_t i = 0; i < n; ++i) {
            int expected = who;
            if (!slot[start - rec->baseId + i].compare_exchange_strong(expected, 0)) clashes.fetch_add(1);
        }
    }
};

struct Held {
    Owners *owners;
    uint32_t start;
    uint32_t n;
};

using RsrcConcurrencyTest = RsrcTest;

TEST_F(RsrcConcurrencyTest, ThreadsNeverShareAnIdentifier) {
    vek_rsrc_t *low = make(1, "low", kIds, 0);
    vek_rsrc_t *high = make(1, "high", kIds + 5, 5000);
    Owners owners[2] = {Owners(low), Owners(high)};
    std::atomic<int> bad_status{0};
    std::atomic<int> allocations{0};

    auto worker = [&](int w) {
        const int who = w + 1;
        Rng rng{static_cast<uint32_t>(w) * 7919u + 1u};
        std::deque<Held> held;
        auto give_back = [&] {
            const Held h = held.front();
            held.pop_front();
            h.owners->release(h.start, h.n, who);
            if (vek_rsrc_free(h.owners->rec, h.start, h.n) != VEK_ST_SUCCESS) bad_status.fetch_add(1);
        };
        for (int round = 0; round < kRounds; ++round) {
            Owners &o = owners[rng.next(2)];
            const uint32_t n = 1 + rng.next(6);
            uint32_t start = 0;
            vek_st_t st;
            if (rng.next(4) == 0) {
                start = o.rec->baseId + rng.next(o.rec->numElems);
                st = vek_rsrc_allocate_fixed(o.rec, n, start);
                if (st != VEK_ST_SUCCESS && st != VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE &&
                    st != VEK_ST_RSRC_INSUFF_IDS_AVAIL)
                    bad_status.fetch_add(1);
            } else {
                st = vek_rsrc_allocate(o.rec, n, &start);
                if (st != VEK_ST_SUCCESS && st != VEK_ST_INVALID_PARAMETER && st != VEK_ST_RSRC_INSUFF_IDS_AVAIL)
                    bad_status.fetch_add(1);
            }
            if (st == VEK_ST_SUCCESS) {
                allocations.fetch_add(1);
                o.claim(start, n, who);
                if (vek_rsrc_isset(o.rec, start + n - 1) != 1) bad_status.fetch_add(1);
                held.push_back({&o, start, n});
            }
            if (held.size() > 5 || (!held.empty() && rng.next(3) == 0)) give_back();
        }
        while (!held.empty()) give_back();
    };

    // One more thread works on the registry itself meanwhile.
    auto registrar = [&] {
        for (int round = 0; round < kRounds / 10; ++round) {
            const std::string name = "tmp" + std::to_string(round);
            vek_rsrc_t *tmp = nullptr;
            if (vek_rsrc_create(&hdl_, 2, name.c_str(), 16, 0, &tmp) != VEK_ST_SUCCESS) {
                bad_status.fetch_add(1);
                continue;
            }
            uint32_t id = 0;
            vek_rsrc_t *found = nullptr;
            vek_rsrc_info_t info{};
            if (vek_rsrc_allocate(tmp, 4, &id) != VEK_ST_SUCCESS || vek_rsrc_find(&hdl_, 1, "high", &found) != 0 ||
                found != high || vek_rsrc_query(found, &info) != VEK_ST_SUCCESS || info.numElems != kIds + 5 ||
                vek_rsrc_destroy(&hdl_, tmp) != VEK_ST_SUCCESS)
                bad_status.fetch_add(1);
        }
    };

    std::vector<std::thread> threads;
    for (int w = 0; w < kWorkers; ++w) threads.emplace_back(worker, w);
    threads.emplace_back(registrar);
    for (std::thread &t : threads) t.join();

    EXPECT_EQ(bad_status.load(), 0);
    EXPECT_GT(allocations.load(), kWorkers * kRounds / 4);
    for (Owners &o : owners) {
        SCOPED_TRACE(o.rec->name);
        EXPECT_EQ(o.clashes.load(), 0);
        EXPECT_EQ(o.rec->numElemsFree, o.rec->numElems);
        EXPECT_EQ(vek_bitmap_count(o.rec->bitmap, 1), 0);
        EXPECT_TRUE(rsrctest::mutex_free(&o.rec->mutex));
    }
    EXPECT_EQ(reg()->numRsrcs, 2u);
    EXPECT_EQ(list(), (std::vector<vek_rsrc_t *>{high, low}));
    EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
}

} // namespace
