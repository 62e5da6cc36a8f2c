// Resource registry under platform faults: every allocation failing, every
// mutex call and release failing or reporting a dead owner (8000). The
// statuses follow the merge rule (first failure kept, 8000 wins), the state
// is what the operation leaves on that path, no mutex stays locked and no
// block leaks (the fixture checks the live counts at the end).
#include <functional>
#include <string>
#include <vector>

#include "rsrc_fixture.hpp"

namespace {

using rsrctest::RsrcTest;

constexpr vek_st_t kDead = VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;
constexpr vek_st_t kOther = VEK_ST_NVM_ERROR; // some failure of a release

// One injected call fault (at most one per kind of call at a time).
struct CallFault {
    int call;
    uint32_t nth;
    vek_st_t status;
};

void arm(const std::vector<CallFault> &faults) {
    for (const CallFault &f : faults) vek_saltest_fail_call(f.call, f.nth, 1, f.status);
}

std::string describe(const std::vector<CallFault> &faults) {
    static const char *const names[] = {"robust free", "mutex init", "mutex lock", "mutex unlock", "mutex destroy"};
    std::string s;
    for (const CallFault &f : faults) s += vektest::format("%s #%u -> %u; ", names[f.call], f.nth, f.status);
    return s;
}

// Registry with a writable resource a (16 ids from 0, 0..2 in use) and,
// newer, a read-only resource ro.
class FaultTest : public RsrcTest {
protected:
    void SetUp() override {
        RsrcTest::SetUp();
        a_ = make(1, "a", 16, 0);
        ro_ = make(1, "ro", 4, 100, 1);
        uint32_t id = 0;
        ASSERT_EQ(vek_rsrc_allocate(a_, 3, &id), VEK_ST_SUCCESS);
        vek_saltest_reset();
    }
    vek_rsrc_t *a_ = nullptr;
    vek_rsrc_t *ro_ = nullptr;
};

// ---- operations on one record ---------------------------------------------------

struct RecordCase {
    const char *what;
    std::function<vek_st_t(vek_rsrc_t *)> op;
    std::function<bool(vek_rsrc_t *)> applied; // whether the operation's effect is there
};

TEST_F(FaultTest, RecordOperationsUnderLockAndUnlockFaults) {
    vek_rsrc_info_t info{};
    const RecordCase ops[] = {
        {"allocate",
         [](vek_rsrc_t *r) {
             uint32_t i = 0;
             return vek_rsrc_allocate(r, 2, &i);
         },
         [](vek_rsrc_t *r) { return r->numElemsFree == 11 && vek_bitmap_isset(r->bitmap, 4) == 1; }},
        {"allocate_fixed", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 2, 10); },
         [](vek_rsrc_t *r) { return r->numElemsFree == 11 && vek_bitmap_isset(r->bitmap, 11) == 1; }},
        {"free", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 0, 3); },
         [](vek_rsrc_t *r) { return r->numElemsFree == 16 && vek_bitmap_isset(r->bitmap, 0) == 0; }},
        {"query", [&info](vek_rsrc_t *r) { return vek_rsrc_query(r, &info); },
         [&info](vek_rsrc_t *) { return info.numElems == 16 && info.numElemsFree == 13; }},
    };
    struct Fault {
        CallFault fault;
        bool applied;
    };
    const Fault faults[] = {
        {{VEK_SALTEST_MUTEX_LOCK, 1, VEK_ST_MUTEX_WAIT_ERROR}, false},
        {{VEK_SALTEST_MUTEX_LOCK, 1, kDead}, true}, // the lock is held: go on, report 8000
        {{VEK_SALTEST_MUTEX_UNLOCK, 1, VEK_ST_MUTEX_POST_ERROR}, true},
        {{VEK_SALTEST_MUTEX_UNLOCK, 1, kDead}, true},
    };
    for (const RecordCase &o : ops) {
        for (const Fault &f : faults) {
            SCOPED_TRACE(std::string(o.what) + ": " + describe({f.fault}));
            vek_rsrc_t *r = make(2, "victim", 16, 0);
            uint32_t id = 0;
            ASSERT_EQ(vek_rsrc_allocate(r, 3, &id), VEK_ST_SUCCESS);
            info = vek_rsrc_info_t{};
            vek_saltest_reset();
            arm({f.fault});
            EXPECT_EQ(o.op(r), f.fault.status);
            EXPECT_EQ(vek_saltest_faults_fired(), 1u);
            EXPECT_EQ(o.applied(r), f.applied);
            EXPECT_TRUE(rsrctest::mutex_free(&r->mutex));
            vek_saltest_reset();
            ASSERT_EQ(vek_rsrc_destroy(&hdl_, r), VEK_ST_SUCCESS);
        }
    }
}

