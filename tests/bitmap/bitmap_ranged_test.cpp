// Ranged, aligned-offsets and aligned reservation with their test forms.
#include <algorithm>
#include <string>
#include <vector>

#include "bitmap_fixture.hpp"

namespace {

using vektest::format;
using vektest::ptr;

class BitmapRanged : public bitmaptest::BitmapTest {};

TEST_F(BitmapRanged, WindowFillsUpFromItsStart) {
    vek_bitmap_t *m = make(40);
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve_ranged(m, 4, &b, 10, 20), 0);
    EXPECT_EQ(b, 10u);
    EXPECT_EQ(vek_bitmap_reserve_ranged(m, 4, &b, 10, 20), 0);
    EXPECT_EQ(b, 14u);
    b = 99;
    EXPECT_EQ(vek_bitmap_reserve_ranged(m, 4, &b, 10, 20), -1); // 18 + 4 > 20
    EXPECT_EQ(b, 99u);
    EXPECT_EQ(m->firstFree, 0u);
    EXPECT_EQ(used_ids(m), range(10, 17));
}

TEST_F(BitmapRanged, Cases) {
    struct Case {
        const char *what;
        std::vector<uint32_t> used;
        bool test_form;
        uint32_t size, start, end;
        int32_t rc;
        uint32_t b;
    };
    const std::vector<Case> cases = {
        {"run ending at the window's end", {}, false, 2, 18, 20, 0, 18},
        {"the test form is one tighter", {}, true, 2, 18, 20, -1, 99},
        {"the test form below the end", {}, true, 2, 18, 21, 0, 18},
        {"end at the size", {}, false, 2, 30, 40, 0, 30},
        {"end past the size", {}, false, 2, 30, 41, -1, 99},
        {"start past the size", {}, false, 0, 41, 41, -1, 99},
        {"start and end at the size, nothing wanted", {}, false, 0, 40, 40, 0, 40},
        {"no going back to 0", {}, false, 10, 35, 40, -1, 99},
        {"nothing wanted in an empty window", {}, false, 0, 7, 7, 0, 7},
        {"an empty window", {}, false, 1, 7, 7, -1, 99},
        {"an inverted window", {}, false, 0, 8, 7, -1, 99},
        {"start in use moves up", {10, 11}, false, 3, 10, 20, 0, 12},
        {"a short run is skipped", {12}, false, 3, 10, 20, 0, 13},
        {"the first fitting run decides", {13}, false, 5, 10, 18, -1, 99},
        {"every candidate in use", range(10, 19), false, 1, 10, 20, -1, 99},
        {"last free run too short", range(0, 36), false, 4, 0, 40, -1, 99},
        {"a size that wraps 32 bits", {}, false, 0xFFFFFFFFu, 5, 5, -1, 99},
        {"a size that wraps 32 bits, test form", {}, true, 0xFFFFFFFFu, 5, 5, -1, 99},
        {"a size that reaches 2^32", {}, false, 0xFFFFFFFCu, 4, 4, -1, 99},
        {"a size larger than the window", {}, false, 0xFFFFFFFFu, 5, 40, -1, 99},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        vek_bitmap_t *m = make(40, c.used);
        const uint32_t first = m->firstFree;
        const std::vector<uint32_t> before = used_ids(m);
        uint32_t b = 99;
        const int32_t rc = c.test_form ? vek_bitmap_reserve_ranged_test(m, c.size, &b, c.start, c.end)
                                       : vek_bitmap_reserve_ranged(m, c.size, &b, c.start, c.end);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(b, c.b);
        std::vector<uint32_t> after = before;
        if (rc == 0 && !c.test_form) {
            for (uint32_t i = c.b; i < c.b + c.size && i < 40; ++i) after.push_back(i);
            std::sort(after.begin(), after.end());
        }
        EXPECT_EQ(used_ids(m), after);
        EXPECT_EQ(m->bits[1] & 0xFFFFFF00u, 0xFFFFFF00u);
        if (rc != 0 || c.test_form) {
            EXPECT_EQ(m->firstFree, first);
        }
    }
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve_ranged(nullptr, 1, &b, 0, 1), -1);
    EXPECT_EQ(vek_bitmap_reserve_ranged_test(nullptr, 1, &b, 0, 1), -1);
    EXPECT_EQ(b, 99u);
}

