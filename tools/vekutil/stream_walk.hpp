// A read-only walk over an encoded map stream, field by field, that says
// where a stream goes wrong (offsets) and what the decoder would drop or
// change; and the writer of the lossless text form built on it.
#pragma once

#include <vek/vekcommon.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace vekutil {

struct WalkEntry {
    int depth; // 0 for the entries of the top map
    const char *key;
    uint32_t keyLen;
    int32_t type;
    const unsigned char *value; // the value field (after a length word for str and bin)
    uint32_t valueLen;          // bytes at value (0 for map, none and unknown codes)
};

class WalkVisitor {
public:
    virtual ~WalkVisitor() = default;
    // Every entry, in stream order; a map entry comes before its children.
    virtual void entry(const WalkEntry &e) = 0;
};

struct WalkResult {
    bool ok = true;
    vek_st_t status = VEK_ST_SUCCESS; // the status the decoder gives for this fault
    std::size_t offset = 0;           // where the fault is
    std::string what;                 // description
    std::size_t end = 0;              // offset after the top map
    // Things the decoder changes or drops (the stream is still valid).
    uint32_t unknownEntries = 0; // entries of type none or an unknown code (not inserted)
    uint32_t dottedKeys = 0;     // keys with '.' (inserted as paths)
    uint32_t nulBytes = 0;       // keys or texts holding a NUL byte (cut there)
    uint32_t oddBools = 0;       // bool words other than 0 and 1 (read as false)
    uint32_t oddFillers = 0;     // non-zero filler words before nested maps
    uint32_t oddFloats = 0;      // float NaN and -0 patterns (read as infinity and 0)
    uint32_t negativeCounts = 0; // entry counts below 0 (read as 0)
};

// Walks buf[0..len). Faults are those that make the library's decoder fail
// (a stream that ends early, a length that cannot be met, a map nested
// deeper than VEK_MAP_DECODE_MAX_DEPTH) and bytes after the top map.
WalkResult walk_stream(const unsigned char *buf, std::size_t len, WalkVisitor *visitor);

// "offset N: ..." message for a fault.
std::string walk_message(const WalkResult &r);

// Writes the lossless text form of a walked stream. Fails (with a message)
// on streams that the text form cannot give back byte for byte: those with
// any of the decoder's changes listed in WalkResult except unknown codes.
bool check_text_form(const WalkResult &r, std::string &why);
void write_text_form(const unsigned char *buf, std::size_t len, FILE *out);

} // namespace vekutil
