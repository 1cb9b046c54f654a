#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kavri {

// Looks a user-interface text up by its language key; the answer for a key it
// does not know is kUndefinedText. The language file's lookup has this shape;
// BuiltInText is the English stand-in used where no language file is loaded
// (kavrictl, tests).
using TextLookup = std::function<std::string(std::string_view key)>;

inline constexpr std::string_view kUndefinedText = "UNDEFINED";

// The English text of a key used by the campaign logic, or kUndefinedText.
// Pure; any thread; throws only std::bad_alloc.
std::string BuiltInText(std::string_view key);

// lookup(key), or the built-in English text when lookup is empty or does not
// know the key. For the messages this program adds, which a language file may
// not carry yet; the texts of the established keys go through lookup alone,
// so a missing key shows as kUndefinedText there.
std::string TextOrBuiltIn(const TextLookup& lookup, std::string_view key);

}  // namespace kavri
