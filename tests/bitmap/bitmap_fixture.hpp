// Fixture of the bitmap tests: bitmaps built with chosen identifiers in use,
// released at the end, and helpers to read their words.
#pragma once

#include <cstdint>
#include <vector>

#include "vektest.hpp"

namespace bitmaptest {

class BitmapTest : public vektest::LeakCheckedTest {
protected:
    void TearDown() override {
        vektest::TraceLevel quiet(0);
        for (vek_bitmap_t *m : maps_) vek_bitmap_delete(m);
        maps_.clear();
        vektest::LeakCheckedTest::TearDown();
    }

    // A new bitmap of `size` with the given identifiers in use (set one by
    // one, so firstFree is the lowest free identifier, or size when full).
    // Built without trace lines.
    vek_bitmap_t *make(uint32_t size, const std::vector<uint32_t> &used = {}) {
        vektest::TraceLevel quiet(0);
        vek_bitmap_t *m = vek_bitmap_create(size);
        EXPECT_NE(m, nullptr);
        if (m == nullptr) return nullptr;
        maps_.push_back(m);
        for (uint32_t id : used) EXPECT_EQ(vek_bitmap_set(m, id), 0) << id;
        return m;
    }

    // Identifiers from..to inclusive.
    static std::vector<uint32_t> range(uint32_t from, uint32_t to) {
        std::vector<uint32_t> v;
        for (uint32_t i = from; i <= to; ++i) v.push_back(i);
        return v;
    }

    // Used identifiers below the size, read straight from the words.
    static std::vector<uint32_t> used_ids(const vek_bitmap_t *m) {
        std::vector<uint32_t> v;
        for (uint32_t i = 0; i < m->size; ++i) {
            if ((m->bits[i / 32] >> (i % 32)) & 1u) v.push_back(i);
        }
        return v;
    }

    std::vector<vek_bitmap_t *> maps_;
};

} // namespace bitmaptest
