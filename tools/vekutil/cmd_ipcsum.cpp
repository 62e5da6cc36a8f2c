// vekutil ipcsum --rev N FILE
#include "commands.hpp"
#include "stream_walk.hpp"
#include "values.hpp"

#include <climits>
#include <string>

namespace vekutil {

namespace {

int ipcsum_main(int argc, char **argv) {
    std::string revText;
    const int rc = parse_options(kIpcsumCommand, argc, argv, [&](int, const char *arg) { revText = arg; });
    if (rc >= 0) return rc;
    if (revText.empty()) return usage_error("expected --rev N (the device revision)");
    uint64_t rev;
    if (!parse_u64(revText, UINT32_MAX, rev)) return usage_error("not a revision: '" + revText + "'");
    if (argc - vek_optind != 1) return usage_error("expected one stream file (or - for standard input)");
    const std::string file = argv[vek_optind];

    std::string bytes;
    if (!read_input(file, bytes)) return kExitFail;
    const std::string name = file == "-" ? std::string("<stdin>") : file;
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
        return fail_status(VEK_ST_INVALID_PARAMETER, name + ": a stream of more than 2147483647 bytes");
    }
    const WalkResult wr = walk_stream(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), nullptr);
    vek_map_t *map = nullptr;
    vek_st_t st = vek_map_create(&map);
    if (st != VEK_ST_SUCCESS) return fail_status(st, "cannot create a map");
    st = vek_map_decode(map, bytes.data(), static_cast<int32_t>(bytes.size()));
    if (st != VEK_ST_SUCCESS || !wr.ok) {
        vek_map_destroy(map);
        return fail_status(st != VEK_ST_SUCCESS ? st : wr.status,
                           name + ": not a valid map stream" + (wr.ok ? std::string() : ": " + walk_message(wr)));
    }
    uint32_t options = 0, high = 0, low = 0, l3 = 0;
    st = vek_encode_ipchecksum_options(static_cast<uint32_t>(rev), map, &options, &high, &low, &l3);
    vek_map_destroy(map);
    if (st != VEK_ST_SUCCESS) {
        return fail_status(st, name + ": the checksum settings lack a required key or hold a value of another type"
                                      " (see --help)");
    }
    std::printf("options=0x%08x\ninvalidTcpFlagsHigh=0x%08x\ninvalidTcpFlagsLow=0x%08x\nl3PassFailCriteria=0x%08x\n",
                static_cast<unsigned>(options), static_cast<unsigned>(high), static_cast<unsigned>(low),
                static_cast<unsigned>(l3));
    return kExitOk;
}

} // namespace

const Command kIpcsumCommand{"ipcsum",
                             {{'r', "rev", true}},
                             R"HELP(Usage: vekutil ipcsum --rev N FILE|-

Decodes a map stream of IP-checksum settings and prints the option words
that the library packs from it for device revision N (only N & 31 counts):

  options=0x...
  invalidTcpFlagsHigh=0x...
  invalidTcpFlagsLow=0x...
  l3PassFailCriteria=0x...

The map needs the bools ignoreUnexpected_SOP_EOP, ignoreNonIpv4_NonIpv6Packet,
ignoreInsufficientDataForIpHeader, ignoreIpv4HL_LessThan5,
ignoreIpv4TL_LessThanIpv4HL, ignoreIpv4TTL_Equals0_OrIpv6HL_Equals0,
ignoreUnsupportedProtocol, ignoreIpTL_CannotSupportL4,
ignoreUDPLenOrUDPLITELen_LessThan8, ignoreUDPLenOrUDPLITELen_GreaterThanIpTL,
ignoreOddLengthIpv6_ExtAuthOrRoutingHdr, ignoreFragment,
ignoreInsufficientDataToProcessPayload,
ignoreInsufficientDataToProcessExtensionHdr, ignoreCHK_Equals0_Ipv6UDP,
ignoreMobilityHdr_NHisNotNONEXT, ignoreIpv6JumboGram,
ignoreTCPDataOffset_GreaterThanIpTL and ignoreIllegalTCPFlags, and the u32
values invalidTcpFlagsHigh and invalidTcpFlagsLow. Optional:
enableZeroChecksumConversionOnlyForUdp, forceChecksumToZeroOnError (set
when absent), enableNoopOutputParam, enableIpLengthCheck (revisions 9, 11,
16, 24) and the i32 ipv6RoutingHeaderSupport (revisions 9, 11, 24).

Options:
  -r, --rev N   device revision (decimal or 0x hex)
  -T, --trace   turn on the library's trace lines
  -h, --help    print this help
)HELP",
                             ipcsum_main};

} // namespace vekutil
