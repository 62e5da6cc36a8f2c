// Bitmap core: creation, copy, deletion, first-fit reservation and search,
// fixed reservation, release, single identifiers, counting; results, hint
// movement, tail bits and trace lines.
#include <functional>
#include <string>
#include <vector>

#include "bitmap_fixture.hpp"

namespace {

using vektest::format;
using vektest::ptr;

class BitmapCore : public bitmaptest::BitmapTest {};

// ---------------------------------------------------------------- creation

TEST_F(BitmapCore, CreateSetsTailBitsAndHint) {
    struct Case {
        uint32_t size, words, last_word;
    };
    for (const Case &c : {Case{40, 2, 0xFFFFFF00u}, Case{64, 2, 0u}, Case{1, 1, 0xFFFFFFFEu}, Case{31, 1, 0x80000000u},
                          Case{32, 1, 0u}, Case{33, 2, 0xFFFFFFFEu}, Case{100, 4, 0xFFFFFFF0u}}) {
        SCOPED_TRACE(c.size);
        vek_bitmap_t *m = make(c.size);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->size, c.size);
        EXPECT_EQ(m->words_needed, c.words);
        for (uint32_t w = 0; w + 1 < c.words; ++w) EXPECT_EQ(m->bits[w], 0u);
        EXPECT_EQ(m->bits[c.words - 1], c.last_word);
        EXPECT_EQ(m->firstFree, 0u);
    }
    EXPECT_EQ(vek_bitmap_create(0), nullptr);
}

TEST_F(BitmapCore, CreateTraceLines) {
    vek_bitmap_t *m = nullptr;
    vektest::TraceLevel trace(4);
    const std::string out = vektest::capture_stdout([&] { m = vek_bitmap_create(40); });
    ASSERT_NE(m, nullptr);
    maps_.push_back(m);
    EXPECT_EQ(out, format("vek_bitmap_create size=28\n"
                          "vek_bitmap_create vekStatus=0 size=28 words_needed=2 bits=%llx firstFree=0\n",
                          ptr(m->bits)));
    // Size 0: the entry line only.
    EXPECT_EQ(vektest::capture_stdout([] { EXPECT_EQ(vek_bitmap_create(0), nullptr); }), "vek_bitmap_create size=0\n");
}

TEST_F(BitmapCore, TracingFollowsBothMaskBits) {
    for (uint32_t level : {4u, 8u, 12u, 0xFFFFFFFFu}) {
        vektest::TraceLevel trace(level);
        EXPECT_EQ(vektest::capture_stdout([] { vek_bitmap_get_size(nullptr); }),
                  "vek_bitmap_get_size map=0\nvek_bitmap_get_size _map->size=0\n")
            << level;
    }
    for (uint32_t level : {0u, 1u, 2u, 3u, 0xFFFFFFF3u}) {
        vektest::TraceLevel trace(level);
        EXPECT_EQ(vektest::capture_stdout([] { vek_bitmap_get_size(nullptr); }), "") << level;
    }
}

TEST_F(BitmapCore, CreateAllocationFailuresLeaveNothing) {
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_ROBUST, [](uint32_t) {
        vektest::TraceLevel trace(4);
        vek_bitmap_t *m = nullptr;
        const std::string out = vektest::capture_stdout([&] { m = vek_bitmap_create(40); });
        if (vek_saltest_faults_fired() != 0) {
            EXPECT_EQ(m, nullptr);
            EXPECT_EQ(out, "vek_bitmap_create size=28\n"); // no exit line
        }
        vektest::capture_stdout([&] { vek_bitmap_delete(m); });
    });
    EXPECT_EQ(points, 2u);
}

