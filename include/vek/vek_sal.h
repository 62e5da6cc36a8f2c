/*
 * vek_sal.h - the platform abstraction interface (libVekSalIf): heap and
 * robust memory, process-shared robust mutexes, string helpers, byte order
 * and the trace level.
 */
#ifndef VEK_SAL_H
#define VEK_SAL_H

#include <stddef.h>
#include <stdint.h>
#include <pthread.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A mutex that lives in robust memory: a process-shared, robust pthread mutex. */
typedef struct vek_mutex_s {
    pthread_mutex_t pmutex;
} vek_mutex_t;

#define VEK_NVM_NO_FILL         0u   /* vek_nvm_robust_malloc: caller initialises the block */
#define VEK_NVM_ZERO_FILL       1u   /* vek_nvm_robust_malloc: zero-filled block */
#define VEK_MUTEX_SHARED        1u   /* vek_mutex_init flag used by the library */
#define VEK_TRACE_API_MASK      12u  /* trace-level bits enabling entry/exit trace lines */
#define VEK_TRACE_DECODE_ERROR  1u   /* trace-level bit enabling the decoder's error line */

VEK_API extern uint32_t vek_trace_level;

/* Ordinary heap */
VEK_API void *vek_malloc(size_t size);
VEK_API void *vek_realloc(void *ptr, size_t size);
VEK_API void  vek_free(void *ptr);
VEK_API char *vek_strdup(const char *str);

/* Robust memory */
VEK_API vek_st_t vek_nvm_robust_malloc(size_t size, void **ptr, uint32_t flag);
VEK_API vek_st_t vek_nvm_robust_realloc(void *ptr, size_t size, void **newPtr);
VEK_API vek_st_t vek_nvm_robust_free(void **ptr);

/* Mutexes */
VEK_API vek_st_t vek_mutex_init(vek_mutex_t *mutex, uint32_t flag);
VEK_API vek_st_t vek_mutex_lock(vek_mutex_t *mutex);
VEK_API vek_st_t vek_mutex_unlock(vek_mutex_t *mutex);
VEK_API vek_st_t vek_mutex_destroy(vek_mutex_t *mutex);

/* Strings */
VEK_API size_t vek_strlen(const char *str);
VEK_API char  *vek_strcpy(char *dst, const char *src);
VEK_API int    vek_stricmp(const char *s1, const char *s2);
VEK_API int    vek_strincmp(const char *s1, const char *s2, size_t n);

/* Byte order */
VEK_API uint32_t vek_htonl(uint32_t value);
VEK_API uint32_t vek_ntohl(uint32_t value);
VEK_API uint64_t vek_htonll(uint64_t value);
VEK_API uint64_t vek_ntohll(uint64_t value);

#ifdef __cplusplus
}
#endif

#endif /* VEK_SAL_H */
