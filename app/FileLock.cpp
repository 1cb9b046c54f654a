#include "app/FileLock.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kavri {

namespace {

// Longest name of one folder entry on Linux (NAME_MAX).
constexpr std::size_t kMaxEntryName = 255;

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

std::string FileLock::LockPathOf(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.size() + 6 <= kMaxEntryName) {
        return folder + "." + base + ".lock";
    }
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : base) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return folder + ".kavri-lock-" + text;
}

FileLock::FileLock(const std::string& target) {
    const std::string path = LockPathOf(target);
    // The same permissions a new data file gets, so every process of the user
    // can take the lock.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        m_error = "cannot lock " + target + ": " + path + ": " + ErrorText(errno);
        return;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            m_error = "cannot lock " + target + ": " + path + ": " + ErrorText(errno);
            ::close(fd);
            return;
        }
    }
    m_fd = fd;
}

FileLock::~FileLock() {
    if (m_fd >= 0) {
        // Closing the only descriptor of the open file releases the lock.
        ::close(m_fd);
    }
}

}  // namespace kavri
