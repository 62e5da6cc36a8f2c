// Identifier allocation on resources: allocate, allocate at a fixed
// position, free, isset, issetv2 and query, with their failure statuses and
// trace lines.
#include <functional>
#include <string>
#include <vector>

#include "rsrc_fixture.hpp"

namespace {

using rsrctest::id_state;
using rsrctest::IdState;
using rsrctest::RsrcTest;
using rsrctest::used_ids;
using vektest::format;
using vektest::ptr;

// A resource of ten identifiers from 100.
class IdsTest : public RsrcTest {
protected:
    void SetUp() override {
        RsrcTest::SetUp();
        rec_ = make(1, "ten", 10, 100);
        ASSERT_NE(rec_, nullptr);
    }
    vek_rsrc_t *rec_ = nullptr;
};

TEST_F(IdsTest, AllocatesFirstFitRunsAndFreesThem) {
    uint32_t id = 0;
    ASSERT_EQ(vek_rsrc_allocate(rec_, 3, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(id, 100u);
    ASSERT_EQ(vek_rsrc_allocate(rec_, 3, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(id, 103u);
    EXPECT_EQ(vek_rsrc_free(rec_, 100, 3), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_rsrc_allocate(rec_, 4, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(id, 106u);
    EXPECT_EQ(rec_->numElemsFree, 3u);
    EXPECT_EQ(used_ids(rec_), (std::vector<uint32_t>{103, 104, 105, 106, 107, 108, 109}));
    // The freed run is found again, then the resource is full.
    ASSERT_EQ(vek_rsrc_allocate(rec_, 3, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(id, 100u);
    EXPECT_EQ(rec_->numElemsFree, 0u);
    EXPECT_EQ(vek_rsrc_allocate(rec_, 1, &id), VEK_ST_RSRC_INSUFF_IDS_AVAIL);
    EXPECT_TRUE(rsrctest::mutex_free(&rec_->mutex));
}

TEST_F(IdsTest, AllocateFixedTakesExactlyTheRun) {
    EXPECT_EQ(vek_rsrc_allocate_fixed(rec_, 2, 104), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_allocate_fixed(rec_, 1, 109), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_allocate_fixed(rec_, 1, 100), VEK_ST_SUCCESS);
    EXPECT_EQ(used_ids(rec_), (std::vector<uint32_t>{100, 104, 105, 109}));
    EXPECT_EQ(rec_->numElemsFree, 6u);
    // First fit goes around the fixed runs.
    uint32_t id = 0;
    ASSERT_EQ(vek_rsrc_allocate(rec_, 3, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(id, 101u);
    ASSERT_EQ(vek_rsrc_allocate(rec_, 3, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(id, 106u);
    EXPECT_EQ(rec_->numElemsFree, 0u);
    EXPECT_EQ(vek_rsrc_free(rec_, 100, 10), VEK_ST_SUCCESS);
    EXPECT_EQ(rec_->numElemsFree, 10u);
    EXPECT_TRUE(used_ids(rec_).empty());
}

// Every failure leaves the identifiers and the free count as they were.
struct Failure {
    const char *what;
    std::function<vek_st_t(vek_rsrc_t *)> op;
    vek_st_t expected;
};

TEST_F(IdsTest, FailuresChangeNothing) {
    // 100..102 and 105 in use.
    uint32_t id = 0;
    ASSERT_EQ(vek_rsrc_allocate(rec_, 3, &id), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_rsrc_allocate_fixed(rec_, 1, 105), VEK_ST_SUCCESS);
    const Failure cases[] = {
        {"allocate more than are free",
         [](vek_rsrc_t *r) {
             uint32_t i = 0;
             return vek_rsrc_allocate(r, 7, &i);
         },
         VEK_ST_RSRC_INSUFF_IDS_AVAIL},
        {"allocate more than exist",
         [](vek_rsrc_t *r) {
             uint32_t i = 0;
             return vek_rsrc_allocate(r, 11, &i);
         },
         VEK_ST_RSRC_INSUFF_IDS_AVAIL},
        {"allocate zero",
         [](vek_rsrc_t *r) {
             uint32_t i = 0;
             return vek_rsrc_allocate(r, 0, &i);
         },
         VEK_ST_INVALID_PARAMETER},
        {"allocate to a null pointer", [](vek_rsrc_t *r) { return vek_rsrc_allocate(r, 1, nullptr); },
         VEK_ST_INVALID_PARAMETER},
        {"no run long enough (free ids split)",
         [](vek_rsrc_t *r) {
             uint32_t i = 0;
             return vek_rsrc_allocate(r, 5, &i);
         },
         VEK_ST_INVALID_PARAMETER},
        {"fixed zero", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 0, 103); }, VEK_ST_INVALID_PARAMETER},
        {"fixed more than are free", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 7, 103); },
         VEK_ST_RSRC_INSUFF_IDS_AVAIL},
        {"fixed over the end", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 2, 109); },
         VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE},
        {"fixed over an id in use", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 3, 103); },
         VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE},
        {"fixed on an id in use", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 1, 102); },
         VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE},
        {"fixed past the end", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 1, 110); },
         VEK_ST_INVALID_PARAMETER},
        {"fixed more than are free, past the end", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 7, 110); },
         VEK_ST_RSRC_INSUFF_IDS_AVAIL},
        {"fixed below the base", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 1, 99); },
         VEK_ST_INVALID_PARAMETER},
        {"fixed far out", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 1, 0xFFFFFFFFu); },
         VEK_ST_INVALID_PARAMETER},
        {"free below the base", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 99, 1); }, VEK_ST_INVALID_PARAMETER},
        {"free past the end", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 108, 3); }, VEK_ST_INVALID_PARAMETER},
        {"free zero", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 100, 0); }, VEK_ST_INVALID_PARAMETER},
        {"free a free id", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 103, 1); }, VEK_ST_INVALID_PARAMETER},
        {"free a run with a free id", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 101, 3); }, VEK_ST_INVALID_PARAMETER},
        {"free a run whose end wraps", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 101, 0xFFFFFFFFu); },
         VEK_ST_INVALID_PARAMETER},
        {"free the highest id", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 0xFFFFFFFFu, 1); },
         VEK_ST_INVALID_PARAMETER},
    };
    const IdState before = id_state(rec_);
    for (const Failure &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.op(rec_), c.expected);
        EXPECT_EQ(id_state(rec_), before);
        EXPECT_EQ(rec_->bitmap->firstFree, 3u);
        EXPECT_TRUE(rsrctest::mutex_free(&rec_->mutex));
    }
}

