/*
 * shared_ids - identifiers from one resource shared by several threads.
 *
 * The resource registry is the one part of the library that locks: each
 * resource carries its own (robust) mutex, so threads may allocate and
 * free identifiers of the same resource at the same time without any lock
 * of their own. Here four threads each take 250 flow identifiers, one at a
 * time, and later give them back; the main thread checks that no
 * identifier was handed out twice.
 */
#include <inttypes.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include <vek/vekcommon.h>

#define THREADS 4
#define PER_THREAD 250
#define FLOW_BASE 0x10000u
#define FLOW_COUNT 1024u

struct worker {
    vek_rsrc_t *flows;
    uint32_t ids[PER_THREAD];
    vek_st_t status; /* first failure, 0 when none */
};

static void *take(void *arg) {
    struct worker *w = arg;
    for (int i = 0; i < PER_THREAD && w->status == VEK_ST_SUCCESS; ++i) {
        w->status = vek_rsrc_allocate(w->flows, 1, &w->ids[i]);
    }
    return NULL;
}

static void *give_back(void *arg) {
    struct worker *w = arg;
    for (int i = 0; i < PER_THREAD && w->status == VEK_ST_SUCCESS; ++i) {
        w->status = vek_rsrc_free(w->flows, w->ids[i], 1);
    }
    return NULL;
}

/* Runs fn on every worker in its own thread and waits for all of them. */
static int run_all(struct worker *workers, void *(*fn)(void *)) {
    pthread_t threads[THREADS];
    for (int t = 0; t < THREADS; ++t) {
        if (pthread_create(&threads[t], NULL, fn, &workers[t]) != 0) return 1;
    }
    for (int t = 0; t < THREADS; ++t) pthread_join(threads[t], NULL);
    for (int t = 0; t < THREADS; ++t) {
        if (workers[t].status != VEK_ST_SUCCESS) {
            vek_status_print("worker", workers[t].status);
            return 1;
        }
    }
    return 0;
}

int main(void) {
    /* One device handle, one registry, one resource of 1024 identifiers. */
    vek_hdl_t dev = {VEK_HDL_MAGIC, NULL};
    vek_st_t st = vek_rsrc_init(&dev);
    if (st != VEK_ST_SUCCESS) {
        vek_status_print("init", st);
        return 1;
    }
    vek_rsrc_t *flows = NULL;
    st = vek_rsrc_create(&dev, 0, "flows", FLOW_COUNT, FLOW_BASE, &flows);
    if (st != VEK_ST_SUCCESS) {
        vek_status_print("create", st);
        vek_rsrc_release(&dev);
        return 1;
    }
    printf("resource flows: %u identifiers from 0x%x\n", FLOW_COUNT, FLOW_BASE);

    static struct worker workers[THREADS];
    for (int t = 0; t < THREADS; ++t) {
        workers[t].flows = flows;
        workers[t].status = VEK_ST_SUCCESS;
    }
    int bad = run_all(workers, take);

    /* Every identifier handed out exactly once, and marked in use. */
    static unsigned char seen[FLOW_COUNT];
    int twice = 0, not_set = 0;
    for (int t = 0; t < THREADS && !bad; ++t) {
        for (int i = 0; i < PER_THREAD; ++i) {
            uint32_t id = workers[t].ids[i];
            if (id < FLOW_BASE || id >= FLOW_BASE + FLOW_COUNT || seen[id - FLOW_BASE]++ != 0) twice = 1;
            if (vek_rsrc_isset(flows, id) != 1) not_set = 1;
        }
    }
    vek_rsrc_info_t info;
    memset(&info, 0, sizeof info);
    vek_rsrc_query(flows, &info);
    if (!bad) {
        printf("%d threads took %d identifiers each; handed out twice: %s; all in use: %s\n", THREADS, PER_THREAD,
               twice ? "yes" : "none", not_set ? "no" : "yes");
        printf("free while held: %" PRIu32 " of %" PRIu32 "\n", info.numElemsFree, info.numElems);
    }

    if (!bad) bad = run_all(workers, give_back);
    vek_rsrc_query(flows, &info);
    if (!bad) printf("free after giving back: %" PRIu32 " of %" PRIu32 "\n", info.numElemsFree, info.numElems);

    /* Release ends every resource of the handle, and the registry. */
    st = vek_rsrc_release(&dev);
    if (st != VEK_ST_SUCCESS) vek_status_print("release", st);
    return bad || twice || not_set || st != VEK_ST_SUCCESS;
}
