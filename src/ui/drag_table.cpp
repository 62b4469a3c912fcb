#include "ui/drag_table.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTimer>

#include <limits>

#include "core/table_controller.h"
#include "core/uri_list.h"
#include "ui/image_and_text_cell.h"

namespace auralist {

namespace {

bool carriesFiles(const QMimeData *mime)
{
    return mime && mime->hasFormat(QString::fromLatin1(kUriListMimeType));
}

std::vector<std::string> droppedPaths(const QMimeData *mime)
{
    const QByteArray list = mime->data(QString::fromLatin1(kUriListMimeType));
    return pathsFromUriList(std::string_view(list.constData(), static_cast<size_t>(list.size())));
}

} // namespace

DragTable::DragTable(QWidget *parent) : QTableView(parent)
{
    verticalHeader()->hide();
    // Uniform rows keep a reset of 100,000 rows cheap.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // Names get a wide first column; the path takes the rest.
    horizontalHeader()->setDefaultSectionSize(240);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Deep paths keep their start and their file's name in sight.
    setTextElideMode(Qt::ElideMiddle);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DragTable::headerClicked);
    // The header's menu shows and hides columns (the name always shows).
    horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(horizontalHeader(), &QWidget::customContextMenuRequested, this, &DragTable::showHeaderMenu);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, &DragTable::columnsChanged);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &DragTable::rowsShownMayHaveChanged);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &) {
        if (m_doubleAction)
            m_doubleAction();
    });
}

void DragTable::setTableController(TableController *controller)
{
    m_tableController = controller;
    setModel(controller);
    if (!controller)
        return;
    // The header shows no selection. Given the table's, it would still ask,
    // after every change of it, whether each column is wholly selected: a
    // pass over every row for each column, a quarter of a second and more
    // with a million rows selected.
    horizontalHeader()->setSelectionModel(new QItemSelectionModel(controller, horizontalHeader()));
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_tableController)
            m_tableController->tableViewSelectionDidChange(this);
    });
    controller->setTableView(this);
    // The rows on screen are read first; say which they are whenever that
    // may have changed.
    connect(controller, &QAbstractItemModel::modelReset, this, &DragTable::rowsShownMayHaveChanged);
    connect(controller, &QAbstractItemModel::rowsInserted, this, &DragTable::rowsShownMayHaveChanged);
    connect(controller, &QAbstractItemModel::layoutChanged, this, &DragTable::rowsShownMayHaveChanged);
    arrangeColumns();
}

void DragTable::arrangeColumns()
{
    using Column = TableController::Column;
    QHeaderView *header = horizontalHeader();
    const auto section = [](Column c) { return static_cast<int>(c); };
    // The path takes the room the others leave (fitColumns, below).
    for (int c = 0; c < TableController::kColumnCount; ++c) {
        if (c == section(Column::Path))
            header->setSectionResizeMode(c, QHeaderView::Stretch);
        else
            header->resizeSection(c, initialWidth(static_cast<Column>(c)));
    }
    // At first what a collector judges a sound by comes first, after its
    // name: the analysis and the favourite, then the format and what is
    // said of it. Its path, rate, channels, size and peak start hidden; the
    // header's menu brings them back, and the user's own arrangement is
    // kept from then on.
    static constexpr Column kFirst[]
        = {Column::Name, Column::Length,    Column::Loudness, Column::Type, Column::Bpm,
           Column::Note, Column::Favourite, Column::Format,   Column::Tags, Column::Description};
    int place = 0;
    for (const Column c : kFirst)
        header->moveSection(header->visualIndex(section(c)), place++);
    for (const Column c : {Column::Path, Column::Rate, Column::Channels, Column::Size, Column::Peak})
        header->setSectionHidden(section(c), true);
    fitColumns();
}

int DragTable::initialWidth(TableController::Column column)
{
    using Column = TableController::Column;
    switch (column) {
    case Column::Name: return 260;
    case Column::Description: return 200;
    case Column::Format:
    case Column::Tags: return 110;
    case Column::Loudness: return 90;
    case Column::Bpm:
    case Column::Note: return 50;
    case Column::Similarity:
    case Column::Duplicate: return 75;
    case Column::Favourite:
    case Column::Channels:
    case Column::Type: return 70;
    case Column::Path:
    case Column::Length:
    case Column::Rate:
    case Column::Size:
    case Column::Peak: break;
    }
    return 80;
}

