#include "gui/DeviceRecordModel.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <utility>

#include "gui/CsvText.h"

namespace kavri::gui {

DeviceRecordModel::DeviceRecordModel(std::vector<Field> columns, QObject* parent,
                                     DateFormat display)
    : QAbstractTableModel(parent), m_columns(std::move(columns)), m_display(std::move(display)) {}

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

std::vector<std::size_t> DeviceRecordModel::SortedOrder(int column, Qt::SortOrder order) const {
    if (m_columns.at(static_cast<std::size_t>(column)) == Field::DateTime) {
        return SortedByDateTime(order);
    }
    std::vector<std::size_t> sorted(m_rows.size());
    std::iota(sorted.begin(), sorted.end(), std::size_t{0});
    std::stable_sort(sorted.begin(), sorted.end(), [&](std::size_t a, std::size_t b) {
        const std::string& left = Text(m_rows[a], column);
        const std::string& right = Text(m_rows[b], column);
        return order == Qt::AscendingOrder ? left < right : right < left;
    });
    return sorted;
}

std::vector<std::size_t> DeviceRecordModel::SortedByDateTime(Qt::SortOrder order) const {
    // Each text is read once, not once per comparison.
    struct Key {
        std::optional<double> Time;  // none when the text is no date-time
        std::size_t Row;
    };
    std::vector<Key> keys;
    keys.reserve(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        TDateTime value;
        if (m_display.ParseDateTime(m_rows[i].DateTime, value)) {
            keys.push_back({value.Value(), i});
        } else {
            keys.push_back({std::nullopt, i});
        }
    }
    const auto before = [&](const Key& a, const Key& b) {
        if (a.Time.has_value() != b.Time.has_value()) {
            return !a.Time.has_value();
        }
        if (a.Time) {
            return *a.Time < *b.Time;
        }
        return m_rows[a.Row].DateTime < m_rows[b.Row].DateTime;
    };
    std::stable_sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        return order == Qt::AscendingOrder ? before(a, b) : before(b, a);
    });
    std::vector<std::size_t> sorted;
    sorted.reserve(keys.size());
    for (const Key& key : keys) {
        sorted.push_back(key.Row);
    }
    return sorted;
}

void DeviceRecordModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= columnCount()) {
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<std::size_t> sorted = SortedOrder(column, order);
    std::vector<DeviceRecordRow> rows;
    rows.reserve(m_rows.size());
    std::vector<int> newRow(m_rows.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        rows.push_back(std::move(m_rows[sorted[i]]));
        newRow[sorted[i]] = static_cast<int>(i);
    }
    m_rows = std::move(rows);
    // A selected row stays selected where its record went.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        after.append(
            index.isValid() && index.row() < static_cast<int>(newRow.size())
                ? createIndex(newRow[static_cast<std::size_t>(index.row())], index.column())
                : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace kavri::gui
