// vekutil status CODE... | --search WORD
#include "commands.hpp"
#include "values.hpp"

#include <cstring>
#include <string>

namespace vekutil {

namespace {

constexpr uint32_t kLastCode = 65535; // no name above this code

bool named(vek_st_t code) { return std::strcmp(vek_status_get(code), VEK_ST_OUT_OF_BOUNDS_TEXT) != 0; }

// Decimal (also negative: the code of the same 32 bits) or 0x hex.
bool parse_code(const std::string &text, vek_st_t &code) {
    int64_t v;
    if (!parse_i64(text, INT32_MIN, UINT32_MAX, v)) return false;
    code = static_cast<vek_st_t>(static_cast<uint32_t>(v));
    return true;
}

std::string lower(std::string s) {
    for (char &c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

int status_main(int argc, char **argv) {
    std::string search;
    bool searching = false;
    const int rc = parse_options(kStatusCommand, argc, argv, [&](int, const char *arg) {
        search = arg;
        searching = true;
    });
    if (rc >= 0) return rc;
    const int n = argc - vek_optind;
    if (searching) {
        if (n != 0) return usage_error("--search takes no status codes");
        if (search.empty()) return usage_error("--search needs a word");
        const std::string word = lower(search);
        int found = 0;
        for (uint32_t code = 0; code <= kLastCode; ++code) {
            if (!named(code)) continue;
            const char *name = vek_status_get(code);
            if (lower(name).find(word) == std::string::npos) continue;
            std::printf("%u %s\n", static_cast<unsigned>(code), name);
            ++found;
        }
        if (found == 0) return fail("no status name contains '" + search + "'");
        return kExitOk;
    }
    if (n == 0) return usage_error("expected one or more status codes, or --search WORD");
    int result = kExitOk;
    for (int i = vek_optind; i < argc; ++i) {
        vek_st_t code;
        if (!parse_code(argv[i], code)) {
            result =
                usage_error(std::string("not a status code: '") + argv[i] + "' (decimal, negative decimal or 0x hex)");
            continue;
        }
        if (!named(code)) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s: %u: %s\n", prog().c_str(), static_cast<unsigned>(code),
                         VEK_ST_OUT_OF_BOUNDS_TEXT);
            if (result == kExitOk) result = kExitFail;
            continue;
        }
        std::printf("%u %s\n", static_cast<unsigned>(code), vek_status_get(code));
    }
    return result;
}

} // namespace

const Command kStatusCommand{"status",
                             {{'s', "search", true}},
                             R"HELP(Usage: vekutil status CODE...
       vekutil status --search WORD

Prints each status code with its name, one a line: "104 VEK_ST_MAP_KEY_NOT_EXIST".
A code is decimal, negative decimal (taken as the unsigned 32-bit code of
the same bits, so -1 is 4294967295) or 0x and hex digits. A code without a
name is reported on standard error and makes the exit status 1.
With --search, lists every code whose name contains WORD, letter case
ignored.

Options:
  -s, --search WORD  list the codes whose names contain WORD
  -T, --trace        turn on the library's trace lines
  -h, --help         print this help
)HELP",
                             status_main};

} // namespace vekutil
