// Built against an external platform library (VEK_PLATFORM=external), which
// has no test controls: these definitions take their place. Nothing is
// injected and nothing is counted (live counts stay 0), so the leak checks
// of LeakCheckedTest see no change; the test programs that use the controls
// skip their tests instead (skip_without_saltest.cpp).
#include "vek_saltest.h"

extern "C" {
void vek_saltest_reset(void) {}
void vek_saltest_fail_alloc(int, uint32_t, uint32_t) {}
uint32_t vek_saltest_alloc_calls(int) { return 0; }
void vek_saltest_fail_call(int, uint32_t, uint32_t, vek_st_t) {}
uint32_t vek_saltest_calls(int) { return 0; }
uint32_t vek_saltest_faults_fired(void) { return 0; }
long vek_saltest_heap_live(void) { return 0; }
long vek_saltest_robust_live(void) { return 0; }
int vek_saltest_shared_robust_begin(size_t) { return -1; }
int vek_saltest_shared_robust_end(void) { return -1; }
long vek_saltest_shared_robust_live(void) { return -1; }
int vek_saltest_shared_robust_contains(const void *) { return 0; }
long vek_saltest_shared_robust_abandon(void) { return 0; }
const char *vek_saltest_shared_robust_check(void) { return "no arena"; }
void vek_saltest_die_at(uint32_t, int, int) {}
uint32_t vek_saltest_platform_calls(void) { return 0; }
}
