/* vekdemo - a small tour of libvekcommon. */
#include <stdio.h>

#include <vek/vekcommon.h>

int main(void) {
    static const vek_st_t codes[] = {VEK_ST_SUCCESS, VEK_ST_NO_MEMORY, VEK_ST_MAP_INVALID_MAP,
                                     VEK_ST_STRLIST_ITEM_EXCEED, VEK_ST_RSRC_INSUFF_IDS_AVAIL,
                                     VEK_ST_PTHREAD_MUTEX_OWNER_DEAD, 15u, 0xFFFFFFFFu};
    printf("== status names ==\n");
    for (size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) vek_status_print("status", codes[i]);
    return 0;
}
