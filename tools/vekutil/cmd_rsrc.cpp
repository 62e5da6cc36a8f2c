// vekutil rsrc NAME [--object OBJECT] [--kind K]: the resource table of a
// region's shared device handle, printed by the library.
#include "cmd_region.hpp"
#include "commands.hpp"
#include "values.hpp"

#include <shared_device.h>

#include <string>

namespace vekutil {

namespace {

int rsrc_main(int argc, char **argv) {
    std::string object = VEK_SHARED_DEVICE;
    std::string kindText;
    const int rc = parse_options(kRsrcCommand, argc, argv, [&](int c, const char *arg) {
        if (c == 'o') object = arg;
        if (c == 'k') kindText = arg;
    });
    if (rc >= 0) return rc;
    uint64_t kind = VEK_RSRC_KIND_ALL;
    if (!kindText.empty() && !parse_u64(kindText, VEK_RSRC_KIND_ALL, kind)) {
        return usage_error("not a kind: '" + kindText + "' (0 to 7, or 8 for every kind)");
    }
    if (argc - vek_optind != 1) return usage_error("expected one region name");
    AttachedRegion region;
    if (!region.attach(argv[vek_optind])) return kExitFail;
    vek_hdl_t *hdl = nullptr;
    const int drc = find_device(region.get(), object, false, &hdl);
    if (drc >= 0) return drc;
    // The library follows the registry's pointers as they are: walk them
    // within the region's bounds first.
    vek_region_info_t info{};
    const vek_st_t ist = vek_region_info(region.get(), &info);
    if (ist != VEK_ST_SUCCESS) return fail_region(ist);
    const RegistryCheck rchk = check_registry(info, object, hdl);
    if (!rchk.violation.empty()) {
        return fail_status(rchk.status != VEK_ST_SUCCESS ? rchk.status : VEK_ST_INVALID_HANDLE, rchk.violation);
    }
    const vek_st_t st = vek_rsrc_dump(hdl, static_cast<uint32_t>(kind));
    if (st != VEK_ST_SUCCESS) return fail_status(st, "cannot print the resource table");
    return kExitOk;
}

} // namespace

const Command kRsrcCommand{"rsrc",
                           {{'o', "object", true}, {'k', "kind", true}},
                           "Usage: vekutil rsrc NAME [--object OBJECT] [--kind K]\n"
                           "\n"
                           "Attaches to region NAME (never creates it), finds its device handle\n"
                           "OBJECT (default \"device\") and prints the handle's resource table with\n"
                           "the library's vek_rsrc_dump: kind, name, first identifier, identifiers\n"
                           "and free identifiers, newest resource first. The registry is walked\n"
                           "within the region's bounds first, then printed under its lock, as any\n"
                           "user of it takes it.\n"
                           "\n"
                           "Options:\n"
                           "  -o, --object OBJECT  the named device handle (default \"device\")\n"
                           "  -k, --kind K         only resources of kind K (0 to 7; 8, the default,\n"
                           "                       lists every kind)\n"
                           "  -T, --trace          turn on the library's trace lines\n"
                           "  -h, --help           print this help\n",
                           rsrc_main};

} // namespace vekutil
