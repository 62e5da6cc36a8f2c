// The hash table beside std::unordered_map (same bucket count) and
// absl::flat_hash_map (open addressing, reserved for the same entries).
// Cases: put, get and remove of n keys at load factors 0.5, 1 and 4
// (entries per bucket), with dense keys 0 .. n-1 or random 32-bit keys, in a
// fixed shuffled order. One iteration handles all n keys.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <vek/vekcommon.h>

#include "peers.hpp"

namespace {

inline uintptr_t value_of(uint32_t key) { return uintptr_t{key} * 2 + 1; }

std::vector<uint32_t> make_keys(uint32_t n, bool dense) {
    std::vector<uint32_t> k;
    std::mt19937 rng(20240611u + n + (dense ? 1u : 0u));
    if (dense) {
        k.resize(n);
        std::iota(k.begin(), k.end(), 0u);
    } else {
        std::unordered_set<uint32_t> seen;
        while (k.size() < n) {
            const uint32_t v = rng();
            if (seen.insert(v).second) k.push_back(v);
        }
    }
    std::shuffle(k.begin(), k.end(), rng);
    return k;
}

struct Vek {
    vek_hash_t *t = nullptr;
    uint32_t buckets;
    Vek(uint32_t b, uint32_t) : buckets(b) { t = vek_hash_create_table(b); }
    ~Vek() { vek_hash_delete_table(t); }
    void clear() {
        vek_hash_delete_table(t);
        t = vek_hash_create_table(buckets);
    }
    void put(uint32_t k, uintptr_t v) { benchmark::DoNotOptimize(vek_hash_put(t, k, v)); }
    uintptr_t get(uint32_t k) { return vek_hash_get(t, k); }
    uintptr_t rem(uint32_t k) { return vek_hash_rem(t, k); }
};

struct StdMap {
    std::unordered_map<uint32_t, uintptr_t> t;
    StdMap(uint32_t buckets, uint32_t n) {
        t.max_load_factor(static_cast<float>(n) / static_cast<float>(buckets) * 1.01f);
        t.rehash(buckets);
    }
    void clear() { t.clear(); } // keeps the buckets
    void put(uint32_t k, uintptr_t v) { t.insert_or_assign(k, v); }
    uintptr_t get(uint32_t k) {
        auto it = t.find(k);
        return it == t.end() ? 0 : it->second;
    }
    uintptr_t rem(uint32_t k) {
        auto it = t.find(k);
        if (it == t.end()) return 0;
        const uintptr_t v = it->second;
        t.erase(it);
        return v;
    }
};

struct AbslMap {
    absl::flat_hash_map<uint32_t, uintptr_t> t;
    uint32_t n;
    AbslMap(uint32_t, uint32_t entries) : n(entries) { t.reserve(n); }
    void clear() {
        t.clear();
        t.reserve(n);
    }
    void put(uint32_t k, uintptr_t v) { t.insert_or_assign(k, v); }
    uintptr_t get(uint32_t k) {
        auto it = t.find(k);
        return it == t.end() ? 0 : it->second;
    }
    uintptr_t rem(uint32_t k) {
        auto it = t.find(k);
        if (it == t.end()) return 0;
        const uintptr_t v = it->second;
        t.erase(it);
        return v;
    }
};

struct Setup {
    uint32_t n;
    uint32_t buckets;
    std::vector<uint32_t> keys;
};

// Every key reads back its value and removes with it.
template <typename C>
bool check(const Setup &s) {
    C c(s.buckets, s.n);
    for (uint32_t k : s.keys) c.put(k, value_of(k));
    for (uint32_t k : s.keys) {
        if (c.get(k) != value_of(k)) return false;
    }
    for (uint32_t k : s.keys) {
        if (c.rem(k) != value_of(k)) return false;
    }
    return c.get(s.keys.front()) == 0;
}

template <typename C>
void put(benchmark::State &state, const Setup &s) {
    if (!check<C>(s)) return state.SkipWithError("wrong results");
    C c(s.buckets, s.n);
    for (auto _ : state) {
        for (uint32_t k : s.keys) c.put(k, value_of(k));
        state.PauseTiming();
        c.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * s.n);
}

template <typename C>
void get(benchmark::State &state, const Setup &s) {
    if (!check<C>(s)) return state.SkipWithError("wrong results");
    C c(s.buckets, s.n);
    for (uint32_t k : s.keys) c.put(k, value_of(k));
    for (auto _ : state) {
        for (uint32_t k : s.keys) benchmark::DoNotOptimize(c.get(k));
    }
    state.SetItemsProcessed(state.iterations() * s.n);
}

template <typename C>
void rem(benchmark::State &state, const Setup &s) {
    if (!check<C>(s)) return state.SkipWithError("wrong results");
    C c(s.buckets, s.n);
    for (auto _ : state) {
        state.PauseTiming();
        for (uint32_t k : s.keys) c.put(k, value_of(k));
        state.ResumeTiming();
        for (uint32_t k : s.keys) benchmark::DoNotOptimize(c.rem(k));
    }
    state.SetItemsProcessed(state.iterations() * s.n);
}

template <typename C>
void add_all(const std::string &name, const std::string &impl, const Setup &s) {
    peers::add("hash/put/" + name, impl, [s](benchmark::State &st) { put<C>(st, s); });
    peers::add("hash/get/" + name, impl, [s](benchmark::State &st) { get<C>(st, s); });
    peers::add("hash/rem/" + name, impl, [s](benchmark::State &st) { rem<C>(st, s); });
}

const bool registered = [] {
    struct Load {
        const char *name;
        double factor;
    };
    for (const Load lf : {Load{"lf0.5", 0.5}, Load{"lf1", 1.0}, Load{"lf4", 4.0}}) {
        for (const bool dense : {true, false}) {
            for (const uint32_t n : {4096u, 65536u}) {
                Setup s{n, static_cast<uint32_t>(std::lround(n / lf.factor)), make_keys(n, dense)};
                const std::string name =
                    std::string(lf.name) + "/" + (dense ? "dense" : "random") + "/" + std::to_string(n);
                add_all<Vek>(name, "vek", s);
                add_all<StdMap>(name, "std_unordered_map", s);
                add_all<AbslMap>(name, "absl_flat_hash_map", s);
            }
        }
    }
    return true;
}();

} // namespace
