// Streams written on x86_64 and kept in tests/data/streams/: on every
// target (x86_64, armhf, big-endian s390x) each decodes to the tree built
// here and encodes back to the same bytes, and the tree built here encodes
// to those bytes. VEK_WRITE_STREAMS=1 rewrites the files from the trees.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "model_support.hpp"

using maptest::Bytes;

namespace {

std::string path_of(const char *name) { return std::string(VEK_TEST_DATA_DIR) + "/streams/" + name; }

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void *bytes_block(const Bytes &b) {
    void *p = vek_map_malloc(b.size());
    std::memcpy(p, b.data(), b.size());
    return p;
}

// Every type, with values whose byte order shows: signs, extremes, a
// denormal float, a text and a byte block.
void build_scalars(vek_map_t *m) {
    float denormal;
    const uint32_t denormal_bits = 0x00000301u;
    std::memcpy(&denormal, &denormal_bits, sizeof denormal);
    ASSERT_EQ(vek_map_set_i32_ll(m, "i32", -2, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(m, "i32max", 0x7FFFFFFF, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_u32_ll(m, "u32", 0x01020304u, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i64_ll(m, "i64", -0x0102030405060708LL, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_u64_ll(m, "u64", 0xF1E2D3C4B5A69788ULL, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_float_ll(m, "float", 1.5f, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_float_ll(m, "float_neg", -1e30f, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_float_ll(m, "float_denormal", denormal, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_double_ll(m, "double", 1.5, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_double_ll(m, "double_neg", -1e300, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_bool_ll(m, "true", 1, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_bool_ll(m, "false", 0, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_str_ll(m, "str", vek_map_strdup("eth0 up"), 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_bin_ll(m, "bin", bytes_block({0x00, 0x01, 0xFE, 0xFF, 0x80}), 5, 1), VEK_ST_SUCCESS);
}

// Nested maps with identifiers, repeated keys and a literal selector key.
void build_nested(vek_map_t *m) {
    ASSERT_EQ(vek_map_set_i32_ll(m, "mtu", 1500, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(m, "port.id", 3, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(m, "port[id=3].speed", 10000, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_str_ll(m, "port[id=3].name", vek_map_strdup("eth0"), 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_u32_ll(m, "port.id", 4, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_u64_ll(m, "a.b.c.d", 0x1122334455667788ULL, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(m, "RX", 1, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(m, "rx", 2, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(m, "q[id=7]", 9, 0), VEK_ST_SUCCESS);
}

// A byte block larger than the encoder's 1024-byte steps.
void build_large(vek_map_t *m) {
    Bytes b(3000);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_EQ(vek_map_set_bin_ll(m, "blob", bytes_block(b), static_cast<uint32_t>(b.size()), 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_str_ll(m, "after", vek_map_strdup("tail"), 1), VEK_ST_SUCCESS);
}

void build_empty(vek_map_t *) {}

struct StreamCase {
    const char *file;
    void (*build)(vek_map_t *);
};

const StreamCase kCases[] = {
    {"empty.bin", build_empty},
    {"scalars.bin", build_scalars},
    {"nested.bin", build_nested},
    {"large.bin", build_large},
};

class StreamDataTest : public maptest::MapTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamDataTest, DecodesToTheTreeAndEncodesToTheSameBytes) {
    const StreamCase &c = GetParam();
    c.build(map_);
    ASSERT_FALSE(HasFatalFailure());
    const Bytes built = maptest::encode(map_);
    const std::string path = path_of(c.file);
    const char *write = std::getenv("VEK_WRITE_STREAMS");
    if (write != nullptr && std::string(write) == "1") {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(built.data()), static_cast<std::streamsize>(built.size()));
    }
    const Bytes kept = read_file(path);
    ASSERT_FALSE(kept.empty()) << "missing " << path;
    EXPECT_EQ(built, kept);

    vek_map_t *decoded = nullptr;
    ASSERT_EQ(vek_map_create(&decoded), VEK_ST_SUCCESS);
    EXPECT_EQ(maptest::decode(decoded, kept), VEK_ST_SUCCESS);
    std::string why;
    EXPECT_TRUE(maptest::same_tree(decoded, map_, &why)) << why;
    EXPECT_EQ(maptest::encode(decoded), kept);
    EXPECT_EQ(vek_map_destroy(decoded), VEK_ST_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamDataTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StreamCase> &info) {
                             std::string n = info.param.file;
                             return n.substr(0, n.find('.'));
                         });

// A few words of the kept streams spelled out, so that a wrong byte order
// on a target cannot pass by writing and reading the same mistake.
TEST(StreamDataBytes, KeptStreamsAreBigEndian) {
    const Bytes empty = read_file(path_of("empty.bin"));
    EXPECT_EQ(empty, (Bytes{0, 0, 0, 0}));
    const Bytes scalars = read_file(path_of("scalars.bin"));
    ASSERT_GE(scalars.size(), 20u);
    // count 14; key "i32" (length 3); type 4; value -2
    EXPECT_EQ(Bytes(scalars.begin(), scalars.begin() + 19),
              (Bytes{0, 0, 0, 14, 0, 0, 0, 3, 'i', '3', '2', 0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0xFE}));
}

} // namespace
