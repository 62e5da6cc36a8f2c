# map set changes what it is asked to and nothing more: by default one
# existing value of the same type; --create adds what is missing, --retype
# changes a type, replacing a map or a text by another kind of value needs
# both. Refusals exit 1, name the path and what was found, and leave the
# file as it was. Every byte outside the changed value stays as it was.
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/vekutil_common.cmake)

set(_set "vekutil map set: ")
file(READ ${SAMPLES}/ports.txt _ports_text)

# refused(NAME STDERR ARGS...): map set on a copy of the port sample exits
# 1 with that message and leaves the copy as it was.
function(refused name stderr)
  file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/${name})
  vekutil_check(NAME ${name} ARGS map set ${name}/ports.bin ${ARGN} RC 1 STDERR "${_set}${stderr}\n")
  vekutil_same_files(${name} ${SAMPLES}/ports.bin ${WORK}/${name}/ports.bin)
  set(VEK_FAILURES ${VEK_FAILURES} PARENT_SCOPE)
endfunction()

# expected_from_text(NAME FROM TO): the port sample's text form with the
# text FROM replaced by TO (once), encoded into ${WORK}/NAME.expected.bin.
function(expected_from_text name from to)
  string(FIND "${_ports_text}" "${from}" at)
  if(at LESS 0)
    message(FATAL_ERROR "[${name}] '${from}' is not in ports.txt")
  endif()
  string(LENGTH "${from}" n)
  string(SUBSTRING "${_ports_text}" 0 ${at} head)
  math(EXPR rest "${at} + ${n}")
  string(SUBSTRING "${_ports_text}" ${rest} -1 tail)
  file(WRITE ${WORK}/${name}.expected.txt "${head}${to}${tail}")
  vekutil_check(NAME ${name}.expected ARGS map encode ${name}.expected.txt -o ${name}.expected.bin)
  set(VEK_FAILURES ${VEK_FAILURES} PARENT_SCOPE)
endfunction()

# ---- refused without the flags ----------------------------------------------

# A selector that matches nothing: no new port without an id, however often.
set(_no_port9 "VEK_ST_MAP_KEY_NOT_EXIST: port[id=9].speed: the top map has 3 entries 'port', none a map whose 'id' is 9 (--create adds one)")
refused(no_match "${_no_port9}" "port[id=9].speed" u32 7)
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/again)
foreach(run 1 2 3)
  vekutil_check(NAME again${run} ARGS map set again/ports.bin "port[id=9].speed" u32 7 RC 1 STDERR "${_set}${_no_port9}\n")
endforeach()
vekutil_same_files(again ${SAMPLES}/ports.bin ${WORK}/again/ports.bin)
refused(no_match_text "VEK_ST_MAP_KEY_NOT_EXIST: port[name=eth9]: the top map has 3 entries 'port', none a map whose 'name' is eth9 (--create adds one)"
  "port[name=eth9]" map)
refused(no_match_nested "VEK_ST_MAP_KEY_NOT_EXIST: port[id=1].queue[id=5].weight: 'port[id=1]' has 2 entries 'queue', none a map whose 'id' is 5 (--create adds one)"
  "port[id=1].queue[id=5].weight" float 1)
# A misspelt name, at the top and further down.
refused(misspelt "VEK_ST_MAP_KEY_NOT_EXIST: prot.speed: the top map has no entry 'prot' (--create adds it)" prot.speed u32 7)
refused(misspelt_last "VEK_ST_MAP_KEY_NOT_EXIST: port[id=2].sped: 'port[id=2]' has no entry 'sped' (--create adds it)"
  "port[id=2].sped" u32 7)
# Another type word.
refused(other_type "VEK_ST_MAP_INVALID_TYPE: revision: the entry holds (u32) 11, not an i32 (--retype changes its type)"
  revision i32 12)
refused(other_type_create "VEK_ST_MAP_INVALID_TYPE: revision: the entry holds (u32) 11, not an i32 (--retype changes its type)"
  revision i32 12 --create)
