#include "cli/Escape.h"

#include <cstdint>
#include <cstdio>

#include "platform/Text.h"

namespace kavri::cli {
namespace {

void AppendHex(std::string& out, std::uint8_t byte) {
    char buffer[5];
    std::snprintf(buffer, sizeof buffer, "\\x%02X", byte);
    out += buffer;
}

}  // namespace

std::string EscapeField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const auto byte = static_cast<std::uint8_t>(text[pos]);
        if (byte >= 0x80) {
            char32_t cp = 0;
            const std::size_t length = Utf8SequenceAt(text, pos, cp);
            // C1 control characters (U+0080..U+009F) are terminal controls too.
            const bool c1 =
                length == 2 && byte == 0xC2 && static_cast<std::uint8_t>(text[pos + 1]) < 0xA0;
            if (length == 0 || c1) {
                for (std::size_t i = 0; i < (c1 ? 2u : 1u); ++i) {
                    AppendHex(out, static_cast<std::uint8_t>(text[pos + i]));
                }
                pos += c1 ? 2 : 1;
            } else {
                out.append(text.substr(pos, length));
                pos += length;
            }
            continue;
        }
        switch (byte) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    AppendHex(out, byte);
                } else {
                    out += static_cast<char>(byte);
                }
        }
        ++pos;
    }
    return out;
}

}  // namespace kavri::cli
