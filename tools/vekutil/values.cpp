#include "values.hpp"

#include <vek/vek_map.h>

#include <charconv>
#include <cmath>
#include <cstring>

namespace vekutil {

namespace {

const struct {
    const char *name;
    int32_t type;
} kTypes[] = {
    {"str", VEK_MAP_TYPE_STR},   {"map", VEK_MAP_TYPE_MAP},   {"bin", VEK_MAP_TYPE_BIN},
    {"i32", VEK_MAP_TYPE_I32},   {"i64", VEK_MAP_TYPE_I64},   {"float", VEK_MAP_TYPE_FLOAT},
    {"bool", VEK_MAP_TYPE_BOOL}, {"u32", VEK_MAP_TYPE_U32},   {"double", VEK_MAP_TYPE_DOUBLE},
    {"u64", VEK_MAP_TYPE_U64},   {"none", VEK_MAP_TYPE_NONE},
};

const char kHex[] = "0123456789abcdef";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parse_nan_bits(const std::string &text, uint64_t max, uint64_t &bits) {
    // nan(0xHEX): the whole bit pattern.
    if (text.size() < 7 || text.compare(0, 6, "nan(0x") != 0 || text.back() != ')') return false;
    const std::string digits = text.substr(6, text.size() - 7);
    return !digits.empty() && parse_u64("0x" + digits, max, bits);
}

template <typename F>
bool parse_real(const std::string &text, F &value) {
    if (text.empty()) return false;
    const char *first = text.data();
    const char *last = first + text.size();
    std::chars_format fmt = std::chars_format::general;
    bool negative = false;
    const char *p = first;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    if (last - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        fmt = std::chars_format::hex;
        p += 2;
        if (p == last || *p == '-' || *p == '+') return false;
        F v{};
        const auto r = std::from_chars(p, last, v, fmt);
        if (r.ec != std::errc() || r.ptr != last) return false;
        value = negative ? -v : v;
        return true;
    }
    const auto r = std::from_chars(first, last, value, fmt);
    return r.ec == std::errc() && r.ptr == last;
}

} // namespace

std::string type_label(int32_t type) {
    for (const auto &t : kTypes) {
        if (t.type == type) return t.name;
    }
    return "type " + std::to_string(type);
}

bool type_from_name(const std::string &name, int32_t &type) {
    for (const auto &t : kTypes) {
        if (name == t.name) {
            type = t.type;
            return true;
        }
    }
    return false;
}

std::string float_text(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    if (std::isnan(f)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "nan(0x%08x)", static_cast<unsigned>(bits));
        return buf;
    }
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, f);
    return std::string(buf, r.ptr);
}

std::string double_text(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isnan(d)) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "nan(0x%016llx)", static_cast<unsigned long long>(bits));
        return buf;
    }
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

bool parse_float(const std::string &text, uint32_t &bits) {
    uint64_t nb;
    if (parse_nan_bits(text, 0xffffffffu, nb)) {
        float f;
        const uint32_t b = static_cast<uint32_t>(nb);
        std::memcpy(&f, &b, sizeof f);
        if (!std::isnan(f)) return false;
        bits = b;
        return true;
    }
    float f;
    if (!parse_real(text, f)) return false;
    std::memcpy(&bits, &f, sizeof bits);
    return true;
}

bool parse_double(const std::string &text, uint64_t &bits) {
    uint64_t nb;
    if (parse_nan_bits(text, UINT64_MAX, nb)) {
        double d;
        std::memcpy(&d, &nb, sizeof d);
        if (!std::isnan(d)) return false;
        bits = nb;
        return true;
    }
    double d;
    if (!parse_real(text, d)) return false;
    std::memcpy(&bits, &d, sizeof bits);
    return true;
}

