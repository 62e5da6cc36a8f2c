// Release of a single page of the paged direct table.
#include "containers/dpt_page.hpp"
#include "vektest.hpp"

namespace {

class DptPage : public vektest::LeakCheckedTest {};

vek_dpt_page_t *bare_page() {
    void *p = nullptr;
    EXPECT_EQ(vek_nvm_robust_malloc(sizeof(vek_dpt_page_t), &p, VEK_NVM_ZERO_FILL), VEK_ST_SUCCESS);
    return static_cast<vek_dpt_page_t *>(p);
}

TEST_F(DptPage, ReleasesWhateverThePageHolds) {
    vek::dpt::free_page(nullptr);

    vek_dpt_page_t *page = bare_page(); // values and usedSlots still null
    ASSERT_NE(page, nullptr);
    vek::dpt::free_page(page);

    page = bare_page();
    ASSERT_NE(page, nullptr);
    void *values = nullptr;
    ASSERT_EQ(vek_nvm_robust_malloc(4 * sizeof(uintptr_t), &values, VEK_NVM_ZERO_FILL), VEK_ST_SUCCESS);
    page->values = static_cast<uintptr_t *>(values);
    page->usedSlots = vek_bitmap_create(4);
    ASSERT_NE(page->usedSlots, nullptr);
    // Release failures are not reported and do not stop the release.
    vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, 1, 0, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    vek::dpt::free_page(page);
}

} // namespace
