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

// Length of the well-formed UTF-8 sequence at text[pos] (pos < size) with its
// code point in cp, or 0 when the bytes there are not one (overlong forms,
// surrogates, truncated or stray bytes).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t pos, char32_t& cp) noexcept;

// Appends the UTF-8 form of a code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

// The longest prefix of text of at most maxBytes bytes that does not end
// inside a UTF-8 sequence.
std::string_view TruncateUtf8(std::string_view text, std::size_t maxBytes) noexcept;

// The text as well-formed UTF-8: unchanged when it is, else each bad
// sequence becomes U+FFFD. For text from outside (names from the air).
std::string ValidUtf8(std::string_view text);

// ASCII letter case, for keys, names and tokens the program defines: only A-Z
// and a-z change; every other byte, UTF-8 sequences included, stays.
// Inline: the INI store folds every key it looks up.
inline char LowerAscii(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char UpperAscii(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string LowerAscii(std::string_view text);
// Equal apart from ASCII letter case.
bool EqualsFoldedAscii(std::string_view a, std::string_view b) noexcept;

// A blank: space or tab.
inline bool IsBlank(char c) noexcept {
    return c == ' ' || c == '\t';
}
// Without leading and trailing blanks.
std::string_view TrimBlanks(std::string_view text) noexcept;
// Without leading and trailing white space and control characters (bytes up
// to 0x20, and 0x7F).
std::string_view TrimControls(std::string_view text) noexcept;

// The value of a hexadecimal digit (either case), or -1.
int HexValue(char c) noexcept;

// The text between double quotes, as messages show names and values.
std::string Quoted(std::string_view text);

}  // namespace kavri