TEST_F(FaultTest, FailuresKeepTheirStatusUnlessTheUnlockReportsADeadOwner) {
    const std::function<vek_st_t()> ops[] = {
        [this] {
            uint32_t i = 0;
            return vek_rsrc_allocate(a_, 0, &i);
        },
        [this] { return vek_rsrc_allocate_fixed(a_, 1, 16); },
        [this] { return vek_rsrc_free(a_, 5, 1); },
        [this] { return vek_rsrc_query(a_, nullptr); },
        [this] { return vek_rsrc_issetv2(a_, 0, nullptr); },
    };
    for (const auto &op : ops) {
        vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, 1, 1, VEK_ST_MUTEX_POST_ERROR);
        EXPECT_EQ(op(), VEK_ST_INVALID_PARAMETER);
        vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, 1, 1, kDead);
        EXPECT_EQ(op(), kDead);
        vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 1, kDead);
        EXPECT_EQ(op(), kDead);
    }
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, 1, 1, VEK_ST_MUTEX_POST_ERROR);
    uint32_t id = 0;
    EXPECT_EQ(vek_rsrc_allocate(ro_, 1, &id), VEK_ST_RSRC_READ_ONLY);
    EXPECT_EQ(a_->numElemsFree, 13u);
    EXPECT_TRUE(rsrctest::mutex_free(&a_->mutex));
    EXPECT_TRUE(rsrctest::mutex_free(&ro_->mutex));
}

TEST_F(FaultTest, IssetAnswersZeroOnEveryFault) {
    const CallFault faults[] = {
        {VEK_SALTEST_MUTEX_LOCK, 1, VEK_ST_MUTEX_WAIT_ERROR},
        {VEK_SALTEST_MUTEX_LOCK, 1, kDead},
        {VEK_SALTEST_MUTEX_UNLOCK, 1, VEK_ST_MUTEX_POST_ERROR},
        {VEK_SALTEST_MUTEX_UNLOCK, 1, kDead},
    };
    for (vek_rsrc_t *r : {a_, ro_}) {
        const uint32_t id = r->baseId; // in use in both
        ASSERT_EQ(vek_rsrc_isset(r, id), 1u);
        for (const CallFault &f : faults) {
            SCOPED_TRACE(describe({f}));
            arm({f});
            EXPECT_EQ(vek_rsrc_isset(r, id), 0u);
            arm({f});
            uint8_t res = 0xAA;
            EXPECT_EQ(vek_rsrc_issetv2(r, id, &res), f.status);
            EXPECT_EQ(res, 0);
            EXPECT_TRUE(rsrctest::mutex_free(&r->mutex));
        }
    }
}

// ---- find, dump and create, under the registry's mutex --------------------------

