// Changing one value of a map stream in its bytes. The entry is found with
// the library's key-path rules (vek_map_get_value on the decoded map) and
// located in the stream; only its type word and value are replaced, or,
// when entries are added, the new entry is put at the end of the map that
// receives it and that map's entry count goes up by one. Every other byte
// stays as it was: entries the decoder skips, exact float bits, the
// filler words and the order of the entries.
#pragma once

#include <vek/vekcommon.h>

#include <functional>
#include <string>

namespace vekutil {

// Puts the new value under key (no '.', no selector) in map, appended as
// a set with checkForKey 0 does. Called at most once per edit.
using ValueSetter = std::function<vek_st_t(vek_map_t *map, const char *key)>;

struct EditRequest {
    std::string path;                 // a key path of the library, selectors included
    int32_t type = VEK_MAP_TYPE_NONE; // type of the new value; VEK_MAP_TYPE_MAP: an empty map
    ValueSetter setValue;             // for every type but map
    bool create = false;              // add the entries and maps that are missing
    bool retype = false;              // allow a value of another type
};

struct EditResult {
    bool ok = false;
    vek_st_t status = VEK_ST_SUCCESS; // on failure: the status to report
    std::string message;              // on failure: starts with the path
    std::string bytes;                // on success: the new stream
};

// stream: bytes that walk_stream accepts, none of whose keys holds a '.';
// decoded: the library's decoding of them.
EditResult set_in_stream(const std::string &stream, vek_map_t *decoded, const EditRequest &req);

} // namespace vekutil
