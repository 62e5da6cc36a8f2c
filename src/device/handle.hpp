// The test that a device handle is genuine, shared by the exported handle
// check and every operation that takes a handle (the resource registry).
#pragma once

#include <vek/vek_rsrc.h>

namespace vek::device {

// A genuine handle is not null and holds VEK_HDL_MAGIC ("$VEK") in its
// first 32-bit word, compared as a native word.
inline bool handle_valid(const vek_hdl_t *hdl) { return hdl != nullptr && hdl->magic == VEK_HDL_MAGIC; }

} // namespace vek::device
