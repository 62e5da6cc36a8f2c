/**
 * @file vek_getopt.h
 * @brief The library's option parser (POSIX getopt() style, with its state in
 *        the library's own variables) and the command-string runner that
 *        splits a text into an argument vector for a tool's entry function.
 *
 * Typical use: a tool's entry function parses its options with vek_getopt()
 * and is run from a command line held in a string with vek_crt():
 * @code
 * static int tool_main(int argc, char **argv) {
 *     int c;
 *     while ((c = vek_getopt(argc, argv, "vo:")) != -1) {
 *         if (c == 'o') use(vek_optarg);
 *         else if (c == '?') return 2;
 *     }
 *     ... operands are argv[vek_optind] .. argv[argc - 1] ...
 *     return 0;
 * }
 * int rc = vek_crt("tool", "-v -o out.txt input", tool_main);
 * @endcode
 *
 * Thread-safety: none. The parser's state is process-wide (the four variables
 * below); parse one vector at a time in the whole process. No function here
 * prints trace lines, and vek_getopt() prints no error messages.
 */
#ifndef VEK_GETOPT_H
#define VEK_GETOPT_H

#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Entry function of a tool run by vek_crt().
 * @param argc Number of entries of @p argv before its terminating NULL (the
 *             program name included).
 * @param argv Program name, then the words of the command text, then NULL.
 *             The strings live in a copy that vek_crt() releases when the
 *             function returns: do not keep pointers to them.
 * @return The tool's result, returned by vek_crt().
 */
typedef int (*vek_crt_main_fn)(int argc, char **argv);

/** Index of the next element of argv to parse; 1 at load and after vek_initopt(). */
VEK_API extern int vek_optind;
/** Non-zero (1 at load): errors return '?'; 0: errors return the offending character instead. */
VEK_API extern int vek_opterr;
/** The argument of the last option that takes one; NULL at load and when there is none. */
VEK_API extern char *vek_optarg;
/** Position inside the element being parsed (grouped options as "-abc"); NULL at load and between elements. */
VEK_API extern char *vek_pIndexPosition;

/**
 * Resets the parser's state: vek_optind 1, vek_opterr 1, vek_optarg and
 * vek_pIndexPosition NULL. Call it before parsing a new vector (vek_crt()
 * does).
 */
VEK_API void vek_initopt(void);
/**
 * Returns the next option character of an argument vector.
 *
 * Options are elements that begin with '-' followed by option characters,
 * which may be grouped ("-ab"). A character followed by ':' in @p optstring
 * takes an argument: the rest of the element ("-ofile") or, when the element
 * ends there, the next element whole, even when it begins with '-'
 * ("-o -x" gives -o the argument "-x"); it is left in ::vek_optarg.
 * Parsing stops at the first element that does not begin with '-'
 * (::vek_optind then indexes it), at a lone "-" or "--" (both consumed:
 * ::vek_optind indexes the element after), and at the end of the vector.
 *
 * @param argc      Elements of @p argv.
 * @param argv      The vector; NULL, a NULL element or a negative ::vek_optind
 *                  count as its end.
 * @param optstring The option characters; NULL makes every option unknown.
 * @return The option character; -1 when the options end; for an unknown
 *         option character, an option whose argument is missing, or ':' used
 *         as an option: '?' when ::vek_opterr is non-zero, else that character
 *         (':' for ':').
 */
VEK_API int vek_getopt(int argc, char **argv, const char *optstring);
/**
 * Runs a tool's entry function on a command text.
 *
 * Resets the option parser (vek_initopt()), copies @p cmdText to the heap and
 * splits the copy into words (runs of characters other than white space);
 * calls @p mainFn with argc = words + 1 and argv = { progName, words..., NULL }.
 * A blank or newline after a word ends it in place; the other white-space
 * characters (tab, CR, VT, FF) separate words too but stay in the copy, so
 * such a word's string runs on to the next blank or newline (the text
 * "a(tab)b c" gives argv[1] = "a(tab)b" and argv[2] = "b"). There is no limit on the
 * number of words or their length: up to 30 words the vector is on the stack,
 * beyond that on the heap.
 *
 * @param progName Becomes argv[0]; may be NULL.
 * @param cmdText  The command text; NULL calls @p mainFn with argc 1.
 * @param mainFn   The entry function; NULL gives -1.
 * @return The result of @p mainFn; -1 without calling it when @p mainFn is
 *         NULL or the copy or the vector cannot be allocated. Afterwards the
 *         copy is released and ::vek_optarg / ::vek_pIndexPosition are set
 *         to NULL when they point into it.
 */
VEK_API int vek_crt(char *progName, const char *cmdText, vek_crt_main_fn mainFn);

#ifdef __cplusplus
}
#endif

#endif /* VEK_GETOPT_H */
