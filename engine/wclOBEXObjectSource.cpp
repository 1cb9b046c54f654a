#include "engine/wclOBEXObjectSource.h"

#include "stack/wclExceptions.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {
namespace {

[[noreturn]] void ThrowUnreadable() {
    throw wclException("The file to push could not be read.", kWclErrInvalidData);
}

}  // namespace

TwclOBEXMemorySource::TwclOBEXMemorySource(std::span<const std::uint8_t> bytes)
    : m_bytes(bytes.begin(), bytes.end()) {}

void TwclOBEXMemorySource::Read(std::span<std::uint8_t> bytes) {
    if (bytes.size() > m_bytes.size() - m_position)
        ThrowUnreadable();
    if (!bytes.empty())
        std::memcpy(bytes.data(), m_bytes.data() + m_position, bytes.size());
    m_position += bytes.size();
}

TwclOBEXFileSource::TwclOBEXFileSource(const std::string& path)
    // Non-blocking, so that opening a FIFO with no writer returns at once; a
    // regular file reads the same either way.
    : m_file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {
    struct stat status {};
    if (m_file.Get() < 0 || ::fstat(m_file.Get(), &status) != 0 || !S_ISREG(status.st_mode))
        ThrowUnreadable();
    if (static_cast<std::uint64_t>(status.st_size) > std::numeric_limits<std::uint32_t>::max())
        throw wclEInvalidArgument();
    m_size = static_cast<std::uint64_t>(status.st_size);
    // The object is read once, front to back.
    ::posix_fadvise(m_file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

void TwclOBEXFileSource::Read(std::span<std::uint8_t> bytes) {
    if (bytes.size() > m_size - m_position)
        ThrowUnreadable();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(m_file.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        // An error, or the end of a file that has shrunk since it was opened:
        // what was announced can no longer be sent.
        if (got <= 0)
            ThrowUnreadable();
        done += static_cast<std::size_t>(got);
    }
    m_position += done;
}

std::string PushNameOfPath(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace kavri
