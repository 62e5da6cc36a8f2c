// The text parsers beside what a C++ program would write by hand:
//   list builds: "0-999999" as 1,000,000 int32 items, and comma-separated
//   random names (10,000 and 100,000) as sorted string items, beside a
//   std::vector filled from the same text and std::sort'ed;
//   vek_crt of a 10,000-word command: a private copy split into an argument
//   vector handed to the same entry function, beside std::string plus a
//   std::vector<char *>.
// One iteration builds (or splits) once; releasing the result is not timed.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <vek/vekcommon.h>

#include "peers.hpp"

namespace {

// Comma-separated names of 4 to 20 lowercase letters, in random order.
std::string random_names(std::size_t n) {
    std::mt19937 rng(4242u + static_cast<unsigned>(n));
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) text += ',';
        const int len = 4 + static_cast<int>(rng() % 17);
        for (int c = 0; c < len; ++c) text += static_cast<char>('a' + rng() % 26);
    }
    return text;
}

// The sorted texts of a built string list, or of the peer.
std::vector<std::string> list_texts(vek_strlist_node_t *list) {
    std::vector<std::string> out;
    for (vek_strlist_node_t *n = list; n != nullptr; n = n->next) out.emplace_back(n->value->payload.str);
    return out;
}

std::vector<std::string> split_sorted(const std::string &text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        items.emplace_back(text, start, comma == std::string::npos ? std::string::npos : comma - start);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    std::sort(items.begin(), items.end());
    return items;
}

void names_vek(benchmark::State &state, const std::string &text) {
    vek_strlist_node_t *list = nullptr;
    if (vek_strlist_list_build(text.c_str(), VEK_STRLIST_STRING, ',', '-', nullptr, nullptr, &list) != VEK_ST_SUCCESS ||
        list_texts(list) != split_sorted(text)) {
        vek_strlist_list_free(list);
        return state.SkipWithError("wrong results");
    }
    vek_strlist_list_free(list);
    for (auto _ : state) {
        list = nullptr;
        vek_strlist_list_build(text.c_str(), VEK_STRLIST_STRING, ',', '-', nullptr, nullptr, &list);
        benchmark::DoNotOptimize(list);
        state.PauseTiming();
        vek_strlist_list_free(list);
        state.ResumeTiming();
    }
}

void names_std(benchmark::State &state, const std::string &text) {
    for (auto _ : state) {
        std::vector<std::string> items = split_sorted(text);
        benchmark::DoNotOptimize(items.data());
        state.PauseTiming();
        items = {};
        state.ResumeTiming();
    }
}

void range_vek(benchmark::State &state) {
    for (auto _ : state) {
        vek_strlist_node_t *list = nullptr;
        if (vek_strlist_list_build("0-999999", VEK_STRLIST_INT32, ',', '-', nullptr, nullptr, &list) !=
            VEK_ST_SUCCESS) {
            return state.SkipWithError("build failed");
        }
        benchmark::DoNotOptimize(list);
        state.PauseTiming();
        vek_strlist_list_free(list);
        state.ResumeTiming();
    }
}

void range_std(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<int32_t> items;
        for (int32_t v = 0; v <= 999999; ++v) items.push_back(v);
        std::sort(items.begin(), items.end());
        benchmark::DoNotOptimize(items.data());
        state.PauseTiming();
        items = {};
        state.ResumeTiming();
    }
}

std::string command_text() {
    std::string text;
    for (int i = 0; i < 10000; ++i) {
        text.append("-option");
        text.append(std::to_string(i));
        text.push_back(i % 3 == 0 ? '\n' : ' ');
    }
    return text;
}

int take_words(int argc, char **argv) {
    benchmark::DoNotOptimize(argv);
    return argc;
}

void crt_vek(benchmark::State &state, const std::string &text) {
    char prog[] = "tool";
    for (auto _ : state) {
        if (vek_crt(prog, text.c_str(), take_words) != 10001) return state.SkipWithError("wrong word count");
    }
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void crt_std(benchmark::State &state, const std::string &text) {
    char prog[] = "tool";
    for (auto _ : state) {
        std::string copy = text;
        std::vector<char *> argv{prog};
        char *p = copy.data();
        for (;;) {
            while (blank(*p)) ++p;
            if (*p == '\0') break;
            argv.push_back(p);
            while (*p != '\0' && !blank(*p)) ++p;
            if (*p == ' ' || *p == '\n') *p++ = '\0';
        }
        argv.push_back(nullptr);
        if (take_words(static_cast<int>(argv.size()) - 1, argv.data()) != 10001) {
            return state.SkipWithError("wrong word count");
        }
    }
}

const bool registered = [] {
    peers::add("text/list_build/range_1M", "vek", range_vek)->Unit(benchmark::kMillisecond);
    peers::add("text/list_build/range_1M", "std_vector_sort", range_std)->Unit(benchmark::kMillisecond);
    for (const std::size_t n : {std::size_t{10000}, std::size_t{100000}}) {
        const std::string text = random_names(n);
        const std::string name = "text/list_build/names_" + std::to_string(n / 1000) + "k";
        peers::add(name, "vek", [text](benchmark::State &st) { names_vek(st, text); })->Unit(benchmark::kMillisecond);
        peers::add(name, "std_vector_sort", [text](benchmark::State &st) {
            names_std(st, text);
        })->Unit(benchmark::kMillisecond);
    }
    const std::string cmd = command_text();
    peers::add("text/crt/10k_words", "vek", [cmd](benchmark::State &st) {
        crt_vek(st, cmd);
    })->Unit(benchmark::kMicrosecond);
    peers::add("text/crt/10k_words", "split_std_string", [cmd](benchmark::State &st) {
        crt_std(st, cmd);
    })->Unit(benchmark::kMicrosecond);
    return true;
}();

} // namespace
