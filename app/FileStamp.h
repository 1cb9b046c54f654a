#pragma once

#include <optional>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

namespace kavri {

// What tells one version of a file on disk from another: its identity, size,
// and modification and change times. A replacement by rename gives a new
// identity; an edit in place moves the times. A change that keeps inode, size
// and both times (within the file system's timestamp granularity) goes unseen.
// A plain value; any thread; throws nothing.
struct FileStamp {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec Modified{};
    timespec Changed{};

    static FileStamp Of(const struct stat& st) noexcept;
    // The stamp of the file at path (a link followed); empty when there is no
    // file there or it cannot be looked at.
    static std::optional<FileStamp> OfPath(const std::string& path) noexcept;

    friend bool operator==(const FileStamp& a, const FileStamp& b) noexcept;
};

}  // namespace kavri