TEST_F(FaultTest, FindAndDumpUnderLockAndUnlockFaults) {
    struct Case {
        CallFault fault;
        bool done;
    };
    const Case cases[] = {
        {{VEK_SALTEST_MUTEX_LOCK, 1, VEK_ST_MUTEX_WAIT_ERROR}, false},
        {{VEK_SALTEST_MUTEX_LOCK, 1, kDead}, true},
        {{VEK_SALTEST_MUTEX_UNLOCK, 1, VEK_ST_MUTEX_POST_ERROR}, true},
        {{VEK_SALTEST_MUTEX_UNLOCK, 1, kDead}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(describe({c.fault}));
        vek_rsrc_t *out = nullptr;
        arm({c.fault});
        EXPECT_EQ(vek_rsrc_find(&hdl_, 1, "a", &out), c.fault.status);
        EXPECT_EQ(out, c.done ? a_ : nullptr);
        arm({c.fault});
        const std::string table = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 8), c.fault.status); });
        EXPECT_EQ(table.empty(), !c.done);
        EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
    }
    // A bad kind is refused before the registry is locked.
    vek_saltest_reset();
    arm({{VEK_SALTEST_MUTEX_LOCK, 1, VEK_ST_MUTEX_WAIT_ERROR}});
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 9), VEK_ST_INVALID_PARAMETER); }), "");
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_LOCK), 0u);
    vek_saltest_reset();
    // A miss keeps its status unless the unlock reports a dead owner.
    vek_rsrc_t *out = nullptr;
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, 1, 1, VEK_ST_MUTEX_POST_ERROR);
    EXPECT_EQ(vek_rsrc_find(&hdl_, 1, "none", &out), VEK_ST_INVALID_VALUE);
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, 1, 1, kDead);
    EXPECT_EQ(vek_rsrc_find(&hdl_, 1, "none", &out), kDead);
}

struct CreateFault {
    const char *what;
    uint32_t failing_alloc; // robust allocation made to fail, 0: none
    std::vector<CallFault> calls;
    uint8_t readOnly;
    vek_st_t expected;
    bool created;
};

