// The test that a device handle is genuine.
#include <vek/vek_device.h>
#include <vek/vek_rsrc.h>
#include <vek/vek_status.h>

#include "device/handle.hpp"

// No trace lines.
extern "C" VEK_API vek_st_t vek_validate_handle(vek_hdl_t *vekHdl) {
    return vek::device::handle_valid(vekHdl) ? VEK_ST_SUCCESS : VEK_ST_INVALID_HANDLE;
}
