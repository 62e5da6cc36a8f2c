// Map streams in and out of the map subcommands: reading a stream that is
// checked field by field and decoded by the library, and writing a stream
// complete or not at all.
#pragma once

#include "cli.hpp"
#include "stream_walk.hpp"

#include <vek/vekcommon.h>

#include <string>

namespace vekutil {

// A decoded map, destroyed with its owner.
struct OwnedMap {
    vek_map_t *map = nullptr;
    OwnedMap() = default;
    OwnedMap(const OwnedMap &) = delete;
    OwnedMap &operator=(const OwnedMap &) = delete;
    ~OwnedMap() {
        if (map != nullptr) vek_map_destroy(map);
    }
};

// The name of an input in messages: the path, or "<stdin>" for "-".
std::string input_name(const std::string &path);

// Reads a stream, checks it field by field (wr) and decodes it into m.map
// with the library. Returns -1 when the map is ready, else the exit status
// (the message is printed). Bytes after the top map are refused.
int load_stream(const std::string &path, std::string &bytes, OwnedMap &m, WalkResult &wr);

// What a failed key-path resolution means, for messages.
std::string path_problem(vek_st_t status);

// Writes a stream to target ("-": standard output, never a terminal),
// complete or not at all: the map encoded by the library, or given bytes.
int write_stream(vek_map_t *map, const std::string &target);
int write_stream_bytes(const std::string &bytes, const std::string &target);

} // namespace vekutil
