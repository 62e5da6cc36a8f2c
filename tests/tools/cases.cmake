# Status names, list texts and the command line.
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/vekutil_common.cmake)

# status: decimal, negative and hex codes; unnamed codes fail.
vekutil_check(NAME status_codes ARGS status 0 104 0x198 65535
  STDOUT "0 VEK_ST_SUCCESS\n104 VEK_ST_MAP_KEY_NOT_EXIST\n408 VEK_ST_STRLIST_ITEM_EXCEED\n65535 VEK_ST_LAST_STATUS_CODE\n")
vekutil_check(NAME status_hex_upper ARGS status 0X1F41 STDOUT "8001 VEK_ST_MUTEX_WRONG_STATE\n")
vekutil_check(NAME status_unnamed ARGS status 103 15 -1 2601 RC 1
  STDOUT "103 VEK_ST_MAP_INVALID_MAP\n2601 VEK_ST_MISCOMPARE\n"
  STDERR "vekutil status: 15: ERROR: Status Code Out of Bounds\nvekutil status: 4294967295: ERROR: Status Code Out of Bounds\n")
vekutil_check(NAME status_out_of_range ARGS status 65536 RC 1
  STDERR "vekutil status: 65536: ERROR: Status Code Out of Bounds\n")
vekutil_check(NAME status_not_a_code ARGS status 12x RC 2
  STDERR "vekutil status: not a status code: '12x' (decimal, negative decimal or 0x hex)\nTry 'vekutil status --help'.\n")
vekutil_check(NAME status_too_big ARGS status 4294967296 RC 2 STDERR_MATCH "not a status code: '4294967296'")
vekutil_check(NAME status_none ARGS status RC 2 STDERR_MATCH "expected one or more status codes")
vekutil_check(NAME status_search ARGS status --search map_invalid
  STDOUT "103 VEK_ST_MAP_INVALID_MAP\n105 VEK_ST_MAP_INVALID_TYPE\n106 VEK_ST_MAP_INVALID_INDEX\n107 VEK_ST_MAP_INVALID_SEARCH\n")
vekutil_check(NAME status_search_short ARGS status -s OWNER_DEAD STDOUT "8000 VEK_ST_PTHREAD_MUTEX_OWNER_DEAD\n")
vekutil_check(NAME status_search_none ARGS status --search zzzz RC 1
  STDERR "vekutil status: no status name contains 'zzzz'\n")
vekutil_check(NAME status_search_and_codes ARGS status --search MAP 5 RC 2 STDERR_MATCH "--search takes no status codes")

# list: sorted items, ranges, separators, types.
vekutil_check(NAME list_default ARGS list "3, 1, 2-4,9" STDOUT "1\n2\n3\n3\n4\n9\n")
vekutil_check(NAME list_range_colon ARGS list --range : -3:-1 STDOUT "-3\n-2\n-1\n")
vekutil_check(NAME list_sep ARGS list --sep=/ "1/5-6" STDOUT "1\n5\n6\n")
vekutil_check(NAME list_strings ARGS list --type string "b,a, c d" STDOUT "a\nb\ncd\n")
vekutil_check(NAME list_string_no_range ARGS list -t string a-b STDOUT "a-b\n")
vekutil_check(NAME list_int64 ARGS list --type int64 "5000000000,12abc,abc" STDOUT "0\n12\n2147483647\n")
vekutil_check(NAME list_empty ARGS list " , ," STDOUT "")
vekutil_check(NAME list_bad_range ARGS list 1-2-3 RC 1
  STDERR "vekutil list: VEK_ST_STRLIST_INV_RANGE: a range mark at the start of an item or twice in one, a range without an end, or one that runs downwards\n")
vekutil_check(NAME list_negative_with_dash ARGS list -5 RC 1 STDERR_MATCH "^vekutil list: VEK_ST_STRLIST_INV_RANGE: ")
string(REPEAT "a" 255 _a255)
vekutil_check(NAME list_longest ARGS list --type string ${_a255} STDOUT "${_a255}\n")
vekutil_check(NAME list_too_long ARGS list --type string ${_a255}a
  RC 1 STDERR_MATCH "^vekutil list: VEK_ST_STRLIST_ITEM_EXCEED: ")
vekutil_check(NAME list_bad_type ARGS list --type float 1 RC 2 STDERR_MATCH "unknown list type 'float'")
vekutil_check(NAME list_bad_sep ARGS list --sep ab 1 RC 2 STDERR_MATCH "--sep takes one character")

# Usage errors (the help texts: help.cmake).
vekutil_check(NAME no_command RC 2 STDERR_MATCH "^Usage: vekutil COMMAND")
vekutil_check(NAME unknown_command ARGS frob RC 2 STDERR_MATCH "^vekutil: unknown command 'frob'")
vekutil_check(NAME unknown_map_command ARGS map frob RC 2 STDERR_MATCH "^vekutil: unknown map subcommand 'frob'")
vekutil_check(NAME unknown_long ARGS map dump --frob x RC 2
  STDERR "vekutil map dump: unknown option --frob\nTry 'vekutil map dump --help'.\n")
vekutil_check(NAME unknown_short ARGS map dump -x x RC 2
  STDERR "vekutil map dump: unknown option -x\nTry 'vekutil map dump --help'.\n")
vekutil_check(NAME missing_argument ARGS map text f -o RC 2
  STDERR "vekutil map text: option -o needs an argument\nTry 'vekutil map text --help'.\n")
vekutil_check(NAME missing_long_argument ARGS ipcsum f --rev RC 2
  STDERR "vekutil ipcsum: option --rev needs an argument\nTry 'vekutil ipcsum --help'.\n")
vekutil_check(NAME flag_with_value ARGS map dump --full=1 f RC 2 STDERR_MATCH "option --full takes no argument")
vekutil_check(NAME ipcsum_no_rev ARGS ipcsum f RC 2 STDERR_MATCH "expected --rev N")
vekutil_check(NAME too_many_words ARGS status 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31
  RC 2 STDERR_MATCH "too many arguments")

# --trace turns on the library's trace lines (on standard output).
set(_hex "[0-9a-f]+")
vekutil_check(NAME trace ARGS map get --trace ${SAMPLES}/ports.bin revision
  STDOUT_MATCH "^vek_map_create map=${_hex}\nvek_map_create vekStatus=0\nvek_map_decode vek_map=${_hex} len=28b\n.*vek_map_get_value vek_map=${_hex}\nvek_map_get_value vekStatus=0 value=${_hex}\n\\(u32\\) 11\n.*vek_map_destroy vekStatus=0\n$")
vekutil_check(NAME trace_before_command ARGS --trace map get ${SAMPLES}/ports.bin revision
  STDOUT_MATCH "vek_map_get_value vekStatus=0 value=${_hex}\n\\(u32\\) 11\n")
vekutil_check(NAME no_trace ARGS map get ${SAMPLES}/ports.bin revision STDOUT "(u32) 11\n")
