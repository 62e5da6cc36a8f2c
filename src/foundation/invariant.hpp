// Marked invariant checks.
//
// Argument checks that an operation documents (a null map, a bad handle, a
// value out of range) are ordinary `if`s. Conditions that the library itself
// guarantees (a table built by create has its pages; a node on a chain has a
// key) are written VEK_ALWAYS(cond) / VEK_NEVER(cond): in Debug and sanitizer
// builds a broken invariant stops the program at once with its place, in
// Release builds the expression is evaluated and the defensive branch it
// guards is taken, as SQLite's ALWAYS/NEVER do.
//
//     if (VEK_NEVER(page == nullptr)) return VEK_ST_ERROR;
#pragma once

#ifdef NDEBUG
#define VEK_ALWAYS(cond) (static_cast<bool>(cond))
#define VEK_NEVER(cond) (static_cast<bool>(cond))
#else
#define VEK_ALWAYS(cond) ((cond) ? true : (::vek::invariant_broken(#cond, __FILE__, __LINE__), false))
#define VEK_NEVER(cond) ((cond) ? (::vek::invariant_broken("!(" #cond ")", __FILE__, __LINE__), true) : false)
#endif

namespace vek {

// Reports a broken invariant on standard error and aborts.
[[noreturn]] void invariant_broken(const char *cond, const char *file, int line);

} // namespace vek
