// Writes the seed corpora of the fuzz targets into <dir>/<target>/: map
// streams encoded by the library itself, and short operation sequences in
// each target's input format.
//   fuzz_make_corpus fuzz/corpus
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <vek/vekcommon.h>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

fs::path g_root;

void put(const std::string &target, const std::string &name, const Bytes &b) {
    const fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes bytes(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x));
    return b;
}

Bytes text(const Bytes &head, const std::string &s) {
    Bytes b = head;
    b.insert(b.end(), s.begin(), s.end());
    return b;
}

Bytes encode(vek_map_t *m) {
    void *buf = nullptr;
    int32_t len = 0;
    if (vek_map_encode(m, &buf, &len) != VEK_ST_SUCCESS) std::abort();
    Bytes b(static_cast<uint8_t *>(buf), static_cast<uint8_t *>(buf) + len);
    vek_map_free(buf);
    return b;
}

void map_seeds() {
    std::vector<std::pair<std::string, Bytes>> streams;
    vek_map_t *m = nullptr;

    vek_map_create(&m);
    streams.emplace_back("empty", encode(m));
    vek_map_set_i32_ll(m, "k", -2, 1);
    streams.emplace_back("k_i32", encode(m));
    vek_map_destroy(m);

    vek_map_create(&m);
    vek_map_set_u32_ll(m, "u32", 4294967295u, 1);
    vek_map_set_i64_ll(m, "i64", -5000000000LL, 1);
    vek_map_set_u64_ll(m, "u64", 18000000000000000000ULL, 1);
    vek_map_set_float_ll(m, "float", 1.5f, 1);
    vek_map_set_double_ll(m, "double", -1e300, 1);
    vek_map_set_bool_ll(m, "bool", 1, 1);
    vek_map_set_str_ll(m, "str", vek_map_strdup("eth0"), 1);
    void *bin = vek_map_malloc(5);
    std::memcpy(bin, "\x01\x02\x03\x04\x05", 5);
    vek_map_set_bin_ll(m, "bin", bin, 5, 1);
    vek_map_set_str_ll(m, "empty", vek_map_strdup(""), 1);
    streams.emplace_back("all_types", encode(m));
    vek_map_destroy(m);

    vek_map_create(&m);
    vek_map_set_i32_ll(m, "mtu", 1500, 1);
    vek_map_set_i32_ll(m, "port.id", 3, 0);
    vek_map_set_str_ll(m, "port.name", vek_map_strdup("eth0"), 1);
    vek_map_set_i32_ll(m, "port.id", 4, 0);
    vek_map_set_u32_ll(m, "a.b.c.d", 7, 1);
    vek_map_set_i32_ll(m, "RX", 1, 0);
    vek_map_set_i32_ll(m, "rx", 2, 0);
    vek_map_set_i32_ll(m, "port[id=3]", 9, 0);
    streams.emplace_back("nested", encode(m));
    vek_map_destroy(m);

    // Hand-made streams the library never writes: a dotted key, an unknown
    // type, a bool word 2, a float with exponent 255, a negative count.
    streams.emplace_back("dotted_key", bytes({0, 0, 0, 1, 0, 0, 0, 3, 'a', '.', 'b', 0, 0, 0, 4, 0, 0, 0, 1}));
    streams.emplace_back("unknown_type",
                         bytes({0, 0, 0, 2, 0, 0, 0, 1, 'x', 0, 0, 0, 99, 0, 0, 0, 1, 'y', 0, 0, 0, 7, 0, 0, 0, 2}));
    streams.emplace_back("float_inf", bytes({0, 0, 0, 1, 0, 0, 0, 1, 'f', 0, 0, 0, 6, 0x7F, 0x80, 0, 1}));
    streams.emplace_back("negative_count", bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    streams.emplace_back("huge_length", bytes({0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 'k'}));

    for (const auto &[name, s] : streams) {
        for (const char *target : {"map_decode", "map_decode_trace"}) {
            put(target, name, text(bytes({0, 0}), std::string(s.begin(), s.end())));
        }
    }
    // The same with an allocation failing, and with an odd reader result.
    const Bytes &nested = streams[3].second;
    for (const char *target : {"map_decode", "map_decode_trace"}) {
        put(target, "nested_fail5", text(bytes({5, 0}), std::string(nested.begin(), nested.end())));
        put(target, "nested_odd_read4", text(bytes({0, 4}), std::string(nested.begin(), nested.end())));
    }
}

void path_seeds() {
    // op, shape, components..., operands
    put("map_path", "sets", bytes({0x80, 1, 0,    2, 1, 0, 0, 0, // set i32 a.b (check)
                                   0x81, 0, 3,    9, 0, 0, 0,    // set u32 port
                                   0x87, 1, 3,    5, 1,          // set str port.name
                                   0x89, 0, 3,    3,             // set map port {id, ID}
                                   0x0B, 1, 0x83, 6, 0,          // get port[id=1].name (i32 getter)
                                   0x16, 0, 0,                   // queries
                                   0x0E, 0, 3,                   // delete port
                                   0x11, 0, 0,                   // copy
                                   0xF2, 0, 0}));                // clear
    put("map_path", "failures",
        bytes({0x13, 0, 0,    2, // next op: 2nd allocation fails
               0x80, 2, 0,    1, 2, 1, 0,    0, 0, 0x13, 0, 0,    1, 0x87, 0,
               4,    0, 0x13, 0, 0, 3, 0x89, 1, 3, 0,    1, 0x8A, 0, 5,    0, // set_value with a null node
               0x8A, 0, 6,    3}));
    put("map_path", "types",
        bytes({0x82, 0, 1,    1, 2,    3, 4, 5,    6,    7,    8, 0x83, 0,    2, 8, 7, 6,    5, 4,    3,
               2,    1, 0x84, 0, 6,    0, 0, 0xC0, 0x3F, 0x85, 0, 7,    0,    0, 0, 0, 0,    0, 0xF8, 0x3F,
               0x86, 0, 0,    1, 0x88, 0, 1, 7,    0x0C, 0,    1, 9,    0x0D, 0, 0, 6, 0x0B, 0, 2,    10}));
}

void strlist_seeds() {
    const Bytes i32 = bytes({1, 0, 0, 0, 0});
    put("strlist", "ints", text(i32, "3, 1, 2"));
    put("strlist", "range", text(i32, "1-3,2"));
    put("strlist", "blank_in_number", text(i32, "4,1 0"));
    put("strlist", "bad_range", text(i32, "1-2-3"));
    put("strlist", "colon_range", text(bytes({1, 0, 1, 0, 0}), "-3:-1"));
    put("strlist", "top", text(i32, "2147483646-2147483647"));
    put("strlist", "i64", text(bytes({2, 0, 0, 0, 0}), "5000000000, -7"));
    put("strlist", "strings", text(bytes({0, 0, 0, 0, 0}), "b,a, c d"));
    put("strlist", "strings_desc", text(bytes({0, 0, 0, 1, 0}), "b,a,c,a-b"));
    put("strlist", "custom", text(bytes({3, 0, 0, 0, 0}), "x1,!null,y2"));
    put("strlist", "custom_cmp", text(bytes({3, 0, 0, 1, 0}), "x1,y2,z3"));
    put("strlist", "wrong_conv", text(bytes({1, 0, 0, 6, 0}), "1,2"));
    put("strlist", "fail3", text(bytes({1, 0, 0, 0, 3}), "5-9"));
    put("strlist", "long_item", text(bytes({0, 0, 0, 0, 0}), std::string(256, 'x')));
    put("strlist", "other_type", text(bytes({6, 2, 0, 0, 0}), "1;2;3"));
}

void getopt_seeds() {
    const std::string os = "ab:c";
    auto seed = [&](const char *name, uint8_t flags, const std::string &opts, const std::string &cmd) {
        Bytes b = bytes({flags, static_cast<int>(opts.size())});
        b.insert(b.end(), opts.begin(), opts.end());
        b.push_back(0);
        b.insert(b.end(), cmd.begin(), cmd.end());
        put("getopt_crt", name, b);
    };
    seed("a_c_file", 0, os, "-a -c file");
    seed("ac", 0, os, "-ac");
    seed("bvalue", 0, os, "-bvalue");
    seed("b_value_a", 0, os, "-b value -a");
    seed("dashdash", 0, os, "-a -- -c");
    seed("unknown", 0, os, "-xa -c");
    seed("missing", 0, os, "-a -b");
    seed("colon", 0, os, "-:");
    seed("opterr0", 1, os, "-x -b");
    seed("blanks", 0, os, "  ls  -l \n");
    seed("tab", 0, os, "a\tb");
    seed("null_text", 2, os, "");
    seed("no_memory", 4, os, "-a");
    std::string many;
    for (int i = 0; i < 40; ++i) many += "-a ";
    seed("many_words", 0, os, many);
}

void rsrc_seeds() {
    // init; create kind 0 "rx" 10 ids at 100; allocate 3, 3; free; fixed; isset; query; dump; list
    put("rsrc", "basic",
        bytes({0x00, 0, 0x02, 0x00, 10, 100, 0,    0, 0x06, 0,    3, 0x06, 0, 3,    0x09, 0,    3,    3,    0x06,
               0,    4, 0x08, 0,    2,  12,  0x0B, 0, 5,    0x0C, 0, 0x0D, 8, 0x0E, 0x05, 0x00, 0x04, 0x00, 0x01}));
    put("rsrc", "limits", bytes({0x00, 0,    0x80, 0, 0x02, 0x10, 64, 0,    0,    1,    0x02, 0x15, 64, 0, 0,
                                 1,    0x02, 0x20, 5, 0,    0,    2,  0x02, 0x30, 0x85, 0,    0,    0, // read-only
                                 0x02, 0x40, 0,    0, 0,    0,                                         // no identifiers
                                 0x02, 0x08, 3,    0, 0,    0,                                         // kind 8
                                 0x04, 0x80, 0x04, 0, 0x06, 1,    1,  0x0B, 1,    3}));
    put("rsrc", "failures", bytes({0x00, 1,    0x00, 0,    0x02, 0x00, 10, 0,    0,    0x07, 0x02, 0x00, 10, 0,
                                   0,    0x0B, 0x02, 0x00, 10,   0,    0,  0x0F, 0x02, 0x00, 10,   0,    0,  0x13}));
}

void container_seeds() {
    put("containers", "bitmap",
        bytes({0, 40,   0, 0x00, 5, 0,  0, 0x00, 5,    0, 0, 0x02, 4, 36,   0, 0x02, 5, 36,   0, 0x03, 3, 2,  0, 0x06,
               0, 7,    0, 0x07, 0, 40, 0, 0x08, 0,    3, 0, 0x04, 3, 0,    0, 0x05, 1, 7,    0, 0x09, 2, 10, 0, 30,
               0, 0x0A, 2, 0,    0, 8,  1, 5,    0x0B, 3, 0, 0,    4, 0x0C, 0, 0,    1, 0x0D, 0, 0}));
    put("containers", "dpt", bytes({1,    4, 10,   0x00, 0,    5, 0x00, 1,    6, 0x00, 2, 7,    0x00, 3, 8,    0x04, 0,
                                    0x03, 2, 0x04, 0,    0x05, 0, 9,    0x80, 3, 0x02, 3, 0x10, 8,    4, 0x06, 0}));
    put("containers", "hash", bytes({2, 4,    0x00, 1,    10, 0x00, 5,  11, 0x00, 9, 12,   0x02, 9, 0x04,
                                     5, 0x05, 0,    0x06, 0,  0x10, 13, 1,  0x04, 1, 0x10, 13,   1}));
    put("containers", "sorted_set", bytes({3, 1,    0, 0x00, 5, 1,    0x00, 3, 2,    0x00, 9,    3, 0x10, 1,
                                           4, 0x02, 3, 0x04, 1, 0x05, 2,    7, 0x06, 2,    0x03, 5, 0x06, 0}));
}

// Robust heap: area size selector (2 bytes), then operations (see
// fuzz/robust_heap.cpp): 0 alloc, 1 release, 2 word overwrite, 3 byte
// overwrite, 4 mend, 5 release of no block.
void robust_heap_seeds() {
    put("robust_heap", "alloc_release",
        bytes({3, 0, 0, 100, 0, 0, 0, 0x10, 0, 0x00, 0x81, 0, 16, 0, 1, 0, 1, 1, 5, 7, 1, 0, 4}));
    put("robust_heap", "many_small", bytes({1, 1, 0, 16, 0, 0, 16, 0, 0, 16, 0, 0, 48, 0, 0, 200, 0, 0,
                                            0, 8, 0, 0,  8, 1, 2,  1, 1, 5,  3, 1, 0,  4, 0, 32,  0}));
    put("robust_heap", "descriptor_run",
        bytes({2, 0, 0, 0, 0x84, 0, 0x90, 0, 2, 25, 0, 7, 0, 0, 0, 0, 0, 0, 0, 4, 0, 64, 0, 1, 0}));
    put("robust_heap", "slab_bitmap", bytes({0,    0,    0,    64,   0,    0,    64, 0, 2,  0, 2, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 4,  0, 64, 0, 0, 64,   0}));
    put("robust_heap", "counters", bytes({4, 0, 0, 0x10, 0, 2, 20, 0, 1, 0, 0, 0, 0, 0, 0, 0, 4, 1, 0}));
    put("robust_heap", "free_list", bytes({5,    2,    0,    0x00, 0x88, 0, 0x00, 0x88, 1, 0, 2,    8,   0,
                                           0xFE, 0xFF, 0xFF, 0xFF, 0,    0, 0,    0,    4, 0, 0x00, 0x90}));
    put("robust_heap", "format_mark", bytes({0, 0, 0, 50, 0, 2, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 4, 0, 10, 0}));
    put("robust_heap", "size_word", bytes({0, 0, 2, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 4, 0, 10, 0}));
    put("robust_heap", "page_bytes",
        bytes({6, 3, 0, 0x20, 0, 3, 0x00, 0x10, 0x03, 3, 0x04, 0x10, 0xFF, 4, 0, 0x20, 0, 1, 0}));
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    map_seeds();
    path_seeds();
    strlist_seeds();
    getopt_seeds();
    rsrc_seeds();
    container_seeds();
    robust_heap_seeds();
    return 0;
}
