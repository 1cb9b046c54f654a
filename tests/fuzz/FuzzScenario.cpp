// Scenario files: parsing, and writing back what was parsed. Parsing stops
// with a ScenarioError and nothing else; whatever parses must come back equal
// from the text FormatScenario writes for it.
#include "FuzzCheck.h"

#include "sim/ScenarioParser.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

using namespace kavri;
using namespace kavri::sim;

namespace {

// Generated devices cost time and memory by design (a million of them is a
// valid file); inputs that ask for more than this many are left out so the
// fuzzer spends its time on parsing rather than on generating.
constexpr unsigned long long kMaxGeneratedDevices = 2000;

// True when any "generate" in the text (letter case ignored, wherever it
// stands) is followed by a count above the bound, or by one too long to read.
bool AsksForManyDevices(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t at = lower.find("generate"); at != std::string::npos;
         at = lower.find("generate", at + 1)) {
        std::size_t pos = at + 8;
        while (pos < lower.size() && (lower[pos] == ' ' || lower[pos] == '\t'))
            ++pos;
        int base = 10;
        if (lower.compare(pos, 2, "0x") == 0) {
            base = 16;
            pos += 2;
        }
        unsigned long long count = 0;
        for (int digits = 0;
             pos < lower.size() && std::isxdigit(static_cast<unsigned char>(lower[pos]));
             ++pos, ++digits) {
            const char c = lower[pos];
            if (base == 10 && !std::isdigit(static_cast<unsigned char>(c)))
                break;
            if (digits >= 12)
                return true;
            count = count * static_cast<unsigned>(base) +
                    static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        if (count > kMaxGeneratedDevices)
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), data ? size : 0);
    if (AsksForManyDevices(text))
        return 0;

    Scenario scenario;
    try {
        scenario = ParseScenario(text, "fuzz");
    } catch (const ScenarioError& error) {
        fuzz::Check(!error.Reason().empty(), "a fault says why");
        return 0;
    }

    const std::string written = FormatScenario(scenario);
    if (written.size() > kMaxScenarioFileBytes)
        return 0;
    try {
        const Scenario back = ParseScenario(written, "formatted");
        fuzz::Check(back == scenario, "a written scenario reads back equal");
    } catch (const ScenarioError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        fuzz::Check(false, "a written scenario reads back without a fault");
    }
    return 0;
}
