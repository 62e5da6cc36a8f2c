// Structure checks.
//
// Every structure of the library has one check, written in one place next
// to the structure's own code, that tells whether an object is whole. A
// check returns nullptr when every property holds, or a short static text
// naming the first one that does not ("free count differs from the
// bitmap"). Checks read only what the object owns, bound every walk by what
// the object says of itself, and never change anything.
//
// They serve two ends:
//  - in checked builds (Debug, sanitizer and fuzz builds: VEK_STRUCTURE_CHECKS
//    set by the build) every exported operation ends with
//        VEK_CHECK_STRUCTURE(vek::bitmap::verify(map));
//    which stops the program with the text and the place, as VEK_ALWAYS does;
//    in other builds the expression is not evaluated at all;
//  - the repair that follows a dead owner of a robust mutex runs them in
//    every build, to decide what to mend and to prove the result.
#pragma once

namespace vek {

#if defined(VEK_STRUCTURE_CHECKS) && VEK_STRUCTURE_CHECKS
inline constexpr bool kStructureChecks = true;
#else
inline constexpr bool kStructureChecks = false;
#endif

// Reports a broken structure on standard error and aborts.
[[noreturn]] void structure_broken(const char *what, const char *file, int line);

} // namespace vek

#define VEK_CHECK_STRUCTURE(expr)                                                                           \
    do {                                                                                                    \
        if constexpr (::vek::kStructureChecks) {                                                            \
            if (const char *vek_broken_ = (expr)) ::vek::structure_broken(vek_broken_, __FILE__, __LINE__); \
        }                                                                                                   \
    } while (0)
