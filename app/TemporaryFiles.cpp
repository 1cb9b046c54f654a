#include "app/TemporaryFiles.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

namespace {

bool AllDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// "PID-N" with both parts decimal; the pid, or 0.
pid_t ParsePidAndCounter(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        return 0;
    }
    const std::string_view pid = text.substr(0, dash);
    if (!AllDigits(pid) || !AllDigits(text.substr(dash + 1)) || pid.size() > 10) {
        return 0;
    }
    std::int64_t value = 0;
    for (const char c : pid) {
        value = value * 10 + (c - '0');
    }
    return value > 0 && value <= INT_MAX ? static_cast<pid_t>(value) : 0;
}

bool ProcessIsGone(pid_t pid) {
    // EPERM means it exists but belongs to someone else: not gone.
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

pid_t TemporaryFileOwner(std::string_view name) {
    constexpr std::string_view kWhole = ".kavri-tmp-";
    if (name.starts_with(kWhole)) {
        return ParsePidAndCounter(name.substr(kWhole.size()));
    }
    // ".NAME.tmp-PID-N" with a non-empty NAME.
    constexpr std::string_view kRecord = ".tmp-";
    if (!name.starts_with('.')) {
        return 0;
    }
    const std::size_t mark = name.rfind(kRecord);
    if (mark == std::string_view::npos || mark < 2) {
        return 0;
    }
    return ParsePidAndCounter(name.substr(mark + kRecord.size()));
}

std::size_t RemoveStaleTemporaryFiles(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    // fdopendir takes the descriptor over; closedir closes it.
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(fd), &::closedir);
    if (dir == nullptr) {
        ::close(fd);
        return 0;
    }
    const pid_t self = ::getpid();
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const pid_t owner = TemporaryFileOwner(entry->d_name);
        if (owner == 0 || owner == self || !ProcessIsGone(owner)) {
            continue;
        }
        // Only regular files: a folder or link of that name is not ours.
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        if (::unlinkat(fd, entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace kavri
