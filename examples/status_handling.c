/*
 * status_handling - checking results the way the library reports them.
 *
 * Most functions return a vek_st_t status (0 = VEK_ST_SUCCESS); the
 * bitmaps return 0 / -1 / -2; the containers return the stored value or 0.
 * This program meets each kind of result on purpose and reacts to it.
 */
#include <inttypes.h>
#include <stdio.h>

#include <vek/vekcommon.h>

/* Logs a failed call with the status name; returns 1 when it failed. */
static int failed(const char *what, vek_st_t st) {
    if (st == VEK_ST_SUCCESS) return 0;
    printf("%s: %s (%" PRIu32 ")\n", what, vek_status_get(st), st);
    return 1;
}

/* Allocation, with the reactions a caller usually wants per status. */
static void allocate(vek_rsrc_t *pool, uint32_t count) {
    uint32_t first = 0;
    vek_st_t st = vek_rsrc_allocate(pool, count, &first);
    switch (st) {
    case VEK_ST_SUCCESS:
        printf("allocate %" PRIu32 ": identifiers %" PRIu32 "..%" PRIu32 "\n", count, first, first + count - 1);
        break;
    case VEK_ST_RSRC_INSUFF_IDS_AVAIL:
        printf("allocate %" PRIu32 ": fewer identifiers free than asked\n", count);
        break;
    case VEK_ST_INVALID_PARAMETER:
        /* Also the answer when enough identifiers are free but split. */
        printf("allocate %" PRIu32 ": no free run that long (or a bad request)\n", count);
        break;
    case VEK_ST_PTHREAD_MUTEX_OWNER_DEAD:
        /* Another user died holding the lock: the call ran, but check the state. */
        printf("allocate %" PRIu32 ": previous lock owner died\n", count);
        break;
    default: failed("allocate", st); break;
    }
}

int main(void) {
    /* Names of codes, of this library or of any other part of the kit. */
    vek_status_print("lookup", VEK_ST_MAP_KEY_NOT_EXIST);
    vek_status_print(NULL, 1102);
    vek_status_print("no name", 109);
    printf("%s\n", vek_status_get(70000));

    /* Statuses: every call checked; a failure changes nothing. */
    vek_hdl_t bad = {0, NULL};
    failed("init without magic", vek_rsrc_init(&bad));

    vek_hdl_t dev = {VEK_HDL_MAGIC, NULL};
    if (failed("init", vek_rsrc_init(&dev))) return 1;
    vek_rsrc_t *vlans = NULL;
    if (failed("create", vek_rsrc_create(&dev, 1, "vlans", 8, 100, &vlans))) {
        vek_rsrc_release(&dev);
        return 1;
    }
    failed("create the same name again", vek_rsrc_create(&dev, 1, "vlans", 8, 200, NULL));
    failed("create past 2^24", vek_rsrc_create(&dev, 2, "big", 0x1000000u, 1, NULL));
    failed("create kind 9", vek_rsrc_create(&dev, 9, "odd", 8, 0, NULL));

    allocate(vlans, 3);
    allocate(vlans, 20);
    failed("allocate_fixed 101 (in use)", vek_rsrc_allocate_fixed(vlans, 1, 101));
    failed("free 107 (not allocated)", vek_rsrc_free(vlans, 107, 1));
    allocate(vlans, 5);
    /* Free two single identifiers: 2 free, but not next to each other. */
    failed("free 101", vek_rsrc_free(vlans, 101, 1));
    failed("free 104", vek_rsrc_free(vlans, 104, 1));
    allocate(vlans, 2);

    vek_rsrc_info_t info;
    if (!failed("query", vek_rsrc_query(vlans, &info))) {
        printf("%s: %" PRIu32 " of %" PRIu32 " free\n", info.name, info.numElemsFree, info.numElems);
    }
    failed("release", vek_rsrc_release(&dev));

    /* Map getters: the status tells a missing key from a wrong type;
     * the out-parameter is left alone on failure. */
    vek_map_t *cfg = NULL;
    if (failed("map create", vek_map_create(&cfg))) return 1;
    failed("set mtu", vek_map_set_u32_ll(cfg, "port.mtu", 9000, 1));
    uint32_t mtu = 1500;
    failed("get port.mtu", vek_map_get_u32(cfg, "port.mtu", &mtu));
    failed("get port.speed", vek_map_get_u32(cfg, "port.speed", &mtu));
    double d = 0;
    failed("get port.mtu as double", vek_map_get_double(cfg, "port.mtu", &d));
    failed("get port.mtu.x", vek_map_get_u32(cfg, "port.mtu.x", &mtu));
    failed("get port[id=1", vek_map_get_u32(cfg, "port[id=1", &mtu));
    printf("mtu is still %" PRIu32 "\n", mtu);
    vek_map_destroy(cfg);

    /* Bitmaps: 0 success, -1 no run fits, -2 request too big or full. */
    vek_bitmap_t *ids = vek_bitmap_create(16);
    if (ids == NULL) return 1;
    uint32_t base = 0;
    printf("reserve 10 of 16: %d", (int)vek_bitmap_reserve(ids, 10, &base));
    printf(" (base %" PRIu32 ")\n", base);
    printf("reserve 10 more: %d\n", (int)vek_bitmap_reserve(ids, 10, &base));
    printf("reserve 17: %d\n", (int)vek_bitmap_reserve(ids, 17, &base));
    vek_bitmap_delete(ids);

    /* Containers: the value itself, 0 for "absent" - so store non-zero. */
    vek_hash_t *ht = vek_hash_create_table(8);
    if (ht == NULL) return 1;
    vek_hash_put(ht, 1, 0);
    printf("hash get of a stored 0: %" PRIuPTR ", of a missing key: %" PRIuPTR "\n", vek_hash_get(ht, 1),
           vek_hash_get(ht, 2));
    vek_hash_delete_table(ht);
    return 0;
}
