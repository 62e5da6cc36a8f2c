// Conversion of a duration in nanoseconds into clock cycles.
#include <cstdint>

#include <vek/vek_device.h>

#include "foundation/trace.hpp"

namespace {

// Durations up to this bound are converted exactly and rounded up: then
// num_ns * 1000 + period - 1 stays within 32 bits for every period up to
// 1000000 ps (a 1 MHz clock).
constexpr uint32_t kExactBoundNs = 0x400000u;

uint32_t cycles(uint32_t clk_in_mhz, uint32_t num_ns) {
    // A clock of 0 MHz, or above 1000000 MHz, has no period in whole
    // picoseconds: no cycles can be counted, the result is 0.
    if (clk_in_mhz == 0u) return 0u;
    const uint32_t period_ps = 1000000u / clk_in_mhz;
    if (period_ps == 0u) return 0u;
    if (num_ns <= kExactBoundNs) return (num_ns * 1000u + period_ps - 1u) / period_ps;
    // Longer durations divide first, so the result is a multiple of 1000
    // rounded down at that grain.
    return (num_ns / period_ps) * 1000u;
}

} // namespace

extern "C" VEK_API uint32_t vek_ns_to_clk(uint32_t clk_in_mhz, uint32_t num_ns) {
    const vek::trace::Call call(__func__, {{"clk_in_mhz", clk_in_mhz}, {"num_ns", num_ns}});
    const uint32_t nclk = cycles(clk_in_mhz, num_ns);
    call.exit({{"nclk", nclk}});
    return nclk;
}
