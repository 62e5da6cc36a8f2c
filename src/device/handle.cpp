// The test that a device handle is genuine.
#include <vek/vek_device.h>
#include <vek/vek_rsrc.h>
#include <vek/vek_status.h>

// A genuine handle holds VEK_HDL_MAGIC ("$VEK") in its first 32-bit word,
// compared as a native word. No trace lines.
extern "C" VEK_API vek_st_t vek_validate_handle(vek_hdl_t *vekHdl) {
    if (vekHdl == nullptr || vekHdl->magic != VEK_HDL_MAGIC) return VEK_ST_INVALID_HANDLE;
    return VEK_ST_SUCCESS;
}
