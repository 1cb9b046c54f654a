#include "cli/Escape.h"

#include <gtest/gtest.h>

#include <string>

namespace kavri::cli {
namespace {

TEST(EscapeField, HostileNamesNeverReachTheTerminalRaw) {
    // Names a device may announce: escapes, controls, C1 controls, broken UTF-8.
    // Expected: one printable field without tabs or line breaks; UTF-8 text kept.
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"Phone", "Phone"},
        {"a\tb", "a\\tb"},
        {"line1\r\nline2", "line1\\r\\nline2"},
        {"\x1B[31mred", "\\x1B[31mred"},
        {"back\\slash", "back\\\\slash"},
        {"del\x7F", "del\\x7F"},
        {"c1\xC2\x9B", "c1\\xC2\\x9B"},
        {"Zo\xC3\xAB", "Zo\xC3\xAB"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"bad\xFF\xC3", "bad\\xFF\\xC3"},
        {std::string("nul\0x", 5), "nul\\x00x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeField(c.in), c.out) << c.out;
    }
}

}  // namespace
}  // namespace kavri::cli
