// Merging the statuses of several platform calls made by one operation
// (releases, unlocks, mutex destruction), and a mutex guard built on it.
#pragma once

#include <vek/vek_sal.h>
#include <vek/vek_status.h>

namespace vek {

// The first failure is kept, except that VEK_ST_PTHREAD_MUTEX_OWNER_DEAD
// replaces any earlier status.
inline void merge_status(vek_st_t &acc, vek_st_t st) {
    if (st == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD || acc == VEK_ST_SUCCESS) {
        if (st != VEK_ST_SUCCESS) acc = st;
    }
}

// True when a lock status means the mutex is held: success, or an owner
// that died (the platform layer made the mutex consistent).
inline bool lock_held(vek_st_t st) { return st == VEK_ST_SUCCESS || st == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD; }

// Holds a robust mutex for a scope. The lock status is kept; release()
// (or the destructor) unlocks and merges the unlock status into a caller's
// accumulated status.
class MutexGuard {
public:
    explicit MutexGuard(vek_mutex_t *m) : m_(m), lock_status_(vek_mutex_lock(m)), held_(lock_held(lock_status_)) {}
    MutexGuard(const MutexGuard &) = delete;
    MutexGuard &operator=(const MutexGuard &) = delete;
    ~MutexGuard() {
        if (held_) vek_mutex_unlock(m_);
    }

    bool held() const { return held_; }
    vek_st_t lock_status() const { return lock_status_; }

    // Unlocks now and merges the unlock status into acc.
    void release(vek_st_t &acc) {
        if (!held_) return;
        held_ = false;
        merge_status(acc, vek_mutex_unlock(m_));
    }

private:
    vek_mutex_t *m_;
    vek_st_t lock_status_;
    bool held_;
};

} // namespace vek
