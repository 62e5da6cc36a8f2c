// Helpers of the region tests: unique region names removed at the end even
// when a test fails, and programs of this test binary run as fresh
// processes (fork + exec of /proc/self/exe), whose role the environment
// names and which run before GoogleTest starts.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vek_region.h"
#include "vektest.hpp"

namespace regiontest {

// A region name unique to this process and tag; removed when it goes.
class Name {
public:
    explicit Name(const char *tag) : name_(vektest::format("t%ld.%s", static_cast<long>(getpid()), tag)) {
        vek_region_remove(c_str());
    }
    ~Name() { vek_region_remove(c_str()); }
    Name(const Name &) = delete;
    Name &operator=(const Name &) = delete;
    const char *c_str() const { return name_.c_str(); }
    std::string shm_path() const { return vektest::format("/dev/shm/vek.%s", name_.c_str()); }

private:
    std::string name_;
};

// What vek_region_check() finds wrong with a region: "" when it is whole.
inline std::string region_violation(vek_region_t *r) {
    const char *violation = "unset";
    if (vek_region_check(r, &violation) != VEK_ST_SUCCESS) return "check refused";
    return violation != nullptr ? violation : "";
}

// Starts this binary again as the role `role` with `args` (fork + exec:
// a fresh address-space layout), with `env` added to the environment.
inline pid_t run_role(const std::string &role, const std::vector<std::string> &args,
                      const std::vector<std::string> &env = {}) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setenv("VEK_REGION_TEST_ROLE", role.c_str(), 1);
    std::string joined;
    for (const std::string &a : args) joined += a + "\n";
    setenv("VEK_REGION_TEST_ARGS", joined.c_str(), 1);
    for (const std::string &e : env) putenv(strdup(e.c_str()));
    alarm(60);
    // The program's own file (under valgrind /proc/self/exe is the tool).
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) _exit(127);
    execl(self, "region-role", static_cast<char *>(nullptr));
    // Under a user-mode emulator the program is run through it again.
    if (const char *emulator = std::getenv("VEK_TEST_EMULATOR")) {
        std::vector<std::string> words;
        std::string w;
        for (const char *c = emulator;; ++c) {
            if (*c == ' ' || *c == '\0') {
                if (!w.empty()) words.push_back(w);
                w.clear();
                if (*c == '\0') break;
            } else {
                w += *c;
            }
        }
        words.push_back(self);
        std::vector<char *> argv;
        for (std::string &s : words) argv.push_back(s.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
    }
    _exit(127);
}

// The exit status of a child, or 1000 + signal, or -1.
inline int wait_status(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
    return -1;
}

// The arguments a role was started with.
inline std::vector<std::string> role_args() {
    std::vector<std::string> out;
    const char *all = std::getenv("VEK_REGION_TEST_ARGS");
    std::string cur;
    for (const char *c = all != nullptr ? all : ""; *c != '\0'; ++c) {
        if (*c == '\n') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += *c;
        }
    }
    return out;
}

} // namespace regiontest
