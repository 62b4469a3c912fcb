#include "core/table_controller.h"

#include <QFile>
#include <QMimeData>

#include <algorithm>
#include <charconv>
#include <numeric>
#include <string_view>
#include <utility>

#include "core/diagnostics.h"
#include "core/header_facts.h"
#include "core/list_sort.h"
#include "core/numeric_compare.h"
#include "core/smalltalk.h"
#include "core/sort_order.h"
#include "core/uri_list.h"

namespace auralist {

namespace {

constexpr std::string_view kPathKey{"path"};

// The entry under key, or nothing; the path, put together, into scratch.
std::string_view valueOrEmpty(const SoundRecord &r, const std::string &key, std::string &scratch)
{
    if (key == kPathKey) {
        scratch = r.path();
        return scratch;
    }
    return r.value(key).value_or(std::string_view());
}

} // namespace

int TableController_sortDictByValueForKey(const SoundRecord &first, const SoundRecord &second, const std::string &key)
{
    std::string one;
    std::string other;
    return compareNumeric(valueOrEmpty(first, key, one), valueOrEmpty(second, key, other));
}

namespace {

// Each column's key (of a record's value, fact or trait) and title, in the
// order of TableController::Column.
struct ColumnOf {
    const char *key;
    const char *title;
};
constexpr ColumnOf kColumns[] = {
    {"name", "Name"},           {"path", "Path"},
    {"length", "Length"},       {"format", "Format"},
    {"rate", "Rate"},           {"channels", "Channels"},
    {"size", "Size"},           {"favourite", "Favourite"},
    {"tags", "Tags"},           {"description", "Description"},
    {"loudness", "Loudness"},   {"peak", "Peak"},
    {"type", "Type"},           {"bpm", "BPM"},
    {"note", "Note"},           {"similarity", "Similarity"},
    {"duplicate", "Duplicate"},
};
static_assert(std::size(kColumns) == TableController::kColumnCount, "a key and title for every column");

} // namespace

TableController::TableController(Diagnostics &diagnostics, QObject *parent)
    : QAbstractTableModel(parent), m_diagnostics(diagnostics), m_items(makeSoundList())
{
    for (const ColumnOf &c : kColumns) {
        m_columns.emplace_back(c.key);
        m_titles.push_back(QString::fromLatin1(c.title));
    }
}

void TableController::setTableView(TableView *view)
{
    beginResetModel();
    m_tableView = view;
    endResetModel();
}

void TableController::setItems(SoundList items)
{
    changeRows([&] { m_items = items ? std::move(items) : makeSoundList(); });
}

void TableController::setItemsExtending(SoundList items)
{
    if (!items)
        return;
    changeRows(
        [&] {
            const RecordStore *old = m_items->store().get();
            m_items = std::move(items);
            const auto carry = [&](const SoundRecord &r) {
                return r && r.store() == old ? SoundRecord(m_items->store(), r.index()) : r;
            };
            m_playing = carry(m_playing);
            std::unordered_map<SoundRecord, std::string, SoundRecordHash> unplayable;
            for (auto &[record, reason] : m_unplayable)
                unplayable.emplace(carry(record), std::move(reason));
            m_unplayable.swap(unplayable);
        },
        true);
}

void TableController::appendRows(const std::vector<std::uint32_t> &records)
{
    if (records.empty())
        return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(records.size()) - 1);
    m_items->rows().insert(m_items->rows().end(), records.begin(), records.end());
    endInsertRows();
}

void TableController::insertRow(int row, std::uint32_t record)
{
    if (row < 0 || row > rowCount())
        row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    m_items->insertAt(row, record);
    endInsertRows();
}