TEST_F(FaultTest, CreateUnderFaults) {
    // Robust allocations of a create: record, name, bitmap header, bitmap words.
    const CreateFault cases[] = {
        {"registry lock fails",
         0,
         {{VEK_SALTEST_MUTEX_LOCK, 1, VEK_ST_MUTEX_WAIT_ERROR}},
         0,
         VEK_ST_MUTEX_WAIT_ERROR,
         false},
        {"registry lock: dead owner", 0, {{VEK_SALTEST_MUTEX_LOCK, 1, kDead}}, 0, kDead, true},
        {"registry unlock fails",
         0,
         {{VEK_SALTEST_MUTEX_UNLOCK, 1, VEK_ST_MUTEX_POST_ERROR}},
         0,
         VEK_ST_MUTEX_POST_ERROR,
         true},
        {"registry unlock: dead owner", 0, {{VEK_SALTEST_MUTEX_UNLOCK, 1, kDead}}, 1, kDead, true},
        {"record mutex init fails",
         0,
         {{VEK_SALTEST_MUTEX_INIT, 1, VEK_ST_MUTEX_INIT_ERROR}},
         0,
         VEK_ST_MUTEX_INIT_ERROR,
         false},
        {"mutex init fails, record release fails",
         0,
         {{VEK_SALTEST_MUTEX_INIT, 1, VEK_ST_MUTEX_SHARED_INIT_ERROR}, {VEK_SALTEST_ROBUST_FREE, 1, kOther}},
         0,
         VEK_ST_MUTEX_SHARED_INIT_ERROR,
         false},
        {"mutex init fails, record release: dead owner",
         0,
         {{VEK_SALTEST_MUTEX_INIT, 1, VEK_ST_MUTEX_INIT_ERROR}, {VEK_SALTEST_ROBUST_FREE, 1, kDead}},
         0,
         kDead,
         false},
        {"name allocation fails", 2, {}, 1, VEK_ST_NO_MEMORY, false},
        {"name allocation fails, mutex destroy fails",
         2,
         {{VEK_SALTEST_MUTEX_DESTROY, 1, VEK_ST_MUTEX_DESTROY_ERROR}},
         0,
         VEK_ST_NO_MEMORY,
         false},
        {"name allocation fails, record release: dead owner",
         2,
         {{VEK_SALTEST_ROBUST_FREE, 1, kDead}},
         0,
         kDead,
         false},
        {"bitmap header allocation fails", 3, {}, 0, VEK_ST_NO_MEMORY, false},
        {"bitmap words allocation fails", 4, {}, 0, VEK_ST_NO_MEMORY, false},
        // The bitmap's own release of its header is not ours to report.
        {"bitmap words fail, bitmap's header release fails",
         4,
         {{VEK_SALTEST_ROBUST_FREE, 1, kOther}},
         0,
         VEK_ST_NO_MEMORY,
         false},
        // A failing clean-up step reports its status instead of 2.
        {"bitmap fails, name release fails", 3, {{VEK_SALTEST_ROBUST_FREE, 1, kOther}}, 0, kOther, false},
        {"bitmap fails, mutex destroy fails",
         3,
         {{VEK_SALTEST_MUTEX_DESTROY, 1, VEK_ST_MUTEX_DESTROY_ERROR}},
         0,
         VEK_ST_MUTEX_DESTROY_ERROR,
         false},
        {"bitmap fails, record release: dead owner",
         3,
         {{VEK_SALTEST_MUTEX_DESTROY, 1, VEK_ST_MUTEX_DESTROY_ERROR}, {VEK_SALTEST_ROBUST_FREE, 2, kDead}},
         0,
         kDead,
         false},
        {"bitmap fails, registry unlock fails",
         3,
         {{VEK_SALTEST_MUTEX_UNLOCK, 1, VEK_ST_MUTEX_POST_ERROR}},
         0,
         VEK_ST_NO_MEMORY,
         false},
        {"bitmap fails, registry unlock: dead owner", 3, {{VEK_SALTEST_MUTEX_UNLOCK, 1, kDead}}, 0, kDead, false},
        {"duplicate, registry lock: dead owner", 0, {{VEK_SALTEST_MUTEX_LOCK, 1, kDead}}, 0, kDead, false},
    };
    for (const CreateFault &c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + describe(c.calls));
        const bool duplicate = std::string(c.what).rfind("duplicate", 0) == 0;
        const char *name = duplicate ? "a" : "new";
        const long live = vek_saltest_robust_live();
        vek_saltest_reset();
        if (c.failing_alloc != 0) vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, c.failing_alloc, 1);
        arm(c.calls);
        vek_rsrc_t *rec = nullptr;
        EXPECT_EQ(vek_rsrc_create_intern(&hdl_, 1, name, 40, 0, &rec, c.readOnly), c.expected);
        EXPECT_EQ(vek_saltest_faults_fired(), c.calls.size() + (c.failing_alloc != 0 ? 1 : 0));
        // A record mutex initialised before the failure is destroyed again.
        if (!c.created) {
            EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_DESTROY), c.failing_alloc >= 2 ? 1u : 0u);
        }
        vek_saltest_reset();
        EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
        if (c.created) {
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ(reg()->rsrcHead, rec);
            EXPECT_EQ(reg()->numRsrcs, 3u);
            EXPECT_TRUE(rsrctest::mutex_free(&rec->mutex));
            EXPECT_EQ(vek_rsrc_destroy(&hdl_, rec), VEK_ST_SUCCESS);
        } else {
            EXPECT_EQ(rec, nullptr);
            EXPECT_EQ(reg()->rsrcHead, ro_);
            EXPECT_EQ(reg()->numRsrcs, 2u);
        }
        EXPECT_EQ(vek_saltest_robust_live(), live);
    }
}

// ---- destroy and release go on whatever fails -----------------------------------

struct TeardownCase {
    std::vector<CallFault> calls;
    vek_st_t expected;
    uint32_t unlocks; // unlock calls made: a mutex is unlocked whenever its lock holds it
};

