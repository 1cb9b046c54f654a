#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace kavri::cli {

// kavrictl inquiry: loads the stacks, takes the first radio (or, with a stack
// name, the first radio of that Bluetooth stack: microsoft, bluesoleil,
// toshiba or widcomm, in any letter case), runs one
// discovery and prints one line per device found:
//   ADDRESS <TAB> CLASS <TAB> CHANNEL <TAB> NAME
// CLASS is the class of device as 0xXXXXXX ("-" when it cannot be read),
// CHANNEL the Object Push channel ("-" when the device offers none), NAME the
// device name with control characters escaped ("<unknown>" when it cannot be
// read). Returns the exit status; errors go to err as one line.
int RunInquiry(const std::optional<std::string>& scenarioPath, std::FILE* out, std::FILE* err,
               const std::optional<std::string>& stack = std::nullopt);

}  // namespace kavri::cli
