// White space as the text parsers see it (private to the library): the
// C locale's isspace set, tested without the locale.
#pragma once

namespace vek::text {

inline bool is_blank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace vek::text
