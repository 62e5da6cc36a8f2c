// Trace line output.
#include "foundation/trace.hpp"

#include <cstdarg>
#include <cstdio>

namespace vek::trace {

void write_line(const char *op, std::initializer_list<Field> fields) {
    // The line is built first so that it reaches stdout in one call and lines
    // of concurrent threads do not interleave.
    char buf[512];
    std::size_t len = 0;
    bool fits = true;
    // Takes the result of one snprintf into buf + len; the formats stay
    // literals so that the compiler checks them.
    auto advance = [&](int n) {
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf - len) {
            fits = false;
        } else {
            len += static_cast<std::size_t>(n);
        }
    };
    advance(std::snprintf(buf, sizeof buf, "%s", op));
    for (const Field &f : fields) {
        if (!fits) break;
        advance(std::snprintf(buf + len, sizeof buf - len, " %s=%llx", f.name, f.value));
    }
    if (fits) advance(std::snprintf(buf + len, sizeof buf - len, "\n"));
    if (fits) {
        std::fwrite(buf, 1, len, stdout);
        return;
    }
    std::printf("%s", op);
    for (const Field &f : fields) std::printf(" %s=%llx", f.name, f.value);
    std::printf("\n");
}

void raw(const char *fmt, ...) {
    if (!on()) return;
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
}

} // namespace vek::trace
