// vekutil region create NAME --size BYTES [--group] | ls | info NAME | rm NAME,
// and the helpers every region command uses.
#include "cmd_region.hpp"
#include "commands.hpp"
#include "values.hpp"

#include <shared_device.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace vekutil {

namespace {

constexpr char kShmDir[] = "/dev/shm";
constexpr char kShmPrefix[] = "vek.";

// The one operand of a command that takes a region's name.
int region_operand(int argc, char **argv, std::string &name) {
    if (argc - vek_optind != 1) return usage_error("expected one region name");
    name = argv[vek_optind];
    return -1;
}

int create_main(int argc, char **argv) {
    std::string sizeText;
    bool group = false;
    const int rc = parse_options(kRegionCreateCommand, argc, argv, [&](int c, const char *arg) {
        if (c == 's') sizeText = arg;
        if (c == 'g') group = true;
    });
    if (rc >= 0) return rc;
    if (sizeText.empty()) return usage_error("expected --size BYTES (K, M or G may follow the digits)");
    uint64_t size = 0;
    if (!parse_size(sizeText, size)) {
        return usage_error("not a size: '" + sizeText + "' (decimal digits, then K, M or G)");
    }
    std::string name;
    const int orc = region_operand(argc, argv, name);
    if (orc >= 0) return orc;
    const uint32_t flags = VEK_REGION_CREATE | VEK_REGION_EXCL | (group ? VEK_REGION_GROUP : 0u);
    vek_region_t *region = nullptr;
    const vek_st_t st = vek_region_open(name.c_str(), static_cast<std::size_t>(size), flags, &region);
    if (st != VEK_ST_SUCCESS) return fail_region(st);
    vek_region_close(region);
    return kExitOk;
}

struct Listed {
    std::string name;
    uint64_t size;
    unsigned mode;
    std::string owner;
};

std::string owner_of(uid_t uid) {
    const struct passwd *pw = getpwuid(uid);
    return pw != nullptr ? std::string(pw->pw_name) : std::to_string(static_cast<unsigned long>(uid));
}

int ls_main(int argc, char **argv) {
    const int rc = parse_options(kRegionLsCommand, argc, argv, [](int, const char *) {});
    if (rc >= 0) return rc;
    if (argc - vek_optind != 0) return usage_error("takes no operands");
    DIR *dir = opendir(kShmDir);
    if (dir == nullptr) return fail(std::string(kShmDir) + ": cannot open: " + std::strerror(errno));
    std::vector<Listed> found;
    while (const struct dirent *e = readdir(dir)) {
        if (std::strncmp(e->d_name, kShmPrefix, sizeof kShmPrefix - 1) != 0) continue;
        const std::string path = std::string(kShmDir) + "/" + e->d_name;
        struct stat st {};
        // lstat: a symbolic link is no region (attaching refuses it too).
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        found.push_back({e->d_name + sizeof kShmPrefix - 1, static_cast<uint64_t>(st.st_size),
                         static_cast<unsigned>(st.st_mode & 07777), owner_of(st.st_uid)});
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](const Listed &a, const Listed &b) { return a.name < b.name; });
    std::printf("%-24s %12s %4s  %s\n", "NAME", "SIZE", "MODE", "OWNER");
    for (const Listed &l : found) {
        std::printf("%-24s %12" PRIu64 " %04o  %s\n", l.name.c_str(), l.size, l.mode, l.owner.c_str());
    }
    return kExitOk;
}

int print_object(const char *name, void *, size_t size, int ready, void *) {
    std::printf("  %-24s %10zu bytes  %s\n", name, size, ready ? "ready" : "not ready");
    return 0;
}

int info_main(int argc, char **argv) {
    const int rc = parse_options(kRegionInfoCommand, argc, argv, [](int, const char *) {});
    if (rc >= 0) return rc;
    std::string name;
    const int orc = region_operand(argc, argv, name);
    if (orc >= 0) return orc;
    AttachedRegion region;
    if (!region.attach(name)) return kExitFail;
    vek_region_info_t info{};
    vek_st_t st = vek_region_info(region.get(), &info);
    if (st != VEK_ST_SUCCESS) return fail_region(st);
    std::printf("region   %s\n", info.name);
    std::printf("base     0x%" PRIx64 "\n", info.base);
    std::printf("size     %s\n", size_text(info.size).c_str());
    std::printf("used     %" PRIu64 " bytes in %" PRIu64 " blocks\n", info.usedBytes, info.blocksInUse);
    std::printf("free     %" PRIu64 " bytes\n", info.freeBytes);
    std::printf("mode     %04o\n", static_cast<unsigned>(info.mode & 07777));
    std::printf("layout   %u\n", static_cast<unsigned>(info.layout));
    std::printf("objects  %u\n", static_cast<unsigned>(info.objects));
    st = vek_region_objects(region.get(), print_object, nullptr);
    if (st != VEK_ST_SUCCESS) return fail_region(st);
    return kExitOk;
}

int rm_main(int argc, char **argv) {
    const int rc = parse_options(kRegionRmCommand, argc, argv, [](int, const char *) {});
    if (rc >= 0) return rc;
    std::string name;
    const int orc = region_operand(argc, argv, name);
    if (orc >= 0) return orc;
    const vek_st_t st = vek_region_remove(name.c_str());
    if (st != VEK_ST_SUCCESS) return fail_region(st);
    return kExitOk;
}

} // namespace

