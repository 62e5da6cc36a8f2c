// Comparing trace output with an expected text that contains values a test
// cannot know in advance: the address of a temporary copy the library made
// and released during the call, or of a variable in its own frame.
//
// The expected text is matched byte for byte, except that "{}" stands for
// one such value (one or more lower-case hex digits, as %llx prints them)
// and "{X}" (a single capital letter) for a value that must be the same at
// every place marked with that letter.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <map>
#include <string>

#include <gtest/gtest.h>

namespace maptest {

inline ::testing::AssertionResult trace_matches(const std::string &out, const std::string &expected) {
    std::map<char, std::string> named;
    size_t o = 0;
    size_t e = 0;
    auto mismatch = [&](const std::string &what) {
        return ::testing::AssertionFailure() << what << " at output offset " << o << "\n--- output:\n"
                                             << out << "--- expected:\n"
                                             << expected;
    };
    while (e < expected.size()) {
        const bool anon = expected.compare(e, 2, "{}") == 0;
        const bool letter = e + 2 < expected.size() && expected[e] == '{' &&
                            std::isupper(static_cast<unsigned char>(expected[e + 1])) != 0 && expected[e + 2] == '}';
        if (!anon && !letter) {
            if (o >= out.size() || out[o] != expected[e]) return mismatch("text differs");
            ++o;
            ++e;
            continue;
        }
        const size_t start = o;
        while (o < out.size() && std::isxdigit(static_cast<unsigned char>(out[o])) != 0 &&
               std::isupper(static_cast<unsigned char>(out[o])) == 0) {
            ++o;
        }
        if (o == start) return mismatch("hex value expected");
        const std::string value = out.substr(start, o - start);
        if (letter) {
            auto [it, fresh] = named.emplace(expected[e + 1], value);
            if (!fresh && it->second != value) {
                return mismatch(std::string("{") + expected[e + 1] + "} was " + it->second + ", now " + value);
            }
        }
        e += anon ? 2 : 3;
    }
    if (o != out.size()) return mismatch("output goes on");
    return ::testing::AssertionSuccess();
}

// The two lines of a vek_map_strdup call made by the library on a
// temporary copy of a key path's head; `copy` is the key stored.
inline std::string strdup_lines(unsigned long long copy) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%llx", copy);
    return std::string("vek_map_strdup str={}\nvek_map_strdup dstr=") + buf + "\n";
}

} // namespace maptest
