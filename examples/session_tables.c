/*
 * session_tables - a paged direct table and a hash table in use.
 *
 * Sessions get small dense identifiers from a paged direct table (the
 * table proposes the lowest free key and stores a record under it), and a
 * hash table finds a session by its peer's IPv4 address. Both containers
 * store one word per key: here a pointer to the caller's record, which is
 * never 0, so 0 can safely mean "absent".
 */
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

#include <vek/vekcommon.h>

struct session {
    uint32_t id;
    uint32_t peer; /* IPv4 address, host order */
    char name[16];
};

static int released;

/* Delete function of both tables: the paged table passes every slot of
 * its pages, empty ones as 0, so 0 must be accepted. */
static int32_t free_session(uintptr_t value) {
    if (value != 0) ++released;
    free((void *)value);
    return 0;
}

static int32_t print_session(uint32_t key, uintptr_t value) {
    const struct session *s = (const struct session *)value;
    printf("  %3" PRIu32 ": %s\n", key, s->name);
    return 0;
}

static struct session *open_session(vek_dpt_t *ids, vek_hash_t *by_peer, uint32_t peer, const char *name) {
    struct session *s = calloc(1, sizeof *s);
    if (s == NULL) return NULL;
    snprintf(s->name, sizeof s->name, "%s", name);
    s->peer = peer;
    /* Picks the lowest free key and stores the record under it: -1 when the
     * table is full or a page cannot be allocated. */
    if (vek_dpt_put_pick_key(ids, (uintptr_t)s, &s->id) != 0) {
        free(s);
        return NULL;
    }
    /* put returns the value the key held before, 0 when it is new. */
    if (vek_hash_put(by_peer, peer, (uintptr_t)s) != 0) printf("peer already had a session\n");
    return s;
}

static void close_session(vek_dpt_t *ids, vek_hash_t *by_peer, struct session *s) {
    vek_hash_rem(by_peer, s->peer);
    vek_dpt_rem(ids, s->id); /* the page goes with its last value */
    free(s);
}

int main(void) {
    /* 4096 session identifiers in pages of 64: memory for pages in use only. */
    vek_dpt_t *ids = vek_dpt_create_table(4096, 64);
    vek_hash_t *by_peer = vek_hash_create_table(256);
    if (ids == NULL || by_peer == NULL) {
        printf("out of memory\n");
        return 1;
    }

    const uint32_t peers[] = {0x0A000001u, 0x0A000002u, 0x0A000003u, 0x0A000104u};
    const char *names[] = {"alpha", "bravo", "charlie", "delta"};
    struct session *s[4];
    for (int i = 0; i < 4; ++i) {
        s[i] = open_session(ids, by_peer, peers[i], names[i]);
        if (s[i] == NULL) return 1;
        printf("opened %s as session %" PRIu32 "\n", s[i]->name, s[i]->id);
    }
    printf("pages in use: %" PRIu32 "\n", ids->numAllocatedPages);

    /* Find a session by peer address; an unknown peer gives 0. */
    const struct session *found = (const struct session *)vek_hash_get(by_peer, 0x0A000003u);
    printf("peer 10.0.0.3 -> %s\n", found != NULL ? found->name : "none");
    printf("peer 10.0.0.9 -> %s\n", vek_hash_get(by_peer, 0x0A000009u) != 0 ? "found" : "none");

    /* Closing session 1 frees its key: the next session reuses it. */
    close_session(ids, by_peer, s[1]);
    uint32_t next = 0;
    if (vek_dpt_pick_key(ids, &next) == 0) printf("next free key: %" PRIu32 "\n", next);
    s[1] = open_session(ids, by_peer, 0x0A000005u, "echo");
    if (s[1] == NULL) return 1;
    printf("opened %s as session %" PRIu32 "\n", s[1]->name, s[1]->id);

    /* A session stored under a chosen key, far away: a second page. */
    struct session *far = calloc(1, sizeof *far);
    if (far == NULL) return 1;
    snprintf(far->name, sizeof far->name, "%s", "foxtrot");
    far->id = 1000;
    uintptr_t old = 0;
    if (vek_dpt_put(ids, far->id, (uintptr_t)far, &old) != 0) return 1;
    printf("stored foxtrot under 1000 (previous value %s), pages in use: %" PRIu32 "\n", old ? "set" : "none",
           ids->numAllocatedPages);
    printf("key 5000 is outside the table: put gives %d\n", (int)vek_dpt_put(ids, 5000, (uintptr_t)far, NULL));

    printf("sessions by key:\n");
    vek_dpt_traverse(ids, print_session);

    /* Keys go to bucket key mod size. A lookup moves the key it finds to
     * the front of its chain: even a get changes the table, so a hash
     * table is never shared between threads without a lock. */
    vek_hash_t *small = vek_hash_create_table(4);
    if (small == NULL) return 1;
    const uint32_t keys[] = {1, 5, 9, 2};
    for (int i = 0; i < 4; ++i) vek_hash_put(small, keys[i], 100 + keys[i]);
    vek_hash_print(small);
    printf("get 9 -> %" PRIuPTR "\n", vek_hash_get(small, 9));
    vek_hash_print(small);
    vek_hash_delete_table(small);

    /* Delete: every stored value goes through free_session once. The
     * records are shared by both tables, so only one of them frees them. */
    vek_hash_delete_table(by_peer);
    vek_dpt_delete_nodes_and_table(ids, free_session);
    printf("records released: %d\n", released);
    return 0;
}
