#pragma once

#include <unistd.h>

namespace kavri {

// Owns one open file descriptor and closes it on every way out. Close() closes
// it early, for callers that must know whether closing failed (a written file
// whose last data only reaches the disk then).
//
// Any thread, one owner at a time. Never throws.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return m_fd; }
    // Closes now; false when closing reported an error.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

}  // namespace kavri
