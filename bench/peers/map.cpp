// The map's encoding against msgpack-c and libcbor on the same data: a tree
// of about 10,000 entries (nesting, every type, repeated keys) and a single
// 10 MB byte block; encode, decode into a fresh object and release it,
// copy, and one key-path get. Cases are named peers/<case>/<library>; the
// stream sizes of each library are counters.
//
// msgpack packs by walking the same vek_map tree (so the two encoders do
// the same walk and differ only in how they write); libcbor serialises an
// item tree built from it once. Decoding: vek_map_decode into a new map,
// then vek_map_destroy; cbor_load, then cbor_decref; msgpack_unpack into a
// zone, then the zone's release.
#include <cstdint>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>
#include <cbor.h>
#include <msgpack.h>

#include <vek/vekcommon.h>

namespace {

// 20 ports, each with an id, a name, a flag and 11 queue maps of 45 leaves
// (every value type): 10,200 entries.
vek_map_t *config_tree() {
    vek_map_t *root = nullptr;
    vek_map_create(&root);
    for (int p = 0; p < 20; ++p) {
        vek_map_t *port = nullptr;
        vek_map_create(&port);
        vek_map_set_i32_ll(port, "id", p, 0);
        const std::string name = "eth" + std::to_string(p);
        vek_map_set_str_ll(port, "name", vek_map_strdup(name.c_str()), 0);
        vek_map_set_bool_ll(port, "enabled", 1, 0);
        for (int q = 0; q < 11; ++q) {
            vek_map_t *queue = nullptr;
            vek_map_create(&queue);
            for (int k = 0; k < 5; ++k) {
                vek_map_set_u32_ll(queue, "weight", static_cast<uint32_t>(q * 10 + k), 0);
                vek_map_set_u64_ll(queue, "bytes", 0x100000000ull * static_cast<uint64_t>(k), 0);
                vek_map_set_i64_ll(queue, "delta", -k, 0);
                vek_map_set_float_ll(queue, "ratio", 0.25f * static_cast<float>(k), 0);
                vek_map_set_double_ll(queue, "rate", 1e9 / (k + 1), 0);
                vek_map_set_str_ll(queue, "policy", vek_map_strdup("weighted-round-robin"), 0);
                void *blob = vek_map_malloc(16);
                std::memset(blob, k, 16);
                vek_map_set_bin_ll(queue, "mask", blob, 16, 0);
                vek_map_set_bool_ll(queue, "shaped", static_cast<uint8_t>(k & 1), 0);
                vek_map_set_i32_ll(queue, "prio", k, 0);
            }
            vek_map_set_map_ll(port, "queue", queue, 0);
        }
        vek_map_set_map_ll(root, "port", port, 0);
    }
    return root;
}

constexpr size_t kBlob = 10u * 1024u * 1024u;

vek_map_t *blob_map() {
    vek_map_t *root = nullptr;
    vek_map_create(&root);
    void *blob = vek_map_malloc(kBlob);
    std::memset(blob, 0x5A, kBlob);
    vek_map_set_bin_ll(root, "image", blob, static_cast<uint32_t>(kBlob), 0);
    return root;
}

int count_entries(const vek_map_t *m) {
    int n = m->count;
    for (int32_t i = 0; i < m->count; ++i) {
        if (m->values[i] != nullptr && m->values[i]->type == VEK_MAP_TYPE_MAP)
            n += count_entries(m->values[i]->payload.map);
    }
    return n;
}

// ---- msgpack: packing the vek tree ---------------------------------------

void pack_map(msgpack_packer *pk, const vek_map_t *m) {
    msgpack_pack_map(pk, static_cast<size_t>(m->count));
    for (int32_t i = 0; i < m->count; ++i) {
        const size_t klen = std::strlen(m->keys[i]);
        msgpack_pack_str(pk, klen);
        msgpack_pack_str_body(pk, m->keys[i], klen);
        const vek_map_value_t *v = m->values[i];
        const vek_map_payload_t &p = v->payload;
        switch (v->type) {
        case VEK_MAP_TYPE_I32: msgpack_pack_int32(pk, p.i32); break;
        case VEK_MAP_TYPE_U32: msgpack_pack_uint32(pk, p.u32); break;
        case VEK_MAP_TYPE_I64: msgpack_pack_int64(pk, p.i64); break;
        case VEK_MAP_TYPE_U64: msgpack_pack_uint64(pk, p.u64); break;
        case VEK_MAP_TYPE_FLOAT: msgpack_pack_float(pk, p.f32); break;
        case VEK_MAP_TYPE_DOUBLE: msgpack_pack_double(pk, p.f64); break;
        case VEK_MAP_TYPE_BOOL:
            if (p.boolean != 0) {
                msgpack_pack_true(pk);
            } else {
                msgpack_pack_false(pk);
            }
            break;
        case VEK_MAP_TYPE_STR: {
            const size_t n = std::strlen(p.str);
            msgpack_pack_str(pk, n);
            msgpack_pack_str_body(pk, p.str, n);
            break;
        }
        case VEK_MAP_TYPE_BIN:
            msgpack_pack_bin(pk, p.bin.len);
            msgpack_pack_bin_body(pk, p.bin.data, p.bin.len);
            break;
        case VEK_MAP_TYPE_MAP: pack_map(pk, p.map); break;
        default: msgpack_pack_nil(pk); break;
        }
    }
}

// ---- cbor: an item tree built from the vek tree ---------------------------

cbor_item_t *to_cbor(const vek_map_t *m) {
    cbor_item_t *map = cbor_new_definite_map(static_cast<size_t>(m->count));
    for (int32_t i = 0; i < m->count; ++i) {
        const vek_map_value_t *v = m->values[i];
        const vek_map_payload_t &p = v->payload;
        cbor_item_t *value = nullptr;
        switch (v->type) {
        case VEK_MAP_TYPE_I32:
            value = p.i32 < 0 ? cbor_build_negint32(static_cast<uint32_t>(-1 - p.i32))
                              : cbor_build_uint32(static_cast<uint32_t>(p.i32));
            break;
        case VEK_MAP_TYPE_U32: value = cbor_build_uint32(p.u32); break;
        case VEK_MAP_TYPE_I64:
            value = p.i64 < 0 ? cbor_build_negint64(static_cast<uint64_t>(-1 - p.i64))
                              : cbor_build_uint64(static_cast<uint64_t>(p.i64));
            break;
        case VEK_MAP_TYPE_U64: value = cbor_build_uint64(p.u64); break;
        case VEK_MAP_TYPE_FLOAT: value = cbor_build_float4(p.f32); break;
        case VEK_MAP_TYPE_DOUBLE: value = cbor_build_float8(p.f64); break;
        case VEK_MAP_TYPE_BOOL: value = cbor_build_bool(p.boolean != 0); break;
        case VEK_MAP_TYPE_STR: value = cbor_build_string(p.str); break;
        case VEK_MAP_TYPE_BIN: value = cbor_build_bytestring(static_cast<cbor_data>(p.bin.data), p.bin.len); break;
        case VEK_MAP_TYPE_MAP: value = to_cbor(p.map); break;
        default: value = cbor_new_null(); break;
        }
        cbor_map_add(map, cbor_pair{cbor_move(cbor_build_string(m->keys[i])), cbor_move(value)});
    }
    return map;
}

// ---- the data of one run ---------------------------------------------------

struct Data {
    vek_map_t *map = nullptr;
    int entries = 0;
    void *vek_buf = nullptr;
    int32_t vek_len = 0;
    cbor_item_t *cbor = nullptr;
    unsigned char *cbor_buf = nullptr;
    size_t cbor_len = 0;
    msgpack_sbuffer mp{};