TEST_F(BitmapCore, HugeSizeNeedsNoWrappedWordCount) {
    // (size + 31) / 32 must not wrap to 0 for sizes near 2^32: the word array
    // asked for is 2^27 words. Make it fail so that nothing is written.
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 2, 1);
    EXPECT_EQ(vek_bitmap_create(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
}

// ------------------------------------------------------------ copy, delete

TEST_F(BitmapCore, CopyIsIndependentAndKeepsHint) {
    vek_bitmap_t *m = make(40, {0, 1, 2, 10});
    vek_bitmap_t *c = vek_bitmap_copy(m);
    ASSERT_NE(c, nullptr);
    maps_.push_back(c);
    EXPECT_NE(c->bits, m->bits);
    EXPECT_EQ(c->size, 40u);
    EXPECT_EQ(c->words_needed, 2u);
    EXPECT_EQ(c->firstFree, 3u);
    EXPECT_EQ(c->bits[0], m->bits[0]);
    EXPECT_EQ(c->bits[1], 0xFFFFFF00u);
    EXPECT_EQ(vek_bitmap_set(c, 3), 0);
    EXPECT_EQ(vek_bitmap_isset(m, 3), 0);
}

TEST_F(BitmapCore, CopyTraceLines) {
    vek_bitmap_t *m = make(40);
    vektest::TraceLevel trace(4);
    vek_bitmap_t *c = nullptr;
    const std::string out = vektest::capture_stdout([&] { c = vek_bitmap_copy(m); });
    ASSERT_NE(c, nullptr);
    maps_.push_back(c);
    EXPECT_EQ(out, format("vek_bitmap_copy bits=%llx\nvek_bitmap_copy vekStatus=0 new_bits=%llx\n", ptr(m), ptr(c)));
}

TEST_F(BitmapCore, CopyAllocationFailuresReportStatusAndLeaveSource) {
    vek_bitmap_t *m = make(40, {7});
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_ROBUST, [&](uint32_t) {
        vektest::TraceLevel trace(4);
        vek_bitmap_t *c = nullptr;
        const std::string out = vektest::capture_stdout([&] { c = vek_bitmap_copy(m); });
        if (vek_saltest_faults_fired() != 0) {
            EXPECT_EQ(c, nullptr);
            EXPECT_EQ(out, format("vek_bitmap_copy bits=%llx\nvek_bitmap_copy vekStatus=2\n", ptr(m)));
        }
        vektest::capture_stdout([&] { vek_bitmap_delete(c); });
    });
    EXPECT_EQ(points, 2u);
    EXPECT_EQ(used_ids(m), std::vector<uint32_t>{7});
    EXPECT_EQ(m->firstFree, 0u);
}

TEST_F(BitmapCore, CopyReportsOwnerDeadFromHeaderRelease) {
    vek_bitmap_t *m = make(40);
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 2, 1);
    vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, 1, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    vektest::TraceLevel trace(4);
    const std::string out = vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_copy(m), nullptr); });
    EXPECT_EQ(out, format("vek_bitmap_copy bits=%llx\nvek_bitmap_copy vekStatus=1f40\n", ptr(m)));
}

TEST_F(BitmapCore, DeleteReportsReleaseStatuses) {
    // The stand-in arms one status per call kind: releases 1 (word array)
    // and 2 (header) from `first`, `count` of them.
    struct Case {
        uint32_t first, count;
        vek_st_t status;
    };
    const vek_st_t dead = VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;
    for (const Case &c : {Case{0, 0, 0}, Case{1, 1, 9}, Case{2, 1, 9}, Case{1, 2, 9}, Case{1, 1, dead},
                          Case{2, 1, dead}, Case{1, 2, dead}}) {
        SCOPED_TRACE(format("first %u count %u status %u", c.first, c.count, c.status));
        vek_bitmap_t *m = vek_bitmap_create(40);
        ASSERT_NE(m, nullptr);
        if (c.first != 0) vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, c.first, c.count, c.status);
        vektest::TraceLevel trace(4);
        int32_t rc = -5;
        const std::string out = vektest::capture_stdout([&] { rc = vek_bitmap_delete(m); });
        EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_ROBUST_FREE), 2u); // both releases attempted
        vek_saltest_reset();
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(out, format("vek_bitmap_delete map=%llx\nvek_bitmap_delete vekStatus=%x\n", ptr(m), c.status));
    }
}

TEST_F(BitmapCore, DeleteNullAndHeaderWithoutWords) {
    vek_bitmap_t *m = vek_bitmap_create(8);
    ASSERT_NE(m, nullptr);
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([] { EXPECT_EQ(vek_bitmap_delete(nullptr), 0); }),
              "vek_bitmap_delete map=0\nvek_bitmap_delete vekStatus=0\n");
    void *words = m->bits;
    m->bits = nullptr; // a header whose word array is absent
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_delete(m), 0); }),
              format("vek_bitmap_delete map=%llx\nvek_bitmap_delete vekStatus=0\n", ptr(m)));
    vek_nvm_robust_free(&words);
}

