#pragma once

#include <QElapsedTimer>
#include <QTableView>

#include <functional>

#include "core/table_controller.h"
#include "core/table_view.h"

class QTimer;

namespace auralist {

class TableController;

// The sound table: takes dropped files and folders (text/uri-list) and
// hands their paths to its drag delegate, offers its rows for dragging out
// as files, and passes every key press on to the table controller after
// handling it itself.
class DragTable : public QTableView, public TableView {
    Q_OBJECT
public:
    explicit DragTable(QWidget *parent = nullptr);

    void setDragDelegate(DragDelegate *delegate) { m_dragDelegate = delegate; }
    void setTableController(TableController *controller);
    // Told, now and then, which rows are on screen (first, last).
    void setRowsShown(std::function<void(int, int)> rowsShown) { m_rowsShown = std::move(rowsShown); }
    void awakeFromNib();
    // The path takes the room the other columns leave; with it hidden, the
    // last column shown does.
    // A column's width before the user gives it another.
    static int initialWidth(TableController::Column column);
    void fitColumns();
    void canDrag(bool on) { m_canDrag = on; }
    void canDrop(bool on) { m_canDrop = on; }
    bool canDropFiles() const { return m_canDrop; }
    static Qt::DropActions draggingSourceOperationMaskForLocal(bool local);

    // TableView
    int selectedColumn() const override { return m_selectedColumn; }
    std::vector<int> selectedRowIndexes() const override;
    int selectedRow() const override;
    void selectRow(int row) override;
    void scrollRowToVisible(int row) override;
    void setSelectedRows(const std::vector<int> &rows, int current) override;
    void setSortIndicator(int column, bool ascending) override;
    void setDoubleAction(std::function<void()> action) override { m_doubleAction = std::move(action); }

signals:
    // A column was resized, hidden or shown by the user.
    void columnsChanged();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyboardSearch(const QString &search) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void headerClicked(int section);
    void arrangeColumns();
    void showHeaderMenu(const QPoint &at);
    void rowsShownMayHaveChanged();
    QTimer *m_rowsShownTimer = nullptr;
    std::function<void(int, int)> m_rowsShown;

    TableController *m_tableController = nullptr;
    DragDelegate *m_dragDelegate = nullptr;
    bool m_canDrag = false;
    bool m_canDrop = false;
    bool m_acceptsCurrentDrop = false;
    int m_selectedColumn = -1;
    // What has been typed to find a name, and when last.
    QString m_typed;
    QElapsedTimer m_typedAt;
    std::function<void()> m_doubleAction;
};

} // namespace auralist
