// Encoding of the IP-checksum engine's options, read by name from a
// configuration map, into the option word, the two invalid-TCP-flags words
// and the layer-3 pass/fail criteria word.
//
// The option word is described by a table of rules read in table order: the
// key, its type, whether the key is required, the revisions it applies to,
// and the bits its value sets. A required key whose lookup fails ends the
// encoding with the getter's status; an optional one sets its failure bits
// instead. Only the low five bits of the revision code are used.
#include <cstddef>
#include <cstdint>

#include <vek/vek_device.h>
#include <vek/vek_map.h>
#include <vek/vek_status.h>

#include "foundation/trace.hpp"

namespace {

// Revision sets as masks over rev & 31.
constexpr uint32_t rev_bit(uint32_t rev) { return 1u << rev; }
constexpr uint32_t kAllRevisions = 0xFFFFFFFFu;
constexpr uint32_t kRoutingRevisions = rev_bit(9) | rev_bit(11) | rev_bit(24);
constexpr uint32_t kExtendedRevisions = kRoutingRevisions | rev_bit(16);

enum class KeyType : uint8_t { Bool, I32 };
enum class Need : uint8_t { Required, Optional };

// A value that sets bits: a boolean reads as 1 (true) or 0 (false).
struct ValueBits {
    int32_t value;
    uint32_t bits;
};

struct OptionRule {
    const char *key;
    KeyType type;
    Need need;
    uint32_t revisions; // mask of rev & 31 values the rule applies to
    uint32_t failBits;  // set when an optional key's lookup fails
    ValueBits sets[2];  // values that set bits; {0, 0} entries are unused
};

constexpr ValueBits kNone{0, 0u};

constexpr OptionRule on_true(const char *key, uint32_t bit, Need need = Need::Required) {
    return {key, KeyType::Bool, need, kAllRevisions, 0u, {{1, bit}, kNone}};
}

constexpr OptionRule kOptionRules[] = {
    on_true("ignoreUnexpected_SOP_EOP", 0x1u),
    on_true("ignoreNonIpv4_NonIpv6Packet", 0x2u),
    on_true("ignoreInsufficientDataForIpHeader", 0x4u),
    on_true("ignoreIpv4HL_LessThan5", 0x8u),
    on_true("ignoreIpv4TL_LessThanIpv4HL", 0x10u),
    on_true("ignoreIpv4TTL_Equals0_OrIpv6HL_Equals0", 0x20u),
    on_true("ignoreUnsupportedProtocol", 0x40u),
    on_true("ignoreIpTL_CannotSupportL4", 0x80u),
    on_true("ignoreUDPLenOrUDPLITELen_LessThan8", 0x100u),
    on_true("ignoreUDPLenOrUDPLITELen_GreaterThanIpTL", 0x200u),
    on_true("ignoreOddLengthIpv6_ExtAuthOrRoutingHdr", 0x400u),
    on_true("ignoreFragment", 0x800u),
    on_true("ignoreInsufficientDataToProcessPayload", 0x1000u),
    on_true("ignoreInsufficientDataToProcessExtensionHdr", 0x2000u),
    on_true("ignoreCHK_Equals0_Ipv6UDP", 0x4000u),
    on_true("ignoreMobilityHdr_NHisNotNONEXT", 0x8000u),
    on_true("ignoreIpv6JumboGram", 0x10000u),
    on_true("enableZeroChecksumConversionOnlyForUdp", 0x80000000u, Need::Optional),
    {"forceChecksumToZeroOnError",
     KeyType::Bool,
     Need::Optional,
     kAllRevisions,
     0x40000000u,
     {{1, 0x40000000u}, kNone}},
    {"ipv6RoutingHeaderSupport", KeyType::I32, Need::Optional, kRoutingRevisions, 0u, {{2, 0x100000u}, {3, 0x180000u}}},
    // Switching the length check off adds to bit 13; it never clears it.
    {"enableIpLengthCheck", KeyType::Bool, Need::Optional, kExtendedRevisions, 0u, {{0, 0x2000u}, kNone}},
    on_true("ignoreTCPDataOffset_GreaterThanIpTL", 0x20000u),
    on_true("ignoreIllegalTCPFlags", 0x40000u),
    on_true("enableNoopOutputParam", 0x20000000u, Need::Optional),
};

// Layer-3 pass/fail criteria by revision.
constexpr uint32_t kL3CriteriaExtended = 0x1607Eu; // bits 1-6, 13, 14, 16
constexpr uint32_t kL3CriteriaBasic = 0x7Eu;       // bits 1-6

// Reads the rule's key through the typed getter; *value is the boolean as
// 0/1 or the i32.
vek_st_t read_key(vek_map_t *map, const OptionRule &rule, int32_t *value) {
    if (rule.type == KeyType::I32) return vek_map_get_i32(map, rule.key, value);
    uint8_t flag = 0;
    const vek_st_t st = vek_map_get_bool(map, rule.key, &flag);
    if (st == VEK_ST_SUCCESS) *value = flag != 0u ? 1 : 0;
    return st;
}

uint32_t bits_for(const OptionRule &rule, int32_t value) {
    uint32_t bits = 0;
    for (const ValueBits &vb : rule.sets) {
        if (vb.bits != 0u && vb.value == value) bits |= vb.bits;
    }
    return bits;
}

// Fills *options rule by rule; the bits gathered so far stay in *options
// when a required key fails.
vek_st_t encode_options(uint32_t rev5, vek_map_t *map, uint32_t *options) {
    *options = 0;
    for (const OptionRule &rule : kOptionRules) {
        if ((rule.revisions & rev_bit(rev5)) == 0u) continue;
        int32_t value = 0;
        const vek_st_t st = read_key(map, rule, &value);
        if (st != VEK_ST_SUCCESS) {
            if (rule.need == Need::Required) return st;
            *options |= rule.failBits;
            continue;
        }
        *options |= bits_for(rule, value);
    }
    return VEK_ST_SUCCESS;
}

// Reads a required u32 key into *out (zeroed first).
vek_st_t read_word(vek_map_t *map, const char *key, uint32_t *out) {
    *out = 0;
    uint32_t value = 0;
    const vek_st_t st = vek_map_get_u32(map, key, &value);
    if (st == VEK_ST_SUCCESS) *out = value;
    return st;
}

// The whole encoding; every out-parameter may be null (that part is skipped).
vek_st_t encode(uint32_t rev5, vek_map_t *map, uint32_t *options, uint32_t *invalidTcpFlagsHigh,
                uint32_t *invalidTcpFlagsLow, uint32_t *l3PassFailCriteria) {
    vek_st_t st = VEK_ST_SUCCESS;
    if (options != nullptr) st = encode_options(rev5, map, options);
    if (st == VEK_ST_SUCCESS && invalidTcpFlagsHigh != nullptr)
        st = read_word(map, "invalidTcpFlagsHigh", invalidTcpFlagsHigh);
    if (st == VEK_ST_SUCCESS && invalidTcpFlagsLow != nullptr)
        st = read_word(map, "invalidTcpFlagsLow", invalidTcpFlagsLow);
    if (st == VEK_ST_SUCCESS && l3PassFailCriteria != nullptr)
        *l3PassFailCriteria = (kExtendedRevisions & rev_bit(rev5)) != 0u ? kL3CriteriaExtended : kL3CriteriaBasic;
    return st;
}

} // namespace

extern "C" VEK_API vek_st_t vek_encode_ipchecksum_options(uint32_t rev, vek_map_t *map, uint32_t *options,
                                                          uint32_t *invalidTcpFlagsHigh, uint32_t *invalidTcpFlagsLow,
                                                          uint32_t *l3PassFailCriteria) {
    using vek::trace::out_value;
    const uint32_t rev5 = rev & 31u;
    const vek::trace::Call call(__func__, {{"rev", rev5},
                                           {"map", map},
                                           {"options", options},
                                           {"invalidTcpFlagsHigh", invalidTcpFlagsHigh},
                                           {"invalidTcpFlagsLow", invalidTcpFlagsLow},
                                           {"l3PassFailCriteria", l3PassFailCriteria}});
    const vek_st_t st = encode(rev5, map, options, invalidTcpFlagsHigh, invalidTcpFlagsLow, l3PassFailCriteria);
    call.exit({{"vekStatus", st},
               {"options", out_value(options)},
               {"invalidTcpFlagsHigh", out_value(invalidTcpFlagsHigh)},
               {"invalidTcpFlagsLow", out_value(invalidTcpFlagsLow)},
               {"l3PassFailCriteria", out_value(l3PassFailCriteria)}});
    return st;
}