// ----------------------------------------------------------------- get size

TEST_F(BitmapCore, GetSizeTraceLine) {
    vek_bitmap_t *m = make(40);
    vektest::TraceLevel trace(8);
    uint32_t size = 0;
    const std::string out = vektest::capture_stdout([&] { size = vek_bitmap_get_size(m); });
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(out, format("vek_bitmap_get_size map=%llx\nvek_bitmap_get_size _map->size=28\n", ptr(m)));
    vektest::capture_stdout([] { EXPECT_EQ(vek_bitmap_get_size(nullptr), 0u); });
}

// ------------------------------------------------------------------ reserve

TEST_F(BitmapCore, ReserveTakesFirstFitAndMovesHint) {
    vek_bitmap_t *m = make(40);
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve(m, 5, &b), 0);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(m->firstFree, 5u);
    EXPECT_EQ(vek_bitmap_reserve(m, 5, &b), 0);
    EXPECT_EQ(b, 5u);
    EXPECT_EQ(m->firstFree, 10u);
    EXPECT_EQ(m->bits[0], 0x3FFu);
    EXPECT_EQ(m->bits[1], 0xFFFFFF00u);
}

TEST_F(BitmapCore, ReserveSkipsShortRunsAndKeepsHint) {
    vek_bitmap_t *m = make(40, {0, 1, 2, 10, 11});
    ASSERT_EQ(m->firstFree, 3u);
    uint32_t b = 0;
    EXPECT_EQ(vek_bitmap_reserve(m, 5, &b), 0);
    EXPECT_EQ(b, 3u);
    EXPECT_EQ(m->firstFree, 8u);
    EXPECT_EQ(vek_bitmap_reserve(m, 20, &b), 0);
    EXPECT_EQ(b, 12u);
    EXPECT_EQ(m->firstFree, 8u);
    std::vector<uint32_t> want = range(0, 7);
    for (uint32_t i = 10; i < 32; ++i) want.push_back(i);
    EXPECT_EQ(used_ids(m), want);
}

TEST_F(BitmapCore, ReserveWrapsOnceFromAStaleHint) {
    // A reservation of 0 identifiers moves the hint past the free run at 0.
    vek_bitmap_t *m = make(40, {20});
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve(m, 0, &b), 0);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(m->firstFree, 21u);
    EXPECT_EQ(used_ids(m), std::vector<uint32_t>{20});
    // 21..39 is too short for 20: the scan wraps to 0, whose run fits; the
    // hint is not the candidate and stays.
    EXPECT_EQ(vek_bitmap_reserve(m, 20, &b), 0);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(m->firstFree, 21u);
    EXPECT_EQ(used_ids(m), range(0, 20));
}

TEST_F(BitmapCore, ReserveStopsWhenTheWrappedScanComesBack) {
    vek_bitmap_t *m = make(40, {10, 30});
    uint32_t b = 99;
    ASSERT_EQ(vek_bitmap_reserve(m, 0, &b), 0);
    ASSERT_EQ(m->firstFree, 11u);
    // Runs 11..29 (19), 31..39 (9), then after the wrap 0..9 (10): none holds 20.
    EXPECT_EQ(vek_bitmap_reserve(m, 20, &b), -1);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(m->firstFree, 11u);
    EXPECT_EQ(used_ids(m), (std::vector<uint32_t>{10, 30}));
}

TEST_F(BitmapCore, ReserveOfZeroMovesHintToNextRun) {
    vek_bitmap_t *m = make(40);
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve(m, 0, &b), 0);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(m->firstFree, 0u); // the run at 0 reaches the end: wraps back to 0
    vek_bitmap_t *m2 = make(40, {5});
    EXPECT_EQ(vek_bitmap_reserve(m2, 0, &b), 0);
    EXPECT_EQ(m2->firstFree, 6u);
    EXPECT_EQ(used_ids(m2), std::vector<uint32_t>{5});
}

