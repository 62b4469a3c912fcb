#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/records.h"

namespace auralist {

class TableController;

// What the table controller needs of the table view it is bound to.
class TableView {
public:
    TableView() = default;
    virtual ~TableView() = default;
    TableView(const TableView &) = delete;
    TableView &operator=(const TableView &) = delete;

    // The column whose header was last clicked; -1 for none.
    virtual int selectedColumn() const = 0;
    // The selected rows, ascending.
    virtual std::vector<int> selectedRowIndexes() const = 0;
    // The selected row (the most recently selected one); -1 for none.
    virtual int selectedRow() const = 0;
    // Makes row the whole selection; a change is reported (through the
    // selection-change handler) before this returns.
    virtual void selectRow(int row) = 0;
    virtual void scrollRowToVisible(int row) = 0;
    // Makes rows (ascending) the selection and current the current row
    // (-1: none), silently: no selection change is reported.
    virtual void setSelectedRows(const std::vector<int> &rows, int current) = 0;
    // Shows which column the rows are sorted by, and which way (column -1:
    // none).
    virtual void setSortIndicator(int column, bool ascending) = 0;
    // A double-click in the table calls action from now on.
    virtual void setDoubleAction(std::function<void()> action) = 0;
};

// What the table controller reports to its delegate. Every message is
// optional: the defaults do nothing.
class TableControllerDelegate {
public:
    TableControllerDelegate() = default;
    virtual ~TableControllerDelegate() = default;
    TableControllerDelegate(const TableControllerDelegate &) = delete;
    TableControllerDelegate &operator=(const TableControllerDelegate &) = delete;

    virtual void tableControllerSelectedItems(TableController &, const std::vector<SoundRecord> &) { }
    virtual void tableControllerDidEditItem(TableController &, const SoundRecord &) { }
    virtual void doubleClick(TableController &) { }
    virtual void keyDown(int key) { (void)key; }
    // The rows are about to change (a sort, a new list, a removal), and have
    // changed: what the delegate keeps by row can be kept by sound.
    virtual void tableControllerRowsWillChange(TableController &) { }
    virtual void tableControllerRowsDidChange(TableController &) { }
    // The rows now name records of to, a store extending from index for
    // index: what the delegate keeps by record moves over.
    virtual void tableControllerStoreExtended(TableController &, const RecordStorePtr &from, const RecordStorePtr &to)
    {
        (void)from;
        (void)to;
    }
    // The user sorted the rows by clicking a header.
    virtual void tableControllerDidSort(TableController &) { }
    // What is known of the rows' records changed: facts read, sounds
    // analysed, favourites or tags set.
    virtual void tableControllerValuesChanged(TableController &) { }
    // Of the sounds of the list that wanted analysing, done are analysed.
};

// What the drop-target table asks of whoever takes the dropped files.
class DragDelegate {
public:
    DragDelegate() = default;
    virtual ~DragDelegate() = default;
    DragDelegate(const DragDelegate &) = delete;
    DragDelegate &operator=(const DragDelegate &) = delete;

    // Asked when a drag carrying files enters the table.
    virtual bool acceptsDroppedFilesIn(const std::vector<std::string> &paths) = 0;
    // The files dropped on the table, as native paths.
    virtual void droppedFilesInWell(const std::vector<std::string> &paths) = 0;
};

} // namespace auralist
