#include "engine/wclOBEXObjectSource.h"

#include "stack/wclExceptions.h"

#include <algorithm>
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
    const std::uint64_t handedOut = m_fileRead - (m_bufferEnd - m_bufferStart);
    if (bytes.size() > m_size - handedOut)
        ThrowUnreadable();
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (m_bufferStart == m_bufferEnd)
            Refill();
        const std::size_t n = std::min(bytes.size() - done, m_bufferEnd - m_bufferStart);
        std::memcpy(bytes.data() + done, m_buffer.data() + m_bufferStart, n);
        m_bufferStart += n;
        done += n;
    }
}

void TwclOBEXFileSource::Refill() {
    if (m_buffer.empty())
        m_buffer.resize(kReadAhead);
    // Never beyond the size announced, so a file that grew is cut there.
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(m_buffer.size(), m_size - m_fileRead));
    ssize_t got = 0;
    do {
        got = ::read(m_file.Get(), m_buffer.data(), want);
    } while (got < 0 && errno == EINTR);
    // An error, or the end of a file that has shrunk since it was opened:
    // what was announced can no longer be sent.
    if (got <= 0)
        ThrowUnreadable();
    m_bufferStart = 0;
    m_bufferEnd = static_cast<std::size_t>(got);
    m_fileRead += m_bufferEnd;
}

std::string PushNameOfPath(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace kavri
