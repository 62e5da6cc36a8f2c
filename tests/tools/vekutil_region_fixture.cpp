// Sets up, and breaks on purpose, the named regions the vekutil region
// tests look at:
//   vekutil_region_fixture REGION setup         a region of 1M with the shared
//       device handle "device" ("queues": kind 1, 64 identifiers from 100,
//       3 of them allocated; "ports": kind 2, 16 from 0) and an object
//       "blob" of 100 bytes that is no handle
//   vekutil_region_fixture REGION free-count    one more free than the bitmap has
//   vekutil_region_fixture REGION next          the newest record's next pointer
//       leads out of the region
//   vekutil_region_fixture REGION magic         the handle's magic is wrong
//   vekutil_region_fixture REGION die-locked    takes the registry's lock and dies
//   vekutil_region_fixture REGION die-init      dies initialising an object
//       "half" of 32 bytes, which stays not ready
// Each step is one process; every change is made under the lock that
// guards it, as a faulty user would make it.
#include <vek/vekcommon.h>
#include <vek_region.h>

#include <shared_device.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

int failed(const char *what, vek_st_t st) {
    std::fprintf(stderr, "vekutil_region_fixture: %s: %s: %s\n", what, vek_status_get(st), vek_region_error());
    return 1;
}

int setup(const char *name) {
    vek_region_t *region = nullptr;
    vek_st_t st = vek_region_open(name, 1u << 20, VEK_REGION_CREATE | VEK_REGION_EXCL | VEK_REGION_ROBUST, &region);
    if (st != VEK_ST_SUCCESS) return failed("open", st);
    vek_hdl_t *dev = nullptr;
    vek_rsrc_t *queues = nullptr;
    uint32_t first = 0;
    void *blob = nullptr;
    st = vek_shared_device(region, VEK_SHARED_DEVICE, &dev);
    if (st == VEK_ST_SUCCESS) st = vek_rsrc_create(dev, 1, "queues", 64, 100, &queues);
    if (st == VEK_ST_SUCCESS) st = vek_rsrc_create(dev, 2, "ports", 16, 0, nullptr);
    if (st == VEK_ST_SUCCESS) st = vek_rsrc_allocate(queues, 3, &first);
    if (st == VEK_ST_SUCCESS) st = vek_region_object(region, "blob", 100, nullptr, nullptr, &blob);
    vek_region_close(region);
    return st == VEK_ST_SUCCESS ? 0 : failed("setup", st);
}

vek_st_t die_initialising(void *, size_t, void *) { _exit(0); }

int change(const char *name, const std::string &what) {
    vek_region_t *region = nullptr;
    vek_st_t st = vek_region_open(name, 0, 0, &region);
    if (st != VEK_ST_SUCCESS) return failed("open", st);
    void *object = nullptr;
    st = vek_region_object_find(region, VEK_SHARED_DEVICE, &object, nullptr);
    if (st != VEK_ST_SUCCESS) return failed("find", st);
    vek_hdl_t *dev = static_cast<vek_hdl_t *>(object);
    if (what == "die-init") {
        void *half = nullptr;
        vek_region_object(region, "half", 32, die_initialising, nullptr, &half);
        return 1; // not reached
    }
    vek_rsrc_registry_t *reg = dev->rsrcRegistry;
    if (what == "magic") {
        dev->magic = 0x12345678u;
    } else if (what == "free-count") {
        vek_rsrc_t *queues = nullptr;
        st = vek_rsrc_find(dev, 1, "queues", &queues);
        if (st != VEK_ST_SUCCESS) return failed("find queues", st);
        vek_mutex_lock(&queues->mutex);
        ++queues->numElemsFree;
        vek_mutex_unlock(&queues->mutex);
    } else if (what == "next") {
        vek_mutex_lock(&reg->mutex);
        reg->rsrcHead->next = reinterpret_cast<vek_rsrc_t *>(uintptr_t{64});
        vek_mutex_unlock(&reg->mutex);
    } else if (what == "die-locked") {
        vek_mutex_lock(&reg->mutex);
        _exit(0); // the lock's owner is gone; the next locker takes it over
    } else {
        std::fprintf(stderr, "vekutil_region_fixture: unknown step '%s'\n", what.c_str());
        return 2;
    }
    vek_region_close(region);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vekutil_region_fixture REGION setup|free-count|next|magic|die-locked|die-init\n");
        return 2;
    }
    if (std::strcmp(argv[2], "setup") == 0) return setup(argv[1]);
    return change(argv[1], argv[2]);
}
