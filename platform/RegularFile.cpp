#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

bool ReadRegularFile(const std::string& path, std::size_t limit, std::string& bytes,
                     std::string& error) {
    const auto fail = [&](const std::string& why) {
        error = "cannot read " + path + ": " + why;
        return false;
    };
    const auto failErrno = [&] { return fail(std::generic_category().message(errno)); };
    // Non-blocking, so opening a FIFO without a writer does not wait.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) {
        return failErrno();
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        return failErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return fail("not a regular file");
    }
    const std::string tooLarge = "larger than " + std::to_string(limit) + " bytes";
    if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > limit) {
        return fail(tooLarge);
    }
    // Room for one byte more than the file had, to see whether it grew.
    std::string content(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t size = 0;
    while (true) {
        if (size == content.size()) {
            if (content.size() > limit) {
                return fail(tooLarge);
            }
            content.resize(std::min(content.size() * 2, limit + 1));
        }
        const ssize_t got = ::read(fd.Get(), content.data() + size, content.size() - size);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failErrno();
        }
        if (got == 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    content.resize(size);
    bytes = std::move(content);
    return true;
}

}  // namespace kavri