TEST_F(IdsTest, EmptyResourceCannotAllocate) {
    vek_rsrc_t *empty = make(1, "empty", 0, 50);
    uint32_t id = 0xDEAD;
    EXPECT_EQ(vek_rsrc_allocate(empty, 1, &id), VEK_ST_RSRC_INSUFF_IDS_AVAIL);
    EXPECT_EQ(vek_rsrc_allocate(empty, 0, &id), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_rsrc_allocate_fixed(empty, 1, 50), VEK_ST_RSRC_INSUFF_IDS_AVAIL);
    EXPECT_EQ(vek_rsrc_free(empty, 50, 1), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_rsrc_isset(empty, 50), 0u);
    EXPECT_EQ(id, 0xDEADu);
    EXPECT_EQ(empty->numElemsFree, 0u);
}

TEST_F(IdsTest, ReadOnlyResourceIsAllInUseAndNeverChanges) {
    vek_rsrc_t *ro = make(3, "ro", 4, 20, 1);
    for (uint32_t id = 18; id < 26; ++id) {
        SCOPED_TRACE(id);
        const uint32_t expect = (id >= 20 && id < 24) ? 1 : 0;
        EXPECT_EQ(vek_rsrc_isset(ro, id), expect);
        uint8_t res = 0xAA;
        EXPECT_EQ(vek_rsrc_issetv2(ro, id, &res), VEK_ST_SUCCESS);
        EXPECT_EQ(res, expect);
    }
    uint32_t id = 0;
    EXPECT_EQ(vek_rsrc_allocate(ro, 1, &id), VEK_ST_RSRC_READ_ONLY);
    EXPECT_EQ(vek_rsrc_allocate(ro, 5, &id), VEK_ST_RSRC_INSUFF_IDS_AVAIL);
    EXPECT_EQ(vek_rsrc_allocate_fixed(ro, 1, 20), VEK_ST_RSRC_READ_ONLY);
    EXPECT_EQ(vek_rsrc_free(ro, 20, 1), VEK_ST_RSRC_READ_ONLY);
    EXPECT_EQ(vek_rsrc_free(ro, 19, 1), VEK_ST_INVALID_PARAMETER); // range first
    // Order of the checks: the free count, then the read-only mark, then a
    // zero count, then (allocate_fixed) the position; free tests the count
    // and the range before the mark.
    EXPECT_EQ(vek_rsrc_allocate(ro, 0, &id), VEK_ST_RSRC_READ_ONLY);
    EXPECT_EQ(vek_rsrc_allocate_fixed(ro, 0, 99), VEK_ST_RSRC_READ_ONLY);
    EXPECT_EQ(vek_rsrc_allocate_fixed(ro, 5, 99), VEK_ST_RSRC_INSUFF_IDS_AVAIL);
    EXPECT_EQ(vek_rsrc_free(ro, 20, 0), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(ro->numElemsFree, 4u);
}

TEST_F(IdsTest, IssetAnswersForWritableResources) {
    ASSERT_EQ(vek_rsrc_allocate_fixed(rec_, 2, 103), VEK_ST_SUCCESS);
    for (uint32_t id : {0u, 99u, 100u, 102u, 103u, 104u, 105u, 109u, 110u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        const uint32_t expect = (id == 103 || id == 104) ? 1 : 0;
        EXPECT_EQ(vek_rsrc_isset(rec_, id), expect);
        uint8_t res = 0xAA;
        EXPECT_EQ(vek_rsrc_issetv2(rec_, id, &res), VEK_ST_SUCCESS);
        EXPECT_EQ(res, expect);
    }
    EXPECT_EQ(vek_rsrc_issetv2(rec_, 103, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_TRUE(rsrctest::mutex_free(&rec_->mutex));
}

TEST_F(IdsTest, QueryCopiesTheRecord) {
    uint32_t id = 0;
    ASSERT_EQ(vek_rsrc_allocate(rec_, 4, &id), VEK_ST_SUCCESS);
    vek_rsrc_info_t info{};
    ASSERT_EQ(vek_rsrc_query(rec_, &info), VEK_ST_SUCCESS);
    EXPECT_EQ(info.kind, 1u);
    EXPECT_EQ(info.name, rec_->name); // the record's own string
    EXPECT_STREQ(info.name, "ten");
    EXPECT_EQ(info.baseId, 100u);
    EXPECT_EQ(info.numElems, 10u);
    EXPECT_EQ(info.numElemsFree, 6u);
    EXPECT_EQ(vek_rsrc_query(rec_, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_TRUE(rsrctest::mutex_free(&rec_->mutex));
}

TEST_F(IdsTest, KindFiveIdentifiersNearTheTopOfTheRange) {
    vek_rsrc_t *top = make(5, "top", 16, 0xFFFFFFF0u);
    uint32_t id = 0;
    ASSERT_EQ(vek_rsrc_allocate(top, 4, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(id, 0xFFFFFFF0u);
    EXPECT_EQ(vek_rsrc_allocate_fixed(top, 1, 0xFFFFFFFFu), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_isset(top, 0xFFFFFFFFu), 1u);
    EXPECT_EQ(vek_rsrc_isset(top, 5), 0u);
    EXPECT_EQ(vek_rsrc_free(top, 0xFFFFFFFFu, 1), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_free(top, 0xFFFFFFF0u, 4), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_free(top, 5, 1), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(top->numElemsFree, 16u);
}

TEST_F(IdsTest, RecordOperationsAllocateNothing) {
    vek_saltest_reset();
    uint32_t id = 0;
    uint8_t res = 0;
    vek_rsrc_info_t info{};
    EXPECT_EQ(vek_rsrc_allocate(rec_, 4, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_allocate_fixed(rec_, 2, 107), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_isset(rec_, 101), 1u);
    EXPECT_EQ(vek_rsrc_issetv2(rec_, 107, &res), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_query(rec_, &info), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_free(rec_, id, 4), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ANY), 0u);
}

// ---- the record check, shared by every record operation -----------------------

struct RecordOp {
    const char *what;
    std::function<vek_st_t(vek_rsrc_t *)> op;
};

TEST_F(IdsTest, RecordOperationsCheckTheRecordAndItsHandle) {
    const RecordOp ops[] = {
        {"allocate",
         [](vek_rsrc_t *r) {
             uint32_t i = 0;
             return vek_rsrc_allocate(r, 1, &i);
         }},
        {"allocate_fixed", [](vek_rsrc_t *r) { return vek_rsrc_allocate_fixed(r, 1, 100); }},
        {"free", [](vek_rsrc_t *r) { return vek_rsrc_free(r, 100, 1); }},
        {"issetv2",
         [](vek_rsrc_t *r) {
             uint8_t res = 0xAA;
             const vek_st_t st = vek_rsrc_issetv2(r, 100, &res);
             EXPECT_EQ(res, 0);
             return st;
         }},
        {"query",
         [](vek_rsrc_t *r) {
             vek_rsrc_info_t info{};
             return vek_rsrc_query(r, &info);
         }},
    };
    vek_hdl_t bad{VEK_HDL_MAGIC ^ 1, reg()};
    vek_hdl_t no_registry{VEK_HDL_MAGIC, nullptr};
    struct Fake {
        const char *what;
        vek_hdl_t *hdl;
        vek_st_t expected;
    };
    const Fake fakes[] = {{"handle null", nullptr, VEK_ST_INVALID_HANDLE},
                          {"handle with a bad magic", &bad, VEK_ST_INVALID_HANDLE},
                          {"handle without registry", &no_registry, VEK_ST_ERROR}};
    // The operations stop before touching the record's mutex or bitmap.
    for (const RecordOp &o : ops) {
        SCOPED_TRACE(o.what);
        EXPECT_EQ(o.op(nullptr), VEK_ST_INVALID_HANDLE);
        for (const Fake &f : fakes) {
            SCOPED_TRACE(f.what);
            vek_rsrc_t fake{};
            fake.vekHdl = f.hdl;
            EXPECT_EQ(o.op(&fake), f.expected);
        }
    }
    EXPECT_EQ(vek_rsrc_isset(nullptr, 100), 0u);
    vek_rsrc_t fake{};
    fake.vekHdl = &no_registry;
    fake.numElems = 5;
    fake.baseId = 100;
    EXPECT_EQ(vek_rsrc_isset(&fake, 100), 0u);
    EXPECT_EQ(rec_->numElemsFree, 10u);
}

// ---- trace lines ---------------------------------------------------------------

TEST_F(IdsTest, AllocateAndFreeTraceTheirFieldsAndTheBitmapCalls) {
    vektest::TraceLevel level(12);
    const unsigned long long r = ptr(rec_);
    const unsigned long long m = ptr(rec_->bitmap);
    uint32_t id = 0;
    std::string got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_allocate(rec_, 2, &id), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_allocate inRsrcHdl=%llx inNumIds=2 outStartId=%llx\n"
                          "vek_bitmap_reserve map=%llx size=2 base=%llx\n"
                          "vek_bitmap_reserve vekStatus=0 base=0\n"
                          "vek_rsrc_allocate vekStatus=0 outStartId=64\n",
                          r, ptr(&id), m, ptr(&id)));

    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_allocate(rec_, 0, &id), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_allocate inRsrcHdl=%llx inNumIds=0 outStartId=%llx\n"
                          "vek_rsrc_allocate vekStatus=7 outStartId=64\n",
                          r, ptr(&id)));
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_allocate(rec_, 1, nullptr), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_allocate inRsrcHdl=%llx inNumIds=1 outStartId=0\n"
                          "vek_rsrc_allocate vekStatus=7 outStartId=0\n",
                          r));

    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_allocate_fixed(rec_, 3, 0x6a), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_allocate_fixed inRsrcHdl=%llx inNumIds=3 inStartId=6a\n"
                          "vek_bitmap_reserve_fixed map=%llx size=3 base=6\n"
                          "vek_bitmap_reserve_fixed status=0\n"
                          "vek_rsrc_allocate_fixed vekStatus=0\n",
                          r, m));
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_allocate_fixed(rec_, 1, 99), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_allocate_fixed inRsrcHdl=%llx inNumIds=1 inStartId=63\n"
                          "vek_rsrc_allocate_fixed vekStatus=7\n",
                          r));

    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_free(rec_, 100, 2), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_free inRsrcHdl=%llx inStartId=64 inNumIds=2\n"
                          "vek_bitmap_isset map=%llx id=0\n"
                          "vek_bitmap_isset vekStatus=0\n"
                          "vek_bitmap_isset map=%llx id=1\n"
                          "vek_bitmap_isset vekStatus=0\n"
                          "vek_bitmap_unreserve map=%llx size=2 base=0\n"
                          "vek_bitmap_unreserve return=0\n"
                          "vek_rsrc_free vekStatus=0\n",
                          r, m, m, m));
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_free(rec_, 100, 0), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_free inRsrcHdl=%llx inStartId=64 inNumIds=0\n"
                          "vek_rsrc_free vekStatus=7\n",
                          r));
}

