#pragma once

#include <string>
#include <string_view>

namespace kavri {

// Text inside the program is UTF-8 in std::string; UTF-16 appears only at the
// boundaries that need it (stack records, OBEX names). Malformed input never
// fails: each bad sequence becomes U+FFFD. Pure functions, any thread.

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text) noexcept;

// The longest prefix of text of at most maxBytes bytes that does not end
// inside a UTF-8 sequence.
std::string_view TruncateUtf8(std::string_view text, std::size_t maxBytes) noexcept;

}  // namespace kavri
