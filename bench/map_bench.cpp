// Map encoding and decoding throughput: a configuration tree of about
// 10,000 entries (nested, mixed types) and a single 10 MB byte block; and a
// key-path get with a selector in that tree.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <vek/vekcommon.h>

namespace {

// 20 ports, each with 3 leaves and 11 queue maps of 45 leaves: 10,200 entries.
vek_map_t *config_tree(int *entries) {
    vek_map_t *root = nullptr;
    vek_map_create(&root);
    int n = 0;
    for (int p = 0; p < 20; ++p) {
        vek_map_t *port = nullptr;
        vek_map_create(&port);
        vek_map_set_i32_ll(port, "id", p, 0);
        vek_map_set_str_ll(port, "name", vek_map_strdup(("eth" + std::to_string(p)).c_str()), 0);
        vek_map_set_bool_ll(port, "enabled", 1, 0);
        n += 3;
        for (int q = 0; q < 11; ++q) {
            vek_map_t *queue = nullptr;
            vek_map_create(&queue);
            for (int k = 0; k < 5; ++k) {
                vek_map_set_u32_ll(queue, "weight", static_cast<uint32_t>(q * 10 + k), 0);
                vek_map_set_u64_ll(queue, "bytes", 0x100000000ull * k, 0);
                vek_map_set_i64_ll(queue, "delta", -k, 0);
                vek_map_set_float_ll(queue, "ratio", 0.25f * static_cast<float>(k), 0);
                vek_map_set_double_ll(queue, "rate", 1e9 / (k + 1), 0);
                vek_map_set_str_ll(queue, "policy", vek_map_strdup("weighted-round-robin"), 0);
                void *blob = vek_map_malloc(16);
                std::memset(blob, k, 16);
                vek_map_set_bin_ll(queue, "mask", blob, 16, 0);
                vek_map_set_bool_ll(queue, "shaped", static_cast<uint8_t>(k & 1), 0);
                vek_map_set_i32_ll(queue, "prio", k, 0);
                n += 9;
            }
            vek_map_set_map_ll(port, "queue", queue, 0);
            ++n;
        }
        vek_map_set_map_ll(root, "port", port, 0);
        ++n;
    }
    *entries = n;
    return root;
}

vek_map_t *blob_map(size_t size) {
    vek_map_t *root = nullptr;
    vek_map_create(&root);
    void *blob = vek_map_malloc(size);
    std::memset(blob, 0x5A, size);
    vek_map_set_bin_ll(root, "image", blob, static_cast<uint32_t>(size), 0);
    return root;
}

void run_encode(benchmark::State &state, vek_map_t *map, int entries) {
    int32_t len = 0;
    for (auto _ : state) {
        void *buf = nullptr;
        if (vek_map_encode(map, &buf, &len) != VEK_ST_SUCCESS) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(buf);
        vek_map_free(buf);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
    state.counters["entries"] = entries;
    state.counters["stream_bytes"] = len;
}

void run_decode(benchmark::State &state, vek_map_t *map, int entries) {
    void *buf = nullptr;
    int32_t len = 0;
    vek_map_encode(map, &buf, &len);
    for (auto _ : state) {
        vek_map_t *out = nullptr;
        vek_map_create(&out);
        if (vek_map_decode(out, buf, len) != VEK_ST_SUCCESS) state.SkipWithError("decode failed");
        state.PauseTiming();
        vek_map_destroy(out);
        state.ResumeTiming();
    }
    vek_map_free(buf);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
    state.counters["entries"] = entries;
    state.counters["stream_bytes"] = len;
}

void BM_EncodeConfigTree(benchmark::State &state) {
    int entries = 0;
    vek_map_t *map = config_tree(&entries);
    run_encode(state, map, entries);
    vek_map_destroy(map);
}

void BM_DecodeConfigTree(benchmark::State &state) {
    int entries = 0;
    vek_map_t *map = config_tree(&entries);
    run_decode(state, map, entries);
    vek_map_destroy(map);
}

void BM_CopyConfigTree(benchmark::State &state) {
    int entries = 0;
    vek_map_t *map = config_tree(&entries);
    for (auto _ : state) {
        vek_map_t *out = nullptr;
        vek_map_create(&out);
        if (vek_map_copy(map, out) != VEK_ST_SUCCESS) state.SkipWithError("copy failed");
        state.PauseTiming();
        vek_map_destroy(out);
        state.ResumeTiming();
    }
    state.counters["entries"] = entries;
    vek_map_destroy(map);
}

// A key-path get through a selector: the 18th port of the tree.
void BM_KeyPathGet(benchmark::State &state) {
    int entries = 0;
    vek_map_t *map = config_tree(&entries);
    uint8_t enabled = 0;
    for (auto _ : state) {
        if (vek_map_get_bool(map, "port[id=17].enabled", &enabled) != VEK_ST_SUCCESS) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(enabled);
    }
    state.counters["entries"] = entries;
    vek_map_destroy(map);
}

constexpr size_t kBlob = 10u * 1024u * 1024u;

void BM_EncodeByteBlock10MB(benchmark::State &state) {
    vek_map_t *map = blob_map(kBlob);
    run_encode(state, map, 1);
    vek_map_destroy(map);
}

void BM_DecodeByteBlock10MB(benchmark::State &state) {
    vek_map_t *map = blob_map(kBlob);
    run_decode(state, map, 1);
    vek_map_destroy(map);
}

} // namespace

BENCHMARK(BM_EncodeConfigTree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeConfigTree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyConfigTree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyPathGet)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_EncodeByteBlock10MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeByteBlock10MB)->Unit(benchmark::kMillisecond);
