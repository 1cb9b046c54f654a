#pragma once

#include <cstdio>
#include <string>

namespace kavri::test {

// Everything written to a temporary stream, which is then closed; commands
// under test write their output lines to such streams.
inline std::string Drain(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(file);
    return text;
}

}  // namespace kavri::test
