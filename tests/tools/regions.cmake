# Named robust regions: region create/ls/info/check/rm and rsrc, on regions
# whose names are unique to the run (removed at the end, whatever failed),
# set up and broken by vekutil_region_fixture (FIXTURE).
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/vekutil_common.cmake)

string(RANDOM LENGTH 8 ALPHABET abcdefghijklmnopqrstuvwxyz0123456789 _tag)
set(_prefix "vektest-tools-${_tag}")
set(_regions)

# A region name of this run; NAME is what it stands for in the tests.
macro(region_name var suffix)
  set(${var} "${_prefix}-${suffix}")
  list(APPEND _regions "${_prefix}-${suffix}")
endmacro()

# fixture(REGION STEP): one step of vekutil_region_fixture, which must succeed.
function(fixture region step)
  execute_process(COMMAND ${EMULATOR} ${FIXTURE} ${region} ${step}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "[fixture ${step}] exit status ${rc}\n${out}${err}")
  endif()
endfunction()

set(_table_head "Kind Name                            BaseId    NumElems  NumElemsFree\n")
set(_ports_row "  2                             ports         0        16        16\n")
set(_queues_row "  1                            queues       100        64        61\n")

# create, ls, info, rm of a bare region.
region_name(_bare bare)
vekutil_check(NAME create ARGS region create ${_bare} --size 256K STDOUT "")
vekutil_check(NAME create_exists ARGS region create ${_bare} --size 256K RC 1
  STDERR_MATCH "^vekutil region create: VEK_ST_INVALID_VALUE: [^\n]*${_bare}[^\n]*\n$")
vekutil_check(NAME ls ARGS region ls
  STDOUT_MATCH "^NAME                             SIZE MODE  OWNER\n(.*\n)?${_bare} +262144 0600  [^\n]+\n")
vekutil_check(NAME info_bare ARGS region info ${_bare}
  STDOUT_MATCH "^region   ${_bare}\nbase     0x[0-9a-f]+\nsize     262144 \\(256K\\)\nused     [0-9]+ bytes in [0-9]+ blocks\nfree     [0-9]+ bytes\nmode     0600\nlayout   [0-9]+\nobjects  0\n$")
vekutil_check(NAME check_bare ARGS region check ${_bare}
  STDOUT "region '${_bare}': allocator and 0 named objects whole\n")
vekutil_check(NAME check_bare_no_object ARGS region check ${_bare} --object device RC 1
  STDERR_MATCH "^vekutil region check: VEK_ST_INVALID_VALUE: ")
vekutil_check(NAME rsrc_bare ARGS rsrc ${_bare} RC 1 STDERR_MATCH "^vekutil rsrc: VEK_ST_INVALID_VALUE: ")
vekutil_check(NAME rm ARGS region rm ${_bare} STDOUT "")
vekutil_check(NAME rm_again ARGS region rm ${_bare} RC 1 STDERR_MATCH "^vekutil region rm: VEK_ST_INVALID_VALUE: ")

# The group may attach to a region made with --group; sizes take K, M, G.
region_name(_group group)
vekutil_check(NAME create_group ARGS region create --group -s 1M ${_group})
vekutil_check(NAME info_group ARGS region info ${_group} STDOUT_MATCH "\nsize     1048576 \\(1M\\)\n.*\nmode     0660\n")
vekutil_check(NAME ls_group ARGS region ls STDOUT_MATCH "\n${_group} +1048576 0660  ")
vekutil_check(NAME rm_group ARGS region rm ${_group})

# Errors: absent regions, bad names, bad sizes, wrong command lines.
region_name(_absent absent)
foreach(cmd "region info" "region check" "region rm" "rsrc")
  string(REPLACE " " ";" words "${cmd}")
  vekutil_check(NAME "absent_${cmd}" ARGS ${words} ${_absent} RC 1
    STDERR_MATCH "^vekutil ${cmd}: VEK_ST_INVALID_VALUE: [^\n]+\n$")
  foreach(bad "a/b" ".hidden" "sp ace")
    vekutil_check(NAME "bad_name_${cmd}" ARGS ${words} ${bad} RC 1
      STDERR_MATCH "^vekutil ${cmd}: VEK_ST_INVALID_PARAMETER: [^\n]+\n$")
  endforeach()
  vekutil_check(NAME "no_name_${cmd}" ARGS ${words} RC 2
    STDERR "vekutil ${cmd}: expected one region name\nTry 'vekutil ${cmd} --help'.\n")
endforeach()
string(REPEAT "n" 64 _long)
vekutil_check(NAME create_long_name ARGS region create ${_long} --size 1M RC 1
  STDERR_MATCH "^vekutil region create: VEK_ST_INVALID_PARAMETER: ")
foreach(size 12X 1KB K -1 1.5M 0x10000 "")
  vekutil_check(NAME "bad_size_${size}" ARGS region create ${_absent} --size=${size} RC 2
    STDERR_MATCH "^vekutil region create: (not a size: '${size}'|expected --size BYTES)")
endforeach()
vekutil_check(NAME size_too_big ARGS region create ${_absent} --size 99999999999999999999 RC 2
  STDERR_MATCH "not a size")
foreach(size 0 1K 65535)
  vekutil_check(NAME "small_size_${size}" ARGS region create ${_absent} --size ${size} RC 1
    STDERR_MATCH "^vekutil region create: VEK_ST_INVALID_PARAMETER: ")
endforeach()
vekutil_check(NAME create_no_size ARGS region create ${_absent} RC 2
  STDERR "vekutil region create: expected --size BYTES (K, M or G may follow the digits)\nTry 'vekutil region create --help'.\n")
