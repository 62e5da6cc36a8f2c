/*
 * vek_rsrc.h - per-device registries of named identifier ranges
 * (resources), each backed by a bitmap and guarded by robust mutexes.
 */
#ifndef VEK_RSRC_H
#define VEK_RSRC_H

#include <stdint.h>
#include "vek_status.h"
#include "vek_sal.h"
#include "vek_bitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_HDL_MAGIC      0x2456454Bu   /* "$VEK" read from the most significant byte down */
#define VEK_RSRC_MAX_KIND  7u            /* kinds 0..7 can be created */
#define VEK_RSRC_KIND_ALL  8u            /* vek_rsrc_dump: every kind */
#define VEK_RSRC_ID_LIMIT  0x1000000u    /* baseId + numElems limit, every kind but 5 */

typedef struct vek_rsrc_registry_s vek_rsrc_registry_t;
typedef struct vek_rsrc_s          vek_rsrc_t;

typedef struct vek_hdl_s {
    uint32_t             magic;          /* VEK_HDL_MAGIC in a valid handle */
    vek_rsrc_registry_t *rsrcRegistry;   /* NULL until vek_rsrc_init */
} vek_hdl_t;

struct vek_rsrc_registry_s {
    vek_mutex_t  mutex;
    uint32_t     numRsrcs;
    vek_rsrc_t  *rsrcHead;
};

struct vek_rsrc_s {
    vek_mutex_t    mutex;
    uint32_t       kind;
    char          *name;
    uint32_t       numElems;
    uint32_t       numElemsFree;
    uint32_t       baseId;
    vek_bitmap_t  *bitmap;     /* NULL for a read-only resource */
    vek_rsrc_t    *next;
    vek_hdl_t     *vekHdl;
};

typedef struct vek_rsrc_info_s {
    uint32_t    kind;
    const char *name;          /* the record's own string, valid while the resource exists */
    uint32_t    baseId;
    uint32_t    numElems;
    uint32_t    numElemsFree;
} vek_rsrc_info_t;

VEK_API vek_st_t vek_rsrc_init(vek_hdl_t *inVekHdl);
VEK_API vek_st_t vek_rsrc_release(vek_hdl_t *inVekHdl);
VEK_API vek_st_t vek_rsrc_create(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name,
                                 uint32_t inNumelems, uint32_t inBaseId, vek_rsrc_t **outRsrcHdl);
VEK_API vek_st_t vek_rsrc_create_intern(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name,
                                        uint32_t inNumelems, uint32_t inBaseId, vek_rsrc_t **outRsrcHdl,
                                        uint8_t readOnly);
VEK_API vek_st_t vek_rsrc_destroy(vek_hdl_t *inVekHdl, vek_rsrc_t *inRsrcHdl);
VEK_API vek_st_t vek_rsrc_find(vek_hdl_t *inVekHdl, uint32_t inKind, const char *name, vek_rsrc_t **outRsrcHdl);
VEK_API vek_st_t vek_rsrc_allocate(vek_rsrc_t *inRsrcHdl, uint32_t inNumIds, uint32_t *outStartId);
VEK_API vek_st_t vek_rsrc_allocate_fixed(vek_rsrc_t *inRsrcHdl, uint32_t inNumIds, uint32_t inStartId);
VEK_API vek_st_t vek_rsrc_free(vek_rsrc_t *inRsrcHdl, uint32_t inStartId, uint32_t inNumIds);
VEK_API uint32_t vek_rsrc_isset(vek_rsrc_t *inRsrcHdl, uint32_t inId);
VEK_API vek_st_t vek_rsrc_issetv2(vek_rsrc_t *inRsrcHdl, uint32_t inId, uint8_t *res);
VEK_API vek_st_t vek_rsrc_query(vek_rsrc_t *inRsrcHdl, vek_rsrc_info_t *outInfo);
VEK_API vek_st_t vek_rsrc_dump(vek_hdl_t *inVekHdl, uint32_t inKind);

#ifdef __cplusplus
}
#endif

#endif /* VEK_RSRC_H */