void DragTable::fitColumns()
{
    const int path = static_cast<int>(TableController::Column::Path);
    QHeaderView *header = horizontalHeader();
    header->setStretchLastSection(header->count() <= path || header->isSectionHidden(path));
}

void DragTable::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    rowsShownMayHaveChanged();
}

void DragTable::showHeaderMenu(const QPoint &at)
{
    QMenu menu(this);
    QHeaderView *header = horizontalHeader();
    for (int c = 1; c < header->count(); ++c) {
        QAction *action
            = menu.addAction(model() ? model()->headerData(c, Qt::Horizontal).toString() : QString::number(c));
        action->setCheckable(true);
        action->setChecked(!header->isSectionHidden(c));
        connect(action, &QAction::toggled, this, [this, c](bool on) {
            horizontalHeader()->setSectionHidden(c, !on);
            fitColumns();
            emit columnsChanged();
        });
    }
    menu.exec(header->mapToGlobal(at));
}

void DragTable::rowsShownMayHaveChanged()
{
    if (!m_rowsShownTimer) {
        m_rowsShownTimer = new QTimer(this);
        m_rowsShownTimer->setSingleShot(true);
        m_rowsShownTimer->setInterval(30);
        connect(m_rowsShownTimer, &QTimer::timeout, this, [this] {
            if (!m_rowsShown || !model())
                return;
            const int first = rowAt(0);
            int last = rowAt(viewport()->height() - 1);
            if (last < 0)
                last = model()->rowCount() - 1;
            m_rowsShown(first, last);
        });
    }
    m_rowsShownTimer->start();
}

void DragTable::awakeFromNib()
{
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setFocus(Qt::OtherFocusReason);
    setItemDelegateForColumn(0, new ImageAndTextCell(this));
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragDrop);
}

Qt::DropActions DragTable::draggingSourceOperationMaskForLocal(bool local)
{
    return local ? Qt::DropActions(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) : Qt::CopyAction;
}

std::vector<int> DragTable::selectedRowIndexes() const
{
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    // The ranges in order, overlaps merged: a selection of every row is one
    // range, and its rows come out in order without sorting them.
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange &range : selectionModel()->selection())
        ranges.emplace_back(range.top(), range.bottom());
    std::sort(ranges.begin(), ranges.end());
    int next = std::numeric_limits<int>::min();
    for (const auto &[top, bottom] : ranges) {
        for (int r = std::max(top, next); r <= bottom; ++r)
            rows.push_back(r);
        next = std::max(next, bottom + 1);
    }
    return rows;
}

int DragTable::selectedRow() const
{
    if (!selectionModel())
        return -1;
    const QModelIndex current = selectionModel()->currentIndex();
    if (current.isValid() && selectionModel()->isRowSelected(current.row(), QModelIndex()))
        return current.row();
    const std::vector<int> rows = selectedRowIndexes();
    return rows.empty() ? -1 : rows.back();
}

