#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kavri::cli {

struct PushRequest {
    std::string address;  // "(XX:XX:XX:XX:XX:XX)"
    std::vector<std::string> files;
    std::optional<std::string> scenarioPath;  // the virtual neighbourhood, if any
    std::string inboxRoot;                    // where virtual devices keep objects
    bool progress = true;                     // progress on err while pushing
};

// kavrictl push: connects to the device's Object Push service on the first
// radio and pushes each file in turn, under its own file name (the text after
// the path's last '/'), read from the disk as it is sent. A request the device
// leaves unanswered for TwclCustomOBEXClient's default response time-out (60
// s) ends that file with 0x8000F02F and closes the link. Prints one line
// per file on out:
//   NAME <TAB> RESULT <TAB> BYTES <TAB> SECONDS
// RESULT is the library's result code as 0xXXXXXXXX (0x00000000 on success),
// BYTES the file's size, SECONDS the time its push took with three decimals.
// When the link cannot be opened every file gets the connect result. Returns 0
// when every push succeeded, 1 otherwise (one error line on err for failures
// that concern no single file).
int RunPush(const PushRequest& request, std::FILE* out, std::FILE* err);

}  // namespace kavri::cli
