// Writes the stream of a seeded random map tree, built and encoded with the
// library: every value type (texts and keys of arbitrary bytes, float and
// double bit patterns including NaN, infinities and denormals, empty texts
// and byte blocks), entries of type none and of unknown type codes,
// repeated keys, nested maps.
//
//   vekutil_randtree SEED OUT             a tree of at most a few hundred entries
//   vekutil_randtree SEED OUT BYTES       repeated port maps until the stream
//                                         holds about BYTES bytes
#include <vek/vekcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

std::mt19937 rng;

uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng() % n); }

uint32_t u32() { return static_cast<uint32_t>(rng()); }
uint64_t u64() { return (uint64_t{u32()} << 32) | u32(); }

std::string random_bytes(uint32_t maxLen, bool forKey) {
    std::string s;
    const uint32_t n = pick(maxLen + 1);
    for (uint32_t i = 0; i < n; ++i) {
        char c;
        do {
            // Mostly printable text, sometimes any byte but NUL.
            c = pick(4) == 0 ? static_cast<char>(1 + pick(255)) : static_cast<char>(' ' + pick(95));
        } while (forKey && c == '.');
        s += c;
    }
    return s;
}

std::string random_key() {
    static const char *const kPool[] = {"port",
                                        "id",
                                        "name",
                                        "x",
                                        "",
                                        "a b",
                                        "q\"uote",
                                        "port[id=1]",
                                        "back\\slash",
                                        "tab\tkey",
                                        ("\xc3\xbc"
                                         "ber"),
                                        "=",
                                        "#hash",
                                        "(map)",
                                        "ID"};
    if (pick(3) != 0) return kPool[pick(sizeof kPool / sizeof kPool[0])];
    return random_bytes(12, true);
}

void check(vek_st_t st) {
    if (st != VEK_ST_SUCCESS) {
        std::fprintf(stderr, "vekutil_randtree: %s\n", vek_status_get(st));
        std::exit(1);
    }
}

void set_node(vek_map_t *map, const std::string &key, int32_t type, const void *payload, std::size_t size) {
    auto *node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    if (node == nullptr) check(VEK_ST_NO_MEMORY);
    std::memset(node, 0, sizeof *node);
    node->type = type;
    if (payload != nullptr) std::memcpy(&node->payload, payload, size);
    check(vek_map_set_value_ll(map, key.c_str(), node, 0));
}