    explicit Data(vek_map_t *m) : map(m), entries(count_entries(m)) {
        vek_map_encode(map, &vek_buf, &vek_len);
        cbor = to_cbor(map);
        size_t cap = 0;
        cbor_len = cbor_serialize_alloc(cbor, &cbor_buf, &cap);
        msgpack_sbuffer_init(&mp);
        msgpack_packer pk;
        msgpack_packer_init(&pk, &mp, msgpack_sbuffer_write);
        pack_map(&pk, map);
    }
    ~Data() {
        vek_map_destroy(map);
        vek_map_free(vek_buf);
        cbor_decref(&cbor);
        free(cbor_buf);
        msgpack_sbuffer_destroy(&mp);
    }
    Data(const Data &) = delete;
    Data &operator=(const Data &) = delete;

    void counters(benchmark::State &state, double stream) const {
        state.counters["entries"] = entries;
        state.counters["stream_bytes"] = stream;
    }
};

Data &tree() {
    static Data d(config_tree());
    return d;
}

Data &blob() {
    static Data d(blob_map());
    return d;
}

// ---- encode ---------------------------------------------------------------

void encode_vek(benchmark::State &state, Data &d) {
    int32_t len = 0;
    for (auto _ : state) {
        void *buf = nullptr;
        if (vek_map_encode(d.map, &buf, &len) != VEK_ST_SUCCESS) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(buf);
        vek_map_free(buf);
    }
    d.counters(state, len);
}

void encode_msgpack(benchmark::State &state, Data &d) {
    size_t len = 0;
    for (auto _ : state) {
        msgpack_sbuffer sb;
        msgpack_sbuffer_init(&sb);
        msgpack_packer pk;
        msgpack_packer_init(&pk, &sb, msgpack_sbuffer_write);
        pack_map(&pk, d.map);
        benchmark::DoNotOptimize(sb.data);
        len = sb.size;
        msgpack_sbuffer_destroy(&sb);
    }
    d.counters(state, static_cast<double>(len));
}

void encode_cbor(benchmark::State &state, Data &d) {
    size_t len = 0;
    for (auto _ : state) {
        unsigned char *buf = nullptr;
        size_t cap = 0;
        len = cbor_serialize_alloc(d.cbor, &buf, &cap);
        benchmark::DoNotOptimize(buf);
        free(buf);
    }
    d.counters(state, static_cast<double>(len));
}

// ---- decode into a fresh object, then release it --------------------------

void decode_vek(benchmark::State &state, Data &d) {
    for (auto _ : state) {
        vek_map_t *out = nullptr;
        vek_map_create(&out);
        if (vek_map_decode(out, d.vek_buf, d.vek_len) != VEK_ST_SUCCESS) state.SkipWithError("decode failed");
        vek_map_destroy(out);
    }
    d.counters(state, d.vek_len);
}

void decode_msgpack(benchmark::State &state, Data &d) {
    for (auto _ : state) {
        msgpack_zone zone;
        msgpack_zone_init(&zone, 8192);
        msgpack_object obj;
        if (msgpack_unpack(d.mp.data, d.mp.size, nullptr, &zone, &obj) != MSGPACK_UNPACK_SUCCESS) {
            state.SkipWithError("unpack failed");
        }
        benchmark::DoNotOptimize(obj);
        msgpack_zone_destroy(&zone);
    }
    d.counters(state, static_cast<double>(d.mp.size));
}

void decode_cbor(benchmark::State &state, Data &d) {
    for (auto _ : state) {
        cbor_load_result res;
        cbor_item_t *item = cbor_load(d.cbor_buf, d.cbor_len, &res);
        if (item == nullptr) state.SkipWithError("cbor_load failed");
        cbor_decref(&item);
    }
    d.counters(state, static_cast<double>(d.cbor_len));
}

// ---- copy -----------------------------------------------------------------

void copy_vek(benchmark::State &state, Data &d) {
    for (auto _ : state) {
        vek_map_t *out = nullptr;
        vek_map_create(&out);
        if (vek_map_copy(d.map, out) != VEK_ST_SUCCESS) state.SkipWithError("copy failed");
        vek_map_destroy(out);
    }
    d.counters(state, d.vek_len);
}

void copy_cbor(benchmark::State &state, Data &d) {
    for (auto _ : state) {
        cbor_item_t *item = cbor_copy(d.cbor);
        benchmark::DoNotOptimize(item);
        cbor_decref(&item);
    }
    d.counters(state, static_cast<double>(d.cbor_len));
}

// ---- key-path get: port[id=17].enabled ------------------------------------

constexpr int kPort = 17;

void get_vek(benchmark::State &state, Data &d) {
    uint8_t v = 0;
    for (auto _ : state) {
        if (vek_map_get_bool(d.map, "port[id=17].enabled", &v) != VEK_ST_SUCCESS) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(v);
    }
    d.counters(state, d.vek_len);
}

bool cbor_key_is(const cbor_item_t *key, const char *text) {
    const size_t n = std::strlen(text);
    return cbor_isa_string(key) && cbor_string_length(key) == n && std::memcmp(cbor_string_handle(key), text, n) == 0;
}

const cbor_item_t *cbor_find(const cbor_item_t *map, const char *key) {
    const size_t n = cbor_map_size(map);
    const cbor_pair *pairs = cbor_map_handle(map);
    for (size_t i = 0; i < n; ++i) {
        if (cbor_key_is(pairs[i].key, key)) return pairs[i].value;
    }
    return nullptr;
}

void get_cbor(benchmark::State &state, Data &d) {
    for (auto _ : state) {
        const cbor_item_t *found = nullptr;
        const size_t n = cbor_map_size(d.cbor);
        const cbor_pair *pairs = cbor_map_handle(d.cbor);
        for (size_t i = 0; i < n && found == nullptr; ++i) {
            if (!cbor_key_is(pairs[i].key, "port") || !cbor_isa_map(pairs[i].value)) continue;
            const cbor_item_t *id = cbor_find(pairs[i].value, "id");
            if (id != nullptr && cbor_isa_uint(id) && cbor_get_int(id) == kPort) {
                found = cbor_find(pairs[i].value, "enabled");
            }
        }
        if (found == nullptr) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(cbor_get_bool(found));
    }
    d.counters(state, static_cast<double>(d.cbor_len));
}

bool mp_key_is(const msgpack_object &key, const char *text) {
    const size_t n = std::strlen(text);
    return key.type == MSGPACK_OBJECT_STR && key.via.str.size == n && std::memcmp(key.via.str.ptr, text, n) == 0;
}

const msgpack_object *mp_find(const msgpack_object &map, const char *key) {
    for (uint32_t i = 0; i < map.via.map.size; ++i) {
        if (mp_key_is(map.via.map.ptr[i].key, key)) return &map.via.map.ptr[i].val;
    }
    return nullptr;
}

void get_msgpack(benchmark::State &state, Data &d) {
    msgpack_zone zone;
    msgpack_zone_init(&zone, 8192);
    msgpack_object root;
    msgpack_unpack(d.mp.data, d.mp.size, nullptr, &zone, &root);
    for (auto _ : state) {
        const msgpack_object *found = nullptr;
        for (uint32_t i = 0; i < root.via.map.size && found == nullptr; ++i) {
            const msgpack_object_kv &kv = root.via.map.ptr[i];
            if (!mp_key_is(kv.key, "port") || kv.val.type != MSGPACK_OBJECT_MAP) continue;
            const msgpack_object *id = mp_find(kv.val, "id");
            if (id != nullptr && id->type == MSGPACK_OBJECT_POSITIVE_INTEGER && id->via.u64 == kPort) {
                found = mp_find(kv.val, "enabled");
            }
        }
        if (found == nullptr) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(found->via.boolean);
    }
    msgpack_zone_destroy(&zone);
    d.counters(state, static_cast<double>(d.mp.size));
}

template <void (*Fn)(benchmark::State &, Data &), Data &(*Which)()>
void run(benchmark::State &state) {
    Fn(state, Which());
}

} // namespace

