#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <cstddef>
#include <string>
#include <vector>

#include "app/DateFormat.h"
#include "app/DeviceRecords.h"

namespace kavri::gui {

// The rows of the black-list, accepted and rejected lists (and the coupon
// check's matches, as the same kind of row) for a QTableView: the app layer's
// rows held as they are, with the columns a dialog asks for. Holding plain rows
// rather than one widget item each lets a million records fill and sort at
// once. The date-time column sorts by time, not by its text: the shown text is
// read back with the same regional form the rows were formatted with (the
// user's, as DeviceRecords and the coupon check use), and a text that does not
// read as a date-time sorts before every dated row, by its text.
//
// Main thread. Throws only std::bad_alloc.
class DeviceRecordModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum class Field { Campaign, Name, Type, Address, DateTime };

    // display is the form the rows' date-times are shown in.
    DeviceRecordModel(std::vector<Field> columns, QObject* parent = nullptr,
                      DateFormat display = DateFormat::FromLocale());

    void SetTitles(const QStringList& titles);
    const QStringList& Titles() const { return m_titles; }
    void SetRows(std::vector<DeviceRecordRow> rows);
    const std::vector<DeviceRecordRow>& Rows() const { return m_rows; }
    const DeviceRecordRow& Row(int row) const { return m_rows.at(static_cast<std::size_t>(row)); }
    void RemoveRow(int row);
    void Clear();

    // The text of one cell, as shown.
    const std::string& Text(const DeviceRecordRow& row, int column) const;
    // Every row as CSV, header first, in the order shown.
    std::string Csv() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    // The order of the rows sorted by column: stable, so equal cells keep the
    // order the rows had.
    std::vector<std::size_t> SortedOrder(int column, Qt::SortOrder order) const;
    std::vector<std::size_t> SortedByDateTime(Qt::SortOrder order) const;

    std::vector<Field> m_columns;
    DateFormat m_display;
    QStringList m_titles;
    std::vector<DeviceRecordRow> m_rows;
};

}  // namespace kavri::gui
