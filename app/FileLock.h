#pragma once

#include <string>

namespace kavri {

// An exclusive advisory lock (flock) for one read-modify-write of a file in the
// data folder, so that two processes sharing the folder (the window, a running
// sender, an operator's kavrictl) take turns and neither replaces the file from
// a copy that misses the other's change. The holder re-reads the file under the
// lock before changing it.
//
// The lock is taken on a companion file beside the target, ".NAME.lock", never
// on the target itself: every write replaces the target by renaming a new file
// over it, and a lock on the replaced inode would guard nothing. The companion
// stays in place for good; removing it would let two processes lock two
// different inodes of the same name.
//
// Constructing waits until the lock is granted; destroying releases it. The
// kernel releases it too when the process dies, so a crash never leaves the
// file locked. flock locks belong to the open file, so two objects for the same
// target exclude each other even inside one process and on different threads.
//
// Any thread, one owner. Throws only std::bad_alloc.
class FileLock {
public:
    explicit FileLock(const std::string& target);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False when the lock could not be taken (Error() says why, with the path).
    bool Locked() const { return m_fd >= 0; }
    const std::string& Error() const { return m_error; }

    // The companion lock file of target: ".NAME.lock" in target's folder, or,
    // when that name would be too long for a folder entry, ".kavri-lock-" and a
    // hash of NAME.
    static std::string LockPathOf(const std::string& target);

private:
    int m_fd = -1;
    std::string m_error;
};

}  // namespace kavri
