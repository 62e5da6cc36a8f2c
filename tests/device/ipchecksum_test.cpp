// IP-checksum engine option encoding from a configuration map.
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vek/vekcommon.h>

#include "vektest.hpp"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEFu;

// The seventeen required booleans of bits 0 to 16, in bit order, then the
// two required ones of bits 17 and 18.
const char *const kRequiredBools[] = {
    "ignoreUnexpected_SOP_EOP",
    "ignoreNonIpv4_NonIpv6Packet",
    "ignoreInsufficientDataForIpHeader",
    "ignoreIpv4HL_LessThan5",
    "ignoreIpv4TL_LessThanIpv4HL",
    "ignoreIpv4TTL_Equals0_OrIpv6HL_Equals0",
    "ignoreUnsupportedProtocol",
    "ignoreIpTL_CannotSupportL4",
    "ignoreUDPLenOrUDPLITELen_LessThan8",
    "ignoreUDPLenOrUDPLITELen_GreaterThanIpTL",
    "ignoreOddLengthIpv6_ExtAuthOrRoutingHdr",
    "ignoreFragment",
    "ignoreInsufficientDataToProcessPayload",
    "ignoreInsufficientDataToProcessExtensionHdr",
    "ignoreCHK_Equals0_Ipv6UDP",
    "ignoreMobilityHdr_NHisNotNONEXT",
    "ignoreIpv6JumboGram",
    "ignoreTCPDataOffset_GreaterThanIpTL",
    "ignoreIllegalTCPFlags",
};

constexpr uint32_t bit_of_required(std::size_t index) { return 1u << index; } // indexes 0..18 are bits 0..18

struct Outputs {
    uint32_t options = kUntouched;
    uint32_t high = kUntouched;
    uint32_t low = kUntouched;
    uint32_t l3 = kUntouched;
};

class IpChecksumTest : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        build_map();
    }
    void TearDown() override {
        vek_map_destroy(map_);
        LeakCheckedTest::TearDown();
    }

public:
    // A fresh map holding the nineteen required booleans, all false, and
    // both flag words.
    void build_map() {
        vek_map_destroy(map_);
        map_ = nullptr;
        ASSERT_EQ(vek_map_create(&map_), VEK_ST_SUCCESS);
        for (const char *key : kRequiredBools) set_bool(key, 0);
        set_u32("invalidTcpFlagsHigh", 0x11u);
        set_u32("invalidTcpFlagsLow", 0x22u);
    }

    void set_bool(const char *key, uint8_t v) { ASSERT_EQ(vek_map_set_bool_ll(map_, key, v, 1), VEK_ST_SUCCESS); }
    void set_i32(const char *key, int32_t v) { ASSERT_EQ(vek_map_set_i32_ll(map_, key, v, 1), VEK_ST_SUCCESS); }
    void set_u32(const char *key, uint32_t v) { ASSERT_EQ(vek_map_set_u32_ll(map_, key, v, 1), VEK_ST_SUCCESS); }
    void remove(const char *key) { ASSERT_EQ(vek_map_delete(map_, key), VEK_ST_SUCCESS); }

    vek_st_t encode(uint32_t rev, Outputs &out) {
        return vek_encode_ipchecksum_options(rev, map_, &out.options, &out.high, &out.low, &out.l3);
    }

    vek_map_t *map_ = nullptr;
};

// ---- the worked cases, table-driven -------------------------------------

struct EncodeCase {
    const char *name;
    uint32_t rev;
    std::function<void(IpChecksumTest &)> edit; // changes to the all-false map
    vek_st_t status;
    uint32_t options, high, low, l3;
};

