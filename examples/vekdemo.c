/*
 * vekdemo - runs a device-configuration session written as one command per
 * line (examples/sample/device.vek by default) through libvekcommon.
 *
 * Every line is handed to vek_crt, which splits it into an argument vector
 * for the command's entry function; the functions parse their options with
 * vek_getopt. Commands:
 *
 *   status CODE...                       print status names
 *   clock -m MHZ NS...                   nanoseconds to clock cycles
 *   list [-s SEP] [-r MARK] [-t int|str] TEXT   parse a one-line list
 *   rsrc create -n NAME -k KIND -b BASE COUNT   create a resource
 *   rsrc alloc NAME COUNT                allocate identifiers
 *   rsrc fixed NAME START COUNT          allocate identifiers at START
 *   rsrc free NAME START COUNT           release identifiers
 *   rsrc dump                            print the resource table
 *   set TYPE KEY VALUE                   set a configuration value
 *   dump [-f]                            print the configuration map
 *   encode                               encode, decode and compare the map
 *   ipchk -r REV KEY                     IP-checksum options from a sub-map
 */
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vek/vekcommon.h>

static vek_hdl_t g_dev = {VEK_HDL_MAGIC, NULL};
static vek_map_t *g_cfg;
static int g_failed;

static int report(const char *what, vek_st_t st) {
    if (st == VEK_ST_SUCCESS) return 0;
    g_failed = 1;
    vek_status_print(what, st);
    return 1;
}

static unsigned long num(const char *text) {
    char *end = NULL;
    errno = 0;
    unsigned long v = strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0') {
        printf("not a number: %s\n", text);
        g_failed = 1;
        return 0;
    }
    return v;
}

static int cmd_status(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        vek_st_t code = (vek_st_t)num(argv[i]);
        printf("%6lu  %s\n", (unsigned long)code, vek_status_get(code));
    }
    return 0;
}

static int cmd_clock(int argc, char **argv) {
    uint32_t mhz = 0;
    int c;
    while ((c = vek_getopt(argc, argv, "m:")) != -1) {
        if (c == 'm' && vek_optarg != NULL) mhz = (uint32_t)num(vek_optarg);
    }
    for (int i = vek_optind; i < argc; ++i) {
        uint32_t ns = (uint32_t)num(argv[i]);
        printf("%" PRIu32 " ns at %" PRIu32 " MHz = %" PRIu32 " cycles\n", ns, mhz, vek_ns_to_clk(mhz, ns));
    }
    return 0;
}

static int cmd_list(int argc, char **argv) {
    char sep = ',', mark = ':';
    vek_strlist_type_t type = VEK_STRLIST_INT32;
    int c;
    while ((c = vek_getopt(argc, argv, "s:r:t:")) != -1) {
        if (vek_optarg == NULL) continue;
        if (c == 's') sep = vek_optarg[0];
        if (c == 'r') mark = vek_optarg[0];
        if (c == 't') type = strcmp(vek_optarg, "str") == 0 ? VEK_STRLIST_STRING : VEK_STRLIST_INT32;
    }
    if (vek_optind >= argc) return 1;
    /* The words after the options form the list text; the builder drops
     * white space, so they are joined with blanks. */
    char text[512] = "";
    size_t used = 0;
    for (int i = vek_optind; i < argc; ++i) {
        int n = snprintf(text + used, sizeof text - used, "%s%s", i > vek_optind ? " " : "", argv[i]);
        if (n < 0 || (size_t)n >= sizeof text - used) return 1;
        used += (size_t)n;
    }
    vek_strlist_node_t *list = NULL;
    if (report("list", vek_strlist_list_build(text, type, sep, mark, NULL, NULL, &list))) return 1;
    vek_strlist_iter_t *it = NULL;
    if (report("list", vek_strlist_iter_fetch(list, &it)) == 0) {
        printf("items of \"%s\":", text);
        while (vek_strlist_iter_hasNext(it)) {
            vek_strlist_node_t *node = vek_strlist_iter_getNext(it);
            if (type == VEK_STRLIST_STRING) {
                const char *s = NULL;
                vek_strlist_node_val_getString(node, &s);
                printf(" %s", s);
            } else {
                int32_t v = 0;
                vek_strlist_node_val_getInt32(node, &v);
                printf(" %" PRId32, v);
            }
        }
        printf("\n");
        vek_strlist_iter_free(it);
    }
    vek_strlist_list_free(list);
    return 0;
}

