// Business cards as a card file holds them: reading a card, and writing back
// what was read. No text of a field may start a line of its own when written
// (the only line breaks are the soft breaks of encoded properties), and a card
// written and read back must write the same properties with the same text.
// Control characters and blanks are left out of that comparison: URL, TEL and
// EMAIL are written with them as blanks, and reading trims both ends of a line.
#include "FuzzCheck.h"

#include "editors/wclVCard.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace kavri;

namespace {

// The lines with every byte outside printable ASCII escaped, for the report.
void PrintLines(const char* title, const std::vector<std::string>& lines) {
    std::fprintf(stderr, "%s:\n", title);
    for (const std::string& line : lines) {
        std::string shown;
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
                shown += c;
            } else {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X", byte);
                shown += escape;
            }
        }
        std::fprintf(stderr, "  %s\n", shown.c_str());
    }
}

// True when every CR or LF of a written entry belongs to a soft line break:
// "=" CR LF inside an encoded property.
bool BreaksAreSoft(std::string_view entry) {
    for (std::size_t i = 0; i < entry.size(); ++i) {
        if (entry[i] != '\r' && entry[i] != '\n')
            continue;
        if (entry[i] == '\n' || i == 0 || entry[i - 1] != '=' || i + 1 >= entry.size() ||
            entry[i + 1] != '\n')
            return false;
        ++i;
    }
    return true;
}

// The entries without control characters and blanks. A property whose value
// is nothing else reads back as none, so it is left out too.
std::vector<std::string> Visible(const std::vector<std::string>& entries) {
    std::vector<std::string> visible;
    for (const std::string& entry : entries) {
        std::string kept;
        for (const char c : entry) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte > 0x20 && byte != 0x7F)
                kept += c;
        }
        if (!kept.empty() && kept.back() != ':')
            visible.push_back(std::move(kept));
    }
    return visible;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    // Reading splits every entry at its line ends, as the file reader does.
    const std::vector<std::string> lines{std::string(input.Rest())};

    TwclvCard card;
    try {
        card.LoadFromStrings(lines);
    } catch (const wclEvCardConvertError&) {
        return 0;  // a malformed escape, reported as such
    }

    std::vector<std::string> written;
    card.SaveToStrings(written);
    TwclvCard again;
    try {
        again.LoadFromStrings(written);
    } catch (const wclEvCardConvertError&) {
        fuzz::Check(false, "a card we wrote reads back without an error");
    }
    for (const std::string& entry : written)
        fuzz::Check(BreaksAreSoft(entry), "no field text breaks a line");
    std::vector<std::string> rewritten;
    again.SaveToStrings(rewritten);
    if (Visible(written) != Visible(rewritten)) {
        PrintLines("written", written);
        PrintLines("read back and written again", rewritten);
        fuzz::Check(false, "a card read back from our lines writes the same lines");
    }
    return 0;
}