TEST_F(BitmapRanged, HintMovesOnlyWhenTheRunStartsThere) {
    vek_bitmap_t *m = make(40, {0});
    uint32_t b = 0;
    EXPECT_EQ(vek_bitmap_reserve_ranged(m, 3, &b, 5, 40), 0);
    EXPECT_EQ(m->firstFree, 1u);
    EXPECT_EQ(vek_bitmap_reserve_ranged(m, 3, &b, 0, 40), 0); // starts at the hint
    EXPECT_EQ(b, 1u);
    EXPECT_EQ(m->firstFree, 4u);
    // Kept even when it is the size.
    vek_bitmap_t *s = make(8);
    EXPECT_EQ(vek_bitmap_reserve_ranged(s, 8, &b, 0, 8), 0);
    EXPECT_EQ(s->firstFree, 8u);
}

TEST_F(BitmapRanged, RangedTraceLines) {
    vek_bitmap_t *m = make(40);
    uint32_t b = 0;
    const unsigned long long pm = ptr(m), pb = ptr(&b);
    vektest::TraceLevel trace(4);
    struct Case {
        bool test_form;
        uint32_t size, start, end;
        int status;
    };
    for (const Case &c : {Case{false, 2, 3, 9, 0}, Case{false, 2, 3, 41, 4}, Case{false, 50, 3, 9, 1},
                          Case{true, 2, 3, 9, 0}, Case{true, 2, 0x29, 0x29, 4}, Case{true, 2, 3, 5, 1}}) {
        const char *op = c.test_form ? "vek_bitmap_reserve_ranged_test" : "vek_bitmap_reserve_ranged";
        const std::string out = vektest::capture_stdout([&] {
            if (c.test_form) {
                vek_bitmap_reserve_ranged_test(m, c.size, &b, c.start, c.end);
            } else {
                vek_bitmap_reserve_ranged(m, c.size, &b, c.start, c.end);
            }
        });
        EXPECT_EQ(out, format("%s map=%llx size=%x base=%llx startRange=%x endRange=%x\n%s vekStatus=%x\n", op, pm,
                              c.size, pb, c.start, c.end, op, c.status));
    }
    EXPECT_EQ(vektest::capture_stdout([] { vek_bitmap_reserve_ranged(nullptr, 1, nullptr, 2, 3); }),
              "vek_bitmap_reserve_ranged map=0 size=1 base=0 startRange=2 endRange=3\n"
              "vek_bitmap_reserve_ranged vekStatus=4\n");
}

// ------------------------------------------------------ aligned offsets

TEST_F(BitmapRanged, RepeatedWindows) {
    vek_bitmap_t *m = make(40);
    uint32_t b = 99;
    for (uint32_t want : {2u, 4u, 10u, 12u, 18u}) {
        EXPECT_EQ(vek_bitmap_reserve_aligned_offsets(m, 2, &b, 8, 2, 6), 0);
        EXPECT_EQ(b, want);
    }
    EXPECT_EQ(m->firstFree, 0u);
    // The test form reports without reserving, and its windows are one
    // tighter: the reserving form would take 20 in [18, 22); the test form
    // refuses a run that ends at the window's end and reports 26.
    EXPECT_EQ(vek_bitmap_reserve_aligned_offsets_test(m, 2, &b, 8, 2, 6), 0);
    EXPECT_EQ(b, 26u);
    EXPECT_EQ(vek_bitmap_reserve_aligned_offsets_test(m, 4, &b, 8, 2, 6), -1);
    EXPECT_EQ(used_ids(m), (std::vector<uint32_t>{2, 3, 4, 5, 10, 11, 12, 13, 18, 19}));
}

TEST_F(BitmapRanged, EveryWindowIsTriedWithItsOwnLines) {
    vek_bitmap_t *m = make(40, range(0, 37));
    uint32_t b = 0;
    const unsigned long long pm = ptr(m), pb = ptr(&b);
    vektest::TraceLevel trace(4);
    std::string out;
    out = vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve_aligned_offsets(m, 2, &b, 8, 6, 10), -1); });
    std::string want =
        format("vek_bitmap_reserve_aligned_offsets map=%llx size=2 base=%llx align=8 startOff=6 endOff=a\n", pm, pb);
    for (uint32_t s : {6u, 14u, 22u, 30u, 38u}) {
        want += format("vek_bitmap_reserve_ranged map=%llx size=2 base=%llx startRange=%x endRange=%x\n"
                       "vek_bitmap_reserve_ranged vekStatus=%x\n",
                       pm, pb, s, s + 4, s == 38 ? 4 : 1);
    }
    want += "vek_bitmap_reserve_aligned_offsets vekStatus=1\n";
    EXPECT_EQ(out, want);

    // The test form, ending at the first success.
    vektest::capture_stdout([&] { vek_bitmap_unreserve(m, 2, 14); });
    out = vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve_aligned_offsets_test(m, 1, &b, 8, 6, 10), 0); });
    want = format("vek_bitmap_reserve_aligned_offsets_test map=%llx size=1 base=%llx align=8 startOff=6 endOff=a\n", pm,
                  pb);
    want += format("vek_bitmap_reserve_ranged_test map=%llx size=1 base=%llx startRange=6 endRange=a\n"
                   "vek_bitmap_reserve_ranged_test vekStatus=1\n"
                   "vek_bitmap_reserve_ranged_test map=%llx size=1 base=%llx startRange=e endRange=12\n"
                   "vek_bitmap_reserve_ranged_test vekStatus=0\n",
                   pm, pb, pm, pb);
    want += "vek_bitmap_reserve_aligned_offsets_test vekStatus=0\n";
    EXPECT_EQ(out, want);
    EXPECT_EQ(b, 14u);
}

