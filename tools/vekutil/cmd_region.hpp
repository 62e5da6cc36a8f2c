// What the region commands (region create/ls/info/check/rm, rsrc) share:
// attaching to a region without changing it, sizes, the named device
// handle (examples/shared_device.h) and the walk of its registry.
#pragma once

#include <vek/vekcommon.h>
#include <vek_region.h>

#include <cstdint>
#include <string>

namespace vekutil {

// A region attached for reading (no create, no robust memory), closed
// when the object goes.
class AttachedRegion {
public:
    AttachedRegion() = default;
    AttachedRegion(const AttachedRegion &) = delete;
    AttachedRegion &operator=(const AttachedRegion &) = delete;
    ~AttachedRegion() { vek_region_close(region_); }

    // Attaches; prints the message and returns false on failure.
    bool attach(const std::string &name);
    vek_region_t *get() const { return region_; }

private:
    vek_region_t *region_ = nullptr;
};

// "vekutil CMD: STATUS_NAME: <the platform library's description>".
int fail_region(vek_st_t status);

// BYTES[K|M|G]: decimal digits, then at most one of K, M, G (powers of 1024).
bool parse_size(const std::string &text, uint64_t &bytes);
// 4194304 -> "4194304 (4M)"; a size that is no whole K, M or G alone.
std::string size_text(uint64_t bytes);

// Finds the named device handle of the region: a ready object of
// sizeof(vek_hdl_t) bytes. Sets *out to null (and returns -1) when there is
// none and absentOk; otherwise prints the message and returns the exit
// status. Returns -1 to go on.
int find_device(vek_region_t *region, const std::string &object, bool absentOk, vek_hdl_t **out);

// The outcome of a registry walk.
struct RegistryCheck {
    std::string violation; // empty when the registry is whole
    uint32_t records = 0;  // records walked
    vek_st_t status = 0;   // a lock that failed (violation names it)
};

// Walks the handle's registry as any user of it would: the registry's
// lock, then each record's in turn. Every pointer read from the region is
// checked against its bounds before it is followed; each record's free
// count is compared with the free identifiers of its bitmap
// (vek_bitmap_count). The walk prints no trace lines. Returns the first
// violation found.
RegistryCheck check_registry(const vek_region_info_t &info, const std::string &object, vek_hdl_t *hdl);

} // namespace vekutil
