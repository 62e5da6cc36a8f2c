// White space as the text parsers see it (private to the library): the
// C locale's isspace set, tested without the locale.
#pragma once

namespace vek::text {

// One bit per blank character code up to ' ': tab, newline, vertical tab,
// form feed, carriage return (9 to 13) and space (32).
constexpr unsigned long long kBlankBits = (0x1Full << '\t') | (1ull << ' ');

inline bool is_blank(unsigned char c) { return c <= ' ' && ((kBlankBits >> c) & 1u) != 0; }

} // namespace vek::text
