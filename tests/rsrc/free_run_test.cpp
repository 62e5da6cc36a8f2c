// vek_rsrc_free accepts a run only when every identifier of it is
// allocated. With tracing off the run is tested against the bitmap's words
// at once; with it on, identifier by identifier through vek_bitmap_isset.
// Both readings give the same answer and leave the same state, for runs
// inside one word, across word boundaries and over whole words.
#include "rsrc_fixture.hpp"

namespace {

using FreeRunTest = rsrctest::RsrcTest;

TEST_F(FreeRunTest, WordReadingAndPerIdentifierTestsAgree) {
    struct Case {
        uint32_t start, count; // offsets inside the resource
        uint32_t hole;         // an identifier left free, or kNone
    };
    constexpr uint32_t kNone = UINT32_MAX;
    const Case cases[] = {
        {0, 1, kNone},  {5, 3, kNone},   {5, 3, 7},     {30, 4, kNone},   {30, 4, 33},
        {0, 32, kNone}, {0, 32, 31},     {0, 32, 0},    {17, 100, kNone}, {17, 100, 64},
        {17, 100, 116}, {64, 64, kNone}, {64, 64, 100}, {3, 290, kNone},  {3, 290, 200},
    };
    for (const uint32_t level : {0u, 0xFu}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(vektest::format("level %x start %u count %u hole %u", level, c.start, c.count, c.hole));
            vek_rsrc_t *rec = make(3, "run", 300, 1000);
            ASSERT_NE(rec, nullptr);
            ASSERT_EQ(vek_rsrc_allocate_fixed(rec, c.count, 1000 + c.start), VEK_ST_SUCCESS);
            if (c.hole != kNone) {
                // Freed behind the registry's back: the run is no longer whole.
                vek_bitmap_clr(rec->bitmap, c.hole);
                rec->numElemsFree += 1;
            }
            const rsrctest::IdState before = rsrctest::id_state(rec);
            vek_st_t st = VEK_ST_SUCCESS;
            {
                vektest::TraceLevel traced(level);
                vektest::capture_stdout([&] { st = vek_rsrc_free(rec, 1000 + c.start, c.count); });
            }
            if (c.hole == kNone) {
                EXPECT_EQ(st, VEK_ST_SUCCESS);
                EXPECT_EQ(rec->numElemsFree, 300u);
                EXPECT_EQ(rsrctest::used_ids(rec), std::vector<uint32_t>{});
            } else {
                EXPECT_EQ(st, VEK_ST_INVALID_PARAMETER);
                EXPECT_EQ(rsrctest::id_state(rec), before);
            }
            ASSERT_EQ(vek_rsrc_destroy(&hdl_, rec), VEK_ST_SUCCESS);
        }
    }
}

} // namespace