TEST_F(BitmapRanged, WindowCountFollowsTheSize) {
    struct Case {
        uint32_t size, align, windows;
    };
    for (const Case &c : {Case{40, 8, 5}, Case{40, 10, 4}, Case{40, 100, 1}, Case{40, 0xFFFFFFFFu, 1}, Case{1, 1, 1},
                          Case{64, 32, 2}}) {
        vek_bitmap_t *m = make(c.size, range(0, c.size - 1));
        uint32_t b = 0;
        vektest::TraceLevel trace(4);
        const std::string out = vektest::capture_stdout(
            [&] { EXPECT_EQ(vek_bitmap_reserve_aligned_offsets(m, 1, &b, c.align, 0, 1), -1); });
        uint32_t tried = 0;
        for (std::size_t at = 0; (at = out.find("vek_bitmap_reserve_ranged map=", at)) != std::string::npos; ++at) {
            ++tried;
        }
        EXPECT_EQ(tried, c.windows) << c.size << " " << c.align;
    }
}

TEST_F(BitmapRanged, WindowsBeyond32BitsAreNotWrappedBack) {
    // The window after [0xFFFFFFF8, 0xFFFFFFFF) would be [0, 7) in 32-bit
    // arithmetic: nothing may be reserved there.
    vek_bitmap_t *m = make(40);
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve_aligned_offsets(m, 1, &b, 8, 0xFFFFFFF8u, 0xFFFFFFFFu), -1);
    EXPECT_EQ(vek_bitmap_reserve_aligned_offsets_test(m, 1, &b, 8, 0xFFFFFFF8u, 0xFFFFFFFFu), -1);
    // An end offset below the start offset makes no window.
    EXPECT_EQ(vek_bitmap_reserve_aligned_offsets(m, 0, &b, 8, 6, 2), -1);
    EXPECT_EQ(vek_bitmap_reserve_aligned_offsets(m, 1, &b, 8, 6, 2), -1);
    EXPECT_EQ(b, 99u);
    EXPECT_EQ(used_ids(m), std::vector<uint32_t>{});
    EXPECT_EQ(m->firstFree, 0u);
}

TEST_F(BitmapRanged, ZeroAlignmentFailsAndTouchesNothing) {
    vek_bitmap_t *m = make(40, {3});
    uint32_t b = 99;
    const unsigned long long pm = ptr(m), pb = ptr(&b);
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve_aligned_offsets(m, 1, &b, 0, 0, 4), -1); }),
              format("vek_bitmap_reserve_aligned_offsets map=%llx size=1 base=%llx align=0 startOff=0 endOff=4\n"
                     "vek_bitmap_reserve_aligned_offsets vekStatus=4\n",
                     pm, pb));
    EXPECT_EQ(vektest::capture_stdout(
                  [&] { EXPECT_EQ(vek_bitmap_reserve_aligned_offsets_test(m, 1, &b, 0, 0, 4), -1); }),
              format("vek_bitmap_reserve_aligned_offsets_test map=%llx size=1 base=%llx align=0 startOff=0 endOff=4\n"
                     "vek_bitmap_reserve_aligned_offsets_test vekStatus=4\n",
                     pm, pb));
    EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_bitmap_reserve_aligned(m, 1, 0, &b), -1); }),
              format("vek_bitmap_reserve_aligned map=%llx size=1 align=0 base=%llx\n"
                     "vek_bitmap_reserve_aligned vekStatus=4\n",
                     pm, pb));
    EXPECT_EQ(b, 99u);
    EXPECT_EQ(used_ids(m), std::vector<uint32_t>{3});
    EXPECT_EQ(m->firstFree, 0u);
}

