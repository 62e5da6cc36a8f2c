// vekutil region check NAME [--object NAME], and the walk of a shared
// device handle's registry that `rsrc` runs before it prints the table.
#include "cmd_region.hpp"
#include "commands.hpp"

#include <shared_device.h>

#include <cinttypes>
#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace vekutil {

namespace {

// The mapping of the region: what a pointer read from it may point to.
class Bounds {
public:
    explicit Bounds(const vek_region_info_t &info) : lo_(info.base), hi_(info.base + info.size) {}

    // n bytes at p lie inside the region, p aligned for T.
    template <typename T>
    bool holds(const T *p, uint64_t n = sizeof(T)) const {
        const uint64_t at = reinterpret_cast<uintptr_t>(p);
        return at >= lo_ && at <= hi_ && n <= hi_ - at && at % alignof(T) == 0;
    }
    // A NUL-terminated text starting inside the region and ending in it.
    bool holds_text(const char *s) const {
        if (!holds(s, 1)) return false;
        const uint64_t room = hi_ - reinterpret_cast<uintptr_t>(s);
        return std::memchr(s, '\0', static_cast<std::size_t>(room)) != nullptr;
    }
    // Records the region could hold at most: a bound on any list walk.
    uint64_t most(uint64_t each) const { return (hi_ - lo_) / each; }

private:
    uint64_t lo_;
    uint64_t hi_;
};

std::string hex(const void *p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
    return buf;
}

// A lock of the walk: held from a successful lock (or one taken over
// from a dead owner) until the object goes.
class Locked {
public:
    explicit Locked(vek_mutex_t *m) : m_(m), status_(vek_mutex_lock(m)) {}
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
    ~Locked() {
        if (held()) vek_mutex_unlock(m_);
    }
    bool held() const { return status_ == VEK_ST_SUCCESS || status_ == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD; }
    vek_st_t status() const { return status_; }

private:
    vek_mutex_t *m_;
    vek_st_t status_;
};

// One record, its lock held: its fields, its name and its bitmap.
std::string check_record(const Bounds &bounds, const vek_rsrc_t *rec, const std::string &label) {
    const uint32_t numElems = rec->numElems;
    const uint32_t numElemsFree = rec->numElemsFree;
    if (numElemsFree > numElems) {
        return label + ": numElemsFree " + std::to_string(numElemsFree) + " exceeds numElems " +
               std::to_string(numElems);
    }
    if (rec->kind != 5 && uint64_t{rec->baseId} + numElems > VEK_RSRC_ID_LIMIT) {
        return label + ": baseId " + std::to_string(rec->baseId) + " + numElems " + std::to_string(numElems) +
               " passes the identifier limit";
    }
    vek_bitmap_t *bitmap = rec->bitmap;
    if (bitmap == nullptr) { // read-only: nothing is ever allocated
        if (numElemsFree != numElems) return label + ": read-only, yet numElemsFree differs from numElems";
        return {};
    }
    if (!bounds.holds(bitmap)) return label + ": bitmap " + hex(bitmap) + " lies outside the region";
    const uint32_t size = bitmap->size;
    const uint32_t words = bitmap->words_needed;
    const uint32_t want = numElems == 0 ? 1 : numElems;
    if (size != want) {
        return label + ": bitmap of " + std::to_string(size) + " identifiers, the resource has " + std::to_string(want);
    }
    if (words != (uint64_t{size} + 31) / 32) return label + ": bitmap word count does not match its size";
    if (!bounds.holds(bitmap->bits, uint64_t{words} * sizeof(uint32_t))) {
        return label + ": bitmap words " + hex(bitmap->bits) + " lie outside the region";
    }
    const int32_t free = vek_bitmap_count(bitmap, 0);
    // A resource of no identifiers keeps a bitmap of one, never allocated.
    const int64_t expected = int64_t{numElemsFree} + (want - numElems);
    if (free != expected) {
        return label + ": numElemsFree is " + std::to_string(numElemsFree) + ", its bitmap has " +
               std::to_string(free - (want - numElems)) + " identifiers free";
    }
    return {};
}

int check_main(int argc, char **argv) {
    std::string object = VEK_SHARED_DEVICE;
    bool named = false;
    const int rc = parse_options(kRegionCheckCommand, argc, argv, [&](int, const char *arg) {
        object = arg;
        named = true;
    });
    if (rc >= 0) return rc;
    if (argc - vek_optind != 1) return usage_error("expected one region name");
    const std::string name = argv[vek_optind];
    AttachedRegion region;
    if (!region.attach(name)) return kExitFail;
    const char *violation = nullptr;
    vek_st_t st = vek_region_check(region.get(), &violation);
    if (st != VEK_ST_SUCCESS) return fail_region(st);
    if (violation != nullptr) return fail("region '" + name + "': " + violation);
    vek_region_info_t info{};
    st = vek_region_info(region.get(), &info);
    if (st != VEK_ST_SUCCESS) return fail_region(st);
    std::printf("region '%s': allocator and %u named objects whole\n", name.c_str(),
                static_cast<unsigned>(info.objects));
    vek_hdl_t *hdl = nullptr;
    const int drc = find_device(region.get(), object, !named, &hdl);
    if (drc >= 0) return drc;
    if (hdl == nullptr) return kExitOk; // no device handle to walk
    const RegistryCheck rchk = check_registry(info, object, hdl);
    if (!rchk.violation.empty()) {
        return rchk.status != VEK_ST_SUCCESS ? fail_status(rchk.status, rchk.violation) : fail(rchk.violation);
    }
    std::printf("handle '%s': registry of %u resources whole\n", object.c_str(), static_cast<unsigned>(rchk.records));
    return kExitOk;
}

} // namespace

