/*
 * vek_getopt.h - the library's option parser and the command-string runner
 * that splits a text into an argument vector for a tool's entry function.
 */
#ifndef VEK_GETOPT_H
#define VEK_GETOPT_H

#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*vek_crt_main_fn)(int argc, char **argv);

VEK_API extern int   vek_optind;           /* 1 at load */
VEK_API extern int   vek_opterr;           /* 1 at load */
VEK_API extern char *vek_optarg;           /* NULL at load */
VEK_API extern char *vek_pIndexPosition;   /* NULL at load */

VEK_API void vek_initopt(void);
VEK_API int  vek_getopt(int argc, char **argv, const char *optstring);

/* Splits cmdText into words and calls mainFn(argc, argv) with progName as
 * argv[0]; returns mainFn's result, or -1 when the copy of the text or the
 * argument vector cannot be allocated or mainFn is null (mainFn is then not
 * called). There is no limit on the number of words or their length; the
 * entry after the last word is null. */
VEK_API int  vek_crt(char *progName, const char *cmdText, vek_crt_main_fn mainFn);

#ifdef __cplusplus
}
#endif

#endif /* VEK_GETOPT_H */
