// Report of a broken invariant or structure (checked builds).
#include "foundation/invariant.hpp"
#include "foundation/check.hpp"

#include <cstdio>
#include <cstdlib>

namespace vek {

void invariant_broken(const char *cond, const char *file, int line) {
    std::fprintf(stderr, "vekcommon: invariant %s broken at %s:%d\n", cond, file, line);
    std::abort();
}

void structure_broken(const char *what, const char *file, int line) {
    std::fprintf(stderr, "vekcommon: structure check failed: %s at %s:%d\n", what, file, line);
    std::abort();
}

} // namespace vek