BENCHMARK(run<encode_vek, tree>)->Name("peers/map_encode_tree/vek")->Unit(benchmark::kMicrosecond);
BENCHMARK(run<encode_msgpack, tree>)->Name("peers/map_encode_tree/msgpack")->Unit(benchmark::kMicrosecond);
BENCHMARK(run<encode_cbor, tree>)->Name("peers/map_encode_tree/cbor")->Unit(benchmark::kMicrosecond);
BENCHMARK(run<decode_vek, tree>)->Name("peers/map_decode_tree/vek")->Unit(benchmark::kMicrosecond);
BENCHMARK(run<decode_msgpack, tree>)->Name("peers/map_decode_tree/msgpack")->Unit(benchmark::kMicrosecond);
BENCHMARK(run<decode_cbor, tree>)->Name("peers/map_decode_tree/cbor")->Unit(benchmark::kMicrosecond);
BENCHMARK(run<copy_vek, tree>)->Name("peers/map_copy_tree/vek")->Unit(benchmark::kMicrosecond);
BENCHMARK(run<copy_cbor, tree>)->Name("peers/map_copy_tree/cbor")->Unit(benchmark::kMicrosecond);
BENCHMARK(run<get_vek, tree>)->Name("peers/map_path_get/vek")->Unit(benchmark::kNanosecond);
BENCHMARK(run<get_msgpack, tree>)->Name("peers/map_path_get/msgpack")->Unit(benchmark::kNanosecond);
BENCHMARK(run<get_cbor, tree>)->Name("peers/map_path_get/cbor")->Unit(benchmark::kNanosecond);
BENCHMARK(run<encode_vek, blob>)->Name("peers/map_encode_blob10MB/vek")->Unit(benchmark::kMillisecond);
BENCHMARK(run<encode_msgpack, blob>)->Name("peers/map_encode_blob10MB/msgpack")->Unit(benchmark::kMillisecond);
BENCHMARK(run<encode_cbor, blob>)->Name("peers/map_encode_blob10MB/cbor")->Unit(benchmark::kMillisecond);
BENCHMARK(run<decode_vek, blob>)->Name("peers/map_decode_blob10MB/vek")->Unit(benchmark::kMillisecond);
BENCHMARK(run<decode_msgpack, blob>)->Name("peers/map_decode_blob10MB/msgpack")->Unit(benchmark::kMillisecond);
BENCHMARK(run<decode_cbor, blob>)->Name("peers/map_decode_blob10MB/cbor")->Unit(benchmark::kMillisecond);
