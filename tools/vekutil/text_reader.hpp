// Reads the lossless text form back into a map, built with the library's
// set operations (keys appended in order, never looked up).
#pragma once

#include <vek/vekcommon.h>

#include <string>

namespace vekutil {

struct TextError {
    std::size_t line = 0;
    std::size_t column = 0;
    vek_st_t status = VEK_ST_SUCCESS;
    std::string what;
};

// Returns the new map, or null with err filled in.
vek_map_t *read_text_form(const std::string &text, TextError &err);

} // namespace vekutil