refused(other_type_wide "VEK_ST_MAP_INVALID_TYPE: port[id=1].rxPackets: the entry holds (u64) 18446744073709551615, not a u32 (--retype changes its type)"
  "port[id=1].rxPackets" u32 1)
# A text or a map replaced by another kind of value needs both flags.
set(_text_kind "VEK_ST_MAP_INVALID_TYPE: port[id=2].name: the entry holds (str) \"eth1\", not a u32 (--create --retype replace a map or a text by another kind of value)")
refused(text_to_u32 "${_text_kind}" "port[id=2].name" u32 7)
refused(text_to_u32_retype "${_text_kind}" "port[id=2].name" u32 7 --retype)
refused(text_to_u32_create "${_text_kind}" "port[id=2].name" u32 7 --create)
refused(map_to_u32 "VEK_ST_MAP_INVALID_TYPE: port[id=1].queue: the entry holds (map) of 2 entries, not a u32 (--create --retype replace a map or a text by another kind of value)"
  "port[id=1].queue" u32 7 -r)
refused(text_to_map "VEK_ST_MAP_INVALID_TYPE: device: the entry holds (str) \"np0\", not a map (--create --retype replace a map or a text by another kind of value)"
  device map --retype)
# A path through a value: the value would become a map.
set(_through "VEK_ST_MAP_INVALID_TYPE: port[id=2].name.x: 'port[id=2].name' holds (str) \"eth1\", not a map (--create --retype replace it by a map)")
refused(through_text "${_through}" "port[id=2].name.x" u32 1)
refused(through_text_create "${_through}" "port[id=2].name.x" u32 1 --create)
refused(through_text_retype "${_through}" "port[id=2].name.x" u32 1 --retype)
refused(through_u32 "VEK_ST_MAP_INVALID_TYPE: mtu.low: 'mtu' holds (u32) 9216, not a map (--create --retype replace it by a map)"
  mtu.low u32 1 --create)
# Whatever the flags: a selector names a map; malformed selectors; a
# selector on a value.
refused(selector_value "VEK_ST_MAP_INVALID_TYPE: port[id=2]: a selector picks a map, so the value at this path can only be of type map, not u32"
  "port[id=2]" u32 1 --create --retype)
refused(selector_value_new "VEK_ST_MAP_INVALID_TYPE: port[id=9]: a selector picks a map, so the value at this path can only be of type map, not str"
  "port[id=9]" str x -c -r)
refused(bad_selector "VEK_ST_MAP_INVALID_SEARCH: port[]: a malformed selector (write name[field=value])"
  "port[]" map --create)
refused(selector_no_eq "VEK_ST_MAP_INVALID_SEARCH: nosuch.port[id2].speed: a malformed selector (write name[field=value])"
  "nosuch.port[id2].speed" u32 1 --create)
refused(selector_on_value "VEK_ST_MAP_INVALID_MAP: mtu[id=1].x: a selector's name matches an entry that is not a map"
  "mtu[id=1].x" u32 1 --create --retype)
# A value that a selector of the maps added would have to match.
refused(selector_field "VEK_ST_INVALID_VALUE: port[id=11].id: the entries that --create would add do not match the path's selectors (the value set is a selector's own field)"
  "port[id=11].id" i32 5 --create)
# Long values are shortened in messages.
string(REPEAT "ab" 40 _long)
file(WRITE ${WORK}/long.txt "k = (bin) ${_long}\n")
vekutil_check(NAME long ARGS map encode long.txt -o long.bin)
string(SUBSTRING "${_long}" 0 51 _shown)
vekutil_check(NAME long_value ARGS map set long.bin k u32 1 RC 1
  STDERR "${_set}VEK_ST_MAP_INVALID_TYPE: k: the entry holds (bin) ${_shown}..., not a u32 (--retype changes its type)\n")

# ---- changed in place: every other byte as it was ---------------------------

