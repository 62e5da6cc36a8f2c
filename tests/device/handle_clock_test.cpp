// Device handle test and nanoseconds-to-clock-cycles conversion.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <vek/vekcommon.h>

#include "vektest.hpp"

namespace {

TEST(ValidateHandle, GenuineHandleHoldsTheMagicWord) {
    vek_hdl_t hdl{};
    hdl.magic = 0x2456454Bu;
    EXPECT_EQ(vek_validate_handle(&hdl), VEK_ST_SUCCESS);
}

TEST(ValidateHandle, NullOrOtherWordIsInvalid) {
    EXPECT_EQ(vek_validate_handle(nullptr), VEK_ST_INVALID_HANDLE);
    for (uint32_t word : {0u, 0x4B455624u /* bytes reversed */, 0x2456454Au, 0xFFFFFFFFu}) {
        vek_hdl_t hdl{};
        hdl.magic = word;
        EXPECT_EQ(vek_validate_handle(&hdl), VEK_ST_INVALID_HANDLE) << std::hex << word;
    }
}

TEST(ValidateHandle, MagicReadsAsDollarVekFromTheTopByteDown) {
    const uint32_t m = VEK_HDL_MAGIC;
    const char text[] = {static_cast<char>(m >> 24), static_cast<char>(m >> 16), static_cast<char>(m >> 8),
                         static_cast<char>(m), '\0'};
    EXPECT_STREQ(text, "$VEK");
}

TEST(ValidateHandle, PrintsNoTrace) {
    vektest::TraceLevel trace(12);
    vek_hdl_t hdl{};
    hdl.magic = VEK_HDL_MAGIC;
    EXPECT_EQ(vektest::capture_stdout([&] {
                  vek_validate_handle(&hdl);
                  vek_validate_handle(nullptr);
              }),
              "");
}

struct ClockCase {
    uint32_t mhz;
    uint32_t ns;
    uint32_t nclk;
};

class NsToClk : public ::testing::TestWithParam<ClockCase> {};

TEST_P(NsToClk, Converts) {
    const ClockCase c = GetParam();
    EXPECT_EQ(vek_ns_to_clk(c.mhz, c.ns), c.nclk) << c.mhz << " MHz, " << c.ns << " ns";
}

INSTANTIATE_TEST_SUITE_P(Cases, NsToClk,
                         ::testing::Values(ClockCase{1000, 1, 1}, ClockCase{300, 1, 1}, ClockCase{300, 10, 4},
                                           ClockCase{300, 0, 0}, ClockCase{1, 0, 0}, ClockCase{1000, 5000000, 5000000},
                                           // branch bound: rounded up at and below it, multiple of 1000 above
                                           ClockCase{300, 4194304, 1258418}, ClockCase{300, 4194305, 1258000},
                                           // 1 MHz: period 1000000 ps, the largest; 1000000 MHz: period 1 ps
                                           ClockCase{1, 4194304, 4195}, ClockCase{1, 0xFFFFFFFFu, 4294000},
                                           ClockCase{1000000, 7, 7000}, ClockCase{1000000, 4194304, 4194304000u},
                                           // no whole-picosecond period: no cycles, no division by zero
                                           ClockCase{0, 1000, 0}, ClockCase{0, 0xFFFFFFFFu, 0},
                                           ClockCase{1000001, 1000, 0}, ClockCase{0xFFFFFFFFu, 5, 0}));

TEST(NsToClkTrace, EntryAndExitLines) {
    vektest::TraceLevel trace(8);
    EXPECT_EQ(vektest::capture_stdout([] { vek_ns_to_clk(300, 10); }),
              "vek_ns_to_clk clk_in_mhz=12c num_ns=a\nvek_ns_to_clk nclk=4\n");
    EXPECT_EQ(vektest::capture_stdout([] { vek_ns_to_clk(0, 10); }),
              "vek_ns_to_clk clk_in_mhz=0 num_ns=a\nvek_ns_to_clk nclk=0\n");
}

TEST(NsToClkTrace, SilentWhenTracingIsOff) {
    vektest::TraceLevel trace(3);
    EXPECT_EQ(vektest::capture_stdout([] { vek_ns_to_clk(300, 10); }), "");
}

} // namespace
