#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

#include "app/CsvText.h"
#include "app/Result.h"

namespace kavri::gui {

// The CSV the dialogs export, in the form kavrictl writes its statistics CSV
// (app/CsvText.h), with a header line of column titles first. Free functions;
// any thread. Throws only std::bad_alloc.

// The titles as the header line.
std::string CsvHeader(const QStringList& titles);

// Writes text to path atomically; refused with the path and the reason.
Result WriteCsvFile(const QString& path, const std::string& text);

}  // namespace kavri::gui