const EncodeCase kCases[] = {
    {"all false, rev 0: bit 30 from the absent force key", 0, [](IpChecksumTest &) {}, 0, 0x40000000u, 0x11u, 0x22u,
     126u},
    {"force key false", 0, [](IpChecksumTest &t) { t.set_bool("forceChecksumToZeroOnError", 0); }, 0, 0u, 0x11u, 0x22u,
     126u},
    {"force key true", 0, [](IpChecksumTest &t) { t.set_bool("forceChecksumToZeroOnError", 1); }, 0, 0x40000000u, 0x11u,
     0x22u, 126u},
    {"force key of another type sets bit 30", 0, [](IpChecksumTest &t) { t.set_i32("forceChecksumToZeroOnError", 0); },
     0, 0x40000000u, 0x11u, 0x22u, 126u},
    {"rev 16, length check off", 16,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_bool("enableIpLengthCheck", 0);
     },
     0, 0x2000u, 0x11u, 0x22u, 90238u},
    {"rev 16, length check on", 16,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_bool("enableIpLengthCheck", 1);
     },
     0, 0u, 0x11u, 0x22u, 90238u},
    {"rev 16, length check on never clears bit 13", 16,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_bool("ignoreInsufficientDataToProcessExtensionHdr", 1);
         t.set_bool("enableIpLengthCheck", 1);
     },
     0, 0x2000u, 0x11u, 0x22u, 90238u},
    {"rev 16, length check of another type changes nothing", 16,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("enableIpLengthCheck", 0);
     },
     0, 0u, 0x11u, 0x22u, 90238u},
    {"rev 0 does not read the length check", 0,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_bool("enableIpLengthCheck", 0);
     },
     0, 0u, 0x11u, 0x22u, 126u},
    {"rev 9, length check off", 9,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_bool("enableIpLengthCheck", 0);
     },
     0, 0x2000u, 0x11u, 0x22u, 90238u},
    {"rev 24, length check off", 24,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_bool("enableIpLengthCheck", 0);
     },
     0, 0x2000u, 0x11u, 0x22u, 90238u},
    {"rev 11, routing 3", 11,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 3);
     },
     0, 0x180000u, 0x11u, 0x22u, 90238u},
    {"rev 11, routing 2", 11,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 2);
     },
     0, 0x100000u, 0x11u, 0x22u, 90238u},
    {"rev 11, routing 1", 11,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 1);
     },
     0, 0u, 0x11u, 0x22u, 90238u},
    {"rev 11, routing of another type sets nothing", 11,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_u32("ipv6RoutingHeaderSupport", 3);
     },
     0, 0u, 0x11u, 0x22u, 90238u},
    {"rev 9, routing 3", 9,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 3);
     },
     0, 0x180000u, 0x11u, 0x22u, 90238u},
    {"rev 24, routing 2", 24,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 2);
     },
     0, 0x100000u, 0x11u, 0x22u, 90238u},
    {"rev 16 does not read routing", 16,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 3);
     },
     0, 0u, 0x11u, 0x22u, 90238u},
    {"rev 41 is rev 9", 41,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_bool("enableIpLengthCheck", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 3);
     },
     0, 0x182000u, 0x11u, 0x22u, 90238u},
    {"rev 43 is rev 11", 43,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 3);
     },
     0, 0x180000u, 0x11u, 0x22u, 90238u},
    {"rev 48 is rev 16: routing not read", 48,
     [](IpChecksumTest &t) {
         t.set_bool("forceChecksumToZeroOnError", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 3);
     },
     0, 0u, 0x11u, 0x22u, 90238u},
    {"optional bits 29 and 31", 0,
     [](IpChecksumTest &t) {
         t.set_bool("enableZeroChecksumConversionOnlyForUdp", 1);
         t.set_bool("enableNoopOutputParam", 7);
     },
     0, 0xE0000000u, 0x11u, 0x22u, 126u},
    {"optional bits 29 and 31 of another type stay clear", 0,
     [](IpChecksumTest &t) {
         t.set_i32("enableZeroChecksumConversionOnlyForUdp", 1);
         t.set_u32("enableNoopOutputParam", 1);
     },
     0, 0x40000000u, 0x11u, 0x22u, 126u},
    {"flag words of type i32 are read as u32", 0,
     [](IpChecksumTest &t) {
         t.set_i32("invalidTcpFlagsHigh", -1);
         t.set_i32("invalidTcpFlagsLow", 5);
     },
     0, 0x40000000u, 0xFFFFFFFFu, 5u, 126u},
    // failures: options keeps what was gathered, later outputs untouched
    {"missing ignoreFragment", 0,
     [](IpChecksumTest &t) {
         for (std::size_t i = 0; i < 11; ++i) t.set_bool(kRequiredBools[i], 1);
         t.remove("ignoreFragment");
     },
     VEK_ST_MAP_KEY_NOT_EXIST, 0x7FFu, kUntouched, kUntouched, kUntouched},
    {"ignoreFragment of another type", 0,
     [](IpChecksumTest &t) {
         t.set_bool("ignoreUnexpected_SOP_EOP", 1);
         t.set_i32("ignoreFragment", 1);
     },
     VEK_ST_MAP_INVALID_TYPE, 0x1u, kUntouched, kUntouched, kUntouched},
    {"missing bit 0 key", 0, [](IpChecksumTest &t) { t.remove("ignoreUnexpected_SOP_EOP"); }, VEK_ST_MAP_KEY_NOT_EXIST,
     0u, kUntouched, kUntouched, kUntouched},
    {"missing bit 18 key after the optional ones", 41,
     [](IpChecksumTest &t) {
         t.set_bool("ignoreIpv6JumboGram", 1);
         t.set_bool("enableZeroChecksumConversionOnlyForUdp", 1);
         t.set_bool("enableIpLengthCheck", 0);
         t.set_i32("ipv6RoutingHeaderSupport", 2);
         t.set_bool("ignoreTCPDataOffset_GreaterThanIpTL", 1);
         t.set_bool("enableNoopOutputParam", 1); // read after the failure: not reached
         t.remove("ignoreIllegalTCPFlags");
     },
     VEK_ST_MAP_KEY_NOT_EXIST, 0xC0132000u, kUntouched, kUntouched, kUntouched},
    {"missing high flags word: zeroed, later outputs untouched", 0,
     [](IpChecksumTest &t) { t.remove("invalidTcpFlagsHigh"); }, VEK_ST_MAP_KEY_NOT_EXIST, 0x40000000u, 0u, kUntouched,
     kUntouched},
    {"low flags word of another type", 0, [](IpChecksumTest &t) { t.set_bool("invalidTcpFlagsLow", 1); },
     VEK_ST_MAP_INVALID_TYPE, 0x40000000u, 0x11u, 0u, kUntouched},
};