static vek_rsrc_t *find_rsrc(const char *name) {
    for (uint32_t kind = 0; kind <= VEK_RSRC_MAX_KIND; ++kind) {
        vek_rsrc_t *r = NULL;
        if (vek_rsrc_find(&g_dev, kind, name, &r) == VEK_ST_SUCCESS) return r;
    }
    printf("no resource %s\n", name);
    g_failed = 1;
    return NULL;
}

static int cmd_rsrc(int argc, char **argv) {
    if (argc < 2) return 1;
    const char *op = argv[1];
    if (strcmp(op, "dump") == 0) return report("rsrc dump", vek_rsrc_dump(&g_dev, VEK_RSRC_KIND_ALL));
    if (strcmp(op, "create") == 0) {
        const char *name = "unnamed";
        uint32_t kind = 0, base = 0;
        int c;
        vek_optind = 2;
        while ((c = vek_getopt(argc, argv, "n:k:b:")) != -1) {
            if (vek_optarg == NULL) continue;
            if (c == 'n') name = vek_optarg;
            if (c == 'k') kind = (uint32_t)num(vek_optarg);
            if (c == 'b') base = (uint32_t)num(vek_optarg);
        }
        if (vek_optind >= argc) return 1;
        return report("rsrc create", vek_rsrc_create(&g_dev, kind, name, (uint32_t)num(argv[vek_optind]), base, NULL));
    }
    if (argc < 4) return 1;
    vek_rsrc_t *r = find_rsrc(argv[2]);
    if (r == NULL) return 1;
    if (strcmp(op, "alloc") == 0) {
        uint32_t start = 0, n = (uint32_t)num(argv[3]);
        if (report("rsrc alloc", vek_rsrc_allocate(r, n, &start))) return 1;
        printf("%s: allocated %" PRIu32 " from %" PRIu32 "\n", argv[2], n, start);
        return 0;
    }
    if (argc < 5) return 1;
    uint32_t start = (uint32_t)num(argv[3]), n = (uint32_t)num(argv[4]);
    if (strcmp(op, "fixed") == 0) {
        if (report("rsrc fixed", vek_rsrc_allocate_fixed(r, n, start))) return 1;
        printf("%s: allocated %" PRIu32 " at %" PRIu32 "\n", argv[2], n, start);
        return 0;
    }
    if (strcmp(op, "free") == 0) {
        if (report("rsrc free", vek_rsrc_free(r, start, n))) return 1;
        printf("%s: released %" PRIu32 " from %" PRIu32 "\n", argv[2], n, start);
        return 0;
    }
    return 1;
}

static int cmd_set(int argc, char **argv) {
    if (argc < 4) return 1;
    const char *type = argv[1], *key = argv[2], *text = argv[3];
    vek_st_t st;
    if (strcmp(type, "bool") == 0) {
        st = vek_map_set_bool_ll(g_cfg, key, (uint8_t)(num(text) != 0), 1);
    } else if (strcmp(type, "u32") == 0) {
        st = vek_map_set_u32_ll(g_cfg, key, (uint32_t)num(text), 1);
    } else if (strcmp(type, "i32") == 0) {
        st = vek_map_set_i32_ll(g_cfg, key, (int32_t)strtol(text, NULL, 0), 1);
    } else if (strcmp(type, "u64") == 0) {
        st = vek_map_set_u64_ll(g_cfg, key, (uint64_t)strtoull(text, NULL, 0), 1);
    } else if (strcmp(type, "double") == 0) {
        st = vek_map_set_double_ll(g_cfg, key, strtod(text, NULL), 1);
    } else {
        char *copy = vek_map_strdup(text);
        if (copy == NULL) return report("set", VEK_ST_NO_MEMORY);
        st = vek_map_set_str_ll(g_cfg, key, copy, 1);
        if (st != VEK_ST_SUCCESS) vek_map_free(copy);
    }
    return report("set", st);
}

