// Internal access to the status-name table.
#pragma once

#include <vek/vek_status.h>

extern "C" {
// Name of a status code, or NULL when the code has no name.
const char *vek_status_name(vek_st_t status);
}
