#pragma once

#include <cstdio>
#include <map>
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

// What one command did: its exit status and everything it wrote.
struct Outcome {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// Runs command(out, err) with two temporary streams for its output and error
// lines, and collects what it wrote.
template <typename Command>
Outcome Capture(Command&& command) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Outcome outcome;
    outcome.Status = command(out, err);
    outcome.Out = Drain(out);
    outcome.Err = Drain(err);
    return outcome;
}

// KEY <TAB> VALUE lines (`campaign show`, `settings show`) as a map; a line
// without a tab maps to "<no tab>".
inline std::map<std::string, std::string> KeyValueLines(const std::string& out) {
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        values[line.substr(0, tab)] = tab == std::string::npos ? "<no tab>" : line.substr(tab + 1);
        start = end == std::string::npos ? out.size() : end + 1;
    }
    return values;
}

}  // namespace kavri::test