static int cmd_dump(int argc, char **argv) {
    int c, full = 0;
    while ((c = vek_getopt(argc, argv, "f")) != -1) full |= c == 'f';
    return report("dump", full ? vek_map_dump_full_map(g_cfg, stdout) : vek_map_dump_to_console(g_cfg));
}

static int cmd_encode(int argc, char **argv) {
    (void)argc;
    (void)argv;
    void *buf = NULL, *again = NULL;
    int32_t len = 0, len2 = 0;
    vek_map_t *copy = NULL;
    if (report("encode", vek_map_encode(g_cfg, &buf, &len))) return 1;
    printf("encoded %" PRId32 " bytes:", len);
    for (int32_t i = 0; i < len && i < 24; ++i) printf(" %02x", ((const unsigned char *)buf)[i]);
    printf("%s\n", len > 24 ? " ..." : "");
    int ok = report("create", vek_map_create(&copy)) == 0 && report("decode", vek_map_decode(copy, buf, len)) == 0 &&
             report("encode", vek_map_encode(copy, &again, &len2)) == 0;
    if (ok) {
        int same = len == len2 && memcmp(buf, again, (size_t)len) == 0;
        printf("decoded and encoded again: %s\n", same ? "identical" : "DIFFERENT");
        g_failed |= !same;
    }
    vek_map_free(again);
    vek_map_free(buf);
    if (copy != NULL) vek_map_destroy(copy);
    return ok ? 0 : 1;
}

static int cmd_ipchk(int argc, char **argv) {
    uint32_t rev = 0;
    int c;
    while ((c = vek_getopt(argc, argv, "r:")) != -1) {
        if (c == 'r' && vek_optarg != NULL) rev = (uint32_t)num(vek_optarg);
    }
    if (vek_optind >= argc) return 1;
    vek_map_t *sub = NULL;
    if (report("ipchk", vek_map_get_map(g_cfg, argv[vek_optind], &sub))) return 1;
    uint32_t options = 0, high = 0, low = 0, l3 = 0;
    if (report("ipchk", vek_encode_ipchecksum_options(rev, sub, &options, &high, &low, &l3))) return 1;
    printf("rev %" PRIu32 ": options=0x%08" PRIx32 " invalidTcpFlags=0x%08" PRIx32 ":0x%08" PRIx32
           " l3PassFailCriteria=0x%" PRIx32 "\n",
           rev, options, high, low, l3);
    return 0;
}

struct command {
    const char *name;
    vek_crt_main_fn fn;
};

static const struct command commands[] = {
    {"status", cmd_status}, {"clock", cmd_clock}, {"list", cmd_list},     {"rsrc", cmd_rsrc},
    {"set", cmd_set},       {"dump", cmd_dump},   {"encode", cmd_encode}, {"ipchk", cmd_ipchk},
};

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : VEKDEMO_SAMPLE;
    FILE *in = fopen(path, "r");
    if (in == NULL) {
        perror(path);
        return 2;
    }
    if (report("init", vek_rsrc_init(&g_dev)) || report("map", vek_map_create(&g_cfg))) return 1;
    char line[1024];
    while (fgets(line, sizeof line, in) != NULL) {
        char word[64] = "";
        if (sscanf(line, "%63s", word) != 1 || word[0] == '#') continue;
        printf("> %s", line);
        const struct command *cmd = NULL;
        for (size_t i = 0; i < sizeof commands / sizeof commands[0]; ++i) {
            if (strcmp(commands[i].name, word) == 0) cmd = &commands[i];
        }
        const char *rest = strstr(line, word) + strlen(word);
        if (cmd == NULL || vek_crt((char *)cmd->name, rest, cmd->fn) != 0) {
            printf("command failed: %s", line);
            g_failed = 1;
        }
    }
    fclose(in);
    report("map", vek_map_destroy(g_cfg));
    report("release", vek_rsrc_release(&g_dev));
    return g_failed;
}
