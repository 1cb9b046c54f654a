#pragma once

#include <string>
#include <string_view>

namespace kavri::cli {

// Text from the air made safe for a terminal and for one tab-separated field:
// backslash, tab, line breaks and every other control character become escapes
// (\\ \t \n \r \xNN); bytes that are not well-formed UTF-8 become \xNN too.
std::string EscapeField(std::string_view text);

}  // namespace kavri::cli