bool parse_u64(const std::string &text, uint64_t max, uint64_t &value) {
    const char *p = text.data();
    const char *last = p + text.size();
    int base = 10;
    if (last - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (p == last || *p == '+' || *p == '-') return false;
    uint64_t v = 0;
    const auto r = std::from_chars(p, last, v, base);
    if (r.ec != std::errc() || r.ptr != last || v > max) return false;
    value = v;
    return true;
}

bool parse_i64(const std::string &text, int64_t min, int64_t max, int64_t &value) {
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude;
    if (!parse_u64(negative ? text.substr(1) : text, UINT64_MAX, magnitude)) return false;
    if (negative) {
        if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1u) return false;
        const int64_t v =
            magnitude == static_cast<uint64_t>(INT64_MAX) + 1u ? INT64_MIN : -static_cast<int64_t>(magnitude);
        if (v < min) return false;
        value = v;
        return true;
    }
    if (magnitude > static_cast<uint64_t>(max)) return false;
    value = static_cast<int64_t>(magnitude);
    return true;
}

bool parse_bool(const std::string &text, uint8_t &value) {
    if (text == "TRUE" || text == "true" || text == "1") {
        value = 1;
        return true;
    }
    if (text == "FALSE" || text == "false" || text == "0") {
        value = 0;
        return true;
    }
    return false;
}

std::string quote(const char *data, std::size_t len) {
    std::string out = "\"";
    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

bool bare_key_char(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c != 0 && std::strchr("_-+/:@$%&!?,;~^|'*<>{}", c) != nullptr;
}

std::string key_text(const char *data, std::size_t len) {
    bool bare = len > 0;
    for (std::size_t i = 0; i < len && bare; ++i) bare = bare_key_char(static_cast<unsigned char>(data[i]));
    return bare ? std::string(data, len) : quote(data, len);
}

std::string hex_text(const unsigned char *data, std::size_t len) {
    std::string out;
    out.resize(len * 2);
    for (std::size_t i = 0; i < len; ++i) {
        out[2 * i] = kHex[data[i] >> 4];
        out[2 * i + 1] = kHex[data[i] & 15];
    }
    return out;
}

bool parse_hex(const std::string &text, std::string &bytes) {
    if (text.size() % 2 != 0) return false;
    bytes.resize(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = hex_value(text[2 * i]);
        const int lo = hex_value(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<char>(hi * 16 + lo);
    }
    return true;
}

// Built by appending to one string: gcc 12 at -O3 reports a false
// overlap (-Wrestrict) in the insertion that "literal" + std::string makes.
std::string node_text(const vek_map_value_t *node) {
    if (node == nullptr) return "(none)";
    std::string out = "(";
    out += type_label(node->type);
    out += ')';
    const vek_map_payload_t &p = node->payload;
    switch (node->type) {
    case VEK_MAP_TYPE_I32:
        out += ' ';
        out += std::to_string(p.i32);
        break;
    case VEK_MAP_TYPE_U32:
        out += ' ';
        out += std::to_string(p.u32);
        break;
    case VEK_MAP_TYPE_I64:
        out += ' ';
        out += std::to_string(p.i64);
        break;
    case VEK_MAP_TYPE_U64:
        out += ' ';
        out += std::to_string(p.u64);
        break;
    case VEK_MAP_TYPE_BOOL: out += p.boolean != 0 ? " TRUE" : " FALSE"; break;
    case VEK_MAP_TYPE_FLOAT: {
        uint32_t bits;
        std::memcpy(&bits, &p.f32, sizeof bits);
        out += ' ';
        out += float_text(bits);
        break;
    }
    case VEK_MAP_TYPE_DOUBLE: {
        uint64_t bits;
        std::memcpy(&bits, &p.f64, sizeof bits);
        out += ' ';
        out += double_text(bits);
        break;
    }
    case VEK_MAP_TYPE_STR:
        out += ' ';
        out += p.str == nullptr ? std::string("\"\"") : quote(p.str, std::strlen(p.str));
        break;
    case VEK_MAP_TYPE_BIN:
        if (p.bin.len != 0 && p.bin.data != nullptr) {
            out += ' ';
            out += hex_text(static_cast<const unsigned char *>(p.bin.data), p.bin.len);
        }
        break;
    default: break;
    }
    return out;
}

} // namespace vekutil