TEST_F(BitmapCore, ReserveAndSetDifferOnTheLastFreeIdentifier) {
    uint32_t b = 0;
    // Through reserve: the hint goes to 0.
    vek_bitmap_t *m = make(40, range(0, 38));
    ASSERT_EQ(m->firstFree, 39u);
    EXPECT_EQ(vek_bitmap_reserve(m, 1, &b), 0);
    EXPECT_EQ(b, 39u);
    EXPECT_EQ(m->firstFree, 0u);
    EXPECT_EQ(vek_bitmap_reserve(m, 1, &b), -1);
    // Through set: the hint stays at size, and reserve says -2 until a release.
    vek_bitmap_t *s = make(40, range(0, 39));
    EXPECT_EQ(s->firstFree, 40u);
    EXPECT_EQ(vek_bitmap_reserve(s, 1, &b), -2);
    EXPECT_EQ(vek_bitmap_clr(s, 7), 0);
    EXPECT_EQ(s->firstFree, 7u);
    EXPECT_EQ(vek_bitmap_reserve(s, 1, &b), 0);
    EXPECT_EQ(b, 7u);
}

TEST_F(BitmapCore, ReserveTooLargeAndNullMap) {
    vek_bitmap_t *m = make(40);
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve(m, 41, &b), -2);
    EXPECT_EQ(vek_bitmap_reserve_test(m, 41, &b), -1);
    EXPECT_EQ(vek_bitmap_reserve(nullptr, 1, &b), -1);
    EXPECT_EQ(vek_bitmap_reserve_test(nullptr, 1, &b), -1);
    EXPECT_EQ(b, 99u);
    EXPECT_EQ(m->firstFree, 0u);
    EXPECT_EQ(used_ids(m), std::vector<uint32_t>{});
    EXPECT_EQ(vek_bitmap_reserve(m, 40, &b), 0); // the whole bitmap
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(m->firstFree, 0u);
}

TEST_F(BitmapCore, ReserveWithoutOutParameter) {
    vek_bitmap_t *m = make(40);
    vektest::TraceLevel trace(4);
    const std::string out = vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve(m, 3, nullptr), 0); });
    EXPECT_EQ(out,
              format("vek_bitmap_reserve map=%llx size=3 base=0\nvek_bitmap_reserve vekStatus=0 base=0\n", ptr(m)));
    EXPECT_EQ(used_ids(m), range(0, 2));
}

TEST_F(BitmapCore, ReserveTraceLines) {
    vek_bitmap_t *m = make(40, {0});
    vek_bitmap_t *full = make(8, range(0, 7));
    uint32_t b = 0x77;
    const unsigned long long pm = ptr(m), pb = ptr(&b);
    vektest::TraceLevel trace(4);
    auto run = [&](uint32_t size, int32_t want) {
        return vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve(m, size, &b), want); });
    };
    EXPECT_EQ(run(3, 0), format("vek_bitmap_reserve map=%llx size=3 base=%llx\n"
                                "vek_bitmap_reserve vekStatus=0 base=1\n",
                                pm, pb));
    // No run: the exit line shows what the out-parameter holds.
    EXPECT_EQ(run(37, -1), format("vek_bitmap_reserve map=%llx size=25 base=%llx\n"
                                  "vek_bitmap_reserve vekStatus=1 base=1\n",
                                  pm, pb));
    EXPECT_EQ(run(41, -2), format("vek_bitmap_reserve map=%llx size=29 base=%llx\n"
                                  "vek_bitmap_reserve vekStatus=4 base=1\n",
                                  pm, pb));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_reserve(nullptr, 1, &b); }),
              format("vek_bitmap_reserve map=0 size=1 base=%llx\nvek_bitmap_reserve vekStatus=4 base=1\n", pb));
    // Full with the hint at the size: the entry line only.
    ASSERT_EQ(full->firstFree, 8u);
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve(full, 1, &b), -2); }),
              format("vek_bitmap_reserve map=%llx size=1 base=%llx\n", ptr(full), pb));
}

