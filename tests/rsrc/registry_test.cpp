// Resource registry: set-up and tear-down, creation, lookup, destruction,
// the printed table, and the trace lines of these operations.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "rsrc_fixture.hpp"

namespace {

using rsrctest::RsrcTest;
using vektest::format;
using vektest::ptr;

using RegistryTest = RsrcTest;
using RegistryLifecycleTest = vektest::LeakCheckedTest;

// ---- init and release --------------------------------------------------------

TEST_F(RegistryLifecycleTest, InitCreatesAnEmptyRegistryOnceAndReleaseRemovesIt) {
    vek_hdl_t hdl{VEK_HDL_MAGIC, nullptr};
    EXPECT_EQ(vek_rsrc_release(&hdl), VEK_ST_SUCCESS); // nothing to release
    ASSERT_EQ(vek_rsrc_init(&hdl), VEK_ST_SUCCESS);
    vek_rsrc_registry_t *first = hdl.rsrcRegistry;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->numRsrcs, 0u);
    EXPECT_EQ(first->rsrcHead, nullptr);
    EXPECT_EQ(vek_rsrc_init(&hdl), VEK_ST_SUCCESS);
    EXPECT_EQ(hdl.rsrcRegistry, first);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + 1);

    ASSERT_EQ(vek_rsrc_create(&hdl, 1, "a", 8, 0, nullptr), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_rsrc_create_intern(&hdl, 2, "b", 8, 0, nullptr, 1), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_release(&hdl), VEK_ST_SUCCESS);
    EXPECT_EQ(hdl.rsrcRegistry, nullptr);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_);
    // Back to the start: a new registry can be made.
    ASSERT_EQ(vek_rsrc_init(&hdl), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_rsrc_release(&hdl), VEK_ST_SUCCESS);
}

TEST_F(RegistryLifecycleTest, InitAndReleaseRejectInvalidHandles) {
    vek_hdl_t bad{VEK_HDL_MAGIC + 1, nullptr};
    EXPECT_EQ(vek_rsrc_init(nullptr), VEK_ST_INVALID_HANDLE);
    EXPECT_EQ(vek_rsrc_init(&bad), VEK_ST_INVALID_HANDLE);
    EXPECT_EQ(bad.rsrcRegistry, nullptr);
    EXPECT_EQ(vek_rsrc_release(nullptr), VEK_ST_INVALID_HANDLE);
    EXPECT_EQ(vek_rsrc_release(&bad), VEK_ST_INVALID_HANDLE);
}

TEST_F(RegistryLifecycleTest, InitAndReleasePrintNoTrace) {
    vektest::TraceLevel level(12);
    vek_hdl_t hdl{VEK_HDL_MAGIC, nullptr};
    EXPECT_EQ(vektest::capture_stdout([&] {
                  EXPECT_EQ(vek_rsrc_init(&hdl), VEK_ST_SUCCESS);
                  EXPECT_EQ(vek_rsrc_release(&hdl), VEK_ST_SUCCESS);
              }),
              "");
}

// ---- create ------------------------------------------------------------------

struct CreateCase {
    const char *what;
    uint32_t kind;
    const char *name;
    uint32_t numElems;
    uint32_t baseId;
    vek_st_t expected;
};

