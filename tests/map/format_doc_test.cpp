// The byte streams shown in docs/map-format.md are the library's real
// bytes: the blocks are read out of the page itself (its path comes from
// the build, VEK_MAP_FORMAT_DOC), so the page and the library cannot drift
// apart. Each block is checked both ways: the tree built by the calls the
// page shows encodes to it, and decoding it gives the tree the page
// describes.
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model_support.hpp"

#ifndef VEK_MAP_FORMAT_DOC
#error "VEK_MAP_FORMAT_DOC must name docs/map-format.md"
#endif

using maptest::Bytes;

namespace {

std::string read_doc() {
    std::ifstream in(VEK_MAP_FORMAT_DOC);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool is_hex(const std::string &t) {
    if (t.empty()) return false;
    for (char c : t) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
    }
    return true;
}

// The bytes of the block that follows "<!-- stream: NAME -->". Every line
// after the heading is "offset  bytes  # comment"; the offset must equal
// the number of bytes before the line.
Bytes stream_block(const std::string &doc, const std::string &name) {
    const std::string marker = "<!-- stream: " + name + " -->";
    const size_t at = doc.find(marker);
    EXPECT_NE(at, std::string::npos) << "no block " << name;
    if (at == std::string::npos) return {};
    EXPECT_EQ(doc.find(marker, at + 1), std::string::npos) << "two blocks " << name;
    const size_t open = doc.find("```\n", at);
    EXPECT_EQ(open, at + marker.size() + 1) << "the fence must follow the marker line: " << name;
    const size_t body = open + 4;
    const size_t close = doc.find("```", body);
    EXPECT_NE(close, std::string::npos) << name;
    std::istringstream lines(doc.substr(body, close - body));
    std::string line;
    Bytes out;
    bool heading = true;
    while (std::getline(lines, line)) {
        if (heading) {
            EXPECT_EQ(line.rfind("offset", 0), 0u) << name << ": heading " << line;
            heading = false;
            continue;
        }
        const size_t hash = line.find('#');
        EXPECT_NE(hash, std::string::npos) << name << ": no comment in " << line;
        std::istringstream words(line.substr(0, hash));
        std::string offset;
        words >> offset;
        EXPECT_TRUE(is_hex(offset)) << name << ": " << line;
        EXPECT_EQ(std::stoul(offset, nullptr, 16), out.size()) << name << ": " << line;
        std::string byte;
        size_t on_line = 0;
        while (words >> byte) {
            EXPECT_TRUE(byte.size() == 2 && is_hex(byte)) << name << ": " << line;
            out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
            ++on_line;
        }
        EXPECT_GT(on_line, 0u) << name << ": " << line;
    }
    EXPECT_FALSE(heading) << name << ": empty block";
    return out;
}

class FormatDocTest : public maptest::MapTest {
protected:
    void SetUp() override {
        MapTest::SetUp();
        doc_ = read_doc();
        ASSERT_FALSE(doc_.empty()) << "cannot read " << VEK_MAP_FORMAT_DOC;
    }
    std::string doc_;
};

// The calls shown on the page, on the fixture's empty map.
void build_worked_example(vek_map_t *m) {
    ASSERT_EQ(vek_map_set_str_ll(m, "name", vek_map_strdup("eth0"), 1), 0u);
    ASSERT_EQ(vek_map_set_u32_ll(m, "port.id", 3, 1), 0u);
    ASSERT_EQ(vek_map_set_bool_ll(m, "port.up", 1, 1), 0u);
    static const uint8_t mac_bytes[6] = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01};
    void *mac = vek_map_malloc(sizeof mac_bytes);
    ASSERT_NE(mac, nullptr);
    std::memcpy(mac, mac_bytes, sizeof mac_bytes);
    ASSERT_EQ(vek_map_set_bin_ll(m, "mac", mac, 6, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "offset", -2, 1), 0u);
    ASSERT_EQ(vek_map_set_i64_ll(m, "budget", -5000000000LL, 1), 0u);
    ASSERT_EQ(vek_map_set_u64_ll(m, "serial", 0x0123456789ABCDEFULL, 1), 0u);
    ASSERT_EQ(vek_map_set_float_ll(m, "gain", 1.5f, 1), 0u);
    ASSERT_EQ(vek_map_set_double_ll(m, "ratio", 0.25, 1), 0u);
    ASSERT_EQ(vek_map_set_value_ll(m, "spare", nullptr, 1), 0u);
}

TEST_F(FormatDocTest, WorkedExampleIsWhatTheLibraryWrites) {
    const Bytes doc_bytes = stream_block(doc_, "worked-example");
    ASSERT_EQ(doc_bytes.size(), 205u);
    build_worked_example(map_);
    EXPECT_EQ(maptest::encode(map_), doc_bytes);
    // The same bytes through a caller's writer.
    maptest::VecWriter w;
    ASSERT_EQ(vek_map_encode_to(map_, maptest::VecWriter::fn, &w), 0u);
    EXPECT_EQ(w.out, doc_bytes);
}

