# The sample streams under examples/streams: each is the stream that the
# tool makes from the text kept beside it, and gives that text back.
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/vekutil_common.cmake)

foreach(sample ports ipcsum)
  vekutil_check(NAME ${sample}.encode ARGS map encode ${SAMPLES}/${sample}.txt -o ${sample}.bin)
  vekutil_same_files(${sample}.encode ${SAMPLES}/${sample}.bin ${WORK}/${sample}.bin)
  vekutil_check(NAME ${sample}.text ARGS map text ${SAMPLES}/${sample}.bin STDOUT_FILE ${SAMPLES}/${sample}.txt)
  vekutil_check(NAME ${sample}.text_stdin ARGS map text - STDIN ${SAMPLES}/${sample}.bin
    STDOUT_FILE ${SAMPLES}/${sample}.txt)
  vekutil_check(NAME ${sample}.encode_stdin ARGS map encode - -o ${sample}.stdin.bin STDIN ${SAMPLES}/${sample}.txt)
  vekutil_same_files(${sample}.encode_stdin ${SAMPLES}/${sample}.bin ${WORK}/${sample}.stdin.bin)
endforeach()

vekutil_check(NAME dump ARGS map dump ${SAMPLES}/ports.bin STDOUT_FILE ${EXPECTED}/ports.dump)
vekutil_check(NAME dump_full ARGS map dump --full ${SAMPLES}/ports.bin STDOUT_FILE ${EXPECTED}/ports.full)
vekutil_check(NAME dump_full_short ARGS map dump -f ${SAMPLES}/ports.bin STDOUT_FILE ${EXPECTED}/ports.full)
vekutil_check(NAME dump_stdin ARGS map dump - STDIN ${SAMPLES}/ports.bin STDOUT_FILE ${EXPECTED}/ports.dump)
vekutil_check(NAME json ARGS map json ${SAMPLES}/ports.bin STDOUT_FILE ${EXPECTED}/ports.json)
vekutil_check(NAME json_object ARGS map json ${SAMPLES}/ipcsum.bin STDOUT_FILE ${EXPECTED}/ipcsum.json)

# One value by key path, selectors included; names ignore letter case.
vekutil_check(NAME get_u32 ARGS map get ${SAMPLES}/ports.bin mtu STDOUT "(u32) 9216\n")
vekutil_check(NAME get_selector ARGS map get ${SAMPLES}/ports.bin "port[id=3].name" STDOUT "(str) \"mgmt \\\"oob\\\"\"\n")
vekutil_check(NAME get_hex_selector ARGS map get ${SAMPLES}/ports.bin "PORT[ID=0x2].Speed" STDOUT "(u32) 25000\n")
vekutil_check(NAME get_text_selector ARGS map get ${SAMPLES}/ports.bin "port[name=ETH1].id" STDOUT "(i32) 2\n")
vekutil_check(NAME get_nested ARGS map get ${SAMPLES}/ports.bin "port[id=1].queue[id=1].weight" STDOUT "(float) 0.25\n")
vekutil_check(NAME get_first ARGS map get ${SAMPLES}/ports.bin port.id STDOUT "(i32) 1\n")
vekutil_check(NAME get_bin ARGS map get ${SAMPLES}/ports.bin "port[id=2].mac" STDOUT "(bin) 0200c0a80002\n")
vekutil_check(NAME get_empty_bin ARGS map get ${SAMPLES}/ports.bin "port[id=3].mac" STDOUT "(bin)\n")
vekutil_check(NAME get_empty_text ARGS map get ${SAMPLES}/ports.bin "port[id=2].vlans" STDOUT "(str) \"\"\n")
vekutil_check(NAME get_u64 ARGS map get ${SAMPLES}/ports.bin "port[id=1].rxPackets" STDOUT "(u64) 18446744073709551615\n")
vekutil_check(NAME get_i64 ARGS map get ${SAMPLES}/ports.bin "port[id=3].offset" STDOUT "(i64) -42\n")
vekutil_check(NAME get_double ARGS map get ${SAMPLES}/ports.bin "port[id=3].timeout" STDOUT "(double) 1.5e-06\n")
vekutil_check(NAME get_bool ARGS map get ${SAMPLES}/ports.bin "port[id=2].enabled" STDOUT "(bool) FALSE\n")
vekutil_check(NAME get_map ARGS map get ${SAMPLES}/ports.bin "port[id=1].queue[id=0]"
  STDOUT "(map)\n    id = (i32) 0\n    weight = (float) 0.750000\n")

# The IP-checksum option words of the settings sample, per revision.
set(_words "invalidTcpFlagsHigh=0x00000003\ninvalidTcpFlagsLow=0xf0000000\n")
vekutil_check(NAME ipcsum_rev0 ARGS ipcsum --rev 0 ${SAMPLES}/ipcsum.bin
  STDOUT "options=0x80044863\n${_words}l3PassFailCriteria=0x0000007e\n")
vekutil_check(NAME ipcsum_rev9 ARGS ipcsum --rev 9 ${SAMPLES}/ipcsum.bin
  STDOUT "options=0x801c6863\n${_words}l3PassFailCriteria=0x0001607e\n")
vekutil_check(NAME ipcsum_rev16 ARGS ipcsum --rev=16 ${SAMPLES}/ipcsum.bin
  STDOUT "options=0x80046863\n${_words}l3PassFailCriteria=0x0001607e\n")
vekutil_check(NAME ipcsum_rev41 ARGS ipcsum -r 41 ${SAMPLES}/ipcsum.bin
  STDOUT "options=0x801c6863\n${_words}l3PassFailCriteria=0x0001607e\n")
vekutil_check(NAME ipcsum_missing ARGS ipcsum --rev 0 ${SAMPLES}/ports.bin RC 1
  STDERR "vekutil ipcsum: VEK_ST_MAP_KEY_NOT_EXIST: ${SAMPLES}/ports.bin: the checksum settings lack a required key or hold a value of another type (see --help)\n")