TEST_F(BitmapCore, ReserveTestChangesNothing) {
    vek_bitmap_t *m = make(40, {0, 1, 2, 10, 11});
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve_test(m, 5, &b), 0);
    EXPECT_EQ(b, 3u);
    EXPECT_EQ(vek_bitmap_reserve_test(m, 20, &b), 0);
    EXPECT_EQ(b, 12u);
    EXPECT_EQ(vek_bitmap_reserve_test(m, 29, &b), -1);
    EXPECT_EQ(vek_bitmap_reserve_test(m, 0, &b), 0);
    EXPECT_EQ(b, 3u);
    EXPECT_EQ(m->firstFree, 3u);
    EXPECT_EQ(used_ids(m), (std::vector<uint32_t>{0, 1, 2, 10, 11}));
    // A hint at the size: -1 with an exit line.
    vek_bitmap_t *full = make(8, range(0, 7));
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve_test(full, 1, &b), -1); }),
              format("vek_bitmap_reserve_test map=%llx size=1 base=%llx\nvek_bitmap_reserve_test vekStatus=1\n",
                     ptr(full), ptr(&b)));
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve_test(m, 5, &b), 0); }),
              format("vek_bitmap_reserve_test map=%llx size=5 base=%llx\nvek_bitmap_reserve_test vekStatus=0\n", ptr(m),
                     ptr(&b)));
}

// ------------------------------------------------------------------- search

TEST_F(BitmapCore, FindWalksFittingPositions) {
    vek_bitmap_t *m = make(40, {0, 1, 2, 10, 11});
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_find(m, 5, &b), 0);
    EXPECT_EQ(b, 3u);
    // begin + 1 is itself a candidate while its run still holds the size.
    EXPECT_EQ(vek_bitmap_find_from(m, 3, 5, &b), 0);
    EXPECT_EQ(b, 4u);
    EXPECT_EQ(vek_bitmap_find_from(m, 4, 5, &b), 0);
    EXPECT_EQ(b, 5u);
    EXPECT_EQ(vek_bitmap_find_from(m, 5, 5, &b), 0);
    EXPECT_EQ(b, 12u);
    EXPECT_EQ(vek_bitmap_find_from(m, 0, 5, &b), 0); // begin 0 is the hint
    EXPECT_EQ(b, 3u);
    EXPECT_EQ(m->firstFree, 3u);
    EXPECT_EQ(used_ids(m), (std::vector<uint32_t>{0, 1, 2, 10, 11}));
}

TEST_F(BitmapCore, FindFailsAfterOnePassWhenNoRunIsLongEnough) {
    // Longest run 10 (30..39), the last identifiers free.
    vek_bitmap_t *m = make(40, {5, 20, 29});
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_find(m, 16, &b), -1);
    EXPECT_EQ(vek_bitmap_find(m, 14, &b), 0);
    EXPECT_EQ(b, 6u);
    EXPECT_EQ(vek_bitmap_find(m, 11, &b), 0);
    EXPECT_EQ(b, 6u);
}

TEST_F(BitmapCore, FindFromNeverWrapsBelowBegin) {
    struct Case {
        std::vector<uint32_t> used;
        int32_t rc;
        uint32_t b;
    };
    const std::vector<Case> cases = {
        {{}, 0, 8},                                  // 8 free
        {{8}, 0, 9},                                 // first free above 8
        {{8, 9, 10}, 0, 11}, {range(8, 39), -1, 99}, // none above 8, though 0..7 are free
        {{0, 8}, 0, 9},
    };
    for (const Case &c : cases) {
        vek_bitmap_t *m = make(40, c.used);
        uint32_t b = 99;
        EXPECT_EQ(vek_bitmap_find_from(m, 7, 1, &b), c.rc);
        EXPECT_EQ(b, c.b);
    }
    vek_bitmap_t *m = make(40);
    uint32_t b = 99;
    // A free run that reaches the end and is too short does wrap.
    EXPECT_EQ(vek_bitmap_find_from(m, 37, 5, &b), 0);
    EXPECT_EQ(b, 0u);
    b = 99;
    EXPECT_EQ(vek_bitmap_find_from(m, 39, 1, &b), -1);
    EXPECT_EQ(vek_bitmap_find_from(m, 0xFFFFFFFFu, 1, &b), -1); // begin + 1 does not wrap to 0
    EXPECT_EQ(vek_bitmap_find_from(nullptr, 0, 1, &b), -1);
    EXPECT_EQ(b, 99u);
}

