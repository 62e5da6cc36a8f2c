/*
 * list_text - parsing one-line lists such as "1-4, 7, 10-12" or
 * "eth2,eth0", and the pitfalls of the list parser.
 */
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include <vek/vekcommon.h>

/* Builds a list from text and prints its items, or the status. */
static void show(const char *text, vek_strlist_type_t type, char separator, char rangeMark) {
    vek_strlist_node_t *list = NULL;
    printf("%-18s sep '%c' range '%c' ->", text, separator, rangeMark);
    vek_st_t st = vek_strlist_list_build(text, type, separator, rangeMark, NULL, NULL, &list);
    if (st != VEK_ST_SUCCESS) {
        printf(" %s\n", vek_status_get(st)); /* list is NULL: nothing to free */
        return;
    }
    if (list == NULL) {
        /* An empty list is a null list, and cannot be iterated. */
        printf(" (no items)\n");
        return;
    }
    vek_strlist_iter_t *it = NULL;
    st = vek_strlist_iter_fetch(list, &it);
    if (st == VEK_ST_SUCCESS) {
        while (vek_strlist_iter_hasNext(it)) {
            vek_strlist_node_t *node = vek_strlist_iter_getNext(it);
            const char *s = NULL;
            int32_t i32 = 0;
            int64_t i64 = 0;
            if (vek_strlist_node_val_getString(node, &s) == VEK_ST_SUCCESS) printf(" [%s]", s);
            else if (vek_strlist_node_val_getInt32(node, &i32) == VEK_ST_SUCCESS) printf(" %" PRId32, i32);
            else if (vek_strlist_node_val_getInt64(node, &i64) == VEK_ST_SUCCESS) printf(" %" PRId64, i64);
        }
        printf("\n");
        vek_strlist_iter_free(it); /* before the list goes */
    } else {
        printf(" %s\n", vek_status_get(st));
    }
    vek_strlist_list_free(list);
}

int main(void) {
    printf("Lists of numbers with ranges, sorted, duplicates kept:\n");
    show("1-4, 7, 10-12", VEK_STRLIST_INT32, ',', '-');
    show("12,3,7-8,3", VEK_STRLIST_INT32, ',', '-');
    show("-3:-1;5", VEK_STRLIST_INT32, ';', ':');

    printf("Lists of names (no ranges for texts), sorted:\n");
    show("eth2, eth0,eth1", VEK_STRLIST_STRING, ',', '-');
    show("port-a,port-b", VEK_STRLIST_STRING, ',', '-');

    printf("Pitfalls:\n");
    /* White space is dropped everywhere, also inside an item. */
    show("1 0, 2", VEK_STRLIST_INT32, ',', '-');
    show("eth 0", VEK_STRLIST_STRING, ',', '-');
    /* Text that is not a number is no error: leading digits, or 0. */
    show("12abc,abc", VEK_STRLIST_INT32, ',', '-');
    show("0x10", VEK_STRLIST_INT32, ',', '-');
    /* The 64-bit type holds 32-bit values. */
    show("5000000000", VEK_STRLIST_INT64, ',', '-');
    /* '-' as the range mark: a negative number opens a range. */
    show("-5", VEK_STRLIST_INT32, ',', '-');
    show("-5", VEK_STRLIST_INT32, ',', ':');
    /* Ranges must go upwards and have an end. */
    show("5:3", VEK_STRLIST_INT32, ',', ':');
    show("1:", VEK_STRLIST_INT32, ',', ':');
    /* Empty texts and lone separators give the empty (null) list. */
    show("", VEK_STRLIST_INT32, ',', '-');
    show(" , ,", VEK_STRLIST_INT32, ',', '-');
    /* One item holds at most 255 characters. */
    char longname[300];
    memset(longname, 'x', 256);
    longname[256] = '\0';
    vek_strlist_node_t *list = NULL;
    printf("%-35s -> %s\n", "256 characters in one item",
           vek_status_get(vek_strlist_list_build(longname, VEK_STRLIST_STRING, ',', '-', NULL, NULL, &list)));
    /* Fetching an iterator on the empty list is an error of its own. */
    vek_strlist_iter_t *it = NULL;
    printf("%-35s -> %s\n", "iterator on the empty list", vek_status_get(vek_strlist_iter_fetch(NULL, &it)));
    return 0;
}