# The same type: only the value's bytes change; the entry of type none and
# everything else stay.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/same)
vekutil_check(NAME same ARGS map set same/ports.bin "PORT[ID=2].Speed" u32 40000)
vekutil_diff_window(same ${SAMPLES}/ports.bin ${WORK}/same/ports.bin 4 4)
expected_from_text(same "speed = (u32) 25000" "speed = (u32) 40000")
vekutil_same_files(same_text ${WORK}/same.expected.bin ${WORK}/same/ports.bin)

foreach(case "text;port[id=3].name;str;mgmt;name = (str) \"mgmt \\\"oob\\\"\";name = (str) \"mgmt\";14"
             "bin;port[id=1].mac;bin;0a0b0c;mac = (bin) 0200c0a80001;mac = (bin) 0a0b0c;10"
             "empty_bin;port[id=1].mac;bin;;mac = (bin) 0200c0a80001;mac = (bin);10"
             "float;port[id=1].queue[id=1].weight;float;nan(0x7fc00001);weight = (float) 0.25;weight = (float) nan(0x7fc00001);4"
             "double;port[id=3].timeout;double;-0;timeout = (double) 1.5e-06;timeout = (double) -0;8"
             "bool;port[id=2].enabled;bool;true;enabled = (bool) FALSE;enabled = (bool) TRUE;4"
             "i64;port[id=3].offset;i64;0x10;offset = (i64) -42;offset = (i64) 16;8"
             "retype;revision;i32;-1;revision = (u32) 11;revision = (i32) -1;8"
             "retype_wide;mtu;u64;1;mtu = (u32) 9216;mtu = (u64) 1;12")
  list(GET case 0 name)
  list(GET case 1 path)
  list(GET case 2 type)
  list(GET case 3 value)
  list(GET case 4 from)
  list(GET case 5 to)
  list(GET case 6 window)
  set(flags)
  if(name MATCHES "^retype")
    set(flags --retype)
  endif()
  file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/${name})
  vekutil_check(NAME ${name} ARGS map set ${flags} ${name}/ports.bin ${path} ${type} "${value}")
  vekutil_diff_window(${name} ${SAMPLES}/ports.bin ${WORK}/${name}/ports.bin ${window} ${window})
  expected_from_text(${name} "${from}" "${to}")
  vekutil_same_files(${name}_text ${WORK}/${name}.expected.bin ${WORK}/${name}/ports.bin)
endforeach()

# A text or a map replaced by another kind of value, with both flags.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/kind)
vekutil_check(NAME kind ARGS map set --create --retype kind/ports.bin "port[id=2].name" u32 7)
expected_from_text(kind "name = (str) \"eth1\"" "name = (u32) 7")
vekutil_same_files(kind_text ${WORK}/kind.expected.bin ${WORK}/kind/ports.bin)
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/kind_map)
vekutil_check(NAME kind_map ARGS map set -c -r kind_map/ports.bin "port[id=1].queue" str x)
expected_from_text(kind_map "    queue = (map)\n        id = (i32) 0\n        weight = (float) 0.75\n" "    queue = (str) \"x\"\n")
vekutil_same_files(kind_map_text ${WORK}/kind_map.expected.bin ${WORK}/kind_map/ports.bin)

# A value on the path becomes a map holding the rest of the path.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/through)
vekutil_check(NAME through ARGS map set -c -r through/ports.bin "port[id=2].name.x" u32 1)
expected_from_text(through "name = (str) \"eth1\"\n" "name = (map)\n        x = (u32) 1\n")
vekutil_same_files(through_text ${WORK}/through.expected.bin ${WORK}/through/ports.bin)

# A map set to an empty map; picked by a selector, it keeps its field (as
# it was, here an i32 written in hex).
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/empty_map)
vekutil_check(NAME empty_map ARGS map set empty_map/ports.bin "port[id=0x1]" map)
string(FIND "${_ports_text}" "port = (map)\n    id = (i32) 2" _at)
string(SUBSTRING "${_ports_text}" 0 ${_at} _first)
expected_from_text(empty_map "${_first}" "device = (str) \"np0\"\nrevision = (u32) 11\nmtu = (u32) 9216\nport = (map)\n    id = (i32) 1\n")
vekutil_same_files(empty_map_text ${WORK}/empty_map.expected.bin ${WORK}/empty_map/ports.bin)
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/empty_queue)
vekutil_check(NAME empty_queue ARGS map set empty_queue/ports.bin "port.queue" map)
expected_from_text(empty_queue "    queue = (map)\n        id = (i32) 0\n        weight = (float) 0.75\n" "    queue = (map)\n")
vekutil_same_files(empty_queue_text ${WORK}/empty_queue.expected.bin ${WORK}/empty_queue/ports.bin)