TEST_F(BitmapCore, FindTraceLines) {
    vek_bitmap_t *m = make(40, {0});
    uint32_t b = 0x55;
    const unsigned long long pm = ptr(m), pb = ptr(&b);
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_find(m, 2, &b); }),
              format("vek_bitmap_find map=%llx size=2 base=%llx\n"
                     "vek_bitmap_find_from map=%llx begin=0 size=2 base=%llx\n"
                     "vek_bitmap_find_from vekStatus=0 base=1\n",
                     pm, pb, pm, pb));
    b = 0x55;
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_find_from(m, 39, 2, &b); }),
              format("vek_bitmap_find_from map=%llx begin=27 size=2 base=%llx\n"
                     "vek_bitmap_find_from vekStatus=1 base=55\n",
                     pm, pb));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_find_from(nullptr, 1, 2, nullptr); }),
              "vek_bitmap_find_from map=0 begin=1 size=2 base=0\nvek_bitmap_find_from vekStatus=4 base=0\n");
}

// ------------------------------------------------------- fixed and release

TEST_F(BitmapCore, ReserveFixedChecksEveryIdentifier) {
    vek_bitmap_t *m = make(40);
    EXPECT_EQ(vek_bitmap_reserve_fixed(m, 5, 36), -2); // 40 is a tail bit
    EXPECT_EQ(vek_bitmap_reserve_fixed(m, 4, 36), 0);
    EXPECT_EQ(vek_bitmap_reserve_fixed(m, 4, 33), -2); // 36 in use
    EXPECT_EQ(vek_bitmap_reserve_fixed(m, 3, 33), 0);
    EXPECT_EQ(m->firstFree, 0u);
    EXPECT_EQ(vek_bitmap_reserve_fixed(m, 2, 0), 0); // at the hint: moves it
    EXPECT_EQ(m->firstFree, 2u);
    EXPECT_EQ(vek_bitmap_reserve_fixed(m, 0, 5), 0);
    EXPECT_EQ(vek_bitmap_reserve_fixed(nullptr, 1, 5), -1);
    EXPECT_EQ(used_ids(m), (std::vector<uint32_t>{0, 1, 33, 34, 35, 36, 37, 38, 39}));
    // Taking everything from the hint keeps the hint at the size.
    vek_bitmap_t *f = make(64);
    EXPECT_EQ(vek_bitmap_reserve_fixed(f, 64, 0), 0);
    EXPECT_EQ(f->firstFree, 64u);
    uint32_t b = 0;
    EXPECT_EQ(vek_bitmap_reserve(f, 1, &b), -2);
}

TEST_F(BitmapCore, ReserveFixedPastTheEndFails) {
    vek_bitmap_t *m = make(64);
    for (uint32_t base : {64u, 65u, 0xFFFFFFFFu}) {
        EXPECT_EQ(vek_bitmap_reserve_fixed(m, 1, base), -2) << base;
        EXPECT_EQ(vek_bitmap_reserve_fixed(m, 0, base), -2) << base;
    }
    EXPECT_EQ(vek_bitmap_reserve_fixed(m, 0xFFFFFFFFu, 63), -2);
    EXPECT_EQ(used_ids(m), std::vector<uint32_t>{});
    EXPECT_EQ(m->firstFree, 0u);
}

TEST_F(BitmapCore, ReserveFixedTraceLines) {
    vek_bitmap_t *m = make(40, {3});
    const unsigned long long pm = ptr(m);
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_reserve_fixed(m, 2, 0); }),
              format("vek_bitmap_reserve_fixed map=%llx size=2 base=0\nvek_bitmap_reserve_fixed status=0\n", pm));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_reserve_fixed(m, 2, 2); }),
              format("vek_bitmap_reserve_fixed map=%llx size=2 base=2\n"
                     "vek_bitmap_reserve_fixed status=fffffffffffffffe\n",
                     pm));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_reserve_fixed(nullptr, 2, 2); }),
              "vek_bitmap_reserve_fixed map=0 size=2 base=2\nvek_bitmap_reserve_fixed status=ffffffffffffffff\n");
}

