#include "gui/ReportView.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>

namespace kavri::gui {

namespace {

constexpr int kWidestColumn = 180;

}  // namespace

QTableView* ReportView(QWidget* parent) {
    auto* view = new QTableView(parent);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(true);
    view->verticalHeader()->hide();
    // Fixed row heights: the view then never measures a million rows.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setHighlightSections(false);
    // A click on a column title sorts; the list opens in file order, which
    // QTableView's own sorting would replace at once.
    QHeaderView* header = view->horizontalHeader();
    header->setSectionsClickable(true);
    // The room right of the designed column widths goes to the last column.
    header->setStretchLastSection(true);
    header->setSortIndicatorShown(false);
    QObject::connect(header, &QHeaderView::sectionClicked, view, [view, header](int column) {
        const bool again = header->isSortIndicatorShown() &&
                           header->sortIndicatorSection() == column &&
                           header->sortIndicatorOrder() == Qt::AscendingOrder;
        const Qt::SortOrder order = again ? Qt::DescendingOrder : Qt::AscendingOrder;
        header->setSortIndicatorShown(true);
        header->setSortIndicator(column, order);
        view->clearSelection();
        view->model()->sort(column, order);
    });
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    view->setWordWrap(false);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    view->setPalette(palette);
    return view;
}

void FitColumns(QTableView* view, const std::vector<int>& designWidths) {
    view->horizontalHeader()->setResizeContentsPrecision(1000);
    for (std::size_t i = 0; i < designWidths.size(); ++i) {
        const int column = static_cast<int>(i);
        view->resizeColumnToContents(column);
        const int needed = view->columnWidth(column);
        view->setColumnWidth(column, std::max(designWidths[i], std::min(needed, kWidestColumn)));
    }
}

int WidthForColumns(const QTableView* view) {
    constexpr int kMargins = 24;
    int width = 2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width() + kMargins;
    for (int column = 0; column < view->horizontalHeader()->count(); ++column) {
        width += view->columnWidth(column);
    }
    return width;
}

}  // namespace kavri::gui
