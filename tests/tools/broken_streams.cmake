# Streams that are cut short, corrupted, not the library's own, or absent:
# clear messages with the library's status name, exit status 1, no crash.
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/vekutil_common.cmake)

set(_head "^vekutil map dump: ")

# Cut short at many places: the decoder's read fails.
file(SIZE ${SAMPLES}/ports.bin _size)
math(EXPR _last "${_size} - 1")
foreach(n 1 3 4 7 8 12 13 20 40 64 100 200 ${_last})
  file(READ ${SAMPLES}/ports.bin _hex LIMIT ${n} HEX)
  vekutil_write_hex(${WORK}/cut${n}.bin "${_hex}")
  foreach(cmd "map;dump" "map;text" "map;json" "map;get" "ipcsum;--rev;9")
    string(REPLACE ";" "_" c "${cmd}")
    set(extra)
    if(cmd STREQUAL "map;get")
      set(extra mtu)
    endif()
    list(GET cmd 0 c0)
    list(GET cmd 1 c1)
    if(c0 STREQUAL "ipcsum")
      set(c1 "")
    else()
      set(c1 " ${c1}")
    endif()
    vekutil_check(NAME cut${n}_${c} ARGS ${cmd} cut${n}.bin ${extra} RC 1
      STDERR_MATCH "^vekutil ${c0}${c1}: VEK_ST_MAP_CALLBACK_ERROR: cut${n}.bin: not a valid map stream: offset [0-9]+: (the stream ends inside [^\n]* \\([0-9]+ bytes needed, [0-9]+ left\\)|the [a-z -]+ length [0-9]+ runs past the end of the stream \\([0-9]+ bytes left for [a-z ]+\\))\n$")
  endforeach()
endforeach()

file(WRITE ${WORK}/empty.bin "")
vekutil_check(NAME empty ARGS map dump empty.bin RC 1
  STDERR "vekutil map dump: VEK_ST_MAP_CALLBACK_ERROR: empty.bin: not a valid map stream: offset 0: the stream ends inside an entry count (4 bytes needed, 0 left)\n")

# Corrupted: an entry count far beyond the entries, a key length beyond the
# end, lengths that cannot be allocated.
file(READ ${SAMPLES}/ports.bin _hex HEX)
string(SUBSTRING "${_hex}" 8 -1 _rest)
vekutil_write_hex(${WORK}/count.bin "7fffffff${_rest}")
vekutil_check(NAME big_count ARGS map dump count.bin RC 1
  STDERR_MATCH "${_head}VEK_ST_MAP_CALLBACK_ERROR: count.bin: not a valid map stream: offset ${_size}: the stream ends inside a key length \\(4 bytes needed, 0 left\\)\n$")
vekutil_write_hex(${WORK}/keylen.bin "00000001000001006b")
vekutil_check(NAME key_past_end ARGS map dump keylen.bin RC 1
  STDERR "vekutil map dump: VEK_ST_MAP_CALLBACK_ERROR: keylen.bin: not a valid map stream: offset 4: the key length 256 runs past the end of the stream (1 bytes left for the key)\n")
vekutil_write_hex(${WORK}/keyff.bin "00000001ffffffff6b")
vekutil_check(NAME key_length_ff ARGS map dump keyff.bin RC 1
  STDERR "vekutil map dump: VEK_ST_NO_MEMORY: keyff.bin: not a valid map stream: offset 4: the key length 0xffffffff cannot be allocated\n")
vekutil_write_hex(${WORK}/strff.bin "00000001000000016b00000001ffffffff")
vekutil_check(NAME text_length_ff ARGS map text strff.bin RC 1
  STDERR "vekutil map text: VEK_ST_NO_MEMORY: strff.bin: not a valid map stream: offset 13: the text length 0xffffffff cannot be allocated\n")
vekutil_write_hex(${WORK}/type.bin "00000001000000016b0000")
vekutil_check(NAME cut_type ARGS map get type.bin k RC 1
  STDERR "vekutil map get: VEK_ST_MAP_CALLBACK_ERROR: type.bin: not a valid map stream: offset 9: the stream ends inside a type code (4 bytes needed, 2 left)\n")

# Bytes after the map.
vekutil_write_hex(${WORK}/trailing.bin "${_hex}00")
vekutil_check(NAME trailing ARGS map dump trailing.bin RC 1
  STDERR "vekutil map dump: VEK_ST_PARSE_ERROR: trailing.bin: offset ${_size}: 1 byte follows the end of the map\n")
vekutil_check(NAME trailing_text ARGS map text trailing.bin RC 1
  STDERR "vekutil map text: VEK_ST_PARSE_ERROR: trailing.bin: offset ${_size}: 1 byte follows the end of the map\n")