vekutil_check(NAME ls_operand ARGS region ls x RC 2 STDERR_MATCH "^vekutil region ls: takes no operands\n")
vekutil_check(NAME rsrc_bad_kind ARGS rsrc ${_absent} --kind 9 RC 2
  STDERR_MATCH "^vekutil rsrc: not a kind: '9' \\(0 to 7, or 8 for every kind\\)\n")
vekutil_check(NAME region_no_sub ARGS region RC 2 STDERR_MATCH "^Usage: vekutil region SUBCOMMAND")
vekutil_check(NAME region_unknown_sub ARGS region frob RC 2 STDERR_MATCH "^vekutil: unknown region subcommand 'frob'\n")
vekutil_check(NAME unknown_option ARGS region info --frob ${_absent} RC 2
  STDERR "vekutil region info: unknown option --frob\nTry 'vekutil region info --help'.\n")
# Nothing of the failed commands above made a region.
if(EXISTS /dev/shm/vek.${_absent})
  message(SEND_ERROR "[absent] a failed command created /dev/shm/vek.${_absent}")
endif()

# A region with a shared device handle: the table, the checks, the objects.
region_name(_dev dev)
fixture(${_dev} setup)
vekutil_check(NAME rsrc ARGS rsrc ${_dev} STDOUT "${_table_head}${_ports_row}${_queues_row}")
vekutil_check(NAME rsrc_object ARGS rsrc ${_dev} --object device STDOUT "${_table_head}${_ports_row}${_queues_row}")
vekutil_check(NAME rsrc_kind ARGS rsrc ${_dev} -k 1 STDOUT "${_table_head}${_queues_row}")
vekutil_check(NAME rsrc_kind_none ARGS rsrc ${_dev} --kind 7 STDOUT "${_table_head}")
vekutil_check(NAME rsrc_not_handle ARGS rsrc ${_dev} --object blob RC 1
  STDERR_MATCH "^vekutil rsrc: VEK_ST_INVALID_HANDLE: object 'blob' holds 100 bytes, not a device handle \\((8|16) bytes\\)\n$")
vekutil_check(NAME rsrc_no_object ARGS rsrc ${_dev} --object nothing RC 1
  STDERR_MATCH "^vekutil rsrc: VEK_ST_INVALID_VALUE: ")
vekutil_check(NAME check_dev ARGS region check ${_dev}
  STDOUT "region '${_dev}': allocator and 2 named objects whole\nhandle 'device': registry of 2 resources whole\n")
vekutil_check(NAME info_dev ARGS region info ${_dev}
  STDOUT_MATCH "\nobjects  2\n  device +(8|16) bytes  ready\n  blob                            100 bytes  ready\n$")
# The tools change nothing: the same table, the same figures again.
vekutil_check(NAME rsrc_unchanged ARGS rsrc ${_dev} STDOUT "${_table_head}${_ports_row}${_queues_row}")
# --trace shows the library's calls, the dump's among them.
vekutil_check(NAME rsrc_trace ARGS rsrc ${_dev} --trace
  STDOUT_MATCH "^vek_rsrc_dump inVekHdl=[0-9a-f]+ inKind=8\n${_table_head}${_ports_row}${_queues_row}vek_rsrc_dump vekStatus=0\n$")

# An object whose initialiser died stays, not ready, until its next user.
fixture(${_dev} die-init)
vekutil_check(NAME info_not_ready ARGS region info ${_dev}
  STDOUT_MATCH "\nobjects  3\n  device +(8|16) bytes  ready\n  blob                            100 bytes  ready\n  half                             32 bytes  not ready\n$")
vekutil_check(NAME rsrc_not_ready ARGS rsrc ${_dev} --object half RC 1 STDERR_MATCH "^vekutil rsrc: VEK_ST_INVALID_VALUE: ")

# A registry lock whose owner died is taken over; the tools go on. (Not
# under an emulator: qemu-user never reports a dead owner, so the lock
# would stay held.)
if(NOT EMULATOR)
fixture(${_dev} die-locked)
vekutil_check(NAME check_after_death ARGS region check ${_dev}
  STDOUT "region '${_dev}': allocator and 3 named objects whole\nhandle 'device': registry of 2 resources whole\n")
vekutil_check(NAME rsrc_after_death ARGS rsrc ${_dev} STDOUT "${_table_head}${_ports_row}${_queues_row}")
endif()

# Broken registries: the first violation, exit status 1, no crash.
fixture(${_dev} free-count)
vekutil_check(NAME check_free_count ARGS region check ${_dev} RC 1
  STDOUT "region '${_dev}': allocator and 3 named objects whole\n"
  STDERR "vekutil region check: handle 'device': resource 'queues' (kind 1): numElemsFree is 62, its bitmap has 61 identifiers free\n")
vekutil_check(NAME rsrc_free_count ARGS rsrc ${_dev} RC 1
  STDERR "vekutil rsrc: VEK_ST_INVALID_HANDLE: handle 'device': resource 'queues' (kind 1): numElemsFree is 62, its bitmap has 61 identifiers free\n")
fixture(${_dev} next)
vekutil_check(NAME check_next ARGS region check ${_dev} RC 1
  STDERR "vekutil region check: handle 'device': record 2 (0x40) lies outside the region\n")
vekutil_check(NAME rsrc_next ARGS rsrc ${_dev} RC 1
  STDERR "vekutil rsrc: VEK_ST_INVALID_HANDLE: handle 'device': record 2 (0x40) lies outside the region\n")
fixture(${_dev} magic)
vekutil_check(NAME check_magic ARGS region check ${_dev} RC 1
  STDERR "vekutil region check: handle 'device': magic 0x12345678, not VEK_HDL_MAGIC\n")
vekutil_check(NAME rm_dev ARGS region rm ${_dev})

foreach(r IN LISTS _regions)
  file(REMOVE /dev/shm/vek.${r})
endforeach()