RegistryCheck check_registry(const vek_region_info_t &info, const std::string &object, vek_hdl_t *hdl) {
    // The walk's own calls (a bitmap count tests every identifier) would
    // bury the trace lines of the command's real work.
    struct Quiet {
        uint32_t level = vek_trace_level;
        Quiet() { vek_trace_level = 0; }
        ~Quiet() { vek_trace_level = level; }
    } quiet;
    RegistryCheck out;
    const Bounds bounds(info);
    const std::string what = "handle '" + object + "'";
    if (!bounds.holds(hdl)) {
        out.violation = what + " lies outside the region";
        return out;
    }
    if (hdl->magic != VEK_HDL_MAGIC) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08" PRIx32, hdl->magic);
        out.violation = what + ": magic " + buf + ", not VEK_HDL_MAGIC";
        return out;
    }
    vek_rsrc_registry_t *reg = hdl->rsrcRegistry;
    if (reg == nullptr) {
        out.violation = what + " has no registry";
        return out;
    }
    if (!bounds.holds(reg)) {
        out.violation = what + ": registry " + hex(reg) + " lies outside the region";
        return out;
    }
    Locked regLock(&reg->mutex);
    if (!regLock.held()) {
        out.status = regLock.status();
        out.violation = what + ": the registry's lock fails";
        return out;
    }
    const uint32_t numRsrcs = reg->numRsrcs;
    const uint64_t most = bounds.most(sizeof(vek_rsrc_t));
    std::set<std::pair<uint32_t, std::string>> seen;
    for (vek_rsrc_t *rec = reg->rsrcHead; rec != nullptr; rec = rec->next) {
        const std::string at = what + ": record " + std::to_string(out.records + 1);
        if (out.records >= numRsrcs || out.records >= most) {
            out.violation = what + ": the list holds more records than numRsrcs (" + std::to_string(numRsrcs) + ")";
            return out;
        }
        if (!bounds.holds(rec)) {
            out.violation = at + " (" + hex(rec) + ") lies outside the region";
            return out;
        }
        ++out.records;
        if (rec->vekHdl != hdl) {
            out.violation = at + " belongs to another handle (" + hex(rec->vekHdl) + ")";
            return out;
        }
        const char *name = rec->name;
        if (!bounds.holds_text(name) || name[0] == '\0') {
            out.violation = at + ": its name " + hex(name) + " is not a text inside the region";
            return out;
        }
        const uint32_t kind = rec->kind;
        const std::string label = what + ": resource '" + name + "' (kind " + std::to_string(kind) + ")";
        if (kind > VEK_RSRC_MAX_KIND) {
            out.violation = label + ": no such kind";
            return out;
        }
        if (!seen.emplace(kind, name).second) {
            out.violation = label + " appears twice";
            return out;
        }
        Locked recLock(&rec->mutex);
        if (!recLock.held()) {
            out.status = recLock.status();
            out.violation = label + ": its lock fails";
            return out;
        }
        out.violation = check_record(bounds, rec, label);
        if (!out.violation.empty()) return out;
    }
    if (out.records != numRsrcs) {
        out.violation = what + ": numRsrcs is " + std::to_string(numRsrcs) + ", the list holds " +
                        std::to_string(out.records) + " records";
    }
    return out;
}

const Command kRegionCheckCommand{"region check",
                                  {{'o', "object", true}},
                                  "Usage: vekutil region check NAME [--object OBJECT]\n"
                                  "\n"
                                  "Attaches to a region (never creates it) and checks it: its header, its\n"
                                  "allocator and its directory of named objects, under the region's lock.\n"
                                  "Then, when the region holds the device handle OBJECT (default \"device\";\n"
                                  "an OBJECT named on the command line must exist), walks that handle's\n"
                                  "resource registry taking the registry's and each resource's lock as any\n"
                                  "user does, checks every pointer against the region's bounds, and each\n"
                                  "resource's free count against the free identifiers of its bitmap.\n"
                                  "Exit status 1 with the first violation on standard error.\n"
                                  "\n"
                                  "Options:\n"
                                  "  -o, --object OBJECT  the named device handle (default \"device\")\n"
                                  "  -T, --trace          turn on the library's trace lines\n"
                                  "  -h, --help           print this help\n",
                                  check_main};

} // namespace vekutil
