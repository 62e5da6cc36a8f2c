// Report of a broken invariant (Debug and sanitizer builds).
#include "foundation/invariant.hpp"

#include <cstdio>
#include <cstdlib>

namespace vek {

void invariant_broken(const char *cond, const char *file, int line) {
    std::fprintf(stderr, "vekcommon: invariant %s broken at %s:%d\n", cond, file, line);
    std::abort();
}

} // namespace vek