TEST_F(FaultTest, DestroyGoesOnAndReportsTheMergedStatus) {
    // Destroying a: locks registry #1, record #2; unlocks record #1, registry #2;
    // destroys the record mutex; releases name #1, bitmap words #2 and header
    // #3 (the bitmap's, not reported), record #4.
    const TeardownCase cases[] = {
        {{}, VEK_ST_SUCCESS, 2},
        {{{VEK_SALTEST_MUTEX_LOCK, 1, VEK_ST_MUTEX_WAIT_ERROR}}, VEK_ST_MUTEX_WAIT_ERROR, 1},
        {{{VEK_SALTEST_MUTEX_LOCK, 1, kDead}}, kDead, 2},
        {{{VEK_SALTEST_MUTEX_LOCK, 2, VEK_ST_MUTEX_WAIT_ERROR}}, VEK_ST_MUTEX_WAIT_ERROR, 1},
        {{{VEK_SALTEST_MUTEX_LOCK, 2, kDead}}, kDead, 2},
        {{{VEK_SALTEST_MUTEX_UNLOCK, 1, VEK_ST_MUTEX_POST_ERROR}}, VEK_ST_MUTEX_POST_ERROR, 2},
        {{{VEK_SALTEST_MUTEX_UNLOCK, 2, kDead}}, kDead, 2},
        {{{VEK_SALTEST_MUTEX_DESTROY, 1, VEK_ST_MUTEX_DESTROY_ERROR}}, VEK_ST_MUTEX_DESTROY_ERROR, 2},
        {{{VEK_SALTEST_ROBUST_FREE, 1, kOther}}, kOther, 2},
        {{{VEK_SALTEST_ROBUST_FREE, 2, kOther}}, VEK_ST_SUCCESS, 2},
        {{{VEK_SALTEST_ROBUST_FREE, 4, kDead}}, kDead, 2},
        {{{VEK_SALTEST_MUTEX_LOCK, 2, VEK_ST_MUTEX_WAIT_ERROR}, {VEK_SALTEST_ROBUST_FREE, 1, kOther}},
         VEK_ST_MUTEX_WAIT_ERROR,
         1},
        {{{VEK_SALTEST_MUTEX_DESTROY, 1, VEK_ST_MUTEX_DESTROY_ERROR}, {VEK_SALTEST_ROBUST_FREE, 4, kDead}}, kDead, 2},
    };
    for (const TeardownCase &c : cases) {
        SCOPED_TRACE(describe(c.calls));
        vek_rsrc_t *victim = make(2, "victim", 40, 0);
        const long live = vek_saltest_robust_live();
        vek_saltest_reset();
        arm(c.calls);
        EXPECT_EQ(vek_rsrc_destroy(&hdl_, victim), c.expected);
        EXPECT_EQ(vek_saltest_faults_fired(), c.calls.size());
        EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK), c.unlocks);
        EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_DESTROY), 1u);
        vek_saltest_reset();
        EXPECT_EQ(vek_saltest_robust_live(), live - 4);
        EXPECT_EQ(list(), (std::vector<vek_rsrc_t *>{ro_, a_}));
        EXPECT_EQ(reg()->numRsrcs, 2u);
        EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
    }
    // Not in the registry: 7, unless the registry's lock saw a dead owner.
    vek_rsrc_t stray{};
    stray.vekHdl = &hdl_;
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 1, VEK_ST_MUTEX_WAIT_ERROR);
    EXPECT_EQ(vek_rsrc_destroy(&hdl_, &stray), VEK_ST_INVALID_PARAMETER);
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 1, kDead);
    EXPECT_EQ(vek_rsrc_destroy(&hdl_, &stray), kDead);
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, 1, 1, VEK_ST_MUTEX_POST_ERROR);
    EXPECT_EQ(vek_rsrc_destroy(&hdl_, &stray), VEK_ST_INVALID_PARAMETER);
    EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
    EXPECT_EQ(reg()->numRsrcs, 2u);
}

