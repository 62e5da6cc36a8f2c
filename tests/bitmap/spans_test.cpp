// Span walk and the two nice-identifier pickers.
#include <string>
#include <utility>
#include <vector>

#include "bitmap_fixture.hpp"

namespace {

using vektest::format;
using vektest::ptr;
using Spans = std::vector<std::pair<uint32_t, uint32_t>>;

struct Recorder {
    Spans spans;
    std::size_t stop_after = 0; // non-zero: the n-th call returns non-zero
};

uint32_t record_span(uint32_t before, uint32_t after, uintptr_t args) {
    auto *r = reinterpret_cast<Recorder *>(args);
    r->spans.emplace_back(before, after);
    return (r->stop_after != 0 && r->spans.size() == r->stop_after) ? 5u : 0u;
}

class BitmapSpans : public bitmaptest::BitmapTest {};

struct Row {
    uint32_t size;
    std::vector<uint32_t> used;
    Spans spans;
    int32_t walk;
    uint32_t first_picker, second_picker;
};

std::vector<uint32_t> ids(uint32_t from, uint32_t to) {
    std::vector<uint32_t> v;
    for (uint32_t i = from; i <= to; ++i) v.push_back(i);
    return v;
}

std::vector<uint32_t> joined(std::vector<uint32_t> a, const std::vector<uint32_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The documented table, then a few more shapes.
const std::vector<Row> &rows() {
    static const std::vector<Row> r = {
        {40, {}, {{40, 40}}, 0, 20, 20},
        {64, {}, {}, -1, 32, 32},
        {64, {5}, {{5, 5}}, 0, 37, 37},
        {40, {5}, {{5, 40}, {39, 5}}, 0, 22, 22},
        {64, {5, 20}, {{5, 20}, {20, 5}}, 0, 44, 44},
        {40, {20}, {{20, 40}, {39, 20}}, 0, 9, 10},
        {40, {0, 39}, {{0, 39}}, 0, 19, 20},
        {40, ids(0, 3), {{3, 40}}, 0, 21, 21},
        {64, ids(0, 3), {{3, 0}}, 0, 33, 33},
        {64, {0, 16, 32, 48}, {{0, 16}, {16, 32}, {32, 48}, {48, 0}}, 0, 8, 8},
        {100, {10, 30, 50, 70, 90}, {{10, 30}, {30, 50}, {50, 70}, {70, 90}, {90, 100}, {99, 10}}, 0, 60, 20},
        {31, {3}, {{3, 3}}, 0, 18, 17},
        {40, ids(0, 39), {}, 0, 40, 39},
        {64, ids(0, 63), {}, 0, 64, 64},
        // A run of used identifiers across words, and a gap that starts in
        // the last word (reported joined with the identifiers below 10).
        {100, joined(ids(10, 40), {95}), {{40, 95}, {95, 10}}, 0, 67, 67},
        {64, {31, 32}, {{32, 31}}, 0, 63, 63},
        {40, {39}, {{39, 39}}, 0, 19, 20},
        {1, {}, {{1, 1}}, 0, 0, 0},
    };
    return r;
}

TEST_F(BitmapSpans, TableOfSpansAndPicks) {
    for (const Row &row : rows()) {
        SCOPED_TRACE(format("size %u, %zu in use", row.size, row.used.size()));
        vek_bitmap_t *m = make(row.size, row.used);
        const std::vector<uint32_t> before = used_ids(m);
        const uint32_t first = m->firstFree;
        Recorder rec;
        EXPECT_EQ(vek_bitmap_find_spans(m, record_span, reinterpret_cast<uintptr_t>(&rec)), row.walk);
        EXPECT_EQ(rec.spans, row.spans);
        EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), row.first_picker);
        EXPECT_EQ(vek_pick_a_nice_id_from_bitmap1(m), row.second_picker);
        // Nothing is reserved or moved.
        EXPECT_EQ(used_ids(m), before);
        EXPECT_EQ(m->firstFree, first);
    }
}

