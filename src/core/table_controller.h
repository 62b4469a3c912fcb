#pragma once

#include <QAbstractTableModel>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/display_text.h"
#include "core/header_facts.h"
#include "core/list_sort.h"
#include "core/records.h"
#include "core/table_view.h"

namespace auralist {

class Diagnostics;

// Binds a list of records to one table view: values by column identifier,
// sorting by header click, selection, editing, rows dragged out as files.
// The list is kept by reference, never copied: whoever handed it over sees
// every reordering and removal made here.
class TableController : public QAbstractTableModel {
    Q_OBJECT
public:
    // Rows above this index are left out of selectedItems.
    static constexpr int kMaxSelectedRow = 9999;

    // The model's columns, in the order of its sections (the view may move
    // and hide them). Each has a key (identifierForColumn: kept in the
    // settings, used by the sort and the query) and a title (the header's).
    enum class Column : int {
        Name,
        Path,
        Length,
        Format,
        Rate,
        Channels,
        Size,
        Favourite,
        Tags,
        Description,
        Loudness,
        Peak,
        Type,
        Bpm,
        Note,
        Similarity,
        Duplicate,
    };
    static constexpr int kColumnCount = static_cast<int>(Column::Duplicate) + 1;

    // What the model answers beyond Qt's roles: what the first column's
    // cell shows beside the name (a RowStatus), and a cell's tooltip
    // before it is made safe to show (plainTip).
    enum Role : int { StatusRole = Qt::UserRole + 1, PlainToolTipRole = Qt::UserRole + 40 };
    enum class RowStatus : int { None = 0, Unplayable = 1, Playing = 2 };

    explicit TableController(Diagnostics &diagnostics, QObject *parent = nullptr);

    void setTableView(TableView *view);
    void setItems(SoundList items);
    // The same, for a list over a store that extends the one shown index
    // for index (the same paths at the same indexes, then new ones): the
    // selection, the playing mark and the unplayable marks stay on their
    // records.
    void setItemsExtending(SoundList items);
    // New records at the end of the list, shown as new rows.
    void appendRows(const std::vector<std::uint32_t> &records);
    // Puts one record's row at row (past the end, or -1: last).
    void insertRow(int row, std::uint32_t record);
    const SoundList &items() const { return m_items; }
    void setDelegate(TableControllerDelegate *delegate) { m_delegate = delegate; }
    void setIsEditable(bool editable) { m_isEditable = editable; }
    // The name column is edited in place, and what is typed handed to
    // renamer (as native bytes), which renames the file.
    using Renamer = std::function<void(const SoundRecord &, const std::string &)>;
    void setRenamer(Renamer renamer) { m_renamer = std::move(renamer); }
    bool isEditable() const { return m_isEditable; }

    // Launch finished: double-clicks in the table reach doubleClick().
    void appDidFinishLaunching();

    // Table view callbacks.
    void tableViewDidClickTableColumn();
    void tableViewSelectionDidChange(const TableView *sender = nullptr);
    bool shouldEditTableColumn(int column, int row) const;
    void doubleClick();
    void keyDown(int key);

    // Values that belong to the list shown, by record, under column key (a
    // group of duplicates, a likeness); an empty key clears them.
    void setListValues(std::string key, std::unordered_map<std::uint32_t, double> values);
    const std::string &listValuesKey() const { return m_listKey; }
    std::optional<double> listValue(std::uint32_t record) const;