// A free tests its run from the bitmap's words at every trace level: the
// same status, the same identifiers left in use and the same platform
// calls, traced or not; traced, the test of each identifier up to the first
// free one shows, across word boundaries too.
TEST_F(IdsTest, FreeDoesTheSameWorkAtEveryTraceLevel) {
    struct Case {
        const char *what;
        uint32_t start; // external identifiers of a resource of 80 from 0
        uint32_t num;
        vek_st_t st;
        uint32_t shown; // identifiers whose test the trace shows
    };
    // In use: 0 .. 39 and 64 .. 69.
    const Case cases[] = {
        {"whole words in use", 0, 40, VEK_ST_SUCCESS, 40},
        {"one identifier", 31, 1, VEK_ST_SUCCESS, 1},
        {"into a free word", 30, 20, VEK_ST_INVALID_PARAMETER, 11},
        {"first one free", 40, 2, VEK_ST_INVALID_PARAMETER, 1},
        {"last one free", 64, 7, VEK_ST_INVALID_PARAMETER, 7},
        {"a later run", 65, 5, VEK_ST_SUCCESS, 5},
        {"to the end of the resource", 70, 10, VEK_ST_INVALID_PARAMETER, 1},
    };
    for (const Case &c : cases) {
        rsrctest::IdState after[2];
        uint32_t calls[2] = {0, 0};
        for (int traced = 0; traced < 2; ++traced) {
            vek_rsrc_t *rec = make(5, "eighty", 80, 0);
            ASSERT_NE(rec, nullptr);
            ASSERT_EQ(vek_rsrc_allocate_fixed(rec, 40, 0), VEK_ST_SUCCESS);
            ASSERT_EQ(vek_rsrc_allocate_fixed(rec, 6, 64), VEK_ST_SUCCESS);
            const unsigned long long m = ptr(rec->bitmap);
            vektest::TraceLevel level(traced != 0 ? 12 : 0);
            const uint32_t calls0 = vek_saltest_platform_calls();
            const std::string got =
                vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_free(rec, c.start, c.num), c.st) << c.what; });
            calls[traced] = vek_saltest_platform_calls() - calls0;
            vek_trace_level = 0;
            after[traced] = id_state(rec);
            if (traced == 0) {
                EXPECT_EQ(got, "") << c.what;
            } else {
                std::string want =
                    format("vek_rsrc_free inRsrcHdl=%llx inStartId=%x inNumIds=%x\n", ptr(rec), c.start, c.num);
                for (uint32_t i = 0; i < c.shown; ++i) {
                    want += format("vek_bitmap_isset map=%llx id=%x\nvek_bitmap_isset vekStatus=0\n", m, c.start + i);
                }
                if (c.st == VEK_ST_SUCCESS) {
                    want += format("vek_bitmap_unreserve map=%llx size=%x base=%x\nvek_bitmap_unreserve return=0\n", m,
                                   c.num, c.start);
                }
                want += format("vek_rsrc_free vekStatus=%x\n", c.st);
                EXPECT_EQ(got, want) << c.what;
            }
            ASSERT_EQ(vek_rsrc_destroy(&hdl_, rec), VEK_ST_SUCCESS);
        }
        EXPECT_EQ(after[0], after[1]) << c.what;
        EXPECT_EQ(calls[0], calls[1]) << c.what;
        EXPECT_EQ(after[0].numElemsFree, c.st == VEK_ST_SUCCESS ? 34u + c.num : 34u) << c.what;
    }
}

