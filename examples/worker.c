/*
 * worker - allocates identifiers from a resource that another program
 * (controller.c) set up in a named robust region.
 *
 *   worker [REGION [RESOURCE [COUNT [keep|free]]]]
 *
 * Attaches to region REGION (default "vekdemo"; it must exist), finds the
 * shared device handle "device" by name (shared_device.h) and the resource
 * RESOURCE (default "queues") with vek_rsrc_find, allocates COUNT
 * (default 4) consecutive identifiers and prints them. With "keep" they
 * stay allocated after the worker ends, for `vekutil rsrc REGION` to show;
 * by default the worker frees them again.
 *
 * The worker allocates no memory: identifiers come from the resource's
 * bitmap under its lock, which lives in the region. So it attaches without
 * VEK_REGION_ROBUST and leaves its own robust memory private.
 */
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vek/vekcommon.h>
#include <vek_region.h>

#include "shared_device.h"

#define KIND 1u /* the kind of the controller's resources */

static int region_failed(vek_st_t st) {
    fprintf(stderr, "worker: %s: %s\n", vek_status_get(st), vek_region_error());
    return 1;
}

int main(int argc, char **argv) {
    const char *name = argc > 1 ? argv[1] : "vekdemo";
    const char *rsrcName = argc > 2 ? argv[2] : "queues";
    const uint32_t count = argc > 3 ? (uint32_t)strtoul(argv[3], NULL, 10) : 4;
    const int keep = argc > 4 && strcmp(argv[4], "keep") == 0;

    vek_region_t *region = NULL;
    vek_st_t st = vek_region_open(name, 0, 0, &region);
    if (st != VEK_ST_SUCCESS) return region_failed(st);

    void *object = NULL;
    size_t size = 0;
    st = vek_region_object_find(region, VEK_SHARED_DEVICE, &object, &size);
    if (st != VEK_ST_SUCCESS || size != sizeof(vek_hdl_t)) {
        if (st == VEK_ST_SUCCESS) st = VEK_ST_INVALID_HANDLE;
        fprintf(stderr, "worker: region '%s' holds no device handle '%s' (%s): start the controller first\n", name,
                VEK_SHARED_DEVICE, vek_status_get(st));
        vek_region_close(region);
        return 1;
    }
    vek_hdl_t *dev = object;

    vek_rsrc_t *r = NULL;
    uint32_t first = 0;
    st = vek_rsrc_find(dev, KIND, rsrcName, &r);
    if (st != VEK_ST_SUCCESS) {
        printf("worker: no resource '%s' of kind %u\n", rsrcName, KIND);
        vek_status_print("worker", st);
        vek_region_close(region);
        return 1;
    }
    st = vek_rsrc_allocate(r, count, &first);
    if (st != VEK_ST_SUCCESS) {
        printf("worker: cannot allocate %" PRIu32 " identifiers of '%s'\n", count, rsrcName);
        vek_status_print("worker", st);
        vek_region_close(region);
        return 1;
    }
    printf("allocated %" PRIu32 " identifiers of '%s':", count, rsrcName);
    for (uint32_t i = 0; i < count; ++i) printf(" %" PRIu32, first + i);
    printf("\n");

    if (!keep) st = vek_rsrc_free(r, first, count);
    vek_rsrc_info_t info;
    memset(&info, 0, sizeof info);
    if (st == VEK_ST_SUCCESS) st = vek_rsrc_query(r, &info);
    if (st != VEK_ST_SUCCESS) {
        vek_status_print("worker", st);
        vek_region_close(region);
        return 1;
    }
    printf("%s them; '%s' has %" PRIu32 " of %" PRIu32 " identifiers free\n", keep ? "kept" : "freed", rsrcName,
           info.numElemsFree, info.numElems);
    vek_region_close(region);
    return 0;
}
