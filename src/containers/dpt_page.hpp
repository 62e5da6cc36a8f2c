// Pages of the paged direct table (private to the library).
#pragma once

#include <vek/vek_dpt.h>

extern "C" {

// Releases a page: its values block, its usedSlots bitmap, then the page
// record itself. Parts already null are skipped, a null page does nothing,
// and release statuses are not reported.
void _vek_dpt_free_page(vek_dpt_page_t *page);

}