// Steps that call the bitmap show its lines nested in the operation's: the
// test of one identifier, and a free that stops at the first free one.
TEST_F(IdsTest, IssetAndARefusedFreeTraceTheBitmapCalls) {
    ASSERT_EQ(vek_rsrc_allocate_fixed(rec_, 1, 101), VEK_ST_SUCCESS);
    const unsigned long long r = ptr(rec_);
    const unsigned long long m = ptr(rec_->bitmap);
    vektest::TraceLevel level(8);
    std::string got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_isset(rec_, 101), 1u); });
    EXPECT_EQ(got, format("vek_rsrc_isset inRsrcHdl=%llx inId=65\n"
                          "vek_bitmap_isset map=%llx id=1\n"
                          "vek_bitmap_isset vekStatus=0\n"
                          "vek_rsrc_isset vekStatus=0 res=1\n",
                          r, m));
    // Beyond the resource: the bitmap answers 0 with its own status 1.
    uint8_t res = 0xAA;
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_issetv2(rec_, 110, &res), VEK_ST_SUCCESS); });
    EXPECT_EQ(res, 0);
    EXPECT_EQ(got, format("vek_rsrc_issetv2 isRsrcHdl=%llx inId=6e res=%llx\n"
                          "vek_bitmap_isset map=%llx id=a\n"
                          "vek_bitmap_isset vekStatus=1\n"
                          "vek_rsrc_issetv2 vekStatus=0 res=0\n",
                          r, ptr(&res), m));
    // 101 is in use, 102 is not: the test stops there and nothing is released.
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_free(rec_, 101, 3), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_free inRsrcHdl=%llx inStartId=65 inNumIds=3\n"
                          "vek_bitmap_isset map=%llx id=1\n"
                          "vek_bitmap_isset vekStatus=0\n"
                          "vek_bitmap_isset map=%llx id=2\n"
                          "vek_bitmap_isset vekStatus=0\n"
                          "vek_rsrc_free vekStatus=7\n",
                          r, m, m));
    EXPECT_EQ(rec_->numElemsFree, 9u);
    // Refused before the bitmap is asked.
    uint32_t id = 0;
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_allocate(rec_, 10, &id), VEK_ST_RSRC_INSUFF_IDS_AVAIL); });
    EXPECT_EQ(got, format("vek_rsrc_allocate inRsrcHdl=%llx inNumIds=a outStartId=%llx\n"
                          "vek_rsrc_allocate vekStatus=44e outStartId=0\n",
                          r, ptr(&id)));
}