void TableController::setListValues(std::string key, std::unordered_map<std::uint32_t, double> values)
{
    m_listKey = std::move(key);
    m_listValues = std::move(values);
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

std::optional<double> TableController::listValue(std::uint32_t record) const
{
    const auto it = m_listValues.find(record);
    if (it == m_listValues.end())
        return std::nullopt;
    return it->second;
}

void TableController::appDidFinishLaunching()
{
    if (m_tableView)
        m_tableView->setDoubleAction([this] { doubleClick(); });
}

void TableController::tableViewDidClickTableColumn()
{
    if (!m_tableView)
        return;
    const int column = m_tableView->selectedColumn();
    if (column < 0 || column >= static_cast<int>(m_columns.size()))
        return;
    const std::string &key = m_columns[static_cast<size_t>(column)];
    const bool ascending = key == m_sortKey ? !m_sortAscending : true;
    m_sortKey = key;
    m_sortAscending = ascending;
    if (m_background.takes(*m_items->store())) {
        // The rows take the order when it comes; the delegate hears of the
        // sort then.
        showSortIndicator();
        const RecordStorePtr store = m_items->store();
        const std::uint64_t sort = ++m_sorts;
        m_background.sort(store, key, ascending, key == m_listKey ? &m_listValues : nullptr,
                          [this, sort, store](std::vector<std::uint32_t> sorted) {
                              if (sort != m_sorts || m_items->store() != store)
                                  return; // another sort was asked for, or another list came
                              m_landed = {store.get(), std::move(sorted)};
                              changeRows([&] {
                                  takeOrder(m_items->rows(), m_landed.sorted);
                                  ++m_mutations;
                              });
                              if (m_delegate)
                                  m_delegate->tableControllerDidSort(*this);
                              m_landed = {};
                          });
        emit sortChanged();
        return;
    }
    sortBy(key, ascending);
    showSortIndicator();
    if (m_delegate)
        m_delegate->tableControllerDidSort(*this);
    emit sortChanged();
}

void TableController::setSort(const std::string &key, bool ascending)
{
    m_sortKey = key;
    m_sortAscending = ascending;
    showSortIndicator();
}

void TableController::showSortIndicator()
{
    if (!m_tableView)
        return;
    const auto it = std::find(m_columns.begin(), m_columns.end(), m_sortKey);
    m_tableView->setSortIndicator(it == m_columns.end() ? -1 : static_cast<int>(it - m_columns.begin()),
                                  m_sortAscending);
}

void TableController::applySort(const SoundList &list) const
{
    if (!list || m_sortKey.empty())
        return;
    if (m_landed.store && m_landed.store == list->store().get())
        takeOrder(list->rows(), m_landed.sorted);
    else
        sortList(list, m_sortKey, m_sortAscending);
}

void TableController::setSorter(ListSorter *sorter)
{
    m_background.setSorter(sorter);
}

void TableController::applySortThen(const SoundList &list, std::function<void()> then)
{
    if (!list || m_sortKey.empty() || !m_background.takes(*list->store())) {
        applySort(list);
        then();
        return;
    }
    m_background.sort(list->store(), m_sortKey, m_sortAscending, m_sortKey == m_listKey ? &m_listValues : nullptr,
                      [this, list, key = m_sortKey, ascending = m_sortAscending,
                       then = std::move(then)](const std::vector<std::uint32_t> &sorted) {
                          if (key == m_sortKey && ascending == m_sortAscending)
                              takeOrder(list->rows(), sorted);
                          else
                              applySort(list); // another sort was chosen meanwhile
                          then();
                      });
}

void TableController::tableViewSelectionDidChange(const TableView *sender)
{
    if (sender && sender != m_tableView)
        return;
    // Rows past the selectedItems limit are still a selection: the delegate
    // hears of it (and reads the row from selectedItemIndex).
    if (selectedItems().empty() && (!m_tableView || m_tableView->selectedRowIndexes().empty()))
        return;
    if (m_delegate)
        m_delegate->tableControllerSelectedItems(*this, selectedItems());
}

bool TableController::shouldEditTableColumn(int column, int row) const
{
    (void)column;
    (void)row;
    return m_isEditable;
}

void TableController::doubleClick()
{
    if (m_delegate)
        m_delegate->doubleClick(*this);
}

void TableController::keyDown(int key)
{
    if (m_delegate)
        m_delegate->keyDown(key);
}

void TableController::sortBy(const std::string &key, bool ascending)
{
    ++m_sorts; // what a sort in the background finds comes too late
    changeRows([&] {
        sortList(m_items, key, ascending, key == m_listKey ? &m_listValues : nullptr);
        ++m_mutations;
    });
}

void TableController::sortList(const SoundList &list, const std::string &key, bool ascending,
                               const std::unordered_map<std::uint32_t, double> *listValues)
{
    std::vector<std::uint32_t> &rows = list->rows();
    rows = sortedRecords(sortInputOf(list->store(), std::move(rows), key, ascending, listValues));
}

int TableController::rowOf(const SoundRecord &record) const
{
    if (!record || record.store() != m_items->store().get())
        return -1;
    return static_cast<int>(m_items->positionOf(record.index()));
}

TableController::KeptSelection TableController::keepSelection() const
{
    KeptSelection kept;
    kept.store = m_items->store().get();
    if (!m_tableView)
        return kept;
    const auto &rows = m_items->rows();
    const int count = static_cast<int>(rows.size());
    for (int row : m_tableView->selectedRowIndexes()) {
        if (row >= 0 && row < count)
            kept.records.push_back(rows[static_cast<size_t>(row)]);
    }
    kept.currentRow = m_tableView->selectedRow();
    if (kept.currentRow >= 0 && kept.currentRow < count)
        kept.current = rows[static_cast<size_t>(kept.currentRow)];
    return kept;
}

void TableController::restoreSelection(const KeptSelection &kept)
{
    if (!m_tableView || (kept.records.empty() && !kept.current))
        return;
    const auto &rows = m_items->rows();
    std::vector<int> selected;
    int current = -1;
    if (kept.store == m_items->store().get()) {
        std::vector<bool> marked(kept.store->size());
        for (std::uint32_t r : kept.records)
            marked[r] = true;
        for (size_t row = 0; row < rows.size(); ++row) {
            if (marked[rows[row]])
                selected.push_back(static_cast<int>(row));
            if (kept.current && rows[row] == *kept.current)
                current = static_cast<int>(row);
        }
    }
    if (selected.empty() && !rows.empty()) {
        // None of the selected sounds is left: the row now at the place of
        // the current one takes over.
        current = std::clamp(kept.currentRow, 0, static_cast<int>(rows.size()) - 1);
        selected.push_back(current);
    }
    if (current < 0 && !selected.empty())
        current = selected.front();
    m_tableView->setSelectedRows(selected, current);
    if (current >= 0)
        m_tableView->scrollRowToVisible(current);
}

void TableController::changeRows(const std::function<void()> &change, bool sameIndexes)
{
    KeptSelection kept = keepSelection();
    if (m_delegate)
        m_delegate->tableControllerRowsWillChange(*this);
    const RecordStorePtr before = m_items->store();
    beginResetModel();
    change();
    endResetModel();
    if (sameIndexes && kept.store == before.get()) {
        kept.store = m_items->store().get();
        if (m_delegate)
            m_delegate->tableControllerStoreExtended(*this, before, m_items->store());
    }
    restoreSelection(kept);
    if (m_delegate)
        m_delegate->tableControllerRowsDidChange(*this);
}

std::vector<SoundRecord> TableController::selectedItems() const
{
    std::vector<SoundRecord> out;
    if (!m_tableView)
        return out;
    // A line for each row past the limit: with everything of a big list
    // selected, hundreds of thousands, written at once, and put into words
    // where they are written, not here.
    std::vector<int> rows = m_tableView->selectedRowIndexes();
    const auto firstBeyond = std::upper_bound(rows.begin(), rows.end(), kMaxSelectedRow);
    for (auto it = rows.begin(); it != firstBeyond; ++it) {
        if (*it >= 0 && *it < static_cast<int>(m_items->size()))
            out.push_back((*m_items)[static_cast<size_t>(*it)]);
    }
    if (firstBeyond != rows.end()) {
        rows.erase(rows.begin(), firstBeyond);
        m_diagnostics.linesMade([rows = std::move(rows)] {
            static constexpr std::string_view kLine = ">>>>>>>>>>>>>TableConroller selectedItems row:";
            std::string beyond;
            beyond.reserve(rows.size() * (kLine.size() + 14));
            char number[16];
            for (const int row : rows) {
                beyond.append(kLine);
                const auto end = std::to_chars(number, number + sizeof number, row).ptr;
                beyond.append(number, end);
                beyond.append("!!!\n");
            }
            return beyond;
        });
    }
    return out;
}

std::vector<SoundRecord> TableController::allSelectedItems() const
{
    std::vector<SoundRecord> out;
    if (!m_tableView)
        return out;
    const std::vector<int> rows = m_tableView->selectedRowIndexes();
    out.reserve(rows.size());
    for (int row : rows) {
        if (row >= 0 && row < static_cast<int>(m_items->size()))
            out.push_back((*m_items)[static_cast<size_t>(row)]);
    }
    return out;
}

int TableController::selectedItemIndex() const
{
    return m_tableView ? m_tableView->selectedRow() : -1;
}

SoundRecord TableController::selectedItem() const
{
    const int row = selectedItemIndex();
    if (row < 0 || row >= static_cast<int>(m_items->size()))
        return {};
    return (*m_items)[static_cast<size_t>(row)];
}

void TableController::selectItemAtIndex(int row)
{
    if (!m_tableView || row < 0 || row >= static_cast<int>(m_items->size()))
        return;
    m_tableView->selectRow(row);
    m_tableView->scrollRowToVisible(row);
}

void TableController::removeItem(const SoundRecord &item)
{
    changeRows([&] {
        if (item.store() == m_items->store().get())
            std::erase(m_items->rows(), item.index());
        ++m_mutations;
    });
}

void TableController::removeItemsWithPaths(const PathSet &paths)
{
    changeRows([&] {
        m_items->removePaths(paths);
        std::erase_if(m_unplayable,
                      [&](const auto &entry) { return entry.first && paths.contains(entry.first.path()); });
        ++m_mutations;
    });
}

void TableController::markUnplayable(const SoundRecord &item, const std::string &reason)
{
    if (!item)
        return;
    m_unplayable[item] = reason;
    rowChanged(item);
}

void TableController::setPlayingItem(const SoundRecord &item)
{
    if (item == m_playing)
        return;
    const SoundRecord was = std::exchange(m_playing, item);
    rowChanged(was);
    rowChanged(item);
}

void TableController::rowChanged(const SoundRecord &item)
{
    if (!item)
        return;
    if (item.store() != m_items->store().get())
        return;
    const auto &rows = m_items->rows();
    const auto it = std::find(rows.begin(), rows.end(), item.index());
    if (it != rows.end()) {
        const int row = static_cast<int>(it - rows.begin());
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
}

const std::string *TableController::unplayableReason(const SoundRecord &item) const
{
    const auto it = m_unplayable.find(item);
    if (it != m_unplayable.end())
        return &it->second;
    // A header that could not be read tells the same.
    if (item && item.facts().state == HeaderFacts::State::Failed)
        return &item.store()->reason(item.facts().reason);
    return nullptr;
}

void TableController::recordsChanged()
{
    // One notice for every row: the view repaints only what it shows.
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    if (m_delegate)
        m_delegate->tableControllerValuesChanged(*this);
}

void TableController::reloadData()
{
    changeRows([] {});
}

QMimeData *TableController::writeRows(const std::vector<int> &rows) const
{
    std::vector<std::string> paths;
    for (int row : rows) {
        if (row < 0 || row >= static_cast<int>(m_items->size()))
            continue;
        paths.push_back((*m_items)[static_cast<size_t>(row)].path());
    }
    auto *mime = new QMimeData;
    const std::string list = uriListForPaths(paths);
    mime->setData(kUriListMimeType, QByteArray(list.data(), static_cast<qsizetype>(list.size())));
    return mime;
}

std::string TableController::identifierForColumn(int column) const
{
    if (column < 0 || column >= static_cast<int>(m_columns.size()))
        return {};
    return m_columns[static_cast<size_t>(column)];
}

int TableController::rowWhoseNameStartsWith(std::string_view prefix, int start) const
{
    const auto count = static_cast<int>(m_items->size());
    if (count == 0 || prefix.empty())
        return -1;
    const std::string folded = caseFold(prefix);
    const RecordStore &store = *m_items->store();
    const std::vector<std::uint32_t> &rows = m_items->rows();
    // The letters a name needs first, then the name itself: most rows are
    // passed over on the one number.
    const std::uint64_t letters = RecordStore::lettersOf(folded);
    start = std::clamp(start, 0, count - 1);
    for (int k = 0; k < count; ++k) {
        const int row = (start + k) % count;
        const std::uint32_t r = rows[static_cast<std::size_t>(row)];
        if ((store.nameLetters(r) & letters) == letters && store.foldedName(r).starts_with(folded))
            return row;
    }
    return -1;
}

int TableController::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_items->size());
}