TEST_F(BitmapCore, UnreserveFreesAndLowersHint) {
    vek_bitmap_t *m = make(40, range(0, 9));
    ASSERT_EQ(m->firstFree, 10u);
    EXPECT_EQ(vek_bitmap_unreserve(m, 3, 2), 0);
    EXPECT_EQ(m->firstFree, 2u);
    EXPECT_EQ(used_ids(m), (std::vector<uint32_t>{0, 1, 5, 6, 7, 8, 9}));
    EXPECT_EQ(vek_bitmap_unreserve(m, 2, 7), 0); // above the hint: the hint stays
    EXPECT_EQ(m->firstFree, 2u);
    EXPECT_EQ(vek_bitmap_unreserve(m, 1, 30), 0); // already free: no check
    // The count is cut at the end: the tail bits stay.
    vek_bitmap_t *t = make(40, range(30, 39));
    EXPECT_EQ(vek_bitmap_unreserve(t, 0xFFFFFFFFu, 35), 0);
    EXPECT_EQ(used_ids(t), range(30, 34));
    EXPECT_EQ(t->bits[1], 0xFFFFFF00u | 0x7u);
}

TEST_F(BitmapCore, UnreserveOutsideTheBitmapDoesNothing) {
    vek_bitmap_t *m = make(40, range(0, 39));
    EXPECT_EQ(vek_bitmap_unreserve(m, 5, 40), 0);
    EXPECT_EQ(vek_bitmap_unreserve(m, 5, 0xFFFFFFF0u), 0);
    EXPECT_EQ(m->firstFree, 40u);
    EXPECT_EQ(used_ids(m), range(0, 39));
    EXPECT_EQ(m->bits[1], 0xFFFFFFFFu);
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([] { EXPECT_EQ(vek_bitmap_unreserve(nullptr, 1, 0), 0); }),
              "vek_bitmap_unreserve map=0 size=1 base=0\nvek_bitmap_unreserve return=0\n");
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_unreserve(m, 3, 2); }),
              format("vek_bitmap_unreserve map=%llx size=3 base=2\nvek_bitmap_unreserve return=0\n", ptr(m)));
}

// ------------------------------------------------------- single identifiers

TEST_F(BitmapCore, SetClrIsset) {
    vek_bitmap_t *m = make(40);
    EXPECT_EQ(vek_bitmap_set(m, 1), 0);
    EXPECT_EQ(m->firstFree, 0u);
    EXPECT_EQ(vek_bitmap_set(m, 0), 0);
    EXPECT_EQ(m->firstFree, 2u); // next free after 0
    EXPECT_EQ(vek_bitmap_set(m, 0), -1);
    EXPECT_EQ(vek_bitmap_set(m, 40), -1);
    EXPECT_EQ(vek_bitmap_set(nullptr, 0), -1);
    EXPECT_EQ(vek_bitmap_isset(m, 0), 1);
    EXPECT_EQ(vek_bitmap_isset(m, 2), 0);
    EXPECT_EQ(vek_bitmap_isset(m, 40), 0); // a tail bit is out of range
    EXPECT_EQ(vek_bitmap_isset(nullptr, 0), 0);
    EXPECT_EQ(vek_bitmap_clr(m, 1), 0);
    EXPECT_EQ(m->firstFree, 1u);
    EXPECT_EQ(vek_bitmap_clr(m, 0), 0);
    EXPECT_EQ(m->firstFree, 0u);
    EXPECT_EQ(vek_bitmap_clr(m, 40), 0);
    EXPECT_EQ(vek_bitmap_clr(m, 0xFFFFFFFFu), 0);
    EXPECT_EQ(vek_bitmap_clr(nullptr, 3), 0);
    EXPECT_EQ(m->bits[0], 0u);
    EXPECT_EQ(m->bits[1], 0xFFFFFF00u);
}

