#pragma once

#include <string>
#include <string_view>

namespace kavri {

// Unicode upper-casing of UTF-8 text with ICU's full case mappings ("café"
// becomes "CAFÉ", "straße" becomes "STRASSE"), by the rules of no particular
// language, so the result does not depend on the process's locale (a Turkish
// "i" still becomes "I"). Blanks, digits and punctuation stay. Text that is not
// valid UTF-8 has only its ASCII letters upper-cased and every other byte
// kept, so no byte is lost. Pure; any thread; throws only std::bad_alloc.
std::string UpperCase(std::string_view text);

// a-z upper-cased, every other byte kept: the campaign folder names of earlier
// versions. Pure; any thread.
std::string UpperCaseAscii(std::string_view text);

}  // namespace kavri