TEST_F(BitmapRanged, NullMapInRepeatedWindows) {
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve_aligned_offsets(nullptr, 1, &b, 8, 0, 4), -1);
    EXPECT_EQ(vek_bitmap_reserve_aligned_offsets_test(nullptr, 1, &b, 8, 0, 4), -1);
    EXPECT_EQ(vek_bitmap_reserve_aligned(nullptr, 1, 8, &b), -1);
    EXPECT_EQ(b, 99u);
}

// --------------------------------------------------------------- aligned

TEST_F(BitmapRanged, AlignedStartsAtMultiplesFromTheHint) {
    vek_bitmap_t *m = make(40, {0, 1, 2});
    uint32_t b = 99;
    EXPECT_EQ(vek_bitmap_reserve_aligned(m, 3, 8, &b), 0);
    EXPECT_EQ(b, 8u);
    EXPECT_EQ(m->firstFree, 3u);
    vek_bitmap_t *m2 = make(40, {0, 1, 2, 8, 9});
    EXPECT_EQ(vek_bitmap_reserve_aligned(m2, 3, 8, &b), 0);
    EXPECT_EQ(b, 16u);
    EXPECT_EQ(used_ids(m2), (std::vector<uint32_t>{0, 1, 2, 8, 9, 16, 17, 18}));

    vek_bitmap_t *m3 = make(40, range(0, 31));
    EXPECT_EQ(vek_bitmap_reserve_aligned(m3, 4, 8, &b), 0);
    EXPECT_EQ(b, 32u);
    EXPECT_EQ(m3->firstFree, 36u);
    vek_bitmap_set(m3, 36);
    vek_bitmap_set(m3, 37);
    vek_bitmap_set(m3, 38);
    vek_bitmap_set(m3, 39);
    b = 99;
    EXPECT_EQ(vek_bitmap_reserve_aligned(m3, 5, 8, &b), -1);
    EXPECT_EQ(b, 99u);
    EXPECT_EQ(m3->firstFree, 40u);
}

TEST_F(BitmapRanged, AlignedCases) {
    struct Case {
        std::vector<uint32_t> used;
        uint32_t size, align;
        int32_t rc;
        uint32_t b, first_after;
    };
    const std::vector<Case> cases = {
        {{}, 4, 8, 0, 0, 4},              // at the hint: it moves
        {{}, 40, 1, 0, 0, 40},            // everything: the hint is kept at the size
        {{}, 41, 8, -1, 99, 0},           // too large
        {{}, 0, 8, 0, 0, 0},              // nothing wanted at the free hint
        {{0}, 1, 0x80000000u, -1, 99, 1}, // the next multiple is past the end
        {{0}, 1, 0xFFFFFFFFu, -1, 99, 1},
        {{5}, 6, 5, 0, 10, 0},           // 0..4 is short, 5 in use, 10 fits
        {{4, 20}, 8, 4, 0, 8, 0},        // 0..3 short, 4 in use, 8..19 fits
        {range(0, 34), 5, 5, 0, 35, 40}, // hint aligned and last
        {range(0, 34), 6, 5, -1, 99, 35},
    };
    for (const Case &c : cases) {
        vek_bitmap_t *m = make(40, c.used);
        uint32_t b = 99;
        EXPECT_EQ(vek_bitmap_reserve_aligned(m, c.size, c.align, &b), c.rc) << c.size << " " << c.align;
        EXPECT_EQ(b, c.b) << c.size << " " << c.align;
        EXPECT_EQ(m->firstFree, c.first_after) << c.size << " " << c.align;
        EXPECT_EQ(m->bits[1] & 0xFFFFFF00u, 0xFFFFFF00u);
    }
}

TEST_F(BitmapRanged, AlignedTraceLines) {
    vek_bitmap_t *m = make(40, {0});
    uint32_t b = 0;
    const unsigned long long pm = ptr(m), pb = ptr(&b);
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_reserve_aligned(m, 2, 16, &b); }),
              format("vek_bitmap_reserve_aligned map=%llx size=2 align=10 base=%llx\n"
                     "vek_bitmap_reserve_aligned vekStatus=0 base=10\n",
                     pm, pb));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_reserve_aligned(m, 30, 16, &b); }),
              format("vek_bitmap_reserve_aligned map=%llx size=1e align=10 base=%llx\n"
                     "vek_bitmap_reserve_aligned vekStatus=1\n",
                     pm, pb));
}

} // namespace