TEST_F(FaultTest, ReleaseGoesOnAndReportsTheMergedStatus) {
    // List: ro, a. Locks registry #1, ro #2, a #3; unlocks ro #1, a #2,
    // registry #3; destroys ro #1, a #2, registry #3; releases ro's name #1
    // and record #2, a's bitmap words #3 and header #4 (not reported), name
    // #5 and record #6, the registry #7.
    const TeardownCase cases[] = {
        {{}, VEK_ST_SUCCESS, 3},
        {{{VEK_SALTEST_MUTEX_LOCK, 1, VEK_ST_MUTEX_WAIT_ERROR}}, VEK_ST_MUTEX_WAIT_ERROR, 2},
        {{{VEK_SALTEST_MUTEX_LOCK, 1, kDead}}, kDead, 3},
        {{{VEK_SALTEST_MUTEX_LOCK, 2, VEK_ST_MUTEX_WAIT_ERROR}}, VEK_ST_MUTEX_WAIT_ERROR, 2},
        {{{VEK_SALTEST_MUTEX_LOCK, 3, kDead}}, kDead, 3},
        {{{VEK_SALTEST_MUTEX_UNLOCK, 3, VEK_ST_MUTEX_POST_ERROR}}, VEK_ST_MUTEX_POST_ERROR, 3},
        {{{VEK_SALTEST_MUTEX_DESTROY, 1, VEK_ST_MUTEX_DESTROY_ERROR}}, VEK_ST_MUTEX_DESTROY_ERROR, 3},
        {{{VEK_SALTEST_MUTEX_DESTROY, 3, VEK_ST_MUTEX_DESTROY_ERROR}}, VEK_ST_MUTEX_DESTROY_ERROR, 3},
        {{{VEK_SALTEST_ROBUST_FREE, 3, kOther}}, VEK_ST_SUCCESS, 3},
        {{{VEK_SALTEST_ROBUST_FREE, 5, kOther}}, kOther, 3},
        {{{VEK_SALTEST_ROBUST_FREE, 7, kDead}}, kDead, 3},
        {{{VEK_SALTEST_ROBUST_FREE, 1, kOther}, {VEK_SALTEST_MUTEX_LOCK, 3, kDead}}, kDead, 3},
        {{{VEK_SALTEST_MUTEX_LOCK, 1, VEK_ST_MUTEX_WAIT_ERROR}, {VEK_SALTEST_MUTEX_UNLOCK, 1, kOther}},
         VEK_ST_MUTEX_WAIT_ERROR,
         2},
    };
    for (const TeardownCase &c : cases) {
        SCOPED_TRACE(describe(c.calls));
        vek_hdl_t hdl{VEK_HDL_MAGIC, nullptr};
        const long live = vek_saltest_robust_live();
        ASSERT_EQ(vek_rsrc_init(&hdl), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_rsrc_create(&hdl, 1, "a", 16, 0, nullptr), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_rsrc_create_intern(&hdl, 1, "ro", 4, 100, nullptr, 1), VEK_ST_SUCCESS);
        vek_saltest_reset();
        arm(c.calls);
        EXPECT_EQ(vek_rsrc_release(&hdl), c.expected);
        EXPECT_EQ(vek_saltest_faults_fired(), c.calls.size());
        EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK), c.unlocks);
        EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_DESTROY), 3u);
        vek_saltest_reset();
        EXPECT_EQ(hdl.rsrcRegistry, nullptr);
        EXPECT_EQ(vek_saltest_robust_live(), live);
    }
}

TEST_F(FaultTest, ExitLinesArePrintedOnLockFailures) {
    vektest::TraceLevel level(12);
    uint32_t id = 7;
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 1, VEK_ST_MUTEX_WAIT_ERROR);
    std::string got =
        vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_allocate(a_, 1, &id), VEK_ST_MUTEX_WAIT_ERROR); });
    EXPECT_EQ(got, vektest::format("vek_rsrc_allocate inRsrcHdl=%llx inNumIds=1 outStartId=%llx\n"
                                   "vek_rsrc_allocate vekStatus=130 outStartId=7\n",
                                   vektest::ptr(a_), vektest::ptr(&id)));
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 1, kDead);
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_destroy(&hdl_, ro_), kDead); });
    EXPECT_EQ(got, vektest::format("vek_rsrc_destroy inVekHdl=%llx inRsrcHdl=%llx\n"
                                   "vek_rsrc_destroy vekStatus=1f40\n",
                                   vektest::ptr(&hdl_), vektest::ptr(ro_)));
}

// ---- init ---------------------------------------------------------------------

