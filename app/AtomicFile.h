#pragma once

#include <string>
#include <string_view>

#include "app/Result.h"

namespace kavri {

// Whole-file replacement that a crash cannot tear: the bytes go to a temporary
// file in the target's folder, which is flushed to disk and renamed over the
// target, and then the folder is flushed. A crash leaves either the old or the
// new file. Used for the files that are not INI records (the campaign list) and
// for the content files that campaigns push.
//
// Free functions, callable from any thread; nothing throws except
// std::bad_alloc. On failure the target is as it was, no temporary file is
// left behind, and the result says why in one line.

// A new file gets 0666 less the umask; a replaced file keeps its permissions.
Result WriteFileAtomically(const std::string& path, std::string_view bytes);

// Copies the regular file at source (a symbolic link there is followed) over
// target. Anything but a regular file (a FIFO, a device) is refused, so a copy
// always comes to an end.
Result CopyFileAtomically(const std::string& source, const std::string& target);

}  // namespace kavri
