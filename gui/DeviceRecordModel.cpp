#include "gui/DeviceRecordModel.h"

#include <algorithm>
#include <utility>

#include "gui/CsvText.h"

namespace kavri::gui {

DeviceRecordModel::DeviceRecordModel(std::vector<Field> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)) {}

void DeviceRecordModel::SetTitles(const QStringList& titles) {
    m_titles = titles;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void DeviceRecordModel::SetRows(std::vector<DeviceRecordRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void DeviceRecordModel::RemoveRow(int row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void DeviceRecordModel::Clear() {
    SetRows({});
}

const std::string& DeviceRecordModel::Text(const DeviceRecordRow& row, int column) const {
    switch (m_columns.at(static_cast<std::size_t>(column))) {
        case Field::Campaign:
            return row.Campaign;
        case Field::Name:
            return row.Name;
        case Field::Type:
            return row.TypeText;
        case Field::Address:
            return row.Address;
        case Field::DateTime:
            break;
    }
    return row.DateTime;
}

std::string DeviceRecordModel::Csv() const {
    std::string text = CsvHeader(m_titles);
    std::vector<std::string> fields(m_columns.size());
    for (const DeviceRecordRow& row : m_rows) {
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            fields[i] = Text(row, static_cast<int>(i));
        }
        text += CsvLine(fields);
    }
    return text;
}

int DeviceRecordModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int DeviceRecordModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant DeviceRecordModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    return QString::fromStdString(Text(Row(index.row()), index.column()));
}

QVariant DeviceRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section >= m_titles.size()) {
        return {};
    }
    return m_titles.at(section);
}

void DeviceRecordModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= columnCount()) {
        return;
    }
    emit layoutAboutToBeChanged();
    // Stable, so rows of equal text keep the file order the list opened with.
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [&](const DeviceRecordRow& a, const DeviceRecordRow& b) {
                         const std::string& left = Text(a, column);
                         const std::string& right = Text(b, column);
                         return order == Qt::AscendingOrder ? left < right : right < left;
                     });
    emit layoutChanged();
}

}  // namespace kavri::gui
