#include "app/FileStamp.h"

namespace kavri {

FileStamp FileStamp::Of(const struct stat& st) noexcept {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

std::optional<FileStamp> FileStamp::OfPath(const std::string& path) noexcept {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return Of(st);
}

bool operator==(const FileStamp& a, const FileStamp& b) noexcept {
    return a.Device == b.Device && a.Inode == b.Inode && a.Size == b.Size &&
           a.Modified.tv_sec == b.Modified.tv_sec && a.Modified.tv_nsec == b.Modified.tv_nsec &&
           a.Changed.tv_sec == b.Changed.tv_sec && a.Changed.tv_nsec == b.Changed.tv_nsec;
}

}  // namespace kavri
