/*
 * config_map - a configuration tree built with key paths and selectors,
 * written to a file in the map's binary encoding and read back.
 *
 * Usage: config_map [FILE]   (default: config_map.bin, removed at the end)
 */
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

#include <vek/vekcommon.h>

static int check(const char *what, vek_st_t st) {
    if (st == VEK_ST_SUCCESS) return 0;
    printf("%s: %s\n", what, vek_status_get(st));
    return 1;
}

/* Appends one "port" entry holding id, speed and name. The child map and
 * the text come from the map's allocators, since the set takes them over. */
static vek_st_t add_port(vek_map_t *cfg, uint32_t id, uint32_t speed, const char *name) {
    vek_map_t *port = NULL;
    vek_st_t st = vek_map_create(&port);
    if (st != VEK_ST_SUCCESS) return st;
    char *text = vek_map_strdup(name);
    if (text == NULL) st = VEK_ST_NO_MEMORY;
    if (st == VEK_ST_SUCCESS) st = vek_map_set_u32_ll(port, "id", id, 1);
    if (st == VEK_ST_SUCCESS) st = vek_map_set_u32_ll(port, "speed", speed, 1);
    if (st == VEK_ST_SUCCESS) {
        st = vek_map_set_str_ll(port, "name", text, 1);
        if (st == VEK_ST_SUCCESS) text = NULL; /* the map owns it now */
    }
    /* checkForKey 0: append another "port" even though one exists. */
    if (st == VEK_ST_SUCCESS) st = vek_map_set_map_ll(cfg, "port", port, 0);
    if (st != VEK_ST_SUCCESS) {
        vek_map_free(text);
        vek_map_destroy(port);
    }
    return st;
}

static vek_st_t build(vek_map_t *cfg) {
    vek_st_t st = VEK_ST_SUCCESS;
    char *name = vek_map_strdup("npu0");
    if (name == NULL) return VEK_ST_NO_MEMORY;
    /* checkForKey 1: "device" is created once and then reused. */
    st = vek_map_set_str_ll(cfg, "device.name", name, 1);
    if (st != VEK_ST_SUCCESS) {
        vek_map_free(name);
        return st;
    }
    st = vek_map_set_u32_ll(cfg, "device.clockMhz", 800, 1);
    if (st == VEK_ST_SUCCESS) st = vek_map_set_double_ll(cfg, "device.voltage", 0.85, 1);
    if (st == VEK_ST_SUCCESS) st = add_port(cfg, 3, 10000, "eth0");
    if (st == VEK_ST_SUCCESS) st = add_port(cfg, 7, 10000, "eth1");
    /* Selectors pick one of the "port" entries by a field's value. */
    if (st == VEK_ST_SUCCESS) st = vek_map_set_u32_ll(cfg, "port[id=0x3].speed", 25000, 1);
    if (st == VEK_ST_SUCCESS) st = vek_map_set_bool_ll(cfg, "port[name=ETH1].enabled", 1, 1);
    return st;
}

static int write_file(const char *path, vek_map_t *cfg) {
    void *buf = NULL;
    int32_t len = 0;
    vek_st_t st = vek_map_encode(cfg, &buf, &len);
    int bad = check("encode", st);
    if (!bad) {
        FILE *f = fopen(path, "wb");
        bad = f == NULL || fwrite(buf, 1, (size_t)len, f) != (size_t)len;
        if (f != NULL && fclose(f) != 0) bad = 1;
        if (bad) printf("cannot write %s\n", path);
        else printf("wrote %" PRId32 " bytes\n", len);
    }
    vek_map_free(buf); /* the encode buffer is the map allocator's */
    return bad;
}

static int read_file(const char *path, vek_map_t *into) {
    FILE *f = fopen(path, "rb");
    if (f == NULL) return 1;
    long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    unsigned char *data = size > 0 && size <= INT32_MAX ? malloc((size_t)size) : NULL;
    int bad = data == NULL || fseek(f, 0, SEEK_SET) != 0 || fread(data, 1, (size_t)size, f) != (size_t)size;
    fclose(f);
    if (!bad) {
        printf("read %ld bytes\n", size);
        /* Decoding appends to the map it is given: start from an empty one. */
        bad = check("decode", vek_map_decode(into, data, (int32_t)size));
    }
    free(data);
    return bad;
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "config_map.bin";
    vek_map_t *cfg = NULL, *back = NULL;
    if (check("create", vek_map_create(&cfg)) || check("create", vek_map_create(&back))) return 1;
    int bad = check("build", build(cfg)) || write_file(path, cfg) || read_file(path, back);
    remove(path);
    vek_map_destroy(cfg);
    if (bad) {
        vek_map_destroy(back);
        return 1;
    }

    printf("configuration read back:\n");
    vek_map_dump_to_console(back);

    /* Look-ups: case does not matter; selector values are numbers in any
     * base for number fields, or texts. */
    uint32_t speed = 0, ports = 0;
    uint8_t on = 0;
    char *name = NULL;
    double volts = 0;
    check("speed", vek_map_get_u32(back, "PORT[ID=3].Speed", &speed));
    printf("port 3 speed: %" PRIu32 "\n", speed);
    check("name", vek_map_get_str(back, "port[id=07].name", &name));
    printf("port 7 name: %s\n", name);
    check("enabled", vek_map_get_bool(back, "port[name=eth1].enabled", &on));
    printf("eth1 enabled: %u\n", (unsigned)on);
    check("voltage", vek_map_get_double(back, "device.voltage", &volts));
    printf("voltage: %.2f\n", volts);
    vek_map_count_keys(back, "port", &ports);
    printf("port entries: %" PRIu32 "\n", ports);
    /* Absent things are statuses, not crashes. */
    check("port 9", vek_map_get_u32(back, "port[id=9].speed", &speed));
    check("eth0 enabled", vek_map_get_bool(back, "port[id=3].enabled", &on));

    vek_map_destroy(back);
    return 0;
}
