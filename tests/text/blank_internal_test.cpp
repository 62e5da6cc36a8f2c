// The parsers' white space: exactly the C locale's isspace set.
#include <cctype>

#include <gtest/gtest.h>

#include "text/blank.hpp"

namespace {

TEST(Blank, EveryByteAgreesWithIsspace) {
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(vek::text::is_blank(static_cast<unsigned char>(c)), std::isspace(c) != 0) << c;
    }
}

} // namespace
