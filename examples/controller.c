/*
 * controller - sets up a device handle and its resources in a named
 * robust region, for other programs (worker.c) to allocate from.
 *
 *   controller [REGION [WAIT_FILE [SECONDS]]]
 *
 * Creates region REGION (default "vekdemo", 1M), or attaches to it when it
 * exists, with the region serving this process's robust memory; finds or
 * makes the shared device handle "device" (shared_device.h) and its
 * resources "queues" (64 identifiers from 100) and "ports" (16 from 0),
 * and prints the resource table. With WAIT_FILE it then waits until that
 * file exists (at most SECONDS, default 60) and prints the table again;
 * without, it exits at once. Either way the region stays for the others:
 * `vekutil region rm REGION` removes it.
 *
 * Any program may start first: run the controller twice and the second run
 * attaches to the first one's region and finds its resources.
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <vek/vekcommon.h>
#include <vek_region.h>

#include "shared_device.h"

#define REGION_SIZE (1u << 20)
#define KIND 1u /* the kind of both resources */

static const struct {
    const char *name;
    uint32_t count;
    uint32_t base;
} resources[] = {{"queues", 64, 100}, {"ports", 16, 0}};

/* Attaches to the region, or creates it; says which. */
static vek_st_t open_region(const char *name, vek_region_t **region) {
    vek_st_t st = vek_region_open(name, REGION_SIZE, VEK_REGION_CREATE | VEK_REGION_EXCL | VEK_REGION_ROBUST, region);
    if (st == VEK_ST_SUCCESS) {
        printf("region '%s' created\n", name);
        return st;
    }
    if (st != VEK_ST_INVALID_VALUE) return st;
    /* It exists (or someone created it just now): attach. */
    st = vek_region_open(name, 0, VEK_REGION_ROBUST, region);
    if (st == VEK_ST_SUCCESS) printf("region '%s' attached\n", name);
    return st;
}

/* Finds the resource, or creates it when it is not there yet. */
static vek_st_t find_or_create(vek_hdl_t *dev, const char *name, uint32_t count, uint32_t base) {
    vek_rsrc_t *r = NULL;
    if (vek_rsrc_find(dev, KIND, name, &r) == VEK_ST_SUCCESS) {
        printf("resource '%s' found\n", name);
        return VEK_ST_SUCCESS;
    }
    vek_st_t st = vek_rsrc_create(dev, KIND, name, count, base, &r);
    if (st == VEK_ST_INVALID_VALUE && vek_rsrc_find(dev, KIND, name, &r) == VEK_ST_SUCCESS) {
        printf("resource '%s' found\n", name); /* another program was quicker */
        return VEK_ST_SUCCESS;
    }
    if (st == VEK_ST_SUCCESS) printf("resource '%s' created: %u identifiers from %u\n", name, count, base);
    return st;
}

/* Waits until the file exists or the time is up. */
static int wait_for(const char *path, long seconds) {
    const time_t end = time(NULL) + seconds;
    while (access(path, F_OK) != 0) {
        if (time(NULL) >= end) return 0;
        usleep(50 * 1000);
    }
    return 1;
}

int main(int argc, char **argv) {
    const char *name = argc > 1 ? argv[1] : "vekdemo";
    const char *waitFile = argc > 2 ? argv[2] : NULL;
    const long seconds = argc > 3 ? atol(argv[3]) : 60;

    vek_region_t *region = NULL;
    vek_st_t st = open_region(name, &region);
    if (st != VEK_ST_SUCCESS) {
        fprintf(stderr, "controller: %s: %s\n", vek_status_get(st), vek_region_error());
        return 1;
    }
    vek_hdl_t *dev = NULL;
    st = vek_shared_device(region, VEK_SHARED_DEVICE, &dev);
    for (size_t i = 0; st == VEK_ST_SUCCESS && i < sizeof resources / sizeof resources[0]; ++i) {
        st = find_or_create(dev, resources[i].name, resources[i].count, resources[i].base);
    }
    if (st == VEK_ST_SUCCESS) st = vek_rsrc_dump(dev, VEK_RSRC_KIND_ALL);
    if (st != VEK_ST_SUCCESS) {
        vek_status_print("controller", st);
        vek_region_close(region);
        return 1;
    }
    if (waitFile != NULL) {
        printf("waiting for %s\n", waitFile);
        fflush(stdout);
        if (!wait_for(waitFile, seconds)) printf("no %s after %ld s\n", waitFile, seconds);
        st = vek_rsrc_dump(dev, VEK_RSRC_KIND_ALL);
    }
    /* Detach: the region, the handle and the resources stay. */
    vek_region_close(region);
    return st != VEK_ST_SUCCESS;
}
