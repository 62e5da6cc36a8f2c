// vek_crt and vek_getopt over fuzzed command texts and option strings.
// The argument vector that vek_crt builds is checked against a model of
// the documented word split, and every vek_getopt call over it against a
// model of the documented walk (result, vek_optind, vek_optarg and the
// cursor vek_pIndexPosition). The copy of the text is the only allocation;
// when it fails vek_crt returns -1 without calling the tool.
//
// Input: flags, option string length, option string, command text.
#include <string>
#include <vector>

#include "fuzz_support.hpp"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

struct Run {
    std::string text;
    bool null_text = false;
    std::string optstring;
    int opterr = 1;
    bool called = false;
};
Run g_run;
char g_prog[] = "tool";

// The documented walk of vek_getopt over argv, step by step.
struct GetoptModel {
    int optind = 1;
    char *optarg = nullptr;
    char *cursor = nullptr;

    int handle(char *p, int argc, char **argv, const char *os, int opterr) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == ':') {
            cursor = p;
            return opterr != 0 ? '?' : ':';
        }
        const char *o = std::strchr(os, c);
        if (o == nullptr) {
            cursor = nullptr;
            optarg = nullptr;
            return opterr != 0 ? '?' : c;
        }
        if (o[1] != ':') {
            cursor = p;
            optarg = nullptr;
            return c;
        }
        if (p[1] != '\0') {
            optarg = p + 1;
            cursor = nullptr;
            return c;
        }
        if (optind < argc) {
            optarg = argv[optind++];
            cursor = nullptr;
            return c;
        }
        optarg = nullptr;
        cursor = p;
        return opterr != 0 ? '?' : c;
    }

    int next(int argc, char **argv, const char *os, int opterr) {
        if (cursor != nullptr) {
            ++cursor;
            if (*cursor != '\0') return handle(cursor, argc, argv, os, opterr);
        }
        if (optind >= argc) {
            cursor = nullptr;
            return -1;
        }
        char *el = argv[optind++];
        if (el[0] != '-') {
            --optind;
            cursor = nullptr;
            optarg = nullptr;
            return -1;
        }
        if (std::strcmp(el, "-") == 0 || std::strcmp(el, "--") == 0) {
            cursor = nullptr;
            optarg = nullptr;
            return -1;
        }
        return handle(el + 1, argc, argv, os, opterr);
    }
};

int tool(int argc, char **argv) {
    Run &r = g_run;
    r.called = true;
    FUZZ_CHECK(argc >= 1 && argv[0] == g_prog && argv[argc] == nullptr);
    // The word split: entries in a copy of the text, a blank or newline after
    // a word ended with NUL, other white space left in place.
    std::string copy = r.text;
    std::vector<size_t> starts;
    if (!r.null_text) {
        size_t p = 0;
        for (;;) {
            while (p < copy.size() && is_space(copy[p])) ++p;
            if (p >= copy.size()) break;
            starts.push_back(p);
            while (p < copy.size() && !is_space(copy[p])) ++p;
            if (p < copy.size() && (copy[p] == ' ' || copy[p] == '\n')) copy[p++] = '\0';
        }
    }
    FUZZ_CHECK(static_cast<size_t>(argc) == starts.size() + 1);
    for (size_t i = 0; i < starts.size(); ++i) {
        FUZZ_CHECK(std::strcmp(argv[i + 1], copy.c_str() + starts[i]) == 0);
        FUZZ_CHECK(argv[i + 1] - argv[1] == static_cast<std::ptrdiff_t>(starts[i] - starts[0]));
    }

    // vek_crt starts the parser afresh.
    FUZZ_CHECK(vek_optind == 1 && vek_opterr == 1 && vek_optarg == nullptr && vek_pIndexPosition == nullptr);
    vek_opterr = r.opterr;
    GetoptModel m;
    const char *os = r.optstring.c_str();
    for (int calls = 0; calls < 4 * argc + 600; ++calls) {
        const int want = m.next(argc, argv, os, r.opterr);
        const int got = vek_getopt(argc, argv, os);
        FUZZ_CHECK_EQ(got, want);
        FUZZ_CHECK_EQ(vek_optind, m.optind);
        FUZZ_CHECK(vek_optarg == m.optarg);
        FUZZ_CHECK(vek_pIndexPosition == m.cursor);
        if (got == -1) {
            // Parsing has stopped; asking again gives -1 again (an element
            // "-" or "--" is consumed each time).
            FUZZ_CHECK(vek_getopt(argc, argv, os) == m.next(argc, argv, os, r.opterr));
            FUZZ_CHECK(vek_optind == m.optind && vek_optarg == m.optarg && vek_pIndexPosition == m.cursor);
            break;
        }
    }
    return 40 + argc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    const uint8_t flags = in.u8();
    const size_t oslen = in.u8() & 15;
    Run &r = g_run;
    r = Run{};
    r.opterr = (flags & 1) != 0 ? 0 : 1;
    r.null_text = (flags & 2) != 0;
    r.optstring = in.text(oslen);
    r.text = in.text(8192);

    const fuzz::LeakCheck leaks;
    const bool fail_copy = (flags & 4) != 0 && !r.null_text;
    vek_saltest_reset();
    if (fail_copy) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 0);
    const int result = vek_crt(g_prog, r.null_text ? nullptr : r.text.c_str(), tool);
    vek_saltest_reset();
    if (fail_copy) {
        FUZZ_CHECK(result == -1 && !r.called);
    } else {
        FUZZ_CHECK(r.called && result > 40);
    }
    FUZZ_NO_LEAK(leaks);

    // vek_initopt restores the state a loaded library starts with.
    vek_optind = 7;
    vek_opterr = 0;
    vek_initopt();
    FUZZ_CHECK(vek_optind == 1 && vek_opterr == 1 && vek_optarg == nullptr && vek_pIndexPosition == nullptr);
    return 0;
}
