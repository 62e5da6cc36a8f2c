// The library's option parser. Its state lives in four exported variables so
// that tools run by vek_crt parse with this state, not the C library's.
#include <cstring>

#include <vek/vek_getopt.h>

extern "C" {
VEK_API int vek_optind = 1;
VEK_API int vek_opterr = 1;
VEK_API char *vek_optarg = nullptr;
VEK_API char *vek_pIndexPosition = nullptr;
}

namespace {

// The value an error returns: '?' when errors are reported as such, else
// the character that caused it.
int error_result(int c) { return vek_opterr != 0 ? '?' : c; }

// Whether argv has an element at vek_optind. A null vector, a null element
// or an index outside the vector count as the end of the vector.
bool element_at_optind(int argc, char **argv) {
    return vek_optind >= 0 && vek_optind < argc && argv != nullptr && argv[vek_optind] != nullptr;
}

// Handles the option character at p, inside an element of argv.
int handle_option(int argc, char **argv, const char *optstring, char *p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == ':') {
        vek_pIndexPosition = p;
        return error_result(':');
    }
    const char *found = optstring != nullptr ? std::strchr(optstring, c) : nullptr;
    if (found == nullptr) {
        vek_pIndexPosition = nullptr; // the rest of the element is skipped
        vek_optarg = nullptr;
        return error_result(c);
    }
    if (found[1] != ':') {
        vek_pIndexPosition = p;
        vek_optarg = nullptr;
        return c;
    }
    if (p[1] != '\0') { // -ofile
        vek_optarg = p + 1;
        vek_pIndexPosition = nullptr;
        return c;
    }
    if (element_at_optind(argc, argv)) { // -o file, even when file begins with '-'
        vek_optarg = argv[vek_optind++];
        vek_pIndexPosition = nullptr;
        return c;
    }
    vek_optarg = nullptr; // the argument is missing
    vek_pIndexPosition = p;
    return error_result(c);
}

} // namespace

extern "C" VEK_API void vek_initopt(void) {
    vek_optind = 1;
    vek_opterr = 1;
    vek_optarg = nullptr;
    vek_pIndexPosition = nullptr;
}

extern "C" VEK_API int vek_getopt(int argc, char **argv, const char *optstring) {
    if (vek_pIndexPosition != nullptr) {
        ++vek_pIndexPosition;
        if (*vek_pIndexPosition != '\0') return handle_option(argc, argv, optstring, vek_pIndexPosition);
    }
    if (!element_at_optind(argc, argv)) {
        vek_pIndexPosition = nullptr;
        return -1;
    }
    char *elem = argv[vek_optind++];
    if (elem[0] != '-') {
        --vek_optind; // not consumed
        vek_pIndexPosition = nullptr;
        vek_optarg = nullptr;
        return -1;
    }
    if (elem[1] == '\0' || (elem[1] == '-' && elem[2] == '\0')) { // "-" or "--"
        vek_pIndexPosition = nullptr;
        vek_optarg = nullptr;
        return -1;
    }
    return handle_option(argc, argv, optstring, elem + 1);
}