TEST_F(BitmapSpans, WalkStopsWhenTheCallbackSaysSo) {
    vek_bitmap_t *m = make(100, {10, 30, 50, 70, 90});
    for (std::size_t stop : {1u, 3u, 6u}) {
        Recorder rec;
        rec.stop_after = stop;
        EXPECT_EQ(vek_bitmap_find_spans(m, record_span, reinterpret_cast<uintptr_t>(&rec)), -1);
        EXPECT_EQ(rec.spans.size(), stop);
    }
    vek_bitmap_t *single = make(40); // the single call of a bitmap without used identifiers
    Recorder rec;
    rec.stop_after = 1;
    EXPECT_EQ(vek_bitmap_find_spans(single, record_span, reinterpret_cast<uintptr_t>(&rec)), -1);
    EXPECT_EQ(rec.spans, (Spans{{40, 40}}));
}

TEST_F(BitmapSpans, WalkWithoutMapOrFunction) {
    vek_bitmap_t *m = make(40, {3});
    Recorder rec;
    EXPECT_EQ(vek_bitmap_find_spans(nullptr, record_span, reinterpret_cast<uintptr_t>(&rec)), -1);
    EXPECT_EQ(vek_bitmap_find_spans(m, nullptr, 0), -1);
    EXPECT_TRUE(rec.spans.empty());
}

TEST_F(BitmapSpans, WalkTraceLines) {
    vek_bitmap_t *m = make(64, {5});
    vek_bitmap_t *empty = make(64);
    Recorder rec;
    const auto args = reinterpret_cast<uintptr_t>(&rec);
    const auto fn = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&record_span));
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_find_spans(m, record_span, args); }),
              format("vek_bitmap_find_spans map=%llx fn=%llx args=%llx\nvek_bitmap_find_spans vekStatus=0\n", ptr(m),
                     fn, static_cast<unsigned long long>(args)));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_bitmap_find_spans(empty, record_span, args); }),
              format("vek_bitmap_find_spans map=%llx fn=%llx args=%llx\nvek_bitmap_find_spans vekStatus=1\n",
                     ptr(empty), fn, static_cast<unsigned long long>(args)));
}

TEST_F(BitmapSpans, SinglePassPickerTraceLines) {
    vek_bitmap_t *m = make(40, {20});
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_pick_a_nice_id_from_bitmap1(m); }),
              format("vek_pick_a_nice_id_from_bitmap1 map=%llx\nvek_pick_a_nice_id_from_bitmap1 choice=a\n", ptr(m)));
    // Both identifiers read by the tail check go through vek_bitmap_isset.
    vek_bitmap_t *full = make(64, ids(0, 63));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_pick_a_nice_id_from_bitmap1(full); }),
              format("vek_pick_a_nice_id_from_bitmap1 map=%llx\n"
                     "vek_bitmap_isset map=%llx id=3e\nvek_bitmap_isset vekStatus=0\n"
                     "vek_bitmap_isset map=%llx id=3f\nvek_bitmap_isset vekStatus=0\n"
                     "vek_pick_a_nice_id_from_bitmap1 choice=40\n",
                     ptr(full), ptr(full), ptr(full)));
    EXPECT_EQ(vektest::capture_stdout([] { EXPECT_EQ(vek_pick_a_nice_id_from_bitmap1(nullptr), 0u); }),
              "vek_pick_a_nice_id_from_bitmap1 map=0\n");
}