TEST_F(RegistryTest, CreateChecksKindNameAndRange) {
    const CreateCase cases[] = {
        {"kind 8", 8, "k8", 4, 0, VEK_ST_INVALID_PARAMETER},
        {"kind far out", 0xFFFFFFFFu, "kff", 4, 0, VEK_ST_INVALID_PARAMETER},
        {"kind 8 and range beyond 2^24", 8, "k8r", 0x1000000, 1, VEK_ST_INVALID_PARAMETER},
        {"empty name and range beyond 2^24", 0, "", 0x1000000, 1, VEK_ST_INVALID_PARAMETER},
        {"empty name", 0, "", 4, 0, VEK_ST_INVALID_PARAMETER},
        {"null name", 0, nullptr, 4, 0, VEK_ST_INVALID_PARAMETER},
        {"range up to 2^24", 0, "full", 0x1000000, 0, VEK_ST_SUCCESS},
        {"range one past 2^24", 0, "over", 0x1000000, 1, VEK_ST_INVALID_VALUE},
        {"base alone past 2^24", 1, "base", 0, 0x1000001, VEK_ST_INVALID_VALUE},
        {"sum wraps in 32 bits", 1, "wrap1", 0xFFFFFFFFu, 1, VEK_ST_INVALID_VALUE},
        {"sum wraps the other way", 1, "wrap2", 1, 0xFFFFFFFFu, VEK_ST_INVALID_VALUE},
        {"kind 5 has no limit", 5, "full5", 0x1000000, 1, VEK_ST_SUCCESS},
        {"kind 5 high base", 5, "high5", 16, 0xFFFFFFF0u, VEK_ST_SUCCESS},
        {"kind 7", 7, "k7", 4, 0xFFFFFC, VEK_ST_SUCCESS},
        {"no identifiers", 3, "empty", 0, 0x1000000, VEK_ST_SUCCESS},
    };
    uint32_t made = 0;
    for (const CreateCase &c : cases) {
        SCOPED_TRACE(c.what);
        vek_rsrc_t *rec = nullptr;
        const long live = vek_saltest_robust_live();
        EXPECT_EQ(vek_rsrc_create(&hdl_, c.kind, c.name, c.numElems, c.baseId, &rec), c.expected);
        if (c.expected == VEK_ST_SUCCESS) {
            ++made;
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ(reg()->rsrcHead, rec);
        } else {
            EXPECT_EQ(rec, nullptr);
            EXPECT_EQ(vek_saltest_robust_live(), live);
        }
        EXPECT_EQ(reg()->numRsrcs, made);
        EXPECT_EQ(list().size(), made);
    }
}

TEST_F(RegistryTest, CreateFillsTheRecordAndPutsItAtTheHead) {
    char name[] = "pool";
    vek_rsrc_t *a = nullptr;
    ASSERT_EQ(vek_rsrc_create(&hdl_, 2, name, 40, 100, &a), VEK_ST_SUCCESS);
    name[0] = 'P'; // the record keeps its own copy
    EXPECT_EQ(a->kind, 2u);
    EXPECT_STREQ(a->name, "pool");
    EXPECT_NE(a->name, name);
    EXPECT_EQ(a->numElems, 40u);
    EXPECT_EQ(a->numElemsFree, 40u);
    EXPECT_EQ(a->baseId, 100u);
    ASSERT_NE(a->bitmap, nullptr);
    EXPECT_EQ(a->bitmap->size, 40u);
    EXPECT_EQ(vek_bitmap_count(a->bitmap, 0), 40);
    EXPECT_EQ(a->vekHdl, &hdl_);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_TRUE(rsrctest::mutex_free(&a->mutex));

    // Zero identifiers: a bitmap of one, free count 0. Read-only: no bitmap.
    vek_rsrc_t *zero = make(2, "zero", 0, 7);
    ASSERT_NE(zero->bitmap, nullptr);
    EXPECT_EQ(zero->bitmap->size, 1u);
    EXPECT_EQ(zero->numElems, 0u);
    EXPECT_EQ(zero->numElemsFree, 0u);
    vek_rsrc_t *ro = make(2, "ro", 12, 5, 1);
    EXPECT_EQ(ro->bitmap, nullptr);
    EXPECT_EQ(ro->numElemsFree, 12u);

    // A null out-pointer is accepted.
    EXPECT_EQ(vek_rsrc_create(&hdl_, 2, "anon", 3, 0, nullptr), VEK_ST_SUCCESS);
    const std::vector<vek_rsrc_t *> l = list();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_STREQ(l[0]->name, "anon");
    EXPECT_EQ(l[1], ro);
    EXPECT_EQ(l[2], zero);
    EXPECT_EQ(l[3], a);
    EXPECT_EQ(reg()->numRsrcs, 4u);
}

