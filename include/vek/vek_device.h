/**
 * @file vek_device.h
 * @brief Device configuration helpers: handle test, clock conversion and the
 *        IP-checksum engine's options read from a configuration map.
 *
 * Thread-safety: vek_validate_handle() and vek_ns_to_clk() touch no shared
 * state; vek_encode_ipchecksum_options() reads the map given, which no other
 * thread may change meanwhile (a lookup writes nothing, but the map has no
 * lock).
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

/**
 * Tells whether a device handle is genuine: not NULL, magic ::VEK_HDL_MAGIC.
 * @param vekHdl The handle.
 * @return ::VEK_ST_SUCCESS or ::VEK_ST_INVALID_HANDLE (5). Prints no trace line.
 */
VEK_API vek_st_t vek_validate_handle(vek_hdl_t *vekHdl);
/**
 * Converts a duration into clock cycles of a clock, rounding up.
 *
 * The period is 1000000 / clk_in_mhz picoseconds (whole picoseconds). Up to
 * 4,194,304 ns the result is ceil(num_ns * 1000 / period); longer durations
 * are divided first, (num_ns / period) * 1000, which rounds down to a multiple
 * of 1000 and wraps in 32 bits for long durations on clocks above 1 GHz.
 *
 * @param clk_in_mhz Clock frequency in MHz; 0 or above 1000000 gives 0.
 * @param num_ns     Duration in nanoseconds.
 * @return The number of cycles. Traces entry and exit ("nclk=") lines.
 */
VEK_API uint32_t vek_ns_to_clk(uint32_t clk_in_mhz, uint32_t num_ns);
/**
 * Encodes the IP-checksum engine's options, read by name from a configuration
 * map (top-level keys, case ignored).
 *
 * The option word: each boolean key ignoreUnexpected_SOP_EOP (bit 0),
 * ignoreNonIpv4_NonIpv6Packet (1), ignoreInsufficientDataForIpHeader (2),
 * ignoreIpv4HL_LessThan5 (3), ignoreIpv4TL_LessThanIpv4HL (4),
 * ignoreIpv4TTL_Equals0_OrIpv6HL_Equals0 (5), ignoreUnsupportedProtocol (6),
 * ignoreIpTL_CannotSupportL4 (7), ignoreUDPLenOrUDPLITELen_LessThan8 (8),
 * ignoreUDPLenOrUDPLITELen_GreaterThanIpTL (9),
 * ignoreOddLengthIpv6_ExtAuthOrRoutingHdr (10), ignoreFragment (11),
 * ignoreInsufficientDataToProcessPayload (12),
 * ignoreInsufficientDataToProcessExtensionHdr (13), ignoreCHK_Equals0_Ipv6UDP
 * (14), ignoreMobilityHdr_NHisNotNONEXT (15), ignoreIpv6JumboGram (16),
 * ignoreTCPDataOffset_GreaterThanIpTL (17) and ignoreIllegalTCPFlags (18) is
 * required and sets its bit when true. Optional keys: boolean
 * enableZeroChecksumConversionOnlyForUdp (bit 31), forceChecksumToZeroOnError
 * (bit 30, also set when the key is missing or of another type),
 * enableNoopOutputParam (bit 29); for revisions 9, 11 and 24 the i32
 * ipv6RoutingHeaderSupport (2 sets bit 20, 3 sets bits 19 and 20); for
 * revisions 9, 11, 16 and 24 the boolean enableIpLengthCheck (false sets
 * bit 13). Only the low five bits of @p rev are used.
 *
 * @param rev  Device revision code.
 * @param map  The configuration map.
 * @param[out] options Receives the option word (zeroed first); NULL skips it.
 * @param[out] invalidTcpFlagsHigh Receives the u32 (or i32) value of key
 *             invalidTcpFlagsHigh (required); NULL skips it.
 * @param[out] invalidTcpFlagsLow Receives the value of key invalidTcpFlagsLow
 *             (required); NULL skips it.
 * @param[out] l3PassFailCriteria Receives 0x1607E for revisions 9, 11, 16 and
 *             24, else 0x7E; NULL skips it.
 * @return ::VEK_ST_SUCCESS, or the status of the first required key's lookup
 *         that fails (vek_map_get_bool(), vek_map_get_i32() or
 *         vek_map_get_u32(): 103 invalid map, 104 missing, 105 wrong type, ...).
 *         The outputs are filled in the order above and the encoding stops at
 *         the failure: the output being filled holds what was gathered so far
 *         (0 for the two flag words), later outputs are not written.
 *
 * Traces entry and exit lines, with the getters' lines nested.
 */
VEK_API vek_st_t vek_encode_ipchecksum_options(uint32_t rev, vek_map_t *map, uint32_t *options,
                                               uint32_t *invalidTcpFlagsHigh, uint32_t *invalidTcpFlagsLow,
                                               uint32_t *l3PassFailCriteria);

#ifdef __cplusplus
}
#endif

#endif /* VEK_DEVICE_H */
