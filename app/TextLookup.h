#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kavri {

// Looks a user-interface text up by its language key. The language file's
// lookup has this shape; its answer for a key it cannot give (no file, no
// section for the language, no such key) is kUndefinedText, and an empty
// lookup stands for "no language file" and gives kUndefinedText for every key.
// There is no built-in language: every text on screen comes from the file.
using TextLookup = std::function<std::string(std::string_view key)>;

inline constexpr std::string_view kUndefinedText = "UNDEFINED";

// lookup(key), or kUndefinedText when lookup is empty. Pure apart from the
// lookup itself; throws only std::bad_alloc.
inline std::string LookUpText(const TextLookup& lookup, std::string_view key) {
    return lookup ? lookup(key) : std::string(kUndefinedText);
}

}  // namespace kavri
