/*
 * vek_device.h - device configuration helpers: handle test, clock
 * conversion and IP-checksum engine options.
 */
#ifndef VEK_DEVICE_H
#define VEK_DEVICE_H

#include <stdint.h>
#include "vek_status.h"
#include "vek_rsrc.h"
#include "vek_map.h"

#ifdef __cplusplus
extern "C" {
#endif

VEK_API vek_st_t vek_validate_handle(vek_hdl_t *vekHdl);
VEK_API uint32_t vek_ns_to_clk(uint32_t clk_in_mhz, uint32_t num_ns);
VEK_API vek_st_t vek_encode_ipchecksum_options(uint32_t rev, vek_map_t *map, uint32_t *options,
                                               uint32_t *invalidTcpFlagsHigh, uint32_t *invalidTcpFlagsLow,
                                               uint32_t *l3PassFailCriteria);

#ifdef __cplusplus
}
#endif

#endif /* VEK_DEVICE_H */