float special_float() {
    static const uint32_t kBits[] = {0x7fc00000u, 0x7f800001u, 0xffc00123u, 0x7f800000u, 0xff800000u,
                                     0x00000001u, 0x807fffffu, 0x80000000u, 0x00000000u, 0x3fc00000u};
    const uint32_t b = pick(2) == 0 ? kBits[pick(10)] : u32();
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

double special_double() {
    static const uint64_t kBits[] = {0x7ff8000000000000ull, 0x7ff0000000000001ull, 0xfff0000000000000ull,
                                     0x0000000000000001ull, 0x8000000000000000ull, 0x3ff8000000000000ull};
    const uint64_t b = pick(2) == 0 ? kBits[pick(6)] : u64();
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

void fill(vek_map_t *map, int depth, uint32_t &budget) {
    const uint32_t n = depth == 0 ? 8 + pick(24) : pick(10);
    for (uint32_t i = 0; i < n && budget > 0; ++i, --budget) {
        const std::string key = random_key();
        const char *k = key.c_str();
        switch (pick(13)) {
        case 0: check(vek_map_set_i32_ll(map, k, static_cast<int32_t>(u32()), 0)); break;
        case 1: check(vek_map_set_u32_ll(map, k, u32(), 0)); break;
        case 2: check(vek_map_set_i64_ll(map, k, static_cast<int64_t>(u64()), 0)); break;
        case 3: check(vek_map_set_u64_ll(map, k, u64(), 0)); break;
        case 4: {
            const float f = special_float();
            if (f != f) {
                set_node(map, key, VEK_MAP_TYPE_FLOAT, &f, sizeof f); // the exact NaN pattern
            } else {
                check(vek_map_set_float_ll(map, k, f, 0));
            }
            break;
        }
        case 5: {
            const double d = special_double();
            set_node(map, key, VEK_MAP_TYPE_DOUBLE, &d, sizeof d);
            break;
        }
        case 6: check(vek_map_set_bool_ll(map, k, static_cast<uint8_t>(pick(3)), 0)); break;
        case 7: {
            const std::string s = random_bytes(40, false);
            char *copy = vek_map_strdup(s.c_str());
            if (copy == nullptr) check(VEK_ST_NO_MEMORY);
            check(vek_map_set_str_ll(map, k, copy, 0));
            break;
        }
        case 8: {
            const uint32_t len = pick(3) == 0 ? 0 : pick(48);
            void *data = nullptr;
            if (len > 0) {
                data = vek_map_malloc(len);
                if (data == nullptr) check(VEK_ST_NO_MEMORY);
                for (uint32_t b = 0; b < len; ++b)
                    static_cast<unsigned char *>(data)[b] = static_cast<unsigned char>(u32());
            }
            check(vek_map_set_bin_ll(map, k, data, len, 0));
            break;
        }
        case 9:
        case 10: {
            if (depth >= 5) break;
            vek_map_t *child = nullptr;
            check(vek_map_create(&child));
            check(vek_map_set_map_ll(map, k, child, 0));
            fill(child, depth + 1, budget);
            break;
        }
        case 11: set_node(map, key, VEK_MAP_TYPE_NONE, nullptr, 0); break;
        default: set_node(map, key, static_cast<int32_t>(pick(2) == 0 ? 11 + pick(100) : u32()), nullptr, 0); break;
        }
    }
}

// A large, regular configuration: repeated port maps.
void fill_ports(vek_map_t *map, uint64_t bytes) {
    uint64_t size = 4;
    char name[32];
    for (int32_t id = 0; size < bytes; ++id) {
        vek_map_t *port = nullptr;
        check(vek_map_create(&port));
        check(vek_map_set_map_ll(map, "port", port, 0));
        check(vek_map_set_i32_ll(port, "id", id, 0));
        std::snprintf(name, sizeof name, "eth%d", static_cast<int>(id));
        char *copy = vek_map_strdup(name);
        check(vek_map_set_str_ll(port, "name", copy, 0));
        check(vek_map_set_u32_ll(port, "speed", 10000u * (1 + pick(4)), 0));
        check(vek_map_set_bool_ll(port, "enabled", static_cast<uint8_t>(pick(2)), 0));
        check(vek_map_set_float_ll(port, "weight", static_cast<float>(u32()) / 4096.0f, 0));
        check(vek_map_set_double_ll(port, "timeout", static_cast<double>(u64() >> 11) * 1e-9, 0));
        check(vek_map_set_u64_ll(port, "rxPackets", u64(), 0));
        check(vek_map_set_i64_ll(port, "offset", static_cast<int64_t>(u64()), 0));
        const uint32_t len = 16 + pick(64);
        auto *data = static_cast<unsigned char *>(vek_map_malloc(len));
        for (uint32_t b = 0; b < len; ++b) data[b] = static_cast<unsigned char>(u32());
        check(vek_map_set_bin_ll(port, "key", data, len, 0));
        size += 4 + 4 + 4 + 4 + 4 + (4 + 2 + 4 + 4) + (4 + 4 + 4 + 4 + std::strlen(name)) + (4 + 5 + 4 + 4) +
                (4 + 7 + 4 + 4) + (4 + 6 + 4 + 4) + (4 + 7 + 4 + 8) + (4 + 9 + 4 + 8) + (4 + 6 + 4 + 8) +
                (4 + 3 + 4 + 4 + len);
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vekutil_randtree SEED OUT [BYTES]\n");
        return 2;
    }
    rng.seed(static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0)));
    vek_map_t *map = nullptr;
    check(vek_map_create(&map));
    if (argc > 3) {
        fill_ports(map, std::strtoull(argv[3], nullptr, 0));
    } else {
        uint32_t budget = 300;
        fill(map, 0, budget);
    }
    void *buf = nullptr;
    int32_t len = 0;
    check(vek_map_encode(map, &buf, &len));
    FILE *fp = std::fopen(argv[2], "wb");
    if (fp == nullptr || std::fwrite(buf, 1, static_cast<std::size_t>(len), fp) != static_cast<std::size_t>(len) ||
        std::fclose(fp) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    vek_map_free(buf);
    vek_map_destroy(map);
    return 0;
}