# Every subcommand that reads a stream refuses them (the library's decoder
# does not read them); map set writes nothing.
file(COPY ${WORK}/trailing.bin DESTINATION ${WORK}/keep_trailing)
foreach(cmd "map;get;@;mtu" "map;json;@" "map;set;@;mtu;u32;1" "ipcsum;--rev;9;@")
  list(GET cmd 0 c0)
  list(GET cmd 1 c1)
  string(REPLACE "@" "keep_trailing/trailing.bin" args "${cmd}")
  set(head "vekutil ${c0} ${c1}: VEK_ST_PARSE_ERROR: keep_trailing/trailing.bin: ")
  if(c0 STREQUAL "ipcsum")
    set(head "vekutil ipcsum: VEK_ST_PARSE_ERROR: keep_trailing/trailing.bin: not a valid map stream: ")
  endif()
  vekutil_check(NAME trailing_${c0}_${c1} ARGS ${args} RC 1 STDERR "${head}offset ${_size}: 1 byte follows the end of the map\n")
endforeach()
vekutil_same_files(trailing_set ${WORK}/trailing.bin ${WORK}/keep_trailing/trailing.bin)

# Nesting: 64 levels below the top map are read, 65 are refused.
set(_level "00000001000000016d0000000200000000")
foreach(depth 64 65)
  string(REPEAT "${_level}" ${depth} _deep)
  vekutil_write_hex(${WORK}/deep${depth}.bin "${_deep}00000000")
endforeach()
vekutil_check(NAME deep64 ARGS map text deep64.bin -o deep64.txt)
vekutil_check(NAME deep64_back ARGS map encode deep64.txt -o deep64.back)
vekutil_same_files(deep64_back ${WORK}/deep64.bin ${WORK}/deep64.back)
set(_too_deep "a map entry whose map would be 65 levels deep: the decoder reads maps at most 64 levels below the top map (VEK_MAP_DECODE_MAX_DEPTH) and stops at this type code")
vekutil_check(NAME deep65 ARGS map dump deep65.bin RC 1
  STDERR "vekutil map dump: VEK_ST_MAP_INTERNAL_ERROR: deep65.bin: not a valid map stream: offset 1097: ${_too_deep}\n")
# The decoder checks the depth once it has read the type code, before the
# filler: a stream both too deep and cut short after that type code fails
# on the depth; cut inside the type code, on the end of the stream.
file(READ ${WORK}/deep65.bin _deep_hex HEX)
foreach(cut 1101 1103 1105)
  math(EXPR n "${cut} * 2")
  string(SUBSTRING "${_deep_hex}" 0 ${n} _cut_hex)
  vekutil_write_hex(${WORK}/deep65_${cut}.bin "${_cut_hex}")
  vekutil_check(NAME deep65_cut${cut} ARGS map text deep65_${cut}.bin RC 1
    STDERR "vekutil map text: VEK_ST_MAP_INTERNAL_ERROR: deep65_${cut}.bin: not a valid map stream: offset 1097: ${_too_deep}\n")
endforeach()
string(SUBSTRING "${_deep_hex}" 0 2198 _cut_hex)
vekutil_write_hex(${WORK}/deep65_1099.bin "${_cut_hex}")
vekutil_check(NAME deep65_cut1099 ARGS map text deep65_1099.bin RC 1
  STDERR "vekutil map text: VEK_ST_MAP_CALLBACK_ERROR: deep65_1099.bin: not a valid map stream: offset 1097: the stream ends inside a type code (4 bytes needed, 2 left)\n")
# A dotted key's levels count as well: an i32 under "a.b" 63 levels down
# is read, 64 levels down refused.
foreach(depth 63 64)
  string(REPEAT "${_level}" ${depth} _deep)
  vekutil_write_hex(${WORK}/dotted${depth}.bin "${_deep}0000000100000003612e620000000400000001")
endforeach()
vekutil_check(NAME dotted63 ARGS map get dotted63.bin x RC 1 STDERR_MATCH "VEK_ST_MAP_KEY_NOT_EXIST: x: ")
vekutil_check(NAME dotted64 ARGS map get dotted64.bin x RC 1
  STDERR "vekutil map get: VEK_ST_MAP_INTERNAL_ERROR: dotted64.bin: not a valid map stream: offset 1099: an entry with a dotted key whose map would be 65 levels deep: the decoder reads maps at most 64 levels below the top map (VEK_MAP_DECODE_MAX_DEPTH) and stops at this type code\n")

