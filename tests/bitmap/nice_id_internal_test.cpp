// Callbacks of the ranking picker: filing spans in chains keyed by length,
// releasing chains, and the two orderings.
#include <regex>
#include <string>
#include <vector>

#include "bitmap/nice_id_internal.hpp"
#include "vektest.hpp"

namespace {

class PickCallbacks : public vektest::LeakCheckedTest {};

TEST_F(PickCallbacks, Orderings) {
    EXPECT_EQ(vek::bitmap::pick_cmp_descending(5, 3), 1);
    EXPECT_EQ(vek::bitmap::pick_cmp_descending(3, 5), 2);
    EXPECT_EQ(vek::bitmap::pick_cmp_descending(4, 4), 0);
    EXPECT_EQ(vek::bitmap::pick_cmp_ascending(5, 3), 2);
    EXPECT_EQ(vek::bitmap::pick_cmp_ascending(3, 5), 1);
    EXPECT_EQ(vek::bitmap::pick_cmp_ascending(4, 4), 0);
    EXPECT_EQ(vek::bitmap::pick_cmp_ascending(0, UINTPTR_MAX), 1);
}

TEST_F(PickCallbacks, SpansOfEqualLengthShareAChainInReportOrder) {
    vek_sorted_set_t *spans = vek_sorted_set_create(1024, 4);
    ASSERT_NE(spans, nullptr);
    vek_pick_ctx_t ctx{spans, 100};
    const auto arg = reinterpret_cast<uintptr_t>(&ctx);
    EXPECT_EQ(vek::bitmap::pick_span_cb(10, 30, arg), 0u); // 20
    EXPECT_EQ(vek::bitmap::pick_span_cb(30, 35, arg), 0u); // 5
    EXPECT_EQ(vek::bitmap::pick_span_cb(35, 55, arg), 0u); // 20
    EXPECT_EQ(vek::bitmap::pick_span_cb(90, 10, arg), 0u); // 20, wraps
    EXPECT_EQ(vek::bitmap::pick_span_cb(7, 7, arg), 0u);   // the whole ring: 100
    ASSERT_EQ(vek_sorted_set_size(spans), 3u);
    EXPECT_EQ(spans->sortedSet[0].key, 100u); // longest first
    EXPECT_EQ(spans->sortedSet[1].key, 20u);
    EXPECT_EQ(spans->sortedSet[2].key, 5u);
    const auto *chain = reinterpret_cast<const vek_span_rec_t *>(spans->sortedSet[1].value);
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    for (const vek_span_rec_t *r = chain; r != nullptr; r = r->next) seen.emplace_back(r->before, r->after);
    EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, uint32_t>>{{10, 30}, {35, 55}, {90, 10}}));
    EXPECT_EQ(chain->tail, chain->next->next);
    vek_sorted_set_delete_nodes_and_set(spans, vek::bitmap::pick_free_chain); // the fixture checks the records went
}

TEST_F(PickCallbacks, ARecordThatCannotBeFiledIsReleased) {
    // A set that cannot grow (step 0, no room) refuses the chain's first record.
    vek_sorted_set_t *spans = vek_sorted_set_create(0, 0);
    ASSERT_NE(spans, nullptr);
    vek_pick_ctx_t ctx{spans, 40};
    const long live = vek_saltest_robust_live();
    EXPECT_EQ(vek::bitmap::pick_span_cb(3, 9, reinterpret_cast<uintptr_t>(&ctx)), 0u);
    EXPECT_EQ(vek_sorted_set_size(spans), 0u);
    EXPECT_EQ(vek_saltest_robust_live(), live);
    vek_sorted_set_delete_nodes_and_set(spans, vek::bitmap::pick_free_chain);
}

TEST_F(PickCallbacks, NoRecordStopsTheWalk) {
    vek_sorted_set_t *spans = vek_sorted_set_create(1024, 4);
    ASSERT_NE(spans, nullptr);
    vek_pick_ctx_t ctx{spans, 40};
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    EXPECT_NE(vek::bitmap::pick_span_cb(3, 9, reinterpret_cast<uintptr_t>(&ctx)), 0u);
    vek_saltest_reset();
    EXPECT_EQ(vek_sorted_set_size(spans), 0u);
    vek_sorted_set_delete_nodes_and_set(spans, vek::bitmap::pick_free_chain);
}

TEST_F(PickCallbacks, FreeChainReleasesEveryRecord) {
    vek_sorted_set_t *spans = vek_sorted_set_create(1024, 4);
    ASSERT_NE(spans, nullptr);
    vek_pick_ctx_t ctx{spans, 64};
    for (uint32_t i = 0; i < 10; ++i) vek::bitmap::pick_span_cb(i * 4, i * 4 + 2, reinterpret_cast<uintptr_t>(&ctx));
    ASSERT_EQ(vek_sorted_set_size(spans), 1u);
    EXPECT_EQ(vek::bitmap::pick_free_chain(2, spans->sortedSet[0].value), 0);
    EXPECT_EQ(vek::bitmap::pick_free_chain(0, 0), 0);
    vek_sorted_set_delete_nodes_and_set(spans, nullptr);
}

TEST_F(PickCallbacks, PickerReleasesTheSpansBeforeThePicks) {
    // The ranking picker ends by releasing the set of spans with the chain
    // release, then the set of picks without a delete callback.
    vek_bitmap_t *m = nullptr;
    {
        vektest::TraceLevel quiet(0);
        m = vek_bitmap_create(40);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(vek_bitmap_set(m, 20), 0);
    }
    std::string out;
    {
        vektest::TraceLevel trace(4);
        out = vektest::capture_stdout([&] { EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), 9u); });
    }
    vektest::TraceLevel quiet(0);
    vek_bitmap_delete(m);
    // The first positional read is of the spans, the second of the picks.
    const std::regex get_n("vek_sorted_set_get_n sorted_set=([0-9a-f]+) n=0\n");
    std::vector<std::string> sets;
    for (std::sregex_iterator it(out.begin(), out.end(), get_n), end; it != end; ++it) sets.push_back((*it)[1]);
    ASSERT_EQ(sets.size(), 2u) << out;
    const auto free_chain = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&vek::bitmap::pick_free_chain));
    const std::string releases =
        vektest::format("vek_sorted_set_delete_nodes_and_set sorted_set=%s delFn=%llx\n"
                        "_vek_sorted_set_delete_nodes_and_set sorted_set=%s delFn=%llx\n"
                        "_vek_sorted_set_delete_nodes_and_set vekStatus=0\n"
                        "vek_sorted_set_delete_nodes_and_set sorted_set=%s delFn=0\n"
                        "_vek_sorted_set_delete_nodes_and_set sorted_set=%s delFn=0\n"
                        "_vek_sorted_set_delete_nodes_and_set vekStatus=0\n",
                        sets[0].c_str(), free_chain, sets[0].c_str(), free_chain, sets[1].c_str(), sets[1].c_str());
    ASSERT_GE(out.size(), releases.size());
    EXPECT_EQ(out.substr(out.size() - releases.size()), releases) << out;
}

} // namespace
