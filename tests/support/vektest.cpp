#include "vektest.hpp"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace vektest {

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    file_ = std::tmpfile();
    if (file_ == nullptr) return;
    saved_fd_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() { finish(); }

std::string StdoutCapture::finish() {
    if (done_ || file_ == nullptr) return {};
    done_ = true;
    std::fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
    std::string out;
    std::rewind(file_);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    std::fclose(file_);
    file_ = nullptr;
    return out;
}

std::string capture_stdout(const std::function<void()> &fn) {
    StdoutCapture cap;
    fn();
    return cap.finish();
}

void LeakCheckedTest::SetUp() {
    vek_saltest_reset();
    vek_trace_level = 0;
    heap_at_start_ = vek_saltest_heap_live();
    robust_at_start_ = vek_saltest_robust_live();
}

void LeakCheckedTest::TearDown() {
    vek_saltest_reset();
    vek_trace_level = 0;
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_) << "heap blocks leaked";
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_) << "robust blocks leaked";
}

uint32_t sweep_alloc_failures(int kind, const std::function<void(uint32_t nth)> &body) {
    const long heap0 = vek_saltest_heap_live();
    const long robust0 = vek_saltest_robust_live();
    for (uint32_t n = 1; n < 100000; ++n) {
        vek_saltest_reset();
        vek_saltest_fail_alloc(kind, n, 1);
        {
            SCOPED_TRACE(format("allocation %u fails", n));
            body(n);
        }
        const bool fired = vek_saltest_faults_fired() != 0;
        vek_saltest_reset();
        EXPECT_EQ(vek_saltest_heap_live(), heap0) << "heap leak when allocation " << n << " fails";
        EXPECT_EQ(vek_saltest_robust_live(), robust0) << "robust leak when allocation " << n << " fails";
        if (!fired) return n - 1;
        if (::testing::Test::HasFatalFailure()) return n;
    }
    ADD_FAILURE() << "allocation-failure sweep did not end";
    return 0;
}

std::string format(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::vector<char> buf(static_cast<std::size_t>(n > 0 ? n : 0) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, ap2);
    va_end(ap2);
    return std::string(buf.data(), static_cast<std::size_t>(n > 0 ? n : 0));
}

} // namespace vektest
