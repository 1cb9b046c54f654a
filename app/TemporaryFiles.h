#pragma once

#include <sys/types.h>
#include <cstddef>
#include <string>
#include <string_view>

namespace kavri {

// The temporary files that atomic replacements leave for a moment beside the
// file they replace, and the clean-up of those an interrupted write left
// behind for good (a killed process never renames nor removes its own).
//
// Our temporary files are named ".kavri-tmp-PID-N" (whole-file replacements)
// or ".NAME.tmp-PID-N" (record files), PID being the writing process. One is
// stale when that process no longer exists: only the process that created a
// temporary file ever writes it, so a file of a dead process can never be
// finished. A file of a live process is never touched, nor one of our own
// process (another thread may be writing it right now). A pid that was
// reused keeps its stale file until that process ends too, which costs
// nothing but room. The data folder belongs to one user on one machine, so
// the processes that write it see each other's pids.
//
// Free functions; any thread. Throws only std::bad_alloc.

// The pid embedded in a name of our pattern, or 0 when name is not one.
pid_t TemporaryFileOwner(std::string_view name);

// Removes, from folder, every temporary file of our pattern whose process is
// gone. Failures are ignored: the clean-up never fails the write that runs it.
// Returns how many files it removed.
std::size_t RemoveStaleTemporaryFiles(const std::string& folder);

}  // namespace kavri
