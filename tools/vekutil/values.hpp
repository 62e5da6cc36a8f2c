// Value texts of the lossless text form, shared by `map text`, `map encode`,
// `map get` and `map set`.
#pragma once

#include <vek/vek_map.h>

#include <cstdint>
#include <string>

namespace vekutil {

// "i32", "u64", ..., "none" for VEK_MAP_TYPE_NONE, "type N" for any other code.
std::string type_label(int32_t type);
// Type code of a type name (i32, u32, i64, u64, float, double, bool, str,
// bin, map, none); false when the name is not one.
bool type_from_name(const std::string &name, int32_t &type);

// Exact texts: shortest decimal that reads back to the same bits, "inf",
// "-inf", or "nan(0x...)" with the whole bit pattern.
std::string float_text(uint32_t bits);
std::string double_text(uint64_t bits);
// Inverse of the above (also accepts any decimal or hexadecimal float
// text, and "nan"); false on a malformed text or trailing characters.
bool parse_float(const std::string &text, uint32_t &bits);
bool parse_double(const std::string &text, uint64_t &bits);

// Integers: an optional '-' (signed types only) and decimal digits, or 0x
// and hexadecimal digits; the value must fit the type.
bool parse_i64(const std::string &text, int64_t min, int64_t max, int64_t &value);
bool parse_u64(const std::string &text, uint64_t max, uint64_t &value);
bool parse_bool(const std::string &text, uint8_t &value); // TRUE/FALSE, true/false, 1/0

// A quoted text: '"', the bytes with \\ \" \n \t \r and \xHH for other
// control bytes, '"'. Bytes from 0x80 up are kept as they are.
std::string quote(const char *data, std::size_t len);
// Keys are written bare when they are made only of letters, digits and
// _ - + / : @ $ % & ! ? , ; ~ ^ | ' * < > { }, else quoted.
bool bare_key_char(unsigned char c);
std::string key_text(const char *data, std::size_t len);

std::string hex_text(const unsigned char *data, std::size_t len);
bool parse_hex(const std::string &text, std::string &bytes);

// A decoded value in the value syntax of the text form: "(u32) 1500",
// "(str) \"eth0\"", "(bin) 0a0b", "(map)"; "(none)" for no node.
std::string node_text(const vek_map_value_t *node);

} // namespace vekutil
