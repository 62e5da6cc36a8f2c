#include "stream_walk.hpp"

#include "values.hpp"

#include <cmath>
#include <cstring>

namespace vekutil {

namespace {

// The dots of a key as the decoder sees it: a C string, cut at a NUL.
int dots_before_nul(const char *key, uint32_t len) {
    int n = 0;
    for (uint32_t i = 0; i < len && key[i] != '\0'; ++i) n += key[i] == '.' ? 1 : 0;
    return n;
}

class Walker {
public:
    Walker(const unsigned char *buf, std::size_t len, WalkVisitor *v) : buf_(buf), len_(len), v_(v) {}

    WalkResult run() {
        walk_map(0, 0);
        if (r_.ok) {
            r_.end = pos_;
            if (pos_ != len_) {
                const std::size_t extra = len_ - pos_;
                fault(VEK_ST_PARSE_ERROR, pos_,
                      std::to_string(extra) + (extra == 1 ? " byte follows" : " bytes follow") + " the end of the map");
            }
        }
        return r_;
    }

private:
    void fault(vek_st_t st, std::size_t at, const std::string &what) {
        if (!r_.ok) return;
        r_.ok = false;
        r_.status = st;
        r_.offset = at;
        r_.what = what;
    }

    bool need(std::size_t n, const char *field) {
        if (len_ - pos_ >= n) return true;
        fault(VEK_ST_MAP_CALLBACK_ERROR, pos_,
              std::string("the stream ends inside ") + field + " (" + std::to_string(n) + " bytes needed, " +
                  std::to_string(len_ - pos_) + " left)");
        return false;
    }

    bool word(uint32_t &w, const char *field) {
        if (!need(4, field)) return false;
        w = (uint32_t{buf_[pos_]} << 24) | (uint32_t{buf_[pos_ + 1]} << 16) | (uint32_t{buf_[pos_ + 2]} << 8) |
            buf_[pos_ + 3];
        pos_ += 4;
        return true;
    }

    // A length word followed by that many bytes. A length the decoder
    // cannot allocate (0xFFFFFFFF) is its memory failure; any other length
    // that runs past the end is a read failure.
    bool block(uint32_t &n, const char *lenField, const char *field) {
        const std::size_t at = pos_;
        if (!word(n, (std::string("a ") + lenField).c_str())) return false;
        if (n == 0xffffffffu) {
            fault(VEK_ST_NO_MEMORY, at, std::string("the ") + lenField + " 0xffffffff cannot be allocated");
            return false;
        }
        if (len_ - pos_ < n) {
            fault(VEK_ST_MAP_CALLBACK_ERROR, at,
                  std::string("the ") + lenField + " " + std::to_string(n) + " runs past the end of the stream (" +
                      std::to_string(len_ - pos_) + " bytes left for " + field + ")");
            return false;
        }
        return true;
    }

    // depth: the level in the stream (0 for the top map's entries); level:
    // the level of this map as the decoder counts it, with the levels that
    // dotted keys create.
    void walk_map(int depth, int level) {
        uint32_t count;
        if (!word(count, "an entry count")) return;
        const int32_t n = static_cast<int32_t>(count);
        if (n < 0) ++r_.negativeCounts;
        for (int32_t i = 0; i < n && r_.ok; ++i) {
            WalkEntry e{};
            e.depth = depth;
            uint32_t keyLen;
            if (!block(keyLen, "key length", "the key")) return;
            e.key = reinterpret_cast<const char *>(buf_ + pos_);
            e.keyLen = keyLen;
            if (std::memchr(e.key, '.', keyLen) != nullptr) ++r_.dottedKeys;
            if (std::memchr(e.key, '\0', keyLen) != nullptr) ++r_.nulBytes;
            pos_ += keyLen;
            const std::size_t typeAt = pos_;
            uint32_t type;
            if (!word(type, "a type code")) return;
            e.type = static_cast<int32_t>(type);
            // The decoder checks the depth as soon as it has the type word
            // of an entry it keeps, before the filler or the value: a
            // stream both too deep and cut short fails on the depth.
            int entryLevel = level;
            if (e.type >= VEK_MAP_TYPE_STR && e.type <= VEK_MAP_TYPE_U64) {
                entryLevel += dots_before_nul(e.key, keyLen) + (e.type == VEK_MAP_TYPE_MAP ? 1 : 0);
                if (entryLevel > VEK_MAP_DECODE_MAX_DEPTH) {
                    fault(VEK_ST_MAP_INTERNAL_ERROR, typeAt,
                          std::string(e.type == VEK_MAP_TYPE_MAP ? "a map entry" : "an entry with a dotted key") +
                              " whose map would be " + std::to_string(entryLevel) +
                              " levels deep: the decoder reads maps at most " +
                              std::to_string(VEK_MAP_DECODE_MAX_DEPTH) +
                              " levels below the top map (VEK_MAP_DECODE_MAX_DEPTH) and stops at this type code");
                    return;
                }
            }
            switch (e.type) {
            case VEK_MAP_TYPE_I32:
            case VEK_MAP_TYPE_U32:
            case VEK_MAP_TYPE_FLOAT:
            case VEK_MAP_TYPE_BOOL:
                if (!need(4, "a 4-byte value")) return;
                e.value = buf_ + pos_;
                e.valueLen = 4;
                pos_ += 4;
                if (e.type == VEK_MAP_TYPE_BOOL) {
                    const uint32_t b = (uint32_t{e.value[0]} << 24) | (uint32_t{e.value[1]} << 16) |
                                       (uint32_t{e.value[2]} << 8) | e.value[3];
                    if (b > 1) ++r_.oddBools;
                }
                if (e.type == VEK_MAP_TYPE_FLOAT) {
                    const bool nan = (e.value[0] & 0x7f) == 0x7f && (e.value[1] & 0x80) != 0 &&
                                     ((e.value[1] & 0x7f) | e.value[2] | e.value[3]) != 0;
                    const bool negativeZero = e.value[0] == 0x80 && (e.value[1] | e.value[2] | e.value[3]) == 0;
                    if (nan || negativeZero) ++r_.oddFloats;
                }
                break;
            case VEK_MAP_TYPE_I64:
            case VEK_MAP_TYPE_U64:
            case VEK_MAP_TYPE_DOUBLE:
                if (!need(8, "an 8-byte value")) return;
                e.value = buf_ + pos_;
                e.valueLen = 8;
                pos_ += 8;
                break;
            case VEK_MAP_TYPE_STR:
            case VEK_MAP_TYPE_BIN: {
                uint32_t L;
                const bool str = e.type == VEK_MAP_TYPE_STR;
                if (!block(L, str ? "text length" : "byte-block length", str ? "the text" : "the bytes")) return;
                e.value = buf_ + pos_;
                e.valueLen = L;
                if (str && std::memchr(e.value, '\0', L) != nullptr) ++r_.nulBytes;
                pos_ += L;
                break;
            }
            case VEK_MAP_TYPE_MAP: {
                uint32_t filler;
                if (!word(filler, "the filler before a nested map")) return;
                if (filler != 0) ++r_.oddFillers;
                if (v_ != nullptr) v_->entry(e);
                walk_map(depth + 1, entryLevel);
                continue;
            }
            default: ++r_.unknownEntries; break;
            }
            if (v_ != nullptr) v_->entry(e);
        }
    }

