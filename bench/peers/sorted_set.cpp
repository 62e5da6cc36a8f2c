// Sorted set pairs beside std::map<uintptr_t, uintptr_t> on the same random
// keys: filling a fresh set with 1000 keys (then releasing it), looking up
// every key of a 4096-key set, and removing and putting back one key of it.
// The set's comparison is the callback its users pass; std::map compares
// inline.
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include <vek/vekcommon.h>

namespace {

int32_t ascending(uintptr_t a, uintptr_t b) { return a < b ? 1 : (a > b ? 2 : 0); }

std::vector<uintptr_t> keys(std::size_t n) {
    std::mt19937 rng(7u + static_cast<unsigned>(n));
    std::vector<uintptr_t> k(n);
    for (auto &x : k) x = rng();
    return k;
}

vek_sorted_set_t *make_set(const std::vector<uintptr_t> &k) {
    vek_sorted_set_t *s = vek_sorted_set_create(1024, 128);
    for (uintptr_t x : k) vek_sorted_set_put(s, x, ascending, x + 1);
    return s;
}

std::map<uintptr_t, uintptr_t> make_map(const std::vector<uintptr_t> &k) {
    std::map<uintptr_t, uintptr_t> m;
    for (uintptr_t x : k) m[x] = x + 1;
    return m;
}

// Both hold the same pairs in the same order.
bool same(vek_sorted_set_t *s, const std::map<uintptr_t, uintptr_t> &m) {
    if (vek_sorted_set_size(s) != m.size()) return false;
    uint32_t i = 0;
    for (const auto &[k, v] : m) {
        if (s->sortedSet[i].key != k || vek_sorted_set_get_n(s, i) != v) return false;
        ++i;
    }
    return true;
}

void fill_vek(benchmark::State &state) {
    const auto k = keys(1000);
    vek_sorted_set_t *check = make_set(k);
    const bool ok = same(check, make_map(k));
    vek_sorted_set_delete_nodes_and_set(check, nullptr);
    if (!ok) {
        state.SkipWithError("sorted set and std::map disagree");
        return;
    }
    for (auto _ : state) {
        vek_sorted_set_t *s = make_set(k);
        benchmark::DoNotOptimize(s);
        vek_sorted_set_delete_nodes_and_set(s, nullptr);
    }
}

void fill_map(benchmark::State &state) {
    const auto k = keys(1000);
    for (auto _ : state) {
        auto m = make_map(k);
        benchmark::DoNotOptimize(m);
    }
}

void get_vek(benchmark::State &state) {
    const auto k = keys(4096);
    vek_sorted_set_t *s = make_set(k);
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (uintptr_t x : k) sum += vek_sorted_set_get(s, x, ascending);
        benchmark::DoNotOptimize(sum);
    }
    vek_sorted_set_delete_nodes_and_set(s, nullptr);
}

void get_map(benchmark::State &state) {
    const auto k = keys(4096);
    const auto m = make_map(k);
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (uintptr_t x : k) sum += m.find(x)->second;
        benchmark::DoNotOptimize(sum);
    }
}

void remove_put_vek(benchmark::State &state) {
    const auto k = keys(4096);
    vek_sorted_set_t *s = make_set(k);
    std::size_t i = 0;
    for (auto _ : state) {
        const uintptr_t x = k[i++ % k.size()];
        vek_sorted_set_put(s, x, ascending, vek_sorted_set_remove(s, x, ascending));
    }
    vek_sorted_set_delete_nodes_and_set(s, nullptr);
}

void remove_put_map(benchmark::State &state) {
    const auto k = keys(4096);
    auto m = make_map(k);
    std::size_t i = 0;
    for (auto _ : state) {
        const uintptr_t x = k[i++ % k.size()];
        auto node = m.extract(x);
        m[x] = node.mapped();
    }
}

BENCHMARK(fill_vek)->Name("peers/sorted_set_fill_1000/vek")->Unit(benchmark::kMicrosecond);
BENCHMARK(fill_map)->Name("peers/sorted_set_fill_1000/std_map")->Unit(benchmark::kMicrosecond);
BENCHMARK(get_vek)->Name("peers/sorted_set_get_4096/vek")->Unit(benchmark::kMicrosecond);
BENCHMARK(get_map)->Name("peers/sorted_set_get_4096/std_map")->Unit(benchmark::kMicrosecond);
BENCHMARK(remove_put_vek)->Name("peers/sorted_set_remove_put_4096/vek");
BENCHMARK(remove_put_map)->Name("peers/sorted_set_remove_put_4096/std_map");

} // namespace