TEST_F(FormatDocTest, WorkedExampleDecodesToTheTreeDescribed) {
    const Bytes doc_bytes = stream_block(doc_, "worked-example");
    ASSERT_EQ(maptest::decode(map_, doc_bytes), 0u);
    // The entry without a node (type -1) is skipped: eight entries, in order.
    ASSERT_EQ(map_->count, 8);
    const std::vector<std::pair<std::string, int32_t>> expect{
        {"name", VEK_MAP_TYPE_STR},   {"port", VEK_MAP_TYPE_MAP},    {"mac", VEK_MAP_TYPE_BIN},
        {"offset", VEK_MAP_TYPE_I32}, {"budget", VEK_MAP_TYPE_I64},  {"serial", VEK_MAP_TYPE_U64},
        {"gain", VEK_MAP_TYPE_FLOAT}, {"ratio", VEK_MAP_TYPE_DOUBLE}};
    for (int32_t i = 0; i < map_->count; ++i) {
        EXPECT_STREQ(map_->keys[i], expect[static_cast<size_t>(i)].first.c_str()) << i;
        ASSERT_NE(map_->values[i], nullptr) << i;
        EXPECT_EQ(map_->values[i]->type, expect[static_cast<size_t>(i)].second) << i;
    }
    char *name = nullptr;
    ASSERT_EQ(vek_map_get_str(map_, "name", &name), 0u);
    EXPECT_STREQ(name, "eth0");
    vek_map_t *port = nullptr;
    ASSERT_EQ(vek_map_get_map(map_, "port", &port), 0u);
    ASSERT_EQ(port->count, 2);
    EXPECT_STREQ(port->keys[0], "id");
    EXPECT_STREQ(port->keys[1], "up");
    uint32_t id = 0;
    ASSERT_EQ(vek_map_get_u32(map_, "port.id", &id), 0u);
    EXPECT_EQ(id, 3u);
    uint8_t up = 0;
    ASSERT_EQ(vek_map_get_bool(map_, "port.up", &up), 0u);
    EXPECT_EQ(up, 1);
    void *mac = nullptr;
    uint32_t mac_len = 0;
    ASSERT_EQ(vek_map_get_bin(map_, "mac", &mac, &mac_len), 0u);
    ASSERT_EQ(mac_len, 6u);
    EXPECT_EQ(Bytes(static_cast<uint8_t *>(mac), static_cast<uint8_t *>(mac) + 6),
              (Bytes{0x02, 0x00, 0x5e, 0x10, 0x00, 0x01}));
    int32_t offset = 0;
    ASSERT_EQ(vek_map_get_i32(map_, "offset", &offset), 0u);
    EXPECT_EQ(offset, -2);
    int64_t budget = 0;
    ASSERT_EQ(vek_map_get_i64(map_, "budget", &budget), 0u);
    EXPECT_EQ(budget, -5000000000LL);
    uint64_t serial = 0;
    ASSERT_EQ(vek_map_get_u64(map_, "serial", &serial), 0u);
    EXPECT_EQ(serial, 0x0123456789ABCDEFULL);
    float gain = 0;
    ASSERT_EQ(vek_map_get_float(map_, "gain", &gain), 0u);
    EXPECT_EQ(gain, 1.5f);
    double ratio = 0;
    ASSERT_EQ(vek_map_get_double(map_, "ratio", &ratio), 0u);
    EXPECT_EQ(ratio, 0.25);
    int32_t type = 0;
    EXPECT_EQ(vek_map_get_type(map_, "spare", &type), VEK_ST_MAP_KEY_NOT_EXIST);

    // Encoding it again: the same bytes without the NONE entry, count 8.
    Bytes again = doc_bytes;
    again.resize(doc_bytes.size() - (4 + 5 + 4));
    again[3] = 8;
    EXPECT_EQ(maptest::encode(map_), again);
}

TEST_F(FormatDocTest, DottedKeysDecodeAsPathsWithoutLookup) {
    const Bytes dotted = stream_block(doc_, "dotted-keys");
    ASSERT_EQ(dotted.size(), 42u);
    ASSERT_EQ(maptest::decode(map_, dotted), 0u);
    ASSERT_EQ(map_->count, 2);
    const char *children[2] = {"id", "up"};
    for (int32_t i = 0; i < 2; ++i) {
        EXPECT_STREQ(map_->keys[i], "port");
        ASSERT_NE(map_->values[i], nullptr);
        ASSERT_EQ(map_->values[i]->type, VEK_MAP_TYPE_MAP);
        const vek_map_t *child = map_->values[i]->payload.map;
        ASSERT_EQ(child->count, 1);
        EXPECT_STREQ(child->keys[0], children[i]);
    }
    uint32_t id = 0;
    ASSERT_EQ(vek_map_get_u32(map_, "port.id", &id), 0u);
    EXPECT_EQ(id, 3u);
    uint8_t up = 0;
    EXPECT_EQ(vek_map_get_bool(map_, "port.up", &up), VEK_ST_MAP_KEY_NOT_EXIST);
    EXPECT_EQ(maptest::encode(map_), stream_block(doc_, "dotted-keys-reencoded"));
}

} // namespace