TEST_F(IpChecksumTest, TableOfCases) {
    for (const EncodeCase &c : kCases) {
        SCOPED_TRACE(c.name);
        build_map();
        c.edit(*this);
        Outputs out;
        EXPECT_EQ(encode(c.rev, out), c.status);
        EXPECT_EQ(out.options, c.options) << std::hex << out.options;
        EXPECT_EQ(out.high, c.high) << std::hex << out.high;
        EXPECT_EQ(out.low, c.low) << std::hex << out.low;
        EXPECT_EQ(out.l3, c.l3) << std::hex << out.l3;
    }
}

// Each required boolean sets exactly its own bit.
TEST_F(IpChecksumTest, EachRequiredBooleanSetsItsBit) {
    for (std::size_t i = 0; i < std::size(kRequiredBools); ++i) {
        SCOPED_TRACE(kRequiredBools[i]);
        build_map();
        set_bool("forceChecksumToZeroOnError", 0);
        set_bool(kRequiredBools[i], 1);
        Outputs out;
        EXPECT_EQ(encode(0, out), VEK_ST_SUCCESS);
        EXPECT_EQ(out.options, bit_of_required(i)) << std::hex << out.options;
    }
}

// Any non-zero byte reads as true.
TEST_F(IpChecksumTest, NonZeroBooleanByteIsTrue) {
    set_bool("forceChecksumToZeroOnError", 0);
    set_bool("ignoreFragment", 0x80);
    Outputs out;
    EXPECT_EQ(encode(0, out), VEK_ST_SUCCESS);
    EXPECT_EQ(out.options, 0x800u);
}

TEST_F(IpChecksumTest, CriteriaWordByRevision) {
    for (uint32_t rev = 0; rev < 64; ++rev) {
        const uint32_t low5 = rev & 31u;
        const bool extended = low5 == 9 || low5 == 11 || low5 == 16 || low5 == 24;
        uint32_t l3 = kUntouched;
        EXPECT_EQ(vek_encode_ipchecksum_options(rev, map_, nullptr, nullptr, nullptr, &l3), VEK_ST_SUCCESS);
        EXPECT_EQ(l3, extended ? 0x1607Eu : 0x7Eu) << "rev " << rev;
    }
}

TEST_F(IpChecksumTest, AllOutputsNullReadNothing) {
    // Nothing is read, so even an invalid map passes.
    EXPECT_EQ(vek_encode_ipchecksum_options(9, nullptr, nullptr, nullptr, nullptr, nullptr), VEK_ST_SUCCESS);
    vek_map_t empty_foreign{};
    EXPECT_EQ(vek_encode_ipchecksum_options(9, &empty_foreign, nullptr, nullptr, nullptr, nullptr), VEK_ST_SUCCESS);
}

TEST_F(IpChecksumTest, NullOutputsAreNeitherReadNorWritten) {
    // Without the options word, the option keys are not looked up.
    remove("ignoreFragment");
    uint32_t high = kUntouched, low = kUntouched, l3 = kUntouched;
    EXPECT_EQ(vek_encode_ipchecksum_options(0, map_, nullptr, &high, &low, &l3), VEK_ST_SUCCESS);
    EXPECT_EQ(high, 0x11u);
    EXPECT_EQ(low, 0x22u);
    EXPECT_EQ(l3, 126u);

    // Without the flag words, their keys are not looked up.
    build_map();
    remove("invalidTcpFlagsHigh");
    remove("invalidTcpFlagsLow");
    uint32_t options = kUntouched;
    l3 = kUntouched;
    EXPECT_EQ(vek_encode_ipchecksum_options(16, map_, &options, nullptr, nullptr, &l3), VEK_ST_SUCCESS);
    EXPECT_EQ(options, 0x40000000u);
    EXPECT_EQ(l3, 90238u);
}

