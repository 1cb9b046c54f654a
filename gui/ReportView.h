#pragma once

class QTableView;
class QWidget;

namespace kavri::gui {

// A table in the report style of the dialogs' lists: read-only, one row
// selected at a time as a whole, grid lines, no row numbers, sortable by a
// click on a column title, the selection kept visible when focus goes, and
// Remove/Clear style actions as its context menu.
QTableView* ReportView(QWidget* parent);

}  // namespace kavri::gui
