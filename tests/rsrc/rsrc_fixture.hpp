// Fixture and helpers shared by the resource registry tests.
#pragma once

#include <pthread.h>

#include <cerrno>
#include <string>
#include <vector>

#include "vektest.hpp"

namespace rsrctest {

// A device handle with a registry for the length of a test; everything is
// released before the leak check.
class RsrcTest : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_EQ(vek_rsrc_init(&hdl_), VEK_ST_SUCCESS);
    }
    void TearDown() override {
        vek_saltest_reset();
        vek_trace_level = 0;
        EXPECT_EQ(vek_rsrc_release(&hdl_), VEK_ST_SUCCESS);
        EXPECT_EQ(hdl_.rsrcRegistry, nullptr);
        LeakCheckedTest::TearDown();
    }

    vek_rsrc_t *make(uint32_t kind, const char *name, uint32_t numElems, uint32_t baseId, uint8_t readOnly = 0) {
        vek_rsrc_t *rec = nullptr;
        EXPECT_EQ(vek_rsrc_create_intern(&hdl_, kind, name, numElems, baseId, &rec, readOnly), VEK_ST_SUCCESS) << name;
        return rec;
    }

    vek_rsrc_registry_t *reg() { return hdl_.rsrcRegistry; }

    // Records of the registry list, newest first.
    std::vector<vek_rsrc_t *> list() {
        std::vector<vek_rsrc_t *> out;
        for (vek_rsrc_t *r = reg()->rsrcHead; r != nullptr; r = r->next) out.push_back(r);
        return out;
    }

    vek_hdl_t hdl_{VEK_HDL_MAGIC, nullptr};
};

// True when the mutex is free (not left locked by an operation).
inline bool mutex_free(vek_mutex_t *m) {
    if (pthread_mutex_trylock(&m->pmutex) != 0) return false;
    pthread_mutex_unlock(&m->pmutex);
    return true;
}

// The allocation state of a writable resource: free count and one flag per
// identifier, read through the bitmap.
struct IdState {
    uint32_t numElemsFree;
    std::vector<int> used;
    bool operator==(const IdState &) const = default;
};

inline IdState id_state(const vek_rsrc_t *rec) {
    IdState s{rec->numElemsFree, {}};
    for (uint32_t i = 0; i < rec->bitmap->size; ++i) s.used.push_back(vek_bitmap_isset(rec->bitmap, i));
    return s;
}

// Ids in use in a writable resource, as external identifiers.
inline std::vector<uint32_t> used_ids(const vek_rsrc_t *rec) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < rec->numElems; ++i) {
        if (vek_bitmap_isset(rec->bitmap, i) == 1) out.push_back(rec->baseId + i);
    }
    return out;
}

} // namespace rsrctest
