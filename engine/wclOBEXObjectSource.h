#pragma once

#include "platform/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kavri {

// The bytes of an object that an OBEX client puts, handed over to the client
// for the whole put and read in order, a packet's worth at a time, as the
// packets are built. So a put holds a few packets of an object in memory,
// whatever the object's size.
//
// Used on the thread of the client that owns it. Size never changes once the
// source exists: it is what the first packet announced. Read throws
// wclException with kWclErrInvalidData (the library's file error) when the
// bytes can no longer be had; the client then ends the put with that code
// rather than send anything else in their place.
class TwclOBEXObjectSource {
public:
    virtual ~TwclOBEXObjectSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies the next bytes.size() bytes of the object into bytes.
    virtual void Read(std::span<std::uint8_t> bytes) = 0;
};

// An object held in memory: a copy of the bytes given.
class TwclOBEXMemorySource final : public TwclOBEXObjectSource {
public:
    explicit TwclOBEXMemorySource(std::span<const std::uint8_t> bytes);
    std::uint64_t Size() const override { return m_bytes.size(); }
    void Read(std::span<std::uint8_t> bytes) override;

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_position = 0;
};

// A regular file, opened when the source is made and read from the disk as
// the put goes on, kReadAhead bytes at a time (one read per many packets; the
// buffer is all the memory the object takes). Its size is taken at opening: a
// file that grows meanwhile is sent up to that size, one that shrinks (or
// fails to read) ends the put with the file error. A file removed meanwhile
// is still read whole, through the descriptor held open.
class TwclOBEXFileSource final : public TwclOBEXObjectSource {
public:
    static constexpr std::size_t kReadAhead = 64 * 1024;

    // Throws wclException with kWclErrInvalidData when path cannot be opened
    // or is not a regular file (a folder, a FIFO, a device), and
    // wclEInvalidArgument when it is larger than an OBEX object may be
    // (4 GiB - 1 bytes, the Length header's limit).
    explicit TwclOBEXFileSource(const std::string& path);
    std::uint64_t Size() const override { return m_size; }
    void Read(std::span<std::uint8_t> bytes) override;

private:
    // Reads the next part of the file into the buffer.
    void Refill();

    FileDescriptor m_file;
    std::uint64_t m_size = 0;
    // Bytes of the file read into the buffer so far, and the part of the
    // buffer not yet handed out.
    std::uint64_t m_fileRead = 0;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_bufferStart = 0;
    std::size_t m_bufferEnd = 0;
};

// The name a file is pushed under: the text after the last '/' of its path.
// ':' and '\' are ordinary characters of a file name here and stay.
std::string PushNameOfPath(const std::string& path);

}  // namespace kavri