int TableController::columnOf(const std::string &key) const
{
    const auto it = std::find(m_columns.begin(), m_columns.end(), key);
    return it == m_columns.end() ? -1 : static_cast<int>(it - m_columns.begin());
}

int TableController::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant TableController::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(m_items->size()))
        return {};
    const SoundRecord item = (*m_items)[static_cast<size_t>(index.row())];
    if (role == StatusRole) {
        if (unplayableReason(item))
            return static_cast<int>(RowStatus::Unplayable);
        return static_cast<int>(item == m_playing ? RowStatus::Playing : RowStatus::None);
    }
    if (role == Qt::ToolTipRole) {
        // Every tooltip is shown as text: a name or a file's own words are
        // never markup.
        const QVariant tip = data(index, PlainToolTipRole);
        return tip.isNull() ? tip : QVariant(plainTip(tip.toString()));
    }
    if (role == PlainToolTipRole) {
        if (const std::string *reason = unplayableReason(item))
            return QStringLiteral("Cannot play: %1").arg(displayText(*reason));
    }
    const std::string key = identifierForColumn(index.column());
    if (role == PlainToolTipRole && !isTraitKey(key)) {
        // What the file says of itself.
        if (const FileMetadata *m = item.store()->metadata(item.index()); m && !m->text.empty())
            return QString::fromStdString(m->text);
    }
    if (role == Qt::TextAlignmentRole
        && ((isFactKey(key) && key != kFormatKey) || (isTraitKey(key) && key != kTypeKey) || key == kDuplicateKey
            || key == kSimilarityKey))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::TextAlignmentRole && key == RecordStore::kFavouriteKey)
        return QVariant::fromValue(Qt::AlignCenter);
    if (role == Qt::AccessibleTextRole && key == RecordStore::kFavouriteKey)
        return item.store()->favourite(item.index()) ? QStringLiteral("Favourite") : QString();
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != PlainToolTipRole)
        return {};
    if (key == kDuplicateKey || key == kSimilarityKey) {
        if (role == PlainToolTipRole || key != m_listKey)
            return {};
        const auto value = listValue(item.index());
        if (!value)
            return QString();
        return key == kDuplicateKey ? QString::number(static_cast<long long>(*value))
                                    : QStringLiteral("%1 %").arg(static_cast<int>(std::lround(*value)));
    }
    if (isTraitKey(key)) {
        const SoundTraits &traits = item.store()->traits(item.index());
        if (role == PlainToolTipRole)
            return traits.state == SoundTraits::State::Failed
                ? QStringLiteral("Could not be analysed: %1").arg(displayText(item.store()->reason(traits.reason)))
                : QVariant();
        std::string text = traitText(traits, key);
        // The file's own tempo or root note, where the analysis has none.
        if (const FileMetadata *m = item.store()->metadata(item.index()); text.empty() && m) {
            if (key == kBpmKey && m->bpm > 0) {
                SoundTraits own;
                own.state = SoundTraits::State::Analysed;
                own.loop = true;
                own.bpm = m->bpm;
                text = traitText(own, kBpmKey);
            } else if (key == kNoteKey && m->rootNote >= 0) {
                text = noteText(m->rootNote);
            }
        }
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    if (isFactKey(key)) {
        if (role == PlainToolTipRole)
            return {};
        const std::string text = factText(item.facts(), key);
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    if (key == kPathKey)
        return displayText(item.path());
    const auto v = item.value(key);
    if (!v)
        return QString();
    return displayText(*v);
}

QVariant TableController::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section >= 0 && section < static_cast<int>(m_titles.size()))
        return m_titles[static_cast<size_t>(section)];
    return QString::fromStdString(identifierForColumn(section));
}

