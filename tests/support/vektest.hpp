// Shared helpers of the unit tests: stdout capture, a fixture that checks
// that nothing leaked, and a sweep over allocation-failure points.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <vek/vekcommon.h>

#include "vek_saltest.h"

namespace vektest {

// Redirects file descriptor 1 into a temporary file while alive.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Stops capturing and returns everything written since construction.
    std::string finish();

private:
    int saved_fd_ = -1;
    std::FILE *file_ = nullptr;
    bool done_ = false;
};

// Runs fn with stdout captured and returns the output.
std::string capture_stdout(const std::function<void()> &fn);

// Sets vek_trace_level for a scope.
class TraceLevel {
public:
    explicit TraceLevel(uint32_t level) : saved_(vek_trace_level) { vek_trace_level = level; }
    ~TraceLevel() { vek_trace_level = saved_; }

private:
    uint32_t saved_;
};

// Fixture: disarms faults, turns tracing off, and checks at the end that
// the live heap and robust block counts are what they were at the start.
class LeakCheckedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    long heap_at_start_ = 0;
    long robust_at_start_ = 0;
};

// Runs body once per allocation-failure point: in run n the n-th
// allocation of `kind` (VEK_SALTEST_HEAP, _ROBUST or _ANY) fails. Stops at
// the first run in which no fault fired, after which the body has run to
// success. The body must release whatever it built; after every run the
// live counts must be back where they were. Returns the number of failure
// points exercised.
uint32_t sweep_alloc_failures(int kind, const std::function<void(uint32_t nth)> &body);

// Formats like printf into a std::string (used to build expected trace lines).
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Widens a pointer the way trace lines print it.
inline unsigned long long ptr(const void *p) {
    return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p));
}

// True when the program runs under valgrind (its preload is in the
// environment): tests that serialise badly there scale down.
inline bool under_valgrind() {
    const char *preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

// How long a soak runs: VEK_SOAK_SECONDS when set, 3 s under valgrind,
// else `usual`.
inline double soak_seconds(double usual) {
    if (const char *env = std::getenv("VEK_SOAK_SECONDS")) return std::atof(env);
    return under_valgrind() ? 3 : usual;
}

} // namespace vektest
