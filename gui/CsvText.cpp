#include "gui/CsvText.h"

#include "app/AtomicFile.h"

namespace kavri::gui {

std::string CsvHeader(const QStringList& titles) {
    std::vector<std::string> fields;
    for (const QString& title : titles) {
        fields.push_back(title.toStdString());
    }
    return CsvLine(fields);
}

Result WriteCsvFile(const QString& path, const std::string& text) {
    return WriteFileAtomically(path.toStdString(), text);
}

}  // namespace kavri::gui
