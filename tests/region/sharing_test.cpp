// Independent programs sharing a device handle through a named robust
// region: peers (region_peer, started with posix_spawn) attaching at one
// instant, in any order, racing to create the region, taking it from the
// environment; a region removed while in use; a full region.
#include <time.h>

#include <cctype>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "attached_region.hpp"
#include "peer_support.hpp"
#include "vektest.hpp"

namespace {

using namespace regiontest;

constexpr long kIterations = 2000;
constexpr size_t kRegionSize = 1u << 20;
constexpr uint32_t kOpenFlags = VEK_REGION_CREATE | VEK_REGION_ROBUST;

void pause_ms(long ms) {
    const timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

// Waits up to 30 s until n programs have reached their loop.
bool wait_for_programs(const Attached &a, uint32_t n) {
    for (int i = 0; i < 3000 && a.programs() < n; ++i) pause_ms(10);
    return a.programs() >= n;
}

// After the peers ended by themselves: each exited 0 with a summary and no
// violation, all saw the device at one address (this process too), and the
// ledger and the pool agree with what they reported.
void expect_shared_and_whole(const char *region, std::vector<std::unique_ptr<Peer>> &peers) {
    std::set<void *> devices;
    unsigned long long allocations = 0;
    for (auto &p : peers) {
        EXPECT_EQ(p->wait(), "exit 0") << p->output();
        const Summary s = p->summary();
        EXPECT_TRUE(s.found) << p->output();
        EXPECT_EQ(s.violations, 0u);
        EXPECT_EQ(s.frees, s.allocations);
        EXPECT_GT(s.allocations, 0u);
        devices.insert(s.device);
        allocations += s.allocations;
    }
    EXPECT_EQ(devices.size(), 1u) << "the programs did not share one device handle";
    Attached a;
    ASSERT_EQ(a.open(region, 0, VEK_REGION_ROBUST), VEK_ST_SUCCESS) << vek_region_error();
    ASSERT_TRUE(a.find_objects());
    EXPECT_EQ(devices.count(a.hdl()), 1u);
    EXPECT_EQ(a.ledger().violations, 0u) << a.ledger().first_violation;
    EXPECT_EQ(a.ledger().programs, peers.size());
    EXPECT_EQ(a.ledger().allocations, allocations) << "a program counted in another region";
    EXPECT_EQ(a.ledger().frees, allocations);
    EXPECT_EQ(a.ledger().repairs, 0u);
    const Attached::Audit audit = a.audit();
    EXPECT_EQ(audit.problems, "");
    EXPECT_EQ(audit.reclaimed + audit.unmarked + audit.leftovers, 0u);
}

// How the peers of a case are started.
enum class Start {
    AtOneInstant,    // all wait on the start pipe
    OneAfterAnother, // each ends before the next starts
    Staggered,       // a few milliseconds apart, overlapping
};

struct StartCase {
    const char *what;
    int peers;
    Start start;
    bool test_first; // this process makes the region and its objects before any peer
    int env_peers;   // the last ones take the region from their environment
};

constexpr StartCase kStartCases[] = {
    {"at one instant, racing creators", 5, Start::AtOneInstant, false, 0},
    {"at one instant, the region made first", 4, Start::AtOneInstant, true, 0},
    {"one after another", 3, Start::OneAfterAnother, false, 1},
    {"staggered, from the environment", 4, Start::Staggered, false, 2},
    {"staggered, the region made first", 3, Start::Staggered, true, 1},
};

class RegionStartOrder : public ::testing::TestWithParam<StartCase> {};

TEST_P(RegionStartOrder, PeersShareOneRegistryWhateverTheOrder) {
    const StartCase &c = GetParam();
    UniqueRegion region("start");
    Attached first;
    if (c.test_first) {
        ASSERT_EQ(first.open(region.name(), kRegionSize, kOpenFlags | VEK_REGION_EXCL), VEK_ST_SUCCESS)
            << vek_region_error();
        ASSERT_EQ(first.make_objects(), VEK_ST_SUCCESS);
        first.close();
    }
    StartPipe pipe;
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < c.peers; ++i) {
        const bool env = i >= c.peers - c.env_peers;
        std::vector<std::string> args = work_args(region.name(), kIterations, -1, kRegionSize);
        std::vector<std::string> environment;
        if (env) {
            args.push_back("--env");
            environment = {std::string("VEK_ROBUST_REGION=") + region.name(),
                           "VEK_ROBUST_REGION_SIZE=" + std::to_string(kRegionSize / 1024) + "K"};
        }
        peers.push_back(std::make_unique<Peer>(args, c.start == Start::AtOneInstant ? &pipe : nullptr, environment));
        ASSERT_TRUE(peers.back()->running()) << peers.back()->wait();
        if (c.start == Start::OneAfterAnother) {
            EXPECT_EQ(peers.back()->wait(), "exit 0") << peers.back()->output();
        }
        if (c.start == Start::Staggered) pause_ms(3);
    }
    pipe.release();
    expect_shared_and_whole(region.name(), peers);
}

INSTANTIATE_TEST_SUITE_P(Orders, RegionStartOrder, ::testing::ValuesIn(kStartCases),
                         [](const ::testing::TestParamInfo<StartCase> &info) {
                             std::string name;
                             for (const char *p = info.param.what; *p != '\0'; ++p) {
                                 if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                             }
                             return name;
                         });

TEST(RegionEnvironment, ARegionThatCannotBeOpenedEndsTheProgramAtStartUp) {
    struct Case {
        const char *what;
        std::string value;
    };
    UniqueRegion region("env");
    const Case cases[] = {
        {"a name with a slash", "no/such"},
        {"a name starting with a dot", ".hidden"},
        {"a name too long", std::string(VEK_REGION_NAME_MAX + 1, 'a')},
    };
    for (const Case &c : cases) {
        Peer p(work_args(region.name(), 10), nullptr, {"VEK_ROBUST_REGION=" + c.value});
        EXPECT_EQ(p.wait(), "exit " + std::to_string(kExitEnvRegion)) << c.what << ": " << p.output();
        EXPECT_EQ(p.output(), "") << c.what;
    }
    vek_region_t *r = nullptr;
    EXPECT_EQ(vek_region_open(region.name(), 0, 0, &r), VEK_ST_INVALID_VALUE) << "a region was made";
}

TEST(RegionRemoval, UsersKeepWorkingWhileNewOpensFail) {
    UniqueRegion region("rm");
    Attached a;
    ASSERT_EQ(a.open(region.name(), kRegionSize, kOpenFlags | VEK_REGION_EXCL), VEK_ST_SUCCESS) << vek_region_error();
    ASSERT_EQ(a.make_objects(), VEK_ST_SUCCESS);
    StartPipe pipe;
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 2; ++i) {
        peers.push_back(std::make_unique<Peer>(work_args(region.name(), -1, 1.0, kRegionSize), &pipe));
    }
    pipe.release();
    ASSERT_TRUE(wait_for_programs(a, 2));

