#include "app/AtomicFile.h"

#include "app/TemporaryFiles.h"
#include "platform/FileDescriptor.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

namespace {

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Writes a temporary file beside path with what fill produces, flushes it and
// renames it over path. fill returns an empty text on success.
template <typename Fill>
Result ReplaceWith(const std::string& path, Fill&& fill) {
    const std::size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) {
        return Result::Failure(path + " names no file");
    }
    // The temporary name does not grow with the target's, so a target of the
    // longest name a folder entry may have still gets one.
    static std::atomic<std::uint64_t> counter{0};
    // What an interrupted write of an earlier process left here goes first.
    RemoveStaleTemporaryFiles(FolderOf(path));
    const std::string temporary = FolderOf(path) + "/.kavri-tmp-" + std::to_string(::getpid()) +
                                  "-" + std::to_string(++counter);

    struct stat old {};
    const bool replacing = ::stat(path.c_str(), &old) == 0;
    const mode_t mode = replacing ? (old.st_mode & 07777) : 0666;
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.Get() < 0) {
        return Result::Failure("cannot create " + temporary + ": " + ErrorText(errno));
    }
    if (replacing) {
        (void)::fchmod(fd.Get(), mode);
    }
    std::string failure = fill(fd.Get(), temporary);
    if (failure.empty() && ::fsync(fd.Get()) != 0) {
        failure = "cannot flush " + temporary + ": " + ErrorText(errno);
    }
    if (!fd.Close() && failure.empty()) {
        failure = "cannot close " + temporary + ": " + ErrorText(errno);
    }
    if (failure.empty() && ::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = "cannot replace " + path + ": " + ErrorText(errno);
    }
    if (!failure.empty()) {
        ::unlink(temporary.c_str());
        return Result::Failure(std::move(failure));
    }
    // The rename reaches the disk with the folder. The new file is in place
    // already, so a folder that cannot be flushed does not fail the write.
    FileDescriptor folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0) {
        (void)::fsync(folder.Get());
    }
    return Result::Success();
}

}  // namespace

Result WriteFileAtomically(const std::string& path, std::string_view bytes) {
    return ReplaceWith(path, [&](int fd, const std::string& temporary) -> std::string {
        if (!WriteAll(fd, bytes.data(), bytes.size())) {
            return "cannot write " + temporary + ": " + ErrorText(errno);
        }
        return {};
    });
}

Result CopyFileAtomically(const std::string& source, const std::string& target) {
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.Get() < 0) {
        return Result::Failure("cannot open " + source + ": " + ErrorText(errno));
    }
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0) {
        return Result::Failure("cannot examine " + source + ": " + ErrorText(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return Result::Failure(source + " is not a regular file");
    }
    return ReplaceWith(target, [&](int out, const std::string& temporary) -> std::string {
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(in.Get(), buffer, sizeof buffer);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return "cannot read " + source + ": " + ErrorText(errno);
            }
            if (got == 0) {
                return {};
            }
            if (!WriteAll(out, buffer, static_cast<std::size_t>(got))) {
                return "cannot write " + temporary + ": " + ErrorText(errno);
            }
        }
    });
}

}  // namespace kavri
