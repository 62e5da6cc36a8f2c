// Helpers of the multi-process registry tests: whether robust mutexes
// report dead owners here, forked children and how they ended, and whether
// a mutex was left by a dead owner.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include <vek/vek_sal.h>

namespace proctest {

constexpr unsigned kChildSeconds = 30; // a child stuck longer than this dies

// Whether a process-shared robust mutex reports the death of its owner here
// (user-mode emulators may not support robust futex lists).
inline bool robust_mutexes_work() {
    void *m = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return false;
    auto *mutex = static_cast<pthread_mutex_t *>(m);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    bool works = pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    if (works) {
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            pthread_mutex_lock(mutex);
            _exit(0);
        }
        int status = 0;
        works = pid > 0 && waitpid(pid, &status, 0) == pid && pthread_mutex_trylock(mutex) == EOWNERDEAD;
        if (works) {
            pthread_mutex_consistent(mutex);
            pthread_mutex_unlock(mutex);
        }
        pthread_mutex_destroy(mutex);
    }
    munmap(m, sizeof(pthread_mutex_t));
    return works;
}

// Runs fn in a forked child, whose exit status is fn's result.
inline pid_t spawn(const std::function<int()> &fn) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(kChildSeconds);
        _exit(fn());
    }
    return pid;
}

// Exit status of a child, or a description of how it ended otherwise.
inline std::string wait_for(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return "lost";
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "unknown";
}

// True when the mutex's owner died holding it and nobody has locked it
// since: the kernel marks the futex word of a robust mutex so (glibc keeps
// the word in __data.__lock).
inline bool left_by_dead_owner(const vek_mutex_t *m) {
    constexpr unsigned kFutexOwnerDied = 0x40000000u;
    return (static_cast<unsigned>(__atomic_load_n(&m->pmutex.__data.__lock, __ATOMIC_SEQ_CST)) & kFutexOwnerDied) != 0u;
}

// A small xorshift generator for the random schedules of the process tests:
// next(n) is below n.
struct Rng {
    uint64_t x;
    uint32_t next(uint32_t n) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return static_cast<uint32_t>((x >> 11) % n);
    }
};

} // namespace proctest