TEST_F(IdsTest, IssetIssetv2AndQueryTraceTheirLines) {
    vek_rsrc_t *ro = make(2, "ro", 4, 0x20, 1);
    const unsigned long long r = ptr(ro);
    vektest::TraceLevel level(4);
    std::string got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_isset(ro, 0x21), 1u); });
    EXPECT_EQ(got, format("vek_rsrc_isset inRsrcHdl=%llx inId=21\n"
                          "vek_rsrc_isset vekStatus=0 res=1\n",
                          r));
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_isset(nullptr, 0x21), 0u); });
    EXPECT_EQ(got, "vek_rsrc_isset inRsrcHdl=0 inId=21\n"
                   "vek_rsrc_isset vekStatus=5 res=0\n");

    uint8_t res = 0;
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_issetv2(ro, 0x23, &res), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_issetv2 isRsrcHdl=%llx inId=23 res=%llx\n"
                          "vek_rsrc_issetv2 vekStatus=0 res=1\n",
                          r, ptr(&res)));
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_issetv2(ro, 0x24, &res), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_issetv2 isRsrcHdl=%llx inId=24 res=%llx\n"
                          "vek_rsrc_issetv2 vekStatus=0 res=0\n",
                          r, ptr(&res)));
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_issetv2(ro, 0x21, nullptr), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_issetv2 isRsrcHdl=%llx inId=21 res=0\n"
                          "vek_rsrc_issetv2 vekStatus=7 res=0\n",
                          r));

    vek_rsrc_info_t info{};
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_query(ro, &info), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_query inRsrcHdl=%llx outInfo=%llx\n"
                          "vek_rsrc_query vekStatus=0 outInfo: kind=2 name=%llx baseId=20 numElems=4 "
                          "numElemsFree=4\n",
                          r, ptr(&info), ptr(ro->name)));
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_query(ro, nullptr), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_query inRsrcHdl=%llx outInfo=0\n"
                          "vek_rsrc_query vekStatus=7 outInfo: kind=0 name=0 baseId=0 numElems=0 numElemsFree=0\n",
                          r));
    // A failed query prints what the caller's structure holds.
    vek_rsrc_info_t mine{9, ro->name, 0x11, 0x22, 0x33};
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_query(nullptr, &mine), VEK_ST_INVALID_HANDLE); });
    EXPECT_EQ(got, format("vek_rsrc_query inRsrcHdl=0 outInfo=%llx\n"
                          "vek_rsrc_query vekStatus=5 outInfo: kind=9 name=%llx baseId=11 numElems=22 "
                          "numElemsFree=33\n",
                          ptr(&mine), ptr(ro->name)));
}

} // namespace