Qt::ItemFlags TableController::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled;
    if (shouldEditTableColumn(index.column(), index.row())
        || (m_renamer && index.column() == static_cast<int>(Column::Name)))
        f |= Qt::ItemIsEditable;
    return f;
}

bool TableController::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= static_cast<int>(m_items->size()))
        return false;
    const SoundRecord item = (*m_items)[static_cast<size_t>(index.row())];
    const QByteArray bytes = QFile::encodeName(value.toString());
    if (m_renamer && identifierForColumn(index.column()) == "name") {
        // The name changes once the file's does; what the user did not
        // change keeps the name's own bytes.
        m_renamer(item, editedBytes(item.name(), value.toString()));
        return true;
    }
    if (!m_isEditable)
        return false;
    item.setValue(identifierForColumn(index.column()),
                  std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
    emit dataChanged(index, index);
    if (m_delegate)
        m_delegate->tableControllerDidEditItem(*this, item);
    return true;
}

QStringList TableController::mimeTypes() const
{
    return {QString::fromLatin1(kUriListMimeType)};
}

QMimeData *TableController::mimeData(const QModelIndexList &indexes) const
{
    std::vector<int> rows;
    for (const QModelIndex &i : indexes) {
        if (std::find(rows.begin(), rows.end(), i.row()) == rows.end())
            rows.push_back(i.row());
    }
    return writeRows(rows);
}

Qt::DropActions TableController::supportedDragActions() const
{
    return Qt::CopyAction;
}

} // namespace auralist
