#include "app/UnicodeText.h"

#include "platform/Text.h"

#include <cstdint>
#include <new>

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>
#include <unicode/utypes.h>

namespace kavri {

std::string UpperCase(std::string_view text) {
    // ASCII text has no letter that Unicode upper-cases otherwise; it is the
    // common case and needs no trip through ICU.
    bool ascii = true;
    for (const char c : text) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii || !IsValidUtf8(text) || text.size() > static_cast<std::size_t>(INT32_MAX)) {
        return UpperCaseAscii(text);
    }
    std::string upper;
    upper.reserve(text.size());
    icu::StringByteSink<std::string> sink(&upper);
    UErrorCode status = U_ZERO_ERROR;
    // "" is the root locale: no language's special rules.
    icu::CaseMap::utf8ToUpper("", 0,
                              icu::StringPiece(text.data(), static_cast<int32_t>(text.size())),
                              sink, nullptr, status);
    if (status == U_MEMORY_ALLOCATION_ERROR) {
        throw std::bad_alloc();
    }
    // Valid UTF-8 within int32_t's range leaves ICU nothing else to fail on;
    // should it all the same, the ASCII form keeps every byte.
    return U_SUCCESS(status) ? upper : UpperCaseAscii(text);
}

std::string UpperCaseAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

}  // namespace kavri