TEST_F(RegistryTest, NamesAreUniquePerKindAndCaseSensitive) {
    vek_rsrc_t *first = make(1, "ids", 8, 0);
    vek_rsrc_t *again = nullptr;
    EXPECT_EQ(vek_rsrc_create(&hdl_, 1, "ids", 4, 100, &again), VEK_ST_INVALID_VALUE);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(vek_rsrc_create_intern(&hdl_, 1, "ids", 4, 100, &again, 1), VEK_ST_INVALID_VALUE);
    EXPECT_EQ(reg()->numRsrcs, 1u);
    make(2, "ids", 8, 0);
    make(1, "IDS", 8, 0);
    make(1, "ids2", 8, 0);
    EXPECT_EQ(reg()->numRsrcs, 4u);
    vek_rsrc_t *found = nullptr;
    ASSERT_EQ(vek_rsrc_find(&hdl_, 1, "ids", &found), VEK_ST_SUCCESS);
    EXPECT_EQ(found, first);
}

// ---- the handle check, shared by every registry operation ----------------------

struct HandleCase {
    const char *what;
    std::function<vek_st_t(vek_hdl_t *)> op;
};

TEST_F(RegistryTest, RegistryOperationsCheckTheHandle) {
    vek_rsrc_t *rec = make(1, "r", 4, 0);
    const HandleCase ops[] = {
        {"create", [](vek_hdl_t *h) { return vek_rsrc_create(h, 1, "n", 4, 0, nullptr); }},
        {"create_intern", [](vek_hdl_t *h) { return vek_rsrc_create_intern(h, 1, "n", 4, 0, nullptr, 1); }},
        {"find",
         [](vek_hdl_t *h) {
             vek_rsrc_t *out = nullptr;
             return vek_rsrc_find(h, 1, "r", &out);
         }},
        {"dump", [](vek_hdl_t *h) { return vek_rsrc_dump(h, 8); }},
        {"dump of a bad kind", [](vek_hdl_t *h) { return vek_rsrc_dump(h, 9); }},
        {"destroy", [rec](vek_hdl_t *h) { return vek_rsrc_destroy(h, rec); }},
    };
    vek_hdl_t bad_magic{0x4B455624u, reg()};
    vek_hdl_t no_registry{VEK_HDL_MAGIC, nullptr};
    for (const HandleCase &c : ops) {
        SCOPED_TRACE(c.what);
        const std::string out = vektest::capture_stdout([&] {
            EXPECT_EQ(c.op(nullptr), VEK_ST_INVALID_HANDLE);
            EXPECT_EQ(c.op(&bad_magic), VEK_ST_INVALID_HANDLE);
            EXPECT_EQ(c.op(&no_registry), VEK_ST_ERROR);
        });
        EXPECT_EQ(out, ""); // dump prints nothing either
        EXPECT_EQ(reg()->numRsrcs, 1u);
        EXPECT_EQ(reg()->rsrcHead, rec);
        EXPECT_EQ(no_registry.rsrcRegistry, nullptr);
    }
}

// ---- find --------------------------------------------------------------------