bool AttachedRegion::attach(const std::string &name) {
    vek_region_close(region_);
    region_ = nullptr;
    const vek_st_t st = vek_region_open(name.c_str(), 0, 0, &region_);
    if (st != VEK_ST_SUCCESS) {
        region_ = nullptr;
        fail_region(st);
        return false;
    }
    return true;
}

int fail_region(vek_st_t status) { return fail_status(status, vek_region_error()); }

bool parse_size(const std::string &text, uint64_t &bytes) {
    std::string digits = text;
    unsigned shift = 0;
    if (!digits.empty()) {
        const char unit = digits.back();
        shift = unit == 'K' ? 10 : unit == 'M' ? 20 : unit == 'G' ? 30 : 0;
        if (shift != 0) digits.pop_back();
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    uint64_t v = 0;
    if (!parse_u64(digits, SIZE_MAX >> shift, v)) return false;
    bytes = v << shift;
    return true;
}

std::string size_text(uint64_t bytes) {
    std::string text = std::to_string(bytes);
    static constexpr struct {
        unsigned shift;
        char unit;
    } kUnits[] = {{30, 'G'}, {20, 'M'}, {10, 'K'}};
    for (const auto &u : kUnits) {
        const uint64_t one = uint64_t{1} << u.shift;
        if (bytes >= one && bytes % one == 0) return text + " (" + std::to_string(bytes >> u.shift) + u.unit + ")";
    }
    return text;
}

int find_device(vek_region_t *region, const std::string &object, bool absentOk, vek_hdl_t **out) {
    *out = nullptr;
    void *at = nullptr;
    size_t size = 0;
    const vek_st_t st = vek_region_object_find(region, object.c_str(), &at, &size);
    if (st == VEK_ST_INVALID_VALUE && absentOk) return -1;
    if (st != VEK_ST_SUCCESS) return fail_region(st);
    if (size != sizeof(vek_hdl_t)) {
        return fail_status(VEK_ST_INVALID_HANDLE, "object '" + object + "' holds " + std::to_string(size) +
                                                      " bytes, not a device handle (" +
                                                      std::to_string(sizeof(vek_hdl_t)) + " bytes)");
    }
    *out = static_cast<vek_hdl_t *>(at);
    return -1;
}

// The rule of names, one copy in every help text that needs it.
#define VEKUTIL_NAME_RULE                                                   \
    "A region's name has 1 to 63 letters, digits and . _ - (not starting\n" \
    "with '.'); the region is the shared-memory object /dev/shm/vek.NAME.\n"

const Command kRegionCreateCommand{"region create",
                                   {{'s', "size", true}, {'g', "group", false}},
                                   "Usage: vekutil region create NAME --size BYTES[K|M|G] [--group]\n"
                                   "\n"
                                   "Creates a named robust region of BYTES bytes (rounded up to pages; at\n"
                                   "least 64K), mapped at one fixed address in every process that attaches\n"
                                   "to it. Fails when the region exists already. Mode 0600, or 0660 with\n"
                                   "--group. The region stays until `vekutil region rm NAME`.\n" VEKUTIL_NAME_RULE "\n"
                                   "Options:\n"
                                   "  -s, --size BYTES  size: decimal digits, then K, M or G (1024, 1024^2,\n"
                                   "                    1024^3 bytes)\n"
                                   "  -g, --group       the group may attach too (mode 0660)\n"
                                   "  -T, --trace       turn on the library's trace lines\n"
                                   "  -h, --help        print this help\n",
                                   create_main};

const Command kRegionLsCommand{"region ls",
                               {},
                               "Usage: vekutil region ls\n"
                               "\n"
                               "Lists the regions of this host, the shared-memory objects /dev/shm/vek.*,\n"
                               "sorted by name: name, size in bytes, permission bits and owner. Attaches\n"
                               "to none of them.\n"
                               "\n"
                               "Options:\n"
                               "  -T, --trace  turn on the library's trace lines\n"
                               "  -h, --help   print this help\n",
                               ls_main};

const Command kRegionInfoCommand{"region info",
                                 {},
                                 "Usage: vekutil region info NAME\n"
                                 "\n"
                                 "Attaches to a region (never creates it) and prints its figures, taken\n"
                                 "under its lock: base address, size, bytes and blocks in use, free bytes,\n"
                                 "mode, layout version, then its named objects in creation order with\n"
                                 "their sizes and whether they are ready.\n" VEKUTIL_NAME_RULE "\n"
                                 "Options:\n"
                                 "  -T, --trace  turn on the library's trace lines\n"
                                 "  -h, --help   print this help\n",
                                 info_main};

const Command kRegionRmCommand{"region rm",
                               {},
                               "Usage: vekutil region rm NAME\n"
                               "\n"
                               "Removes a region's name: no process can attach to it afterwards, while\n"
                               "those attached keep using it; its memory goes back to the system when\n"
                               "the last of them detaches.\n" VEKUTIL_NAME_RULE "\n"
                               "Options:\n"
                               "  -T, --trace  turn on the library's trace lines\n"
                               "  -h, --help   print this help\n",
                               rm_main};

} // namespace vekutil