    const unsigned char *buf_;
    std::size_t len_;
    WalkVisitor *v_;
    std::size_t pos_ = 0;
    WalkResult r_;
};

uint32_t be32(const unsigned char *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint64_t be64(const unsigned char *p) { return (uint64_t{be32(p)} << 32) | be32(p + 4); }

class TextWriter : public WalkVisitor {
public:
    explicit TextWriter(FILE *out) : out_(out) {}

    void entry(const WalkEntry &e) override {
        line_.assign(static_cast<std::size_t>(e.depth) * 4, ' ');
        line_ += key_text(e.key, e.keyLen);
        line_ += " = (";
        line_ += type_label(e.type);
        line_ += ')';
        switch (e.type) {
        case VEK_MAP_TYPE_I32: line_ += ' ' + std::to_string(static_cast<int32_t>(be32(e.value))); break;
        case VEK_MAP_TYPE_U32: line_ += ' ' + std::to_string(be32(e.value)); break;
        case VEK_MAP_TYPE_I64: line_ += ' ' + std::to_string(static_cast<int64_t>(be64(e.value))); break;
        case VEK_MAP_TYPE_U64: line_ += ' ' + std::to_string(be64(e.value)); break;
        case VEK_MAP_TYPE_FLOAT: line_ += ' ' + float_text(be32(e.value)); break;
        case VEK_MAP_TYPE_DOUBLE: line_ += ' ' + double_text(be64(e.value)); break;
        case VEK_MAP_TYPE_BOOL: line_ += be32(e.value) != 0 ? " TRUE" : " FALSE"; break;
        case VEK_MAP_TYPE_STR: line_ += ' ' + quote(reinterpret_cast<const char *>(e.value), e.valueLen); break;
        case VEK_MAP_TYPE_BIN:
            if (e.valueLen > 0) line_ += ' ' + hex_text(e.value, e.valueLen);
            break;
        default: break;
        }
        line_ += '\n';
        std::fwrite(line_.data(), 1, line_.size(), out_);
    }

private:
    FILE *out_;
    std::string line_;
};

} // namespace

WalkResult walk_stream(const unsigned char *buf, std::size_t len, WalkVisitor *visitor) {
    return Walker(buf, len, visitor).run();
}

std::string walk_message(const WalkResult &r) { return "offset " + std::to_string(r.offset) + ": " + r.what; }

bool check_text_form(const WalkResult &r, std::string &why) {
    if (r.dottedKeys != 0) {
        why = std::to_string(r.dottedKeys) + " key(s) hold a '.', which the map takes as a key path";
    } else if (r.nulBytes != 0) {
        why = std::to_string(r.nulBytes) + " key(s) or text(s) hold a NUL byte";
    } else if (r.oddBools != 0) {
        why = std::to_string(r.oddBools) + " bool value(s) other than 0 and 1";
    } else if (r.oddFillers != 0) {
        why = std::to_string(r.oddFillers) + " non-zero filler word(s) before nested maps";
    } else if (r.negativeCounts != 0) {
        why = std::to_string(r.negativeCounts) + " negative entry count(s)";
    } else {
        return true;
    }
    why += ": the stream is not one the library writes, and the text form cannot give it back byte for byte";
    return false;
}

void write_text_form(const unsigned char *buf, std::size_t len, FILE *out) {
    TextWriter w(out);
    walk_stream(buf, len, &w);
}

} // namespace vekutil
