# map set and the -o outputs: complete files or none, never a partly written
# one; the target keeps its mode; values of every type reach the stream.
# (What map set may change: map_set.cmake.)
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/vekutil_common.cmake)

function(mode_of file var)
  execute_process(COMMAND stat -c %a ${file} OUTPUT_VARIABLE m OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${var} "${m}" PARENT_SCOPE)
endfunction()

function(no_temporary_files name)
  file(GLOB left ${WORK}/.*.XXXXXX ${WORK}/.*.??????)
  if(left)
    message(SEND_ERROR "[${name}] temporary files left behind: ${left}")
  endif()
endfunction()

# Change a value in place; the file keeps its mode.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK})
file(CHMOD ${WORK}/ports.bin PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
vekutil_check(NAME set_in_place ARGS map set ports.bin "port[id=2].speed" u32 40000)
vekutil_check(NAME set_in_place_get ARGS map get ports.bin "port[id=2].speed" STDOUT "(u32) 40000\n")
vekutil_check(NAME set_in_place_others ARGS map get ports.bin "port[id=1].speed" STDOUT "(u32) 10000\n")
mode_of(${WORK}/ports.bin mode)
if(NOT mode STREQUAL "640")
  message(SEND_ERROR "[set_in_place] mode ${mode}, expected 640")
endif()
no_temporary_files(set_in_place)

# With -o the input stays as it was.
vekutil_check(NAME set_output ARGS map set ${SAMPLES}/ports.bin mtu u32 1500 -o mtu.bin)
vekutil_check(NAME set_output_get ARGS map get mtu.bin mtu STDOUT "(u32) 1500\n")
vekutil_check(NAME set_output_source ARGS map get ${SAMPLES}/ports.bin mtu STDOUT "(u32) 9216\n")

# With --create a missing entry is added, with the maps on its path.
file(WRITE ${WORK}/small.txt "port = (map)\n    id = (i32) 1\n")
vekutil_check(NAME small ARGS map encode small.txt -o small.bin)
vekutil_check(NAME set_new ARGS map set --create small.bin "port[id=9].speed" u32 7)
vekutil_check(NAME set_new_text ARGS map text small.bin
  STDOUT "port = (map)\n    id = (i32) 1\nport = (map)\n    id = (i32) 9\n    speed = (u32) 7\n")
vekutil_check(NAME set_deep ARGS map set --create small.bin "port[id=1].queue.weight" float 0.5)
vekutil_check(NAME set_deep_get ARGS map get small.bin port.queue.weight STDOUT "(float) 0.5\n")

# Every type, and texts with blanks, tabs and backslashes (they pass the
# command runner's word splitting unchanged).
file(WRITE ${WORK}/types.txt "")
vekutil_check(NAME types ARGS map encode types.txt -o types.bin)
foreach(case "a;i32;-2147483648" "b;u32;0xffffffff" "c;i64;-9223372036854775808" "d;u64;18446744073709551615"
             "f;double;nan(0x7ff0000000000001)" "g;bool;true" "h;str;eth 0\tx\\y"
             "i;str;" "j;bin;00ff" "k;bin;" "l;map" "m;float;inf" "e;float;-0")
  list(GET case 0 key)
  list(GET case 1 type)
  list(LENGTH case n)
  set(value)
  if(n GREATER 2)
    list(GET case 2 value)
    set(value "${value}")
    vekutil_check(NAME set_${key} ARGS map set --create types.bin ${key} ${type} "${value}")
  else()
    vekutil_check(NAME set_${key} ARGS map set --create types.bin ${key} ${type})
  endif()
endforeach()
vekutil_check(NAME types_text ARGS map text types.bin STDOUT
  "a = (i32) -2147483648\nb = (u32) 4294967295\nc = (i64) -9223372036854775808\nd = (u64) 18446744073709551615\nf = (double) nan(0x7ff0000000000001)\ng = (bool) TRUE\nh = (str) \"eth 0\\tx\\\\y\"\ni = (str) \"\"\nj = (bin) 00ff\nk = (bin)\nl = (map)\nm = (float) inf\ne = (float) -0\n")
# Replacing a value keeps the others' bits (the float -0 too, which the
# decoder reads as 0).
vekutil_check(NAME set_replace ARGS map set types.bin B u32 5)
vekutil_check(NAME set_replace_get ARGS map get types.bin b STDOUT "(u32) 5\n")
vekutil_check(NAME set_replace_text ARGS map text types.bin STDOUT_MATCH "\nb = \\(u32\\) 5\n.*\ne = \\(float\\) -0\n$")

# Failures change nothing and leave no file behind.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/keep)
set(keep ${WORK}/keep/ports.bin)
vekutil_check(NAME set_bad_value ARGS map set ${keep} mtu u32 12x RC 1
  STDERR "vekutil map set: VEK_ST_INVALID_VALUE: not a valid u32 value: '12x'\n")
vekutil_check(NAME set_bad_type ARGS map set ${keep} mtu u16 1 RC 2 STDERR_MATCH "unknown type 'u16'")
vekutil_check(NAME set_no_value ARGS map set ${keep} mtu u32 RC 2 STDERR_MATCH "expected a value after the type")
vekutil_check(NAME set_map_value ARGS map set ${keep} mtu map x RC 2 STDERR_MATCH "type map takes no value")
vekutil_check(NAME set_no_dir ARGS map set ${keep} mtu u32 1 -o ${WORK}/nodir/x.bin RC 1
  STDERR "vekutil map set: ${WORK}/nodir/x.bin: cannot create a temporary file beside it: No such file or directory\n")
vekutil_same_files(set_failures ${SAMPLES}/ports.bin ${keep})

file(WRITE ${WORK}/keep/out.bin "previous")
file(WRITE ${WORK}/bad.txt "a = (i32) 1\nb = (i32) x\n")
vekutil_check(NAME encode_bad ARGS map encode bad.txt -o keep/out.bin RC 1
  STDERR "vekutil map encode: bad.txt:2:11: VEK_ST_PARSE_ERROR: not a valid i32 value: x\n")
file(READ ${WORK}/keep/out.bin kept)
if(NOT kept STREQUAL "previous")
  message(SEND_ERROR "[encode_bad] the output file was changed")
endif()
vekutil_write_hex(${WORK}/cut.bin "0000")
vekutil_check(NAME text_bad ARGS map text cut.bin -o keep/out.bin RC 1 STDERR_MATCH "VEK_ST_MAP_CALLBACK_ERROR")
vekutil_check(NAME json_bad ARGS map json cut.bin -o keep/out.bin RC 1 STDERR_MATCH "VEK_ST_MAP_CALLBACK_ERROR")
file(READ ${WORK}/keep/out.bin kept)
if(NOT kept STREQUAL "previous")
  message(SEND_ERROR "[text_bad] the output file was changed")
endif()

# -o writes text and JSON too.
vekutil_check(NAME text_output ARGS map text ${SAMPLES}/ports.bin -o keep/ports.txt)
vekutil_same_files(text_output ${SAMPLES}/ports.txt ${WORK}/keep/ports.txt)
vekutil_check(NAME json_output ARGS map json ${SAMPLES}/ports.bin --output=keep/ports.json)
vekutil_same_files(json_output ${EXPECTED}/ports.json ${WORK}/keep/ports.json)
no_temporary_files(all)
file(GLOB left ${WORK}/keep/.*)
if(left)
  message(SEND_ERROR "temporary files left behind: ${left}")
endif()
