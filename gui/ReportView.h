#pragma once

#include <vector>

class QTableView;
class QWidget;

namespace kavri::gui {

// A table in the report style of the dialogs' lists: read-only, one row
// selected at a time as a whole, grid lines, no row numbers, sortable by a
// click on a column title, the selection kept visible when focus goes, and
// Remove/Clear style actions as its context menu.
QTableView* ReportView(QWidget* parent);

// Widens each column to its designed width or, when its texts need more, to
// the width of the texts of the first rows (Qt measures at most a thousand),
// up to a cap, so addresses and dates show whole and a long name does not
// push the others off.
void FitColumns(QTableView* view, const std::vector<int>& designWidths);

// The width the dialog around view needs to show every column without a
// horizontal scroll bar (view's frame, scroll bar and the dialog's margins).
int WidthForColumns(const QTableView* view);

}  // namespace kavri::gui