TEST_F(BitmapCore, SingleIdentifierTraceLines) {
    vek_bitmap_t *m = make(40);
    const unsigned long long pm = ptr(m);
    vektest::TraceLevel trace(4);
    struct Case {
        std::function<void()> call;
        const char *op;
        uint32_t id;
        int status;
    };
    const std::vector<Case> cases = {
        {[&] { vek_bitmap_set(m, 5); }, "vek_bitmap_set", 5, 0},
        {[&] { vek_bitmap_set(m, 5); }, "vek_bitmap_set", 5, 1},
        {[&] { vek_bitmap_set(m, 40); }, "vek_bitmap_set", 40, 1},
        {[&] { vek_bitmap_isset(m, 5); }, "vek_bitmap_isset", 5, 0},
        {[&] { vek_bitmap_isset(m, 40); }, "vek_bitmap_isset", 40, 1},
        {[&] { vek_bitmap_clr(m, 5); }, "vek_bitmap_clr", 5, 0},
        {[&] { vek_bitmap_clr(m, 40); }, "vek_bitmap_clr", 40, 4},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(vektest::capture_stdout(c.call),
                  format("%s map=%llx id=%x\n%s vekStatus=%x\n", c.op, pm, c.id, c.op, c.status));
    }
    EXPECT_EQ(vektest::capture_stdout([] { vek_bitmap_set(nullptr, 1); }),
              "vek_bitmap_set map=0 id=1\nvek_bitmap_set vekStatus=4\n");
    EXPECT_EQ(vektest::capture_stdout([] { vek_bitmap_isset(nullptr, 1); }),
              "vek_bitmap_isset map=0 id=1\nvek_bitmap_isset vekStatus=4\n");
}

TEST_F(BitmapCore, CountGoesThroughIsset) {
    vek_bitmap_t *m = make(40);
    EXPECT_EQ(vek_bitmap_count(m, 1), 0); // tail bits are not counted
    EXPECT_EQ(vek_bitmap_count(m, 0), 40);
    vek_bitmap_set(m, 3);
    vek_bitmap_set(m, 39);
    EXPECT_EQ(vek_bitmap_count(m, 1), 2);
    EXPECT_EQ(vek_bitmap_count(m, 0), 38);
    EXPECT_EQ(vek_bitmap_count(m, 2), 0);
    EXPECT_EQ(vek_bitmap_count(nullptr, 1), -1);

    vek_bitmap_t *two = make(2, {1});
    const unsigned long long p = ptr(two);
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_count(two, 1), 1); }),
              format("vek_bitmap_count map=%llx value=1\n"
                     "vek_bitmap_isset map=%llx id=0\nvek_bitmap_isset vekStatus=0\n"
                     "vek_bitmap_isset map=%llx id=1\nvek_bitmap_isset vekStatus=0\n"
                     "vek_bitmap_count vekStatus=0 count=1\n",
                     p, p, p));
    EXPECT_EQ(vektest::capture_stdout([] { vek_bitmap_count(nullptr, 0xAB); }),
              "vek_bitmap_count map=0 value=ab\nvek_bitmap_count vekStatus=4 count=0\n");
}

// The count reads the words at every trace level: on sizes around word
// boundaries, with runs across words, the traced count answers as the quiet
// one and shows one test per identifier, in order.
TEST_F(BitmapCore, CountAnswersAlikeAtEveryTraceLevel) {
    for (uint32_t size : {1u, 31u, 32u, 33u, 64u, 95u, 130u}) {
        vek_bitmap_t *m = make(size);
        for (uint32_t id = 0; id < size; ++id) {
            if (id % 7 == 0 || (id >= 28 && id < 70)) vek_bitmap_set(m, id);
        }
        std::string tests;
        for (uint32_t id = 0; id < size; ++id) {
            tests += format("vek_bitmap_isset map=%llx id=%x\nvek_bitmap_isset vekStatus=0\n", ptr(m), id);
        }
        for (uint8_t value : {0, 1, 2}) {
            const int32_t quiet = vek_bitmap_count(m, value);
            int32_t expect = 0;
            for (uint32_t id = 0; id < size; ++id) expect += vek_bitmap_isset(m, id) == value ? 1 : 0;
            EXPECT_EQ(quiet, expect) << size << " " << int{value};
            vektest::TraceLevel trace(4);
            EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_count(m, value), quiet); }),
                      format("vek_bitmap_count map=%llx value=%x\n", ptr(m), value) + tests +
                          format("vek_bitmap_count vekStatus=0 count=%x\n", static_cast<unsigned>(quiet)))
                << size << " " << int{value};
        }
    }
}

TEST_F(BitmapCore, NullSourceCopyFails) {
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([] { EXPECT_EQ(vek_bitmap_copy(nullptr), nullptr); }),
              "vek_bitmap_copy bits=0\nvek_bitmap_copy vekStatus=4\n");
}

} // namespace
