// The command-string runner: splits a command text into words inside a
// private copy of it and calls a tool's entry function with the resulting
// argument vector.
//
// Words are runs of characters other than white space. A blank or newline
// after a word is overwritten with NUL to end the word's string; any other
// white space (tab, carriage return, vertical tab, form feed) still
// separates the words but stays in place, so that word's string runs on to
// the next NUL of the copy.
#include <climits>
#include <cstdint>
#include <cstring>

#include <vek/vek_getopt.h>
#include <vek/vek_sal.h>

#include "foundation/memory.hpp"
#include "text/blank.hpp"

namespace {

// Entries of the vector kept in the call's own frame; longer commands get a
// heap vector sized to fit.
constexpr std::size_t kFrameEntries = 32;

using vek::text::is_blank;

const char *skip_blanks(const char *p) {
    while (is_blank(static_cast<unsigned char>(*p))) ++p;
    return p;
}

const char *skip_word(const char *p) {
    while (*p != '\0' && !is_blank(static_cast<unsigned char>(*p))) ++p;
    return p;
}

std::size_t count_words(const char *text) {
    std::size_t n = 0;
    for (const char *p = skip_blanks(text); *p != '\0'; p = skip_blanks(skip_word(p))) ++n;
    return n;
}

// Fills argv from entry 1 on with the words of copy, ending the strings as
// described above; returns the number of words.
std::size_t split_words(char *copy, char **argv) {
    std::size_t n = 0;
    char *p = copy;
    for (;;) {
        p = const_cast<char *>(skip_blanks(p));
        if (*p == '\0') return n;
        argv[++n] = p;
        p = const_cast<char *>(skip_word(p));
        if (*p == ' ' || *p == '\n') *p++ = '\0';
    }
}

// Clears a parser variable that points into the block [begin, end].
void forget_if_inside(char **var, const char *begin, const char *end) {
    const auto at = reinterpret_cast<std::uintptr_t>(*var);
    if (at >= reinterpret_cast<std::uintptr_t>(begin) && at <= reinterpret_cast<std::uintptr_t>(end)) {
        *var = nullptr;
    }
}

} // namespace

extern "C" VEK_API int vek_crt(char *progName, const char *cmdText, vek_crt_main_fn mainFn) {
    vek_initopt();
    if (mainFn == nullptr) return -1;

    char *frame_argv[kFrameEntries] = {};
    frame_argv[0] = progName;
    if (cmdText == nullptr) return mainFn(1, frame_argv);

    const std::size_t len = std::strlen(cmdText);
    const vek::HeapPtr<char> copy(static_cast<char *>(vek_malloc(len + 1)));
    if (!copy) return -1;
    std::memcpy(copy.get(), cmdText, len + 1);

    // The program name, the words and a null entry after the last word.
    const std::size_t words = count_words(copy.get());
    if (words > static_cast<std::size_t>(INT_MAX) - 1) return -1;
    const std::size_t entries = words + 2;
    vek::HeapPtr<char *> heap_argv;
    char **argv = frame_argv;
    if (entries > kFrameEntries) {
        heap_argv.reset(vek::heap_alloc_array<char *>(entries));
        if (!heap_argv) return -1;
        argv = heap_argv.get();
        std::memset(argv, 0, entries * sizeof(char *));
        argv[0] = progName;
    }
    const int argc = static_cast<int>(split_words(copy.get(), argv)) + 1;

    const int result = mainFn(argc, argv);

    // The words die with the copy: the parser must not keep pointing at them.
    forget_if_inside(&vek_optarg, copy.get(), copy.get() + len);
    forget_if_inside(&vek_pIndexPosition, copy.get(), copy.get() + len);
    return result;
}
