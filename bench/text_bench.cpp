// Text utilities: building a large integer range list, and splitting a long
// command text into an argument vector.
#include <string>

#include <benchmark/benchmark.h>

#include <vek/vekcommon.h>

namespace {

// "0-999999": one million items, each inserted at the end of an ascending list.
void BM_StrlistBuildRange1M(benchmark::State &state) {
    for (auto _ : state) {
        vek_strlist_node_t *list = nullptr;
        const vek_st_t st = vek_strlist_list_build("0-999999", VEK_STRLIST_INT32, ',', '-', nullptr, nullptr, &list);
        if (st != VEK_ST_SUCCESS || list == nullptr) state.SkipWithError("build failed");
        benchmark::DoNotOptimize(list);
        state.PauseTiming();
        vek_strlist_list_free(list);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_StrlistBuildRange1M)->Unit(benchmark::kMillisecond);

// The same list built and released.
void BM_StrlistBuildAndFreeRange1M(benchmark::State &state) {
    for (auto _ : state) {
        vek_strlist_node_t *list = nullptr;
        vek_strlist_list_build("0-999999", VEK_STRLIST_INT32, ',', '-', nullptr, nullptr, &list);
        vek_strlist_list_free(list);
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_StrlistBuildAndFreeRange1M)->Unit(benchmark::kMillisecond);

int count_words(int argc, char **argv) {
    benchmark::DoNotOptimize(argv);
    return argc;
}

// A command text of 10,000 words split and handed to a tool.
void BM_CrtSplit10kWords(benchmark::State &state) {
    std::string text;
    for (int i = 0; i < 10000; ++i) text += "-option" + std::to_string(i) + (i % 3 == 0 ? "\n" : " ");
    char prog[] = "tool";
    for (auto _ : state) {
        const int argc = vek_crt(prog, text.c_str(), count_words);
        if (argc != 10001) state.SkipWithError("wrong word count");
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_CrtSplit10kWords)->Unit(benchmark::kMicrosecond);

} // namespace