    EXPECT_EQ(vek_region_remove(region.name()), VEK_ST_SUCCESS) << vek_region_error();
    Peer late({"open", region.name()});
    EXPECT_EQ(late.wait(), "exit " + std::to_string(kExitOpenFailed));
    EXPECT_EQ(late.output().rfind("open: status " + std::to_string(VEK_ST_INVALID_VALUE) + ": ", 0), 0u)
        << late.output();
    EXPECT_EQ(vek_region_remove(region.name()), VEK_ST_INVALID_VALUE);

    // This process and the peers go on in the removed region.
    uint32_t id = 0;
    EXPECT_EQ(vek_rsrc_allocate(a.pool(), 1, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_free(a.pool(), id, 1), VEK_ST_SUCCESS);
    for (auto &p : peers) {
        EXPECT_EQ(p->wait(), "exit 0") << p->output();
        const Summary s = p->summary();
        EXPECT_TRUE(s.found);
        EXPECT_EQ(s.violations, 0u);
        EXPECT_EQ(s.device, a.hdl());
    }
    EXPECT_EQ(a.ledger().violations, 0u) << a.ledger().first_violation;
    const Attached::Audit audit = a.audit();
    EXPECT_EQ(audit.problems, "");

    // Once this process has closed it too, the name is free again: a new
    // region, without the old one's objects.
    a.close();
    vek_region_t *r = nullptr;
    ASSERT_EQ(vek_region_open(region.name(), kRegionSize, VEK_REGION_CREATE | VEK_REGION_EXCL, &r), VEK_ST_SUCCESS)
        << vek_region_error();
    void *object = nullptr;
    EXPECT_EQ(vek_region_object_find(r, kDeviceObject, &object, nullptr), VEK_ST_INVALID_VALUE);
    vek_region_close(r);
}

TEST(RegionFull, AllocationsFailWhileTheRegionStaysWhole) {
    UniqueRegion region("full");
    Attached a;
    ASSERT_EQ(a.open(region.name(), VEK_REGION_MIN_SIZE, kOpenFlags | VEK_REGION_EXCL), VEK_ST_SUCCESS)
        << vek_region_error();
    ASSERT_EQ(a.make_objects(), VEK_ST_SUCCESS);

    // Filled with blocks of halving sizes until not even one byte fits.
    std::vector<void *> blocks;
    for (size_t size = 4096; size > 0;) {
        void *block = nullptr;
        const vek_st_t st = vek_region_alloc(a.region(), size, &block);
        if (st == VEK_ST_SUCCESS) {
            blocks.push_back(block);
        } else {
            ASSERT_EQ(st, VEK_ST_NO_MEMORY) << vek_region_error();
            EXPECT_EQ(block, nullptr);
            size /= 2;
        }
    }
    ASSERT_FALSE(blocks.empty());
    vek_region_info_t before{};
    ASSERT_EQ(vek_region_info(a.region(), &before), VEK_ST_SUCCESS);

    // Everything that needs memory reports it and changes nothing.
    void *block = nullptr;
    EXPECT_EQ(vek_nvm_robust_malloc(16, &block, VEK_NVM_ZERO_FILL), VEK_ST_NO_MEMORY);
    vek_rsrc_t *more = nullptr;
    EXPECT_EQ(vek_rsrc_create(a.hdl(), kOwnKind, "more", 64, 0, &more), VEK_ST_NO_MEMORY);
    EXPECT_EQ(more, nullptr);
    EXPECT_EQ(vek_rsrc_find(a.hdl(), kOwnKind, "more", &more), VEK_ST_INVALID_VALUE);
    void *object = nullptr;
    EXPECT_EQ(vek_region_object(a.region(), "extra", 64, nullptr, nullptr, &object), VEK_ST_NO_MEMORY);
    EXPECT_EQ(vek_region_object_find(a.region(), "extra", &object, nullptr), VEK_ST_INVALID_VALUE);
    vek_region_info_t after{};
    ASSERT_EQ(vek_region_info(a.region(), &after), VEK_ST_SUCCESS);
    EXPECT_EQ(after.usedBytes, before.usedBytes);
    EXPECT_EQ(after.blocksInUse, before.blocksInUse);
    EXPECT_EQ(after.objects, before.objects);
    const char *violation = "(check not run)";
    EXPECT_EQ(vek_region_check(a.region(), &violation), VEK_ST_SUCCESS);
    EXPECT_EQ(violation, nullptr) << violation;

    // What needs no memory goes on, in this process and in a peer.
    uint32_t first = 0;
    EXPECT_EQ(vek_rsrc_allocate(a.pool(), kPoolIds, &first), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_free(a.pool(), first, kPoolIds), VEK_ST_SUCCESS);
    Peer peer(work_args(region.name(), 500, -1, VEK_REGION_MIN_SIZE));
    EXPECT_EQ(peer.wait(), "exit 0") << peer.output();
    EXPECT_TRUE(peer.summary().found) << peer.output();

    // A block given back makes room again.
    for (void *b : blocks) EXPECT_EQ(vek_region_free(a.region(), b), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_create(a.hdl(), kOwnKind, "more", 64, 0, &more), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_destroy(a.hdl(), more), VEK_ST_SUCCESS);
    EXPECT_EQ(a.audit().problems, "");
}

} // namespace
