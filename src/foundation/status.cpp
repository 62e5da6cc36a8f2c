// Status-name lookup: a constant table sorted by code, searched by bisection.
#include "foundation/status.hpp"

#include <cstdio>
#include <iterator>

#include <vek/vek_status.h>

namespace {

struct StatusEntry {
    vek_st_t code;
    const char *name;
};

constexpr StatusEntry kStatusTable[] = {
#define VEK_ST_ENTRY(code, name) {code##u, #name},
#include "foundation/status_table.def"
#undef VEK_ST_ENTRY
};

constexpr vek_st_t kFirstUnnamable = 0x10000u;

constexpr bool table_is_sorted() {
    for (std::size_t i = 1; i < std::size(kStatusTable); ++i) {
        if (kStatusTable[i - 1].code >= kStatusTable[i].code) return false;
    }
    return true;
}

static_assert(table_is_sorted(), "status table must be sorted by code with unique codes");
static_assert(kStatusTable[std::size(kStatusTable) - 1].code < kFirstUnnamable, "status codes must stay below 65536");

} // namespace

const char *vek::status_name(vek_st_t status) {
    if (status >= kFirstUnnamable) return nullptr;
    std::size_t lo = 0;
    std::size_t hi = std::size(kStatusTable);
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const vek_st_t code = kStatusTable[mid].code;
        if (code == status) return kStatusTable[mid].name;
        if (code < status) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return nullptr;
}

extern "C" VEK_API const char *vek_status_get(vek_st_t status) {
    const char *name = vek::status_name(status);
    return name != nullptr ? name : VEK_ST_OUT_OF_BOUNDS_TEXT;
}

extern "C" VEK_API int vek_status_print(const char *prefix, vek_st_t status) {
    const char *name = vek::status_name(status);
    if (prefix != nullptr) std::printf("%s: ", prefix);
    if (name != nullptr) return std::puts(name);
    return std::printf("%s: %d\n", VEK_ST_OUT_OF_BOUNDS_TEXT, static_cast<int>(status));
}
