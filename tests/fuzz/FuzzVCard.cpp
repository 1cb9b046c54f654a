// Business cards as a card file holds them: reading a card, and writing back
// what was read. A card that was read and written must read back as the same
// card, so no text of one field can turn into lines of another.
#include "FuzzCheck.h"

#include "editors/wclVCard.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace kavri;

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
    std::vector<std::string> rewritten;
    again.SaveToStrings(rewritten);
    fuzz::Check(written == rewritten, "a card read back from our lines writes the same lines");
    return 0;
}
