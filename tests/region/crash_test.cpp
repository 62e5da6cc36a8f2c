// Deaths among independent programs sharing a region: one peer killed at a
// random instant while the others go on, and the crash soak, which starts
// peer programs (posix_spawn) and kills them with SIGKILL at random
// instants, in their start-up, their attach, the region's allocator or the
// registry's critical sections. After every round, with no peer alive, the
// test reconciles what the dead held and checks that the pool, the registry
// and the region are whole; at any time, no identifier may be held by two
// programs (the ledger's owners, marked with compare-and-swap).
//
// VEK_SOAK_SECONDS sets the soak's length (default 20 s; 3 s under valgrind).
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "attached_region.hpp"
#include "peer_support.hpp"
#include "vektest.hpp"

namespace {

using namespace regiontest;

constexpr size_t kRegionSize = 4u << 20;
constexpr uint32_t kOpenFlags = VEK_REGION_CREATE | VEK_REGION_EXCL | VEK_REGION_ROBUST;
constexpr const char *kNoOwnerDeath = "robust mutexes do not report a dead owner on this system (as under "
                                      "qemu-user, which does not implement robust futex lists)";

void pause_us(long us) {
    const timespec t{us / 1000000, (us % 1000000) * 1000L};
    nanosleep(&t, nullptr);
}

using proctest::Rng;

Rng seeded() {
    return Rng{static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull ^
               static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^ 1u};
}

bool wait_for_programs(const Attached &a, uint32_t n) {
    for (int i = 0; i < 3000 && a.programs() < n; ++i) pause_us(10000);
    return a.programs() >= n;
}

TEST(RegionCrash, OneKilledAtARandomInstantWhileTheOthersGoOn) {
    if (!robust_mutexes_work()) GTEST_SKIP() << kNoOwnerDeath;
    UniqueRegion region("kill");
    Attached a;
    ASSERT_EQ(a.open(region.name(), kRegionSize, kOpenFlags), VEK_ST_SUCCESS) << vek_region_error();
    ASSERT_EQ(a.make_objects(), VEK_ST_SUCCESS);
    Rng rng = seeded();
    constexpr int kRounds = 4;
    constexpr int kSurvivors = 3;
    uint32_t reclaimed = 0;
    for (int round = 0; round < kRounds; ++round) {
        StartPipe pipe;
        std::vector<std::unique_ptr<Peer>> survivors;
        for (int i = 0; i < kSurvivors; ++i) {
            survivors.push_back(std::make_unique<Peer>(work_args(region.name(), -1, 0.5, kRegionSize), &pipe));
        }
        Peer victim(work_args(region.name(), -1, -1, kRegionSize), &pipe);
        pipe.release();
        ASSERT_TRUE(wait_for_programs(a, static_cast<uint32_t>((round + 1) * (kSurvivors + 1))));
        pause_us(rng.next(200000));
        const uint32_t dead = static_cast<uint32_t>(victim.pid());
        EXPECT_TRUE(victim.kill_now()) << "the victim ended by itself: " << victim.wait();
        std::string problems;
        reclaimed += a.reclaim(dead, problems);
        EXPECT_EQ(problems, "");
        for (auto &p : survivors) {
            EXPECT_EQ(p->wait(), "exit 0") << p->output();
            EXPECT_EQ(p->summary().violations, 0u) << p->output();
        }
        const Attached::Audit audit = a.audit();
        EXPECT_EQ(audit.problems, "") << "round " << round;
        EXPECT_EQ(a.ledger().violations, 0u) << a.ledger().first_violation;
    }
    std::printf("one killed at random: %d rounds, %u identifiers of the dead reclaimed, %llu repairs seen\n", kRounds,
                reclaimed, static_cast<unsigned long long>(a.ledger().repairs));
}

TEST(RegionCrash, SoakAcrossIndependentPrograms) {
    if (!robust_mutexes_work()) GTEST_SKIP() << kNoOwnerDeath;
    UniqueRegion region("soak");
    Attached a;
    ASSERT_EQ(a.open(region.name(), kRegionSize, kOpenFlags), VEK_ST_SUCCESS) << vek_region_error();
    ASSERT_EQ(a.make_objects(), VEK_ST_SUCCESS);
    vek_region_info_t info{};
    ASSERT_EQ(vek_region_info(a.region(), &info), VEK_ST_SUCCESS);
    const uint64_t baseline_blocks = info.blocksInUse;

    constexpr int kSlots = 4;
    constexpr int kKillsPerRound = 25;
    Rng rng = seeded();
    std::unique_ptr<Peer> slots[kSlots];
    long programs = 0, kills = 0, ended = 0, rounds = 0;
    uint32_t unmarked = 0, leftovers = 0;
    std::string problems;
    const auto start = [&](int w) {
        // One in four ends by itself after a few iterations; the others
        // run until they are killed.
        const long iterations = rng.next(4) == 0 ? static_cast<long>(rng.next(3000)) : -1;
        slots[w] = std::make_unique<Peer>(work_args(region.name(), iterations, -1, kRegionSize));
        if (!slots[w]->running()) problems += "peer not started: " + slots[w]->wait() + "\n";
        ++programs;
    };
    const auto stop = [&](int w) {
        Peer &p = *slots[w];
        const uint32_t pid = static_cast<uint32_t>(p.pid());
        if (p.kill_now()) {
            ++kills;
        } else if (p.wait() == "exit 0" && p.summary().found && p.summary().violations == 0) {
            ++ended;
        } else {
            problems += "a peer ended with " + p.wait() + ": " + p.output() + "\n";
        }
        a.reclaim(pid, problems);
        slots[w].reset();
    };

    const auto began = std::chrono::steady_clock::now();
    const auto deadline = began + std::chrono::duration<double>(vektest::soak_seconds(20));
    const auto violations = [&] { return __atomic_load_n(&a.ledger().violations, __ATOMIC_SEQ_CST); };
    while (std::chrono::steady_clock::now() < deadline && violations() == 0 && problems.empty()) {
        for (int w = 0; w < kSlots; ++w) start(w);
        for (int k = 0; k < kKillsPerRound && std::chrono::steady_clock::now() < deadline; ++k) {
            pause_us(rng.next(20000));
            const int w = static_cast<int>(rng.next(kSlots));
            stop(w);
            start(w);
        }
        for (int w = 0; w < kSlots; ++w) stop(w);
        const Attached::Audit audit = a.audit();
        problems += audit.problems;
        unmarked += audit.unmarked;
        leftovers += audit.leftovers;
        ++rounds;
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    ASSERT_EQ(vek_region_info(a.region(), &info), VEK_ST_SUCCESS);
    std::printf("region crash soak: %ld programs, %ld kills, %ld ended by themselves, %llu allocations, "
                "%llu repairs (8000) seen, %u violations, %u unmarked identifiers and %u resources of the dead "
                "reclaimed, %lld blocks left by the dead, %ld rounds, %.1f s\n",
                programs, kills, ended, static_cast<unsigned long long>(a.ledger().allocations),
                static_cast<unsigned long long>(a.ledger().repairs), violations(), unmarked, leftovers,
                static_cast<long long>(info.blocksInUse) - static_cast<long long>(baseline_blocks), rounds, took);
    EXPECT_EQ(violations(), 0u) << a.ledger().first_violation;
    EXPECT_EQ(problems, "");
    EXPECT_GT(kills, 0);
}

} // namespace