# ---- --create ------------------------------------------------------------------

# The missing port is added at the end of the top map with its id, so that
# the selector finds it from then on: one port more, however often.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/create)
vekutil_check(NAME create ARGS map set --create create/ports.bin "port[id=9].speed" u32 7)
set(_port9 "port = (map)\n    id = (i32) 9\n    speed = (u32) 7\n")
vekutil_check(NAME create_text ARGS map text create/ports.bin STDOUT "${_ports_text}${_port9}")
vekutil_check(NAME create_again ARGS map set --create create/ports.bin "port[id=9].speed" u32 7)
vekutil_check(NAME create_plain ARGS map set create/ports.bin "port[id=9].speed" u32 7)
vekutil_check(NAME create_same ARGS map text create/ports.bin STDOUT "${_ports_text}${_port9}")
# Only the top map's count (7 to 8) and the new entry's bytes are new.
file(READ ${SAMPLES}/ports.bin _old HEX)
file(READ ${WORK}/create/ports.bin _new HEX)
string(SUBSTRING "${_old}" 8 -1 _old_rest)
string(FIND "${_new}" "${_old_rest}" _where)
if(NOT _new MATCHES "^00000008" OR NOT _where EQUAL 8)
  message(SEND_ERROR "[create_bytes] the stream does not start with the new count and the old entries:\n${_new}")
endif()

# Deeper: the entry goes at the end of the map that lacks it.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/create_deep)
vekutil_check(NAME create_deep ARGS map set -c create_deep/ports.bin "port[id=2].queue[id=0].weight" float 0.5)
expected_from_text(create_deep "    rxPackets = (u64) 0\n"
  "    rxPackets = (u64) 0\n    queue = (map)\n        id = (i32) 0\n        weight = (float) 0.5\n")
vekutil_same_files(create_deep_text ${WORK}/create_deep.expected.bin ${WORK}/create_deep/ports.bin)
# A text selector gives the field as a text; a misspelt name is added as asked.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/create_text_field)
vekutil_check(NAME create_text_field ARGS map set -c create_text_field/ports.bin "port[name=eth9]" map)
vekutil_check(NAME create_text_field_text ARGS map text create_text_field/ports.bin
  STDOUT "${_ports_text}port = (map)\n    name = (str) \"eth9\"\n")
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/create_misspelt)
vekutil_check(NAME create_misspelt ARGS map set -c create_misspelt/ports.bin prot.speed u32 7)
vekutil_check(NAME create_misspelt_text ARGS map text create_misspelt/ports.bin
  STDOUT "${_ports_text}prot = (map)\n    speed = (u32) 7\n")
# A path that sets a selector's field to the value it selects by.
file(COPY ${SAMPLES}/ports.bin DESTINATION ${WORK}/create_field)
vekutil_check(NAME create_field ARGS map set -c create_field/ports.bin "port[id=11].id" u32 11)
vekutil_check(NAME create_field_text ARGS map text create_field/ports.bin
  STDOUT "${_ports_text}port = (map)\n    id = (u32) 11\n")

# ---- streams that the decoder reads with changes --------------------------------

