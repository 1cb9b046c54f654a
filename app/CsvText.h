#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kavri {

// The CSV that exports write (kavrictl's statistics, the windows' record and
// statistics lists): RFC 4180 fields, quoted when they hold a comma, quote or
// line break, with quotes doubled; CR LF after every line. Pure functions,
// any thread; throw only std::bad_alloc.

std::string CsvField(std::string_view text);

// One line of fields, separated by commas and ended with CR LF.
std::string CsvLine(const std::vector<std::string>& fields);

}  // namespace kavri
