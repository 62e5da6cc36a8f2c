/**
 * @file vekcommon.h
 * @brief The whole interface of the common runtime library: include this one
 *        header.
 *
 * @mainpage libvekcommon reference
 *
 * A C library (built in C++20, flat C interface) of building blocks for
 * device software:
 * - status codes and their names: vek_status.h;
 * - the platform layer it runs on (memory, robust mutexes, string and
 *   byte-order helpers, trace level), replaceable by a deployment: vek_sal.h;
 * - identifier bitmaps and nice-identifier picking: vek_bitmap.h;
 * - per-device registries of named identifier ranges, safe across threads
 *   and processes: vek_rsrc.h;
 * - containers: paged direct table vek_dpt.h, hash table and intrusive list
 *   vek_hash.h, sorted set vek_sorted_set.h;
 * - a typed key/value tree with key paths, a binary encoding, queries and
 *   dumps: vek_map.h;
 * - text parsing: string lists vek_strlist.h, options and a command runner
 *   vek_getopt.h;
 * - device helpers: vek_device.h;
 * - the version of these headers: vek_version.h.
 *
 * Use: `#include <vek/vekcommon.h>`, compile with
 * `pkg-config --cflags vekcommon` and link with `pkg-config --libs vekcommon`
 * (or `find_package(vekcommon 1 CONFIG)` and `vekcommon::vekcommon` in CMake).
 *
 * Three return conventions are used, stated per function:
 * - a ::vek_st_t status, 0 on success (most operations);
 * - 0 / -1 / -2 from the bitmaps, the paged table's put and key pickers;
 * - the value concerned from the hash table and sorted set (0 when absent,
 *   so a stored 0 cannot be told from "absent"), and ints from the option
 *   parser and command runner.
 *
 * Only the resource registry locks; every other object may be used by one
 * thread at a time (see each header's thread-safety note).
 */
#ifndef VEKCOMMON_H
#define VEKCOMMON_H

#include "vek_status.h"
#include "vek_sal.h"
#include "vek_sorted_set.h"
#include "vek_bitmap.h"
#include "vek_rsrc.h"
#include "vek_dpt.h"
#include "vek_hash.h"
#include "vek_map.h"
#include "vek_strlist.h"
#include "vek_getopt.h"
#include "vek_device.h"
#include "vek_version.h"

#endif /* VEKCOMMON_H */
