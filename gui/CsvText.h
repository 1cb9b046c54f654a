#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"

namespace kavri::gui {

// The CSV the dialogs export, in the form kavrictl writes its statistics CSV:
// RFC 4180 fields (quoted when they hold a comma, quote or line break, quotes
// doubled), CR LF after every line, a header line of column titles first.
// Free functions; any thread. Throws only std::bad_alloc.

std::string CsvField(std::string_view text);

// One line of fields, separated by commas and ended with CR LF.
std::string CsvLine(const std::vector<std::string>& fields);

// The titles as the header line.
std::string CsvHeader(const QStringList& titles);

// Writes text to path atomically; refused with the path and the reason.
Result WriteCsvFile(const QString& path, const std::string& text);

}  // namespace kavri::gui