TEST_F(RegistryTest, FindReturnsTheRecordOfThatKindAndName) {
    vek_rsrc_t *a1 = make(1, "a", 4, 0);
    vek_rsrc_t *a2 = make(2, "a", 4, 0);
    vek_rsrc_t *b1 = make(1, "b", 4, 0);
    vek_rsrc_t *out = nullptr;
    EXPECT_EQ(vek_rsrc_find(&hdl_, 1, "a", &out), VEK_ST_SUCCESS);
    EXPECT_EQ(out, a1);
    EXPECT_EQ(vek_rsrc_find(&hdl_, 2, "a", &out), VEK_ST_SUCCESS);
    EXPECT_EQ(out, a2);
    EXPECT_EQ(vek_rsrc_find(&hdl_, 1, "b", &out), VEK_ST_SUCCESS);
    EXPECT_EQ(out, b1);
    EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));

    struct Miss {
        const char *what;
        uint32_t kind;
        const char *name;
        bool with_out;
        vek_st_t expected;
    };
    const Miss misses[] = {
        {"other kind", 2, "b", true, VEK_ST_INVALID_VALUE},
        {"kind beyond 7", 9, "a", true, VEK_ST_INVALID_VALUE},
        {"unknown name", 1, "c", true, VEK_ST_INVALID_VALUE},
        {"case differs", 1, "A", true, VEK_ST_INVALID_VALUE},
        {"prefix only", 1, "", true, VEK_ST_INVALID_PARAMETER},
        {"null name", 1, nullptr, true, VEK_ST_INVALID_PARAMETER},
        {"null out", 1, "a", false, VEK_ST_INVALID_PARAMETER},
    };
    for (const Miss &m : misses) {
        SCOPED_TRACE(m.what);
        vek_rsrc_t *sentinel = reinterpret_cast<vek_rsrc_t *>(&hdl_);
        out = sentinel;
        EXPECT_EQ(vek_rsrc_find(&hdl_, m.kind, m.name, m.with_out ? &out : nullptr), m.expected);
        EXPECT_EQ(out, sentinel);
        EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
    }
}

// ---- destroy -----------------------------------------------------------------

TEST_F(RegistryTest, DestroyUnlinksTheRecordWhereverItIs) {
    struct Case {
        const char *what;
        int victim; // index in creation order
    };
    const Case cases[] = {{"oldest", 0}, {"middle", 1}, {"newest", 2}};
    const char *names[] = {"r0", "r1", "r2"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        vek_rsrc_t *recs[3];
        for (int i = 0; i < 3; ++i) recs[i] = make(4, names[i], 8, 0);
        const long live = vek_saltest_robust_live();
        EXPECT_EQ(vek_rsrc_destroy(&hdl_, recs[c.victim]), VEK_ST_SUCCESS);
        // record, name, bitmap header and words
        EXPECT_EQ(vek_saltest_robust_live(), live - 4);
        EXPECT_EQ(reg()->numRsrcs, 2u);
        std::vector<vek_rsrc_t *> expect;
        for (int i = 2; i >= 0; --i) {
            if (i != c.victim) expect.push_back(recs[i]);
        }
        EXPECT_EQ(list(), expect);
        vek_rsrc_t *out = nullptr;
        EXPECT_EQ(vek_rsrc_find(&hdl_, 4, names[c.victim], &out), VEK_ST_INVALID_VALUE);
        EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
        for (vek_rsrc_t *r : expect) EXPECT_EQ(vek_rsrc_destroy(&hdl_, r), VEK_ST_SUCCESS);
        EXPECT_EQ(reg()->rsrcHead, nullptr);
        EXPECT_EQ(reg()->numRsrcs, 0u);
    }
    // The only resource, read-only.
    vek_rsrc_t *ro = make(0, "ro", 4, 0, 1);
    EXPECT_EQ(vek_rsrc_destroy(&hdl_, ro), VEK_ST_SUCCESS);
    EXPECT_EQ(reg()->rsrcHead, nullptr);
}

