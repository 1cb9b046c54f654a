#pragma once

#include <cstddef>
#include <string>

namespace kavri {

// Reads the whole regular file at path when it holds at most limit bytes.
// Anything but a regular file (a folder, a FIFO that would block, a device
// without end) is refused, so the read always comes to an end; so is a file
// that grows past limit while it is read. Files chosen by an operator or
// handed over by other programs go through here.
//
// On failure returns false, leaves bytes as it was and puts one line naming
// path and the reason into error. Any thread; throws only std::bad_alloc.
[[nodiscard]] bool ReadRegularFile(const std::string& path, std::size_t limit, std::string& bytes,
                                   std::string& error);

}  // namespace kavri
