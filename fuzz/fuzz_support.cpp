#include "fuzz_support.hpp"

#include <cstdlib>

namespace fuzz {

void fail(const char *file, int line, const char *what) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

FILE *null_stream() {
    static FILE *stream = std::fopen("/dev/null", "w");
    if (stream == nullptr) fail(__FILE__, __LINE__, "cannot open /dev/null");
    return stream;
}

} // namespace fuzz

// Run once before the first input, by libFuzzer or by the replay driver.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) fuzz::fail(__FILE__, __LINE__, "stdout");
    vek_trace_level = 0;
    vek_saltest_reset();
    return 0;
}

// Under AddressSanitizer an allocation the size of a length word read from
// the input (up to 4 GiB) gets a null block instead of ending the run: the
// library must then report VEK_ST_NO_MEMORY, which is what the targets check.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=64:detect_leaks=1";
}
