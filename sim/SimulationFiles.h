#pragma once

#include <string>
#include <string_view>

namespace kavri::sim {

// Where a file that ships with the virtual neighbourhood (the demo scenario,
// the private bus's configuration) is found: beside the installed program in
// ../share/kavri/, else in the sim/ folder of the source tree this program was
// built from. Reads the file system; any thread.
std::string SimulationFilePath(std::string_view fileName);

}  // namespace kavri::sim