    // For the owner. Every change of the rows keeps the selection on the
    // same sounds (and in view); where no selected sound is left, the row
    // now at the current one's place is selected.
    void sortBy(const std::string &key, bool ascending = true);
    // The sort chosen by clicking headers (key empty: none yet). A click on
    // the sorted column turns the order round; on another, sorts it
    // ascending.
    const std::string &sortKey() const { return m_sortKey; }
    bool sortAscending() const { return m_sortAscending; }
    // Takes a sort chosen before (a saved one) without sorting anything:
    // the header shows it and applySort uses it.
    void setSort(const std::string &key, bool ascending);
    // Puts a list into the chosen sort (nothing without one).
    void applySort(const SoundList &list) const;
    // The same, then runs then: at once, or for a big list once the
    // sorter's thread has sorted it (then not at all if the controller
    // goes first).
    void applySortThen(const SoundList &list, std::function<void()> then);
    // Lists of at least kSortInBackground records are sorted on sorter's
    // thread when a header is clicked: the rows take the order when it
    // comes, and the delegate hears of the sort then. Without a sorter
    // every sort is made at once.
    static constexpr std::uint32_t kSortInBackground = BackgroundSort::kFrom;
    void setSorter(ListSorter *sorter);
    // Sorts list by the values under key: text as the listing orders names
    // (case ignored, digit runs by value), lengths and sizes by value.
    // listValues: those of a list column (setListValues) when key is one.
    static void sortList(const SoundList &list, const std::string &key, bool ascending,
                         const std::unordered_map<std::uint32_t, double> *listValues = nullptr);
    // The row the record is in; -1 when it is not listed.
    int rowOf(const SoundRecord &record) const;
    std::vector<SoundRecord> selectedItems() const;
    // Every selected row's record, in row order, however far down: what an
    // action on the selection acts on. Prints nothing.
    std::vector<SoundRecord> allSelectedItems() const;
    int selectedItemIndex() const;
    SoundRecord selectedItem() const;
    void selectItemAtIndex(int row);
    // Removes just this record object (not others equal to it) and reloads.
    void removeItem(const SoundRecord &item);
    void reloadData();
    // Removes every record whose path is path (equal records listed twice
    // included) and reloads.
    void removeItemsWithPaths(const PathSet &paths);
    // Marks a record as one that cannot be played, with the reason, for as
    // long as it is listed.
    void markUnplayable(const SoundRecord &item, const std::string &reason);
    // The reason a record cannot be played, or null when nothing is known.
    const std::string *unplayableReason(const SoundRecord &item) const;
    // The record whose sound is playing (null: none), marked in its row.
    void setPlayingItem(const SoundRecord &item);
    // Values of listed records changed (marks): every row is drawn again.
    void recordsChanged();
    // Forgets every mark (a new list of sounds is coming).
    void clearUnplayable() { m_unplayable.clear(); }
    // Grows with every reordering or removal made here.
    std::uint64_t mutationCount() const { return m_mutations; }

    // The paths of the given rows, in the order given, as drag data.
    QMimeData *writeRows(const std::vector<int> &rows) const;
    std::string identifierForColumn(int column) const;
    // The first row from start on, coming round past the last, whose name
    // starts with prefix, compared case-folded; -1 when none does. What
    // typing a name's first letters in the table finds.
    int rowWhoseNameStartsWith(std::string_view prefix, int start) const;
    // The column of key; -1 when none shows it.
    int columnOf(const std::string &key) const;

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;

signals:
    // The user chose another sort.
    void sortChanged();

private:
    // The selection, by record, across a change of the rows.
    struct KeptSelection {
        const RecordStore *store = nullptr;
        std::vector<std::uint32_t> records;
        std::optional<std::uint32_t> current;
        int currentRow = -1;
    };
    KeptSelection keepSelection() const;
    void restoreSelection(const KeptSelection &kept);
    // Runs change (which alters the rows) as one reset of the model,
    // keeping the selection on its sounds.
    void changeRows(const std::function<void()> &change, bool sameIndexes = false);
    void showSortIndicator();
    std::string m_sortKey;
    bool m_sortAscending = true;
    BackgroundSort m_background;
    std::uint64_t m_sorts = 0; // each sort asked for; only the last one's answer is taken
    // The order of a sort made in the background, while the delegate hears
    // of it (applySort puts other lists of the store in it).
    struct Landed {
        const RecordStore *store = nullptr;
        std::vector<std::uint32_t> sorted;
    } m_landed;

    Diagnostics &m_diagnostics;
    TableView *m_tableView = nullptr;
    SoundList m_items;
    TableControllerDelegate *m_delegate = nullptr;
    std::vector<std::string> m_columns;
    std::vector<QString> m_titles;
    bool m_isEditable = true;
    std::uint64_t m_mutations = 0;
    // Keyed by record object: every list shares the same ones.
    std::unordered_map<SoundRecord, std::string, SoundRecordHash> m_unplayable;
    SoundRecord m_playing;
    Renamer m_renamer;
    std::string m_listKey;
    std::unordered_map<std::uint32_t, double> m_listValues;
    void rowChanged(const SoundRecord &item);
};

// -1, 0 or 1: the values of the two records under key, compared with
// digit runs by value. A record without the key sorts as an empty value.
int TableController_sortDictByValueForKey(const SoundRecord &first, const SoundRecord &second, const std::string &key);

} // namespace auralist
