/*
 * vekcommon.h - the whole interface of the common runtime library.
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