TEST_F(IpChecksumTest, InvalidMapFailsAtTheFirstRequiredLookup) {
    Outputs out;
    EXPECT_EQ(vek_encode_ipchecksum_options(0, nullptr, &out.options, &out.high, &out.low, &out.l3),
              VEK_ST_MAP_INVALID_MAP);
    EXPECT_EQ(out.options, 0u);
    EXPECT_EQ(out.high, kUntouched);
    EXPECT_EQ(out.low, kUntouched);
    EXPECT_EQ(out.l3, kUntouched);

    uint32_t low = kUntouched, l3 = kUntouched;
    EXPECT_EQ(vek_encode_ipchecksum_options(0, nullptr, nullptr, nullptr, &low, &l3), VEK_ST_MAP_INVALID_MAP);
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(l3, kUntouched);
}

// The lookups allocate inside the getters. A required lookup that runs out
// of memory ends the encoding with VEK_ST_NO_MEMORY and leaves the later
// outputs alone; an optional one counts as a failed lookup. Nothing leaks.
TEST_F(IpChecksumTest, AllocationFailuresInTheLookups) {
    set_bool("forceChecksumToZeroOnError", 0);
    set_i32("ipv6RoutingHeaderSupport", 3);
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t) {
        Outputs out;
        const vek_st_t st = encode(9, out);
        if (st == VEK_ST_NO_MEMORY) {
            EXPECT_EQ(out.l3, kUntouched);
            return;
        }
        EXPECT_EQ(st, VEK_ST_SUCCESS);
        EXPECT_EQ(out.options & ~0x40180000u, 0u) << std::hex << out.options;
        EXPECT_EQ(out.high, 0x11u);
        EXPECT_EQ(out.low, 0x22u);
        EXPECT_EQ(out.l3, 90238u);
    });
    EXPECT_GT(points, 0u);
}

// ---- trace lines ----------------------------------------------------------

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(IpChecksumTest, TraceWithNullOutputs) {
    vektest::TraceLevel trace(4);
    const std::string out =
        vektest::capture_stdout([&] { vek_encode_ipchecksum_options(41, map_, nullptr, nullptr, nullptr, nullptr); });
    EXPECT_EQ(out, vektest::format("vek_encode_ipchecksum_options rev=9 map=%llx options=0 invalidTcpFlagsHigh=0 "
                                   "invalidTcpFlagsLow=0 l3PassFailCriteria=0\n"
                                   "vek_encode_ipchecksum_options vekStatus=0 options=0 invalidTcpFlagsHigh=0 "
                                   "invalidTcpFlagsLow=0 l3PassFailCriteria=0\n",
                                   vektest::ptr(map_)));
}

// The getters' own lines appear between the entry and exit lines, one per
// lookup, in the order of the lookups (the types show the order).
TEST_F(IpChecksumTest, TraceWithNestedLookups) {
    set_bool("forceChecksumToZeroOnError", 1);
    set_i32("ipv6RoutingHeaderSupport", 3);
    Outputs out;
    out.l3 = 7;
    vektest::TraceLevel trace(8);
    const std::string text = vektest::capture_stdout([&] { encode(43, out); });
    const std::vector<std::string> lines = lines_of(text);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(),
              vektest::format("vek_encode_ipchecksum_options rev=b map=%llx options=%llx invalidTcpFlagsHigh=%llx "
                              "invalidTcpFlagsLow=%llx l3PassFailCriteria=%llx",
                              vektest::ptr(map_), vektest::ptr(&out.options), vektest::ptr(&out.high),
                              vektest::ptr(&out.low), vektest::ptr(&out.l3)));
    EXPECT_EQ(lines.back(), "vek_encode_ipchecksum_options vekStatus=0 options=40180000 invalidTcpFlagsHigh=11 "
                            "invalidTcpFlagsLow=22 l3PassFailCriteria=1607e");
    std::vector<std::string> lookups;
    for (const std::string &line : lines) {
        const auto blank = line.find(' ');
        if (line.find(" vek_map=") == blank) lookups.push_back(line.substr(0, blank));
    }
    std::vector<std::string> expected(17, "vek_map_get_bool");
    expected.insert(expected.end(),
                    {"vek_map_get_bool", "vek_map_get_bool", "vek_map_get_i32", "vek_map_get_bool", "vek_map_get_bool",
                     "vek_map_get_bool", "vek_map_get_bool", "vek_map_get_u32", "vek_map_get_u32"});
    EXPECT_EQ(lookups, expected);
}

TEST_F(IpChecksumTest, TraceOfAFailureShowsTheWordsAsLeft) {
    remove("invalidTcpFlagsLow");
    Outputs out;
    vektest::TraceLevel trace(12);
    const std::vector<std::string> lines = lines_of(vektest::capture_stdout([&] { encode(0, out); }));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "vek_encode_ipchecksum_options vekStatus=68 options=40000000 invalidTcpFlagsHigh=11 "
                            "invalidTcpFlagsLow=0 l3PassFailCriteria=deadbeef");
}

} // namespace
