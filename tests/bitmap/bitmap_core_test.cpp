// Bitmap core: creation, copy, deletion, first-fit reservation and search,
// fixed reservation, release, single identifiers, counting; results, hint
// movement, tail bits and trace lines.
#include <string>
#include <vector>

#include "vektest.hpp"

namespace {

using vektest::format;
using vektest::ptr;

class BitmapCore : public vektest::LeakCheckedTest {
protected:
    void TearDown() override {
        for (vek_bitmap_t *m : maps_) vek_bitmap_delete(m);
        maps_.clear();
        vektest::LeakCheckedTest::TearDown();
    }

    // A new bitmap of `size` with the given identifiers in use and firstFree
    // left where the sets put it.
    vek_bitmap_t *make(uint32_t size, const std::vector<uint32_t> &used = {}) {
        vek_bitmap_t *m = vek_bitmap_create(size);
        EXPECT_NE(m, nullptr);
        if (m == nullptr) return nullptr;
        maps_.push_back(m);
        for (uint32_t id : used) EXPECT_EQ(vek_bitmap_set(m, id), 0) << id;
        return m;
    }

    std::vector<vek_bitmap_t *> maps_;
};

TEST_F(BitmapCore, CreateSetsTailBitsAndHint) {
    vek_bitmap_t *m = make(40);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->size, 40u);
    EXPECT_EQ(m->words_needed, 2u);
    EXPECT_EQ(m->bits[0], 0u);
    EXPECT_EQ(m->bits[1], 0xFFFFFF00u);
    EXPECT_EQ(m->firstFree, 0u);

    vek_bitmap_t *m64 = make(64);
    ASSERT_NE(m64, nullptr);
    EXPECT_EQ(m64->words_needed, 2u);
    EXPECT_EQ(m64->bits[0], 0u);
    EXPECT_EQ(m64->bits[1], 0u);

    vek_bitmap_t *m1 = make(1);
    ASSERT_NE(m1, nullptr);
    EXPECT_EQ(m1->words_needed, 1u);
    EXPECT_EQ(m1->bits[0], 0xFFFFFFFEu);

    EXPECT_EQ(vek_bitmap_create(0), nullptr);
}

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
}

} // namespace
