// Attaches to a region at its fixed address, for measuring how often a
// fresh process (its own address-space layout) finds the range free:
//   region_attach_probe create NAME   creates the region (64 KiB .. 1 MiB)
//   region_attach_probe attach NAME   attaches once; exit 0, 1 when the
//                                     range is taken, 2 on another failure
//   region_attach_probe remove NAME   removes it
// scripts/region-attach.sh runs it as N separate processes and counts.
#include <cstdio>
#include <cstring>

#include "vek_region.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s create|attach|remove NAME\n", argv[0]);
        return 2;
    }
    const char *name = argv[2];
    vek_region_t *r = nullptr;
    vek_st_t st = VEK_ST_INVALID_PARAMETER;
    if (std::strcmp(argv[1], "create") == 0) st = vek_region_open(name, 1u << 20, VEK_REGION_CREATE, &r);
    if (std::strcmp(argv[1], "attach") == 0) st = vek_region_open(name, 0, 0, &r);
    if (std::strcmp(argv[1], "remove") == 0) st = vek_region_remove(name);
    if (st != VEK_ST_SUCCESS) {
        std::fprintf(stderr, "%s\n", vek_region_error());
        return std::strstr(vek_region_error(), "is taken in this process") != nullptr ? 1 : 2;
    }
    void *p = nullptr;
    if (r != nullptr && (vek_region_alloc(r, 64, &p) != VEK_ST_SUCCESS || vek_region_free(r, p) != VEK_ST_SUCCESS)) {
        std::fprintf(stderr, "%s\n", vek_region_error());
        return 2;
    }
    vek_region_close(r);
    return 0;
}
