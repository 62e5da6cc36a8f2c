#include "map_input.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace vekutil {

std::string input_name(const std::string &path) { return path == "-" ? std::string("<stdin>") : path; }

int load_stream(const std::string &path, std::string &bytes, OwnedMap &m, WalkResult &wr) {
    if (!read_input(path, bytes)) return kExitFail;
    const std::string name = input_name(path);
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
        return fail_status(VEK_ST_INVALID_PARAMETER, name + ": a stream of more than 2147483647 bytes");
    }
    wr = walk_stream(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), nullptr);
    vek_st_t st = vek_map_create(&m.map);
    if (st != VEK_ST_SUCCESS) return fail_status(st, "cannot create a map");
    st = vek_map_decode(m.map, bytes.data(), static_cast<int32_t>(bytes.size()));
    if (st != VEK_ST_SUCCESS) {
        return fail_status(st, name + ": not a valid map stream" + (wr.ok ? std::string() : ": " + walk_message(wr)));
    }
    if (!wr.ok) return fail_status(wr.status, name + ": " + walk_message(wr));
    return -1;
}

std::string path_problem(vek_st_t st) {
    switch (st) {
    case VEK_ST_MAP_KEY_NOT_EXIST: return "no entry has this key path";
    case VEK_ST_MAP_INTERNAL_ERROR: return "a component before the last is not a map";
    case VEK_ST_MAP_INVALID_SEARCH: return "a malformed selector (write name[field=value])";
    case VEK_ST_MAP_INVALID_MAP: return "a selector's name matches an entry that is not a map";
    default: return "cannot resolve the key path";
    }
}

namespace {

bool binary_to_terminal(const std::string &target) { return target == "-" && isatty(STDOUT_FILENO); }

int no_terminal() { return usage_error("will not write a binary stream to a terminal (use -o FILE or a pipe)"); }

} // namespace

int write_stream(vek_map_t *map, const std::string &target) {
    if (binary_to_terminal(target)) return no_terminal();
    OutFile out;
    if (!out.open(target)) return kExitFail;
    const vek_st_t st = vek_map_encode_to(map, write_to_file, out.stream());
    if (st != VEK_ST_SUCCESS) {
        out.abort();
        return fail_status(st, "cannot encode the map");
    }
    return out.commit() ? kExitOk : kExitFail;
}

int write_stream_bytes(const std::string &bytes, const std::string &target) {
    if (binary_to_terminal(target)) return no_terminal();
    OutFile out;
    if (!out.open(target)) return kExitFail;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out.stream()) != bytes.size()) {
        const int err = errno;
        out.abort();
        return fail((target == "-" ? std::string("standard output") : target) +
                    ": cannot write: " + std::strerror(err));
    }
    return out.commit() ? kExitOk : kExitFail;
}

} // namespace vekutil