void DragTable::selectRow(int row)
{
    if (!model() || row < 0 || row >= model()->rowCount())
        return;
    selectionModel()->setCurrentIndex(model()->index(row, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void DragTable::scrollRowToVisible(int row)
{
    if (model() && row >= 0 && row < model()->rowCount())
        scrollTo(model()->index(row, 0));
}

void DragTable::headerClicked(int section)
{
    m_selectedColumn = section;
    if (m_tableController)
        m_tableController->tableViewDidClickTableColumn();
}

void DragTable::setSelectedRows(const std::vector<int> &rows, int current)
{
    if (!model() || !selectionModel())
        return;
    const int count = model()->rowCount();
    QItemSelection selection;
    int start = -1;
    int previous = -2;
    auto flush = [&] {
        if (start >= 0)
            selection.select(model()->index(start, 0), model()->index(previous, model()->columnCount() - 1));
    };
    for (int r : rows) {
        if (r < 0 || r >= count)
            continue;
        if (r != previous + 1) {
            flush();
            start = r;
        }
        previous = r;
    }
    flush();
    const QSignalBlocker blocker(selectionModel());
    if (current >= 0 && current < count)
        selectionModel()->setCurrentIndex(model()->index(current, 0), QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    viewport()->update();
}

void DragTable::setSortIndicator(int column, bool ascending)
{
    QHeaderView *header = horizontalHeader();
    header->setSortIndicatorShown(column >= 0);
    if (column >= 0)
        header->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void DragTable::dragEnterEvent(QDragEnterEvent *event)
{
    m_acceptsCurrentDrop = false;
    if (!m_canDrop || !carriesFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    const std::vector<std::string> paths = droppedPaths(event->mimeData());
    if (m_dragDelegate && !m_dragDelegate->acceptsDroppedFilesIn(paths)) {
        event->ignore();
        return;
    }
    m_acceptsCurrentDrop = true;
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DragTable::dragMoveEvent(QDragMoveEvent *event)
{
    if (m_acceptsCurrentDrop) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void DragTable::dragLeaveEvent(QDragLeaveEvent *event)
{
    event->accept();
}

void DragTable::dropEvent(QDropEvent *event)
{
    if (!m_canDrop || !carriesFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    const std::vector<std::string> paths = droppedPaths(event->mimeData());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // Drops of URLs that are not local files carry no paths: nothing to take.
    if (m_dragDelegate && !paths.empty())
        m_dragDelegate->droppedFilesInWell(paths);
}

void DragTable::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const int rows = model() ? model()->rowCount() : 0;
    if ((key == Qt::Key_Home || key == Qt::Key_End) && event->modifiers() == Qt::NoModifier) {
        // The first or the last sound, not the first or last column.
        if (rows > 0) {
            const QModelIndex to = model()->index(key == Qt::Key_Home ? 0 : rows - 1, 0);
            selectionModel()->setCurrentIndex(to, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            scrollTo(to);
        }
    } else {
        QTableView::keyPressEvent(event);
    }
    if (m_tableController)
        m_tableController->keyDown(event->key());
    event->accept();
}

// Typing the first letters of a name goes to the next row whose name
// starts with them, as in any list; the same letter again goes on to the
// next such row. Names are searched in the store, not through the model's
// display text one row at a time, which at a million rows took a quarter
// of a second a key.
void DragTable::keyboardSearch(const QString &search)
{
    const QModelIndex current = currentIndex();
    const int column = current.isValid() ? current.column() : 0;
    if (!m_tableController || column != static_cast<int>(TableController::Column::Name)) {
        QTableView::keyboardSearch(search);
        return;
    }
    bool fromNext = current.isValid();
    if (search.isEmpty() || !m_typedAt.isValid() || m_typedAt.elapsed() > QApplication::keyboardInputInterval()) {
        m_typed = search;
    } else {
        m_typed += search;
        fromNext = false;
    }
    m_typedAt.start();
    // The same letter again and again steps through the names it begins.
    const bool sameLetter = m_typed.size() > 1 && m_typed.count(m_typed.back()) == m_typed.size();
    if (sameLetter)
        fromNext = current.isValid();
    const QString text = sameLetter ? QString(m_typed.front()) : m_typed;
    const int rows = model()->rowCount();
    if (rows == 0 || text.isEmpty())
        return;
    const int start = current.isValid() ? (current.row() + (fromNext ? 1 : 0)) % rows : 0;
    const QByteArray bytes = text.toUtf8();
    const int row = m_tableController->rowWhoseNameStartsWith(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), start);
    if (row < 0)
        return;
    const QModelIndex to = model()->index(row, column);
    selectionModel()->setCurrentIndex(to, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(to);
}

void DragTable::startDrag(Qt::DropActions supportedActions)
{
    (void)supportedActions;
    if (!m_tableController)
        return;
    QMimeData *mime = m_tableController->writeRows(selectedRowIndexes());
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(draggingSourceOperationMaskForLocal(false), Qt::CopyAction);
}

} // namespace auralist