# A float NaN with a payload, a float -0, an entry of an unknown type code,
# a bool word 2, a nested map after a non-zero filler and a negative count:
# the decoder changes or drops each, map set keeps their bytes.
# odd(VAR X N V): the stream with the value X of m.x, the count N of n and
# the value V of v.
function(odd var x n v)
  set(${var} "00000007"
    "0000000166000000067fc00001"        # f = (float) nan(0x7fc00001)
    "000000017a0000000680000000"        # z = (float) -0
    "00000001750000004d"                # u = (type 77)
    "00000001620000000700000002"        # b = a bool word 2
    "000000016d000000020000000500000001" # m = (map) after the filler 5, one entry:
    "000000017800000004${x}"            #     x = (i32)
    "000000016e0000000200000000${n}"    # n = (map), its count
    "000000017600000008${v}")           # v = (u32)
  string(REPLACE ";" "" s "${${var}}")
  set(${var} "${s}" PARENT_SCOPE)
endfunction()
odd(_odd 0000000a fffffff0 00000005)
vekutil_write_hex(${WORK}/odd.bin "${_odd}")
vekutil_check(NAME odd_v ARGS map set odd.bin v u32 6 -o odd_v.bin)
odd(_hex 0000000a fffffff0 00000006)
vekutil_expect_hex(odd_v ${WORK}/odd_v.bin "${_hex}")
vekutil_check(NAME odd_x ARGS map set odd.bin m.x i32 11 -o odd_x.bin)
odd(_hex 0000000b fffffff0 00000005)
vekutil_expect_hex(odd_x ${WORK}/odd_x.bin "${_hex}")
# Added to the map with the negative count: its count becomes 1.
vekutil_check(NAME odd_n ARGS map set odd.bin n.k u32 1 --create -o odd_n.bin)
odd(_hex 0000000a 00000001000000016b0000000800000001 00000005)
vekutil_expect_hex(odd_n ${WORK}/odd_n.bin "${_hex}")
# Added at the top: after the last entry, the count 7 becomes 8.
vekutil_check(NAME odd_w ARGS map set odd.bin w bin 00ff --create -o odd_w.bin)
string(SUBSTRING "${_odd}" 8 -1 _rest)
vekutil_expect_hex(odd_w ${WORK}/odd_w.bin "00000008${_rest}0000000177000000030000000200ff")

# Streams with dotted keys are refused: their entries and the decoded map's differ.
vekutil_write_hex(${WORK}/dotted.bin "0000000100000003612e620000000400000001")
vekutil_check(NAME dotted ARGS map set dotted.bin a.b i32 2 RC 1
  STDERR "${_set}VEK_ST_INVALID_VALUE: dotted.bin: 1 key(s) hold a '.', which the decoder takes as a key path: the entries of the stream and of the decoded map differ, and map set cannot tell which bytes a path names\n")

# ---- depth, standard input and output ---------------------------------------

# 64 maps below the top map are read; a 65th is not added.
set(_chain "")
set(_path "")
foreach(level RANGE 1 64)
  string(APPEND _chain "00000001000000016d0000000200000000")
  string(APPEND _path "m.")
endforeach()
vekutil_write_hex(${WORK}/deep.bin "${_chain}00000000")
vekutil_check(NAME deep_value ARGS map set -c deep.bin "${_path}x" i32 1 -o deep_value.bin)
vekutil_check(NAME deep_map ARGS map set -c deep.bin "${_path}x" map RC 1
  STDERR "${_set}VEK_ST_MAP_INTERNAL_ERROR: ${_path}x: the value would put a map 65 levels deep, and the decoder reads maps at most 64 levels below the top map\n")

vekutil_check(NAME stdin ARGS map set - mtu u32 1500 -o stdin.bin STDIN ${SAMPLES}/ports.bin)
vekutil_diff_window(stdin ${SAMPLES}/ports.bin ${WORK}/stdin.bin 2 2)
execute_process(COMMAND ${EMULATOR} ${VEKUTIL} map set ${SAMPLES}/ports.bin mtu u32 1500 -o -
  OUTPUT_FILE ${WORK}/stdout.bin ERROR_VARIABLE _err RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0 OR NOT _err STREQUAL "")
  message(SEND_ERROR "[stdout] exit status ${_rc}: ${_err}")
endif()
vekutil_same_files(stdout ${WORK}/stdin.bin ${WORK}/stdout.bin)
