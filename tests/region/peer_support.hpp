// Helpers of the region tests: unique region names removed at the end,
// peer programs started with posix_spawn (through the emulator of a
// cross build), a start pipe that releases them at one instant, and the
// summary lines they print.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vektest.hpp"

#include <vek_region.h>

#include "region_ledger.hpp"

extern char **environ;

namespace regiontest {

// A region name of this test process alone, removed (with whatever is in
// it) when the test ends, however it ends.
class UniqueRegion {
public:
    explicit UniqueRegion(const char *what) {
        static unsigned counter = 0;
        name_ = vektest::format("vektest-%s-%ld-%u", what, static_cast<long>(getpid()), ++counter);
        vek_region_remove(name_.c_str());
    }
    ~UniqueRegion() { vek_region_remove(name_.c_str()); }
    UniqueRegion(const UniqueRegion &) = delete;
    UniqueRegion &operator=(const UniqueRegion &) = delete;
    const char *name() const { return name_.c_str(); }

private:
    std::string name_;
};

// The pipe that starts peers at one instant: each peer blocks reading it
// until the test closes the writing end.
class StartPipe {
public:
    StartPipe() {
        if (pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
    }
    ~StartPipe() {
        release();
        if (fds_[0] >= 0) close(fds_[0]);
    }
    StartPipe(const StartPipe &) = delete;
    StartPipe &operator=(const StartPipe &) = delete;
    int read_end() const { return fds_[0]; }
    void release() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }

private:
    int fds_[2];
};

// What a working peer printed last.
struct Summary {
    bool found = false;
    unsigned pid = 0;
    unsigned long long allocations = 0, frees = 0, repairs = 0;
    unsigned violations = 0;
    void *device = nullptr;
};

// The command that runs the peer: the emulator of a cross build first (a
// program under qemu-user cannot exec another target program directly;
// the emulator is looked up in PATH, as ctest does).
inline std::vector<std::string> peer_command() {
    std::vector<std::string> cmd;
    std::stringstream emulator(VEK_REGION_EMULATOR);
    for (std::string part; std::getline(emulator, part, '|');) {
        if (!part.empty()) cmd.push_back(part);
    }
    cmd.push_back(VEK_REGION_PEER);
    return cmd;
}

// A peer program; killed and reaped when the object goes while it runs.
class Peer {
public:
    // Starts "region_peer <args>"; its standard output goes to a file of
    // its own. A start pipe, when given, is its descriptor 3. Extra
    // environment entries ("NAME=value") are added to this process's.
    Peer(const std::vector<std::string> &args, const StartPipe *start = nullptr,
         const std::vector<std::string> &env = {}) {
        static unsigned counter = 0;
        out_ = vektest::format("region_peer-%ld-%u.out", static_cast<long>(getpid()), ++counter);
        std::vector<std::string> argv_s = peer_command();
        argv_s.insert(argv_s.end(), args.begin(), args.end());
        if (start != nullptr) {
            argv_s.push_back("--start-fd");
            argv_s.push_back("3");
        }
        std::vector<char *> argv;
        for (std::string &a : argv_s) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env_s = env;
        for (char **e = environ; *e != nullptr; ++e) env_s.emplace_back(*e);
        std::vector<char *> envp;
        for (std::string &e : env_s) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (start != nullptr) posix_spawn_file_actions_adddup2(&actions, start->read_end(), 3);
        std::fflush(stdout);
        const int err = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (err != 0) {
            pid_ = -1;
            status_ = "not started: " + std::string(std::strerror(err));
        }
    }
    ~Peer() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            wait();
        }
        std::remove(out_.c_str());
    }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }

    // Waits for the end: "exit <code>", "signal <n>", or why it never ran.
    const std::string &wait() {
        if (pid_ > 0) {
            int status = 0;
            pid_t got;
            do {
                got = waitpid(pid_, &status, 0);
            } while (got < 0 && errno == EINTR);
            if (got != pid_) {
                status_ = "lost";
            } else if (WIFEXITED(status)) {
                status_ = "exit " + std::to_string(WEXITSTATUS(status));
            } else if (WIFSIGNALED(status)) {
                status_ = "signal " + std::to_string(WTERMSIG(status));
            } else {
                status_ = "unknown";
            }
            pid_ = -1;
        }
        return status_;
    }

    // Ends it with SIGKILL; true when it was still running then.
    bool kill_now() {
        if (pid_ <= 0) return false;
        kill(pid_, SIGKILL);
        return wait() == "signal 9";
    }

    std::string output() const {
        std::ifstream in(out_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    Summary summary() const {
        Summary s;
        std::istringstream lines(output());
        for (std::string line; std::getline(lines, line);) {
            line += '\n';
            Summary t;
            if (std::sscanf(line.c_str(), kSummaryFormat, &t.pid, &t.allocations, &t.frees, &t.repairs, &t.violations,
                            &t.device) == 6) {
                t.found = true;
                s = t;
            }
        }
        return s;
    }

private:
    pid_t pid_ = -1;
    std::string status_;
    std::string out_;
};

// Arguments of a working peer on region NAME.
inline std::vector<std::string> work_args(const char *name, long iterations, double seconds = -1,
                                          size_t size = 1u << 20) {
    std::vector<std::string> a{"work", name, "--size", std::to_string(size)};
    if (iterations >= 0) {
        a.push_back("--iterations");
        a.push_back(std::to_string(iterations));
    }
    if (seconds >= 0) {
        a.push_back("--seconds");
        a.push_back(std::to_string(seconds));
    }
    return a;
}

} // namespace regiontest
