/*
 * shared_device.h - a device handle that independent programs share
 * through a named robust region.
 *
 * The convention the examples and vekutil follow: the region holds a named
 * object (called "device" unless the user names another) of
 * sizeof(vek_hdl_t) bytes. Its first user initialises it once: magic
 * VEK_HDL_MAGIC, no registry, then vek_rsrc_init(), whose registry comes
 * from the region because the region serves the process's robust memory
 * (opened with VEK_REGION_ROBUST). Later users find the same handle, and
 * with it the same registry, locks and resources.
 *
 *   vek_region_t *region;
 *   vek_hdl_t *dev;
 *   vek_region_open("vekdemo", 4u << 20, VEK_REGION_CREATE | VEK_REGION_ROBUST, &region);
 *   vek_shared_device(region, VEK_SHARED_DEVICE, &dev);
 *
 * Header only: nothing here is exported by libvekcommon.
 */
#ifndef VEK_SHARED_DEVICE_H
#define VEK_SHARED_DEVICE_H

#include <stddef.h>

#include <vek/vekcommon.h>
#include <vek_region.h>

/** The name of the shared device handle when the user gives none. */
#define VEK_SHARED_DEVICE "device"

/**
 * Initialiser of the named device object (a vek_region_init_fn): ctx is
 * the region, which must serve the process's robust memory so that the
 * registry lands in it and not in private memory.
 */
static inline vek_st_t vek_shared_device_init(void *object, size_t size, void *ctx) {
    vek_hdl_t *hdl = (vek_hdl_t *)object;
    if (size != sizeof(vek_hdl_t) || ctx == NULL || vek_region_current() != (vek_region_t *)ctx) {
        return VEK_ST_INVALID_VALUE;
    }
    hdl->magic = VEK_HDL_MAGIC;
    hdl->rsrcRegistry = NULL;
    return vek_rsrc_init(hdl);
}

/**
 * Finds the named device handle of a region, or creates and initialises it
 * (exactly once, whoever comes first).
 * @return 0 with the handle in *out, or the status of vek_region_object()
 *         (VEK_ST_INVALID_VALUE also when the region does not serve the
 *         process's robust memory and the handle is still to be made).
 */
static inline vek_st_t vek_shared_device(vek_region_t *region, const char *name, vek_hdl_t **out) {
    void *object = NULL;
    const vek_st_t st = vek_region_object(region, name, sizeof(vek_hdl_t), vek_shared_device_init, region, &object);
    if (st == VEK_ST_SUCCESS) *out = (vek_hdl_t *)object;
    return st;
}

#endif /* VEK_SHARED_DEVICE_H */
