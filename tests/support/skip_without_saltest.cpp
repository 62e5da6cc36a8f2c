// Linked into the test programs that use the stand-in platform library's
// test controls (vek_saltest.h) when the library is built against an
// external platform library: every test of the program is skipped, with
// the reason.
#include <gtest/gtest.h>

namespace {

class SkipWithoutSaltest : public ::testing::Environment {
public:
    void SetUp() override {
        GTEST_SKIP() << "needs the test controls of the stand-in platform library (vek_saltest.h); "
                        "this build uses an external libVekSalIf (VEK_PLATFORM=external)";
    }
};

[[maybe_unused]] ::testing::Environment *const registered = ::testing::AddGlobalTestEnvironment(new SkipWithoutSaltest);

} // namespace