TEST_F(RegistryTest, DestroyRejectsRecordsItCannotRemove) {
    vek_rsrc_t *rec = make(1, "mine", 8, 0);
    vek_hdl_t other{VEK_HDL_MAGIC, nullptr};
    ASSERT_EQ(vek_rsrc_init(&other), VEK_ST_SUCCESS);
    vek_rsrc_t *theirs = nullptr;
    ASSERT_EQ(vek_rsrc_create(&other, 1, "theirs", 8, 0, &theirs), VEK_ST_SUCCESS);

    vek_hdl_t bad{0, reg()};
    vek_hdl_t no_registry{VEK_HDL_MAGIC, nullptr};
    vek_rsrc_t orphan{};
    orphan.vekHdl = &no_registry;
    vek_rsrc_t stray{};
    stray.vekHdl = &bad;
    vek_rsrc_t unlinked{};
    unlinked.vekHdl = &hdl_;

    struct Case {
        const char *what;
        vek_hdl_t *hdl;
        vek_rsrc_t *rec;
        vek_st_t expected;
    };
    const Case cases[] = {
        {"through another registry", &hdl_, theirs, VEK_ST_INVALID_PARAMETER},
        {"not in the list", &hdl_, &unlinked, VEK_ST_INVALID_PARAMETER},
        {"null record", &hdl_, nullptr, VEK_ST_INVALID_HANDLE},
        {"record of an invalid handle", &hdl_, &stray, VEK_ST_INVALID_HANDLE},
        {"record of a handle without registry", &hdl_, &orphan, VEK_ST_ERROR},
        {"handle without registry", &no_registry, rec, VEK_ST_ERROR},
        {"invalid handle", &bad, rec, VEK_ST_INVALID_HANDLE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(vek_rsrc_destroy(c.hdl, c.rec), c.expected);
        EXPECT_EQ(reg()->numRsrcs, 1u);
        EXPECT_EQ(reg()->rsrcHead, rec);
        EXPECT_EQ(other.rsrcRegistry->rsrcHead, theirs);
        EXPECT_EQ(other.rsrcRegistry->numRsrcs, 1u);
        EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
    }
    EXPECT_EQ(vek_rsrc_release(&other), VEK_ST_SUCCESS);
}

// ---- dump --------------------------------------------------------------------

const char *const kHeader = "Kind Name                            BaseId    NumElems  NumElemsFree\n";

TEST_F(RegistryTest, DumpPrintsTheTableNewestFirst) {
    vek_rsrc_t *a = make(1, "alpha", 16, 100);
    make(2, "beta", 0, 0);
    make(1, "a-name-of-exactly-thirty-two-chr", 3, 0xFFFFFC, 1);
    make(5, "a-name-longer-than-thirty-two-characters", 7, 0x7FFFFFF0u);
    uint32_t id = 0;
    ASSERT_EQ(vek_rsrc_allocate(a, 5, &id), VEK_ST_SUCCESS);

    const std::string all = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 8), VEK_ST_SUCCESS); });
    EXPECT_EQ(all, std::string(kHeader) +
                       "  5  a-name-longer-than-thirty-two-characters  2147483632         7         7\n"
                       "  1  a-name-of-exactly-thirty-two-chr  16777212         3         3\n"
                       "  2                              beta         0         0         0\n"
                       "  1                             alpha       100        16        11\n");
    EXPECT_EQ(all, std::string(kHeader) +
                       format("%3d  %32s  %8d  %8d  %8d\n", 5, "a-name-longer-than-thirty-two-characters", 0x7FFFFFF0,
                              7, 7) +
                       format("%3d  %32s  %8d  %8d  %8d\n", 1, "a-name-of-exactly-thirty-two-chr", 0xFFFFFC, 3, 3) +
                       format("%3d  %32s  %8d  %8d  %8d\n", 2, "beta", 0, 0, 0) +
                       format("%3d  %32s  %8d  %8d  %8d\n", 1, "alpha", 100, 16, 11));

    const std::string ones = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 1), VEK_ST_SUCCESS); });
    EXPECT_EQ(ones, std::string(kHeader) + "  1  a-name-of-exactly-thirty-two-chr  16777212         3         3\n" +
                        "  1                             alpha       100        16        11\n");
    const std::string none = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 0), VEK_ST_SUCCESS); });
    EXPECT_EQ(none, kHeader);
    const std::string bad =
        vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 9), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(bad, "");
    EXPECT_TRUE(rsrctest::mutex_free(&reg()->mutex));
}

TEST_F(RegistryTest, DumpPrintsIdentifiersAsSignedDecimals) {
    // Kind 5 may reach past 2^31; the table prints the values as %d does.
    make(5, "top", 16, 0xFFFFFFF0u);
    const std::string got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 5), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, std::string(kHeader) + "  5                               top       -16        16        16\n");
}

