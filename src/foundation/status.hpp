// Internal access to the status-name table.
#pragma once

#include <vek/vek_status.h>

namespace vek {

// Name of a status code, or NULL when the code has no name.
const char *status_name(vek_st_t status);

} // namespace vek