# Unknown type codes: the decoder skips the entry, the text form keeps it.
vekutil_write_hex(${WORK}/unknown.bin "00000003000000016b0000004d000000016effffffff000000016a0000000400000005")
vekutil_check(NAME unknown_dump ARGS map dump unknown.bin STDOUT "    j = (i32) 5\n")
vekutil_check(NAME unknown_text ARGS map text unknown.bin STDOUT "k = (type 77)\nn = (none)\nj = (i32) 5\n")
vekutil_check(NAME unknown_json ARGS map json unknown.bin STDOUT "{\n  \"j\": 5\n}\n")
file(WRITE ${WORK}/unknown.txt "k = (type 77)\nn = (none)\nj = (i32) 5\n")
vekutil_check(NAME unknown_back ARGS map encode unknown.txt -o unknown.back)
vekutil_same_files(unknown_back ${WORK}/unknown.bin ${WORK}/unknown.back)

# Streams the library never writes: the decoder reads them (with changes),
# the text form refuses them rather than give back other bytes.
set(_tail ": the stream is not one the library writes, and the text form cannot give it back byte for byte\n")
vekutil_write_hex(${WORK}/bool2.bin "00000001000000016b0000000700000002")
vekutil_check(NAME odd_bool_dump ARGS map dump bool2.bin STDOUT "    k = (bool) FALSE\n")
vekutil_check(NAME odd_bool_text ARGS map text bool2.bin RC 1
  STDERR "vekutil map text: VEK_ST_INVALID_VALUE: bool2.bin: 1 bool value(s) other than 0 and 1${_tail}")
vekutil_write_hex(${WORK}/dotted.bin "0000000100000003612e620000000400000001")
vekutil_check(NAME dotted_dump ARGS map dump --full dotted.bin STDOUT "a = (map) \na.b = (i32) 1\n")
vekutil_check(NAME dotted_text ARGS map text dotted.bin RC 1
  STDERR "vekutil map text: VEK_ST_INVALID_VALUE: dotted.bin: 1 key(s) hold a '.', which the map takes as a key path${_tail}")
vekutil_write_hex(${WORK}/filler.bin "00000001000000016d000000020000000700000000")
vekutil_check(NAME filler_text ARGS map text filler.bin RC 1
  STDERR "vekutil map text: VEK_ST_INVALID_VALUE: filler.bin: 1 non-zero filler word(s) before nested maps${_tail}")
vekutil_write_hex(${WORK}/negative.bin "ffffffff")
vekutil_check(NAME negative_dump ARGS map dump negative.bin STDOUT "")
vekutil_check(NAME negative_text ARGS map text negative.bin RC 1
  STDERR "vekutil map text: VEK_ST_INVALID_VALUE: negative.bin: 1 negative entry count(s)${_tail}")
vekutil_write_hex(${WORK}/nul.bin "00000001000000016b00000001000000026100")
vekutil_check(NAME nul_text ARGS map text nul.bin RC 1
  STDERR "vekutil map text: VEK_ST_INVALID_VALUE: nul.bin: 1 key(s) or text(s) hold a NUL byte${_tail}")

# Files that cannot be read.
vekutil_check(NAME missing_file ARGS map dump nosuch.bin RC 1
  STDERR "vekutil map dump: nosuch.bin: cannot open: No such file or directory\n")
vekutil_check(NAME directory ARGS map text . RC 1 STDERR "vekutil map text: .: is a directory\n")
vekutil_check(NAME missing_ipcsum ARGS ipcsum --rev 0 nosuch.bin RC 1
  STDERR "vekutil ipcsum: nosuch.bin: cannot open: No such file or directory\n")

# Key paths that do not resolve.
vekutil_check(NAME no_key ARGS map get ${SAMPLES}/ports.bin speed RC 1
  STDERR "vekutil map get: VEK_ST_MAP_KEY_NOT_EXIST: speed: no entry has this key path\n")
vekutil_check(NAME no_port ARGS map get ${SAMPLES}/ports.bin "port[id=7].speed" RC 1
  STDERR "vekutil map get: VEK_ST_MAP_KEY_NOT_EXIST: port[id=7].speed: no entry has this key path\n")
vekutil_check(NAME bad_selector ARGS map get ${SAMPLES}/ports.bin "port[id=3" RC 1
  STDERR "vekutil map get: VEK_ST_MAP_INVALID_SEARCH: port[id=3: a malformed selector (write name[field=value])\n")
vekutil_check(NAME selector_no_eq ARGS map get ${SAMPLES}/ports.bin "port[id3].speed" RC 1
  STDERR "vekutil map get: VEK_ST_MAP_INVALID_SEARCH: port[id3].speed: a malformed selector (write name[field=value])\n")
vekutil_check(NAME through_value ARGS map get ${SAMPLES}/ports.bin mtu.low RC 1
  STDERR "vekutil map get: VEK_ST_MAP_INTERNAL_ERROR: mtu.low: a component before the last is not a map\n")
vekutil_check(NAME selector_on_value ARGS map get ${SAMPLES}/ports.bin "mtu[id=1]" RC 1
  STDERR "vekutil map get: VEK_ST_MAP_INVALID_MAP: mtu[id=1]: a selector's name matches an entry that is not a map\n")