TEST_F(FaultTest, InitKeepsNoRegistryWhenItFails) {
    struct Case {
        bool alloc_fails;
        std::vector<CallFault> calls;
        vek_st_t expected;
    };
    const Case cases[] = {
        {true, {}, VEK_ST_NO_MEMORY},
        {false, {{VEK_SALTEST_MUTEX_INIT, 1, VEK_ST_MUTEX_ATTR_INIT_ERROR}}, VEK_ST_MUTEX_ATTR_INIT_ERROR},
        {false,
         {{VEK_SALTEST_MUTEX_INIT, 1, VEK_ST_MUTEX_INIT_ERROR}, {VEK_SALTEST_ROBUST_FREE, 1, kOther}},
         VEK_ST_MUTEX_INIT_ERROR},
        {false, {{VEK_SALTEST_MUTEX_INIT, 1, VEK_ST_MUTEX_INIT_ERROR}, {VEK_SALTEST_ROBUST_FREE, 1, kDead}}, kDead},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(describe(c.calls));
        vek_hdl_t hdl{VEK_HDL_MAGIC, nullptr};
        const long live = vek_saltest_robust_live();
        if (c.alloc_fails) vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
        arm(c.calls);
        EXPECT_EQ(vek_rsrc_init(&hdl), c.expected);
        vek_saltest_reset();
        EXPECT_EQ(hdl.rsrcRegistry, nullptr);
        EXPECT_EQ(vek_saltest_robust_live(), live);
    }
}

// ---- every allocation failure point of a whole lifecycle -------------------------

TEST_F(FaultTest, EveryAllocationFailureOfALifecycleIsCleanedUp) {
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_ANY, [](uint32_t) {
        vek_hdl_t hdl{VEK_HDL_MAGIC, nullptr};
        const vek_st_t init = vek_rsrc_init(&hdl);
        if (init != VEK_ST_SUCCESS) {
            EXPECT_EQ(init, VEK_ST_NO_MEMORY);
            EXPECT_EQ(hdl.rsrcRegistry, nullptr);
            return;
        }
        const struct {
            const char *name;
            uint8_t readOnly;
        } wanted[] = {{"w", 0}, {"r", 1}, {"w2", 0}};
        std::vector<vek_rsrc_t *> made;
        for (const auto &s : wanted) {
            vek_rsrc_t *rec = nullptr;
            const vek_st_t st = vek_rsrc_create_intern(&hdl, 3, s.name, 70, 10, &rec, s.readOnly);
            if (st == VEK_ST_SUCCESS) {
                made.push_back(rec);
            } else {
                EXPECT_EQ(st, VEK_ST_NO_MEMORY);
                EXPECT_EQ(rec, nullptr);
            }
            EXPECT_EQ(hdl.rsrcRegistry->numRsrcs, made.size());
        }
        // Nothing below allocates.
        for (vek_rsrc_t *rec : made) {
            uint32_t id = 0;
            vek_rsrc_info_t info{};
            EXPECT_EQ(vek_rsrc_query(rec, &info), VEK_ST_SUCCESS);
            if (rec->bitmap == nullptr) continue;
            EXPECT_EQ(vek_rsrc_allocate(rec, 5, &id), VEK_ST_SUCCESS);
            EXPECT_EQ(vek_rsrc_allocate_fixed(rec, 2, 70), VEK_ST_SUCCESS);
            EXPECT_EQ(vek_rsrc_free(rec, id, 5), VEK_ST_SUCCESS);
            EXPECT_EQ(vek_rsrc_isset(rec, 71), 1u);
        }
        if (!made.empty()) {
            vek_rsrc_t *found = nullptr;
            EXPECT_EQ(vek_rsrc_find(&hdl, 3, made.front()->name, &found), VEK_ST_SUCCESS);
            EXPECT_EQ(found, made.front());
            EXPECT_EQ(vek_rsrc_destroy(&hdl, made.front()), VEK_ST_SUCCESS);
        }
        EXPECT_EQ(vek_rsrc_release(&hdl), VEK_ST_SUCCESS);
    });
    // registry, then record, name, bitmap header and words per writable
    // resource and record and name for the read-only one
    EXPECT_EQ(points, 1u + 4u + 2u + 4u);
}

} // namespace
