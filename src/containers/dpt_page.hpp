// Pages of the paged direct table (private to the library).
#pragma once

#include <vek/vek_dpt.h>

namespace vek::dpt {

// Releases a page: its values block, its usedSlots bitmap, then the page
// record itself. Parts already null are skipped, a null page does nothing,
// and release statuses are not reported.
void free_page(vek_dpt_page_t *page);

} // namespace vek::dpt