TEST_F(RegistryTest, DumpOfAnEmptyRegistryIsTheHeader) {
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 8), VEK_ST_SUCCESS); }), kHeader);
}

// ---- trace lines ---------------------------------------------------------------

TEST_F(RegistryTest, CreateTracesItsLineThenTheInternalOnes) {
    vektest::TraceLevel level(4);
    vek_rsrc_t *rec = nullptr;
    const std::string out = vektest::capture_stdout(
        [&] { EXPECT_EQ(vek_rsrc_create_intern(&hdl_, 3, "ro", 0x20, 0x100, &rec, 1), VEK_ST_SUCCESS); });
    EXPECT_EQ(out, format("vek_rsrc_create_intern inVekHdl=%llx inKind=3 inNumelems=20 inBaseId=100 outRsrcHdl=%llx "
                          "readOnly=1\n"
                          "vek_rsrc_create_intern vekStatus=0\n",
                          ptr(&hdl_), ptr(&rec)));

    // vek_rsrc_create: its own line (a blank before the newline), the internal
    // lines, and the bitmap's lines in between.
    vek_rsrc_t *w = nullptr;
    const std::string out2 =
        vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_create(&hdl_, 1, "w", 40, 7, &w), VEK_ST_SUCCESS); });
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(out2, format("vek_rsrc_create inVekHdl=%llx inKind=1 inNumelems=28 inBaseId=7 outRsrcHdl=%llx \n"
                           "vek_rsrc_create_intern inVekHdl=%llx inKind=1 inNumelems=28 inBaseId=7 outRsrcHdl=%llx "
                           "readOnly=0\n"
                           "vek_bitmap_create size=28\n"
                           "vek_bitmap_create vekStatus=0 size=28 words_needed=2 bits=%llx firstFree=0\n"
                           "vek_rsrc_create_intern vekStatus=0\n",
                           ptr(&hdl_), ptr(&w), ptr(&hdl_), ptr(&w), ptr(w->bitmap->bits)));

    // Failures print the status; a null handle prints 0.
    const std::string out3 = vektest::capture_stdout(
        [&] { EXPECT_EQ(vek_rsrc_create(nullptr, 9, "x", 1, 2, nullptr), VEK_ST_INVALID_HANDLE); });
    EXPECT_EQ(out3, "vek_rsrc_create inVekHdl=0 inKind=9 inNumelems=1 inBaseId=2 outRsrcHdl=0 \n"
                    "vek_rsrc_create_intern inVekHdl=0 inKind=9 inNumelems=1 inBaseId=2 outRsrcHdl=0 readOnly=0\n"
                    "vek_rsrc_create_intern vekStatus=5\n");
}

TEST_F(RegistryTest, FindDestroyAndDumpTraceTheirFields) {
    vek_rsrc_t *rec = make(6, "six", 3, 0, 1);
    vek_rsrc_t *w = make(1, "w", 8, 0);
    vektest::TraceLevel level(8);
    vek_rsrc_t *out = nullptr;
    std::string got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_find(&hdl_, 6, "six", &out), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_find inVekHdl=%llx inKind=6 outRsrcHdl=%llx\n"
                          "vek_rsrc_find vekStatus=0 outRsrcHdl=%llx\n",
                          ptr(&hdl_), ptr(&out), ptr(rec)));
    got =
        vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_find(&hdl_, 6, "six", nullptr), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_find inVekHdl=%llx inKind=6 outRsrcHdl=0\n"
                          "vek_rsrc_find vekStatus=7 outRsrcHdl=0\n",
                          ptr(&hdl_)));
    vek_rsrc_t *miss = nullptr;
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_find(&hdl_, 1, "six", &miss), VEK_ST_INVALID_VALUE); });
    EXPECT_EQ(got, format("vek_rsrc_find inVekHdl=%llx inKind=1 outRsrcHdl=%llx\n"
                          "vek_rsrc_find vekStatus=4 outRsrcHdl=0\n",
                          ptr(&hdl_), ptr(&miss)));

    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 6), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_dump inVekHdl=%llx inKind=6\n", ptr(&hdl_)) + kHeader +
                       "  6                               six         0         3         3\n"
                       "vek_rsrc_dump vekStatus=0\n");
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_dump(&hdl_, 9), VEK_ST_INVALID_PARAMETER); });
    EXPECT_EQ(got, format("vek_rsrc_dump inVekHdl=%llx inKind=9\nvek_rsrc_dump vekStatus=7\n", ptr(&hdl_)));

    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_destroy(&hdl_, rec), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_destroy inVekHdl=%llx inRsrcHdl=%llx\n"
                          "vek_rsrc_destroy vekStatus=0\n",
                          ptr(&hdl_), ptr(rec)));

    // A writable record's destruction also shows the bitmap's lines.
    vek_bitmap_t *bm = w->bitmap;
    got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_destroy(&hdl_, w), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_rsrc_destroy inVekHdl=%llx inRsrcHdl=%llx\n"
                          "vek_bitmap_delete map=%llx\n"
                          "vek_bitmap_delete vekStatus=0\n"
                          "vek_rsrc_destroy vekStatus=0\n",
                          ptr(&hdl_), ptr(w), ptr(bm)));
}