TEST_F(BitmapSpans, RankingPickerPrintsOnlyWhatItCalls) {
    vek_bitmap_t *m = make(40, {20});
    vektest::TraceLevel trace(4);
    const std::string out = vektest::capture_stdout([&] { EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), 9u); });
    std::vector<std::string> ops;
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t nl = out.find('\n', at);
        const std::string line = out.substr(at, nl - at);
        ops.push_back(line.substr(0, line.find(' ')));
        at = nl + 1;
    }
    const std::vector<std::string> want = {
        "vek_bitmap_get_size",
        "vek_bitmap_get_size",
        "_vek_sorted_set_create",
        "_vek_sorted_set_create",
        "vek_bitmap_find_spans",
        "vek_sorted_set_get",
        "vek_sorted_set_get", // (20, 40), length 20
        "vek_sorted_set_get",
        "vek_sorted_set_get", // (39, 20), length 21
        "vek_bitmap_find_spans",
        "vek_sorted_set_get_n",
        "vek_sorted_set_get_n",
        "_vek_sorted_set_create",
        "_vek_sorted_set_create",
        "vek_sorted_set_get_n",
        "vek_sorted_set_get_n",
        "vek_sorted_set_delete_nodes_and_set",
        "_vek_sorted_set_delete_nodes_and_set",
        "_vek_sorted_set_delete_nodes_and_set",
        "vek_sorted_set_delete_nodes_and_set",
        "_vek_sorted_set_delete_nodes_and_set",
        "_vek_sorted_set_delete_nodes_and_set",
    };
    EXPECT_EQ(ops, want) << out;
}

TEST_F(BitmapSpans, RankingPickerAllocationFailures) {
    for (const Row &row : rows()) {
        vek_bitmap_t *m = make(row.size, row.used);
        const std::vector<uint32_t> before = used_ids(m);
        vektest::sweep_alloc_failures(VEK_SALTEST_ROBUST, [&](uint32_t nth) {
            const uint32_t id = vek_pick_a_nice_id_from_bitmap(m);
            if (vek_saltest_faults_fired() == 0) {
                EXPECT_EQ(id, row.first_picker);
            } else if (nth <= 2) {
                EXPECT_EQ(id, row.size) << "the set of spans cannot be created";
            } else {
                EXPECT_LE(id, row.size);
            }
        });
        EXPECT_EQ(used_ids(m), before);
    }
}

TEST_F(BitmapSpans, RankingPickerFailurePoints) {
    vek_bitmap_t *m = make(100, {10, 30, 50, 70, 90});
    // 1, 2: the set of spans; 3..8: one record per span; 9, 10: the set of picks.
    struct Case {
        uint32_t nth, id;
    };
    for (const Case &c : {Case{1, 100}, Case{2, 100}, Case{3, 50}, Case{8, 50}, Case{9, 100}, Case{10, 100}}) {
        vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, c.nth, 1);
        EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), c.id) << c.nth;
        EXPECT_EQ(vek_saltest_faults_fired(), 1u) << c.nth;
        vek_saltest_reset();
    }
    EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), 60u);
}

TEST_F(BitmapSpans, RankingPickerDropsASpanItCannotFile) {
    // A bitmap of one identifier gives a set of spans with no room (size / 2
    // = 0 nodes): filing the single span grows it, allocation 4.
    vek_bitmap_t *m = make(1);
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 4, 1);
    EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), 1u); // no span filed: none can be chosen
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
    vek_saltest_reset();
    EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), 0u);
}

TEST_F(BitmapSpans, RankingPickerWithoutMap) { EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(nullptr), 0u); }

TEST_F(BitmapSpans, PickersAgreeOnManyGaps) {
    // Gaps of equal length spread evenly: the first picker prefers the
    // record put last among equal ranks, the second the first widest gap.
    vek_bitmap_t *m = make(1024);
    for (uint32_t i = 0; i < 1024; i += 64) vek_bitmap_set(m, i);
    Recorder rec;
    EXPECT_EQ(vek_bitmap_find_spans(m, record_span, reinterpret_cast<uintptr_t>(&rec)), 0);
    EXPECT_EQ(rec.spans.size(), 16u);
    EXPECT_EQ(rec.spans.back(), (std::pair<uint32_t, uint32_t>{960, 0}));
    EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), 32u);
    EXPECT_EQ(vek_pick_a_nice_id_from_bitmap1(m), 32u);
}

} // namespace