// Release prints no line of its own, only those of the bitmaps it deletes;
// a create whose bitmap cannot be made shows the bitmap's entry line alone.
TEST_F(RegistryTest, ReleaseAndAFailedCreateTraceOnlyTheBitmapCalls) {
    vek_hdl_t hdl{VEK_HDL_MAGIC, nullptr};
    ASSERT_EQ(vek_rsrc_init(&hdl), VEK_ST_SUCCESS);
    vek_rsrc_t *w = nullptr;
    ASSERT_EQ(vek_rsrc_create(&hdl, 1, "w", 8, 0, &w), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_rsrc_create_intern(&hdl, 1, "ro", 8, 0, nullptr, 1), VEK_ST_SUCCESS);
    const unsigned long long m = ptr(w->bitmap);
    vektest::TraceLevel level(12);
    std::string got = vektest::capture_stdout([&] { EXPECT_EQ(vek_rsrc_release(&hdl), VEK_ST_SUCCESS); });
    EXPECT_EQ(got, format("vek_bitmap_delete map=%llx\n"
                          "vek_bitmap_delete vekStatus=0\n",
                          m));

    // Robust allocations of a create: record, name, bitmap header.
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 3, 1);
    vek_rsrc_t *rec = nullptr;
    got = vektest::capture_stdout(
        [&] { EXPECT_EQ(vek_rsrc_create(&hdl_, 2, "nomem", 0x30, 0, &rec), VEK_ST_NO_MEMORY); });
    EXPECT_EQ(got, format("vek_rsrc_create inVekHdl=%llx inKind=2 inNumelems=30 inBaseId=0 outRsrcHdl=%llx \n"
                          "vek_rsrc_create_intern inVekHdl=%llx inKind=2 inNumelems=30 inBaseId=0 outRsrcHdl=%llx "
                          "readOnly=0\n"
                          "vek_bitmap_create size=30\n"
                          "vek_rsrc_create_intern vekStatus=2\n",
                          ptr(&hdl_), ptr(&rec), ptr(&hdl_), ptr(&rec)));
    EXPECT_EQ(rec, nullptr);
    EXPECT_EQ(reg()->rsrcHead, nullptr);
}

TEST_F(RegistryTest, NoTraceWhenTheLevelHasNeitherBit) {
    vektest::TraceLevel level(~12u);
    const std::string got = vektest::capture_stdout([&] {
        vek_rsrc_t *rec = nullptr;
        EXPECT_EQ(vek_rsrc_create(&hdl_, 1, "quiet", 8, 0, &rec), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_find(&hdl_, 1, "quiet", &rec), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_destroy(&hdl_, rec), VEK_ST_SUCCESS);
    });
    EXPECT_EQ(got, "");
}

} // namespace
