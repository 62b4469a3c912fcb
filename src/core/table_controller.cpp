#include "core/table_controller.h"

#include <QFile>
#include <QMimeData>

#include <algorithm>
#include <numeric>
#include <utility>
#include <string_view>

#include "core/diagnostics.h"
#include "core/numeric_compare.h"
#include "core/uri_list.h"

namespace auralist {

namespace {

std::string_view valueOrEmpty(const Record &r, const std::string &key)
{
    const std::string *v = r.value(key);
    return v ? std::string_view(*v) : std::string_view();
}

} // namespace

int TableController_sortDictByValueForKey(const Record &first, const Record &second, const std::string &key)
{
    return compareNumeric(valueOrEmpty(first, key), valueOrEmpty(second, key));
}

TableController::TableController(Diagnostics &diagnostics, QObject *parent)
    : QAbstractTableModel(parent), m_diagnostics(diagnostics), m_items(makeSoundList())
{
}

void TableController::setTableView(TableView *view)
{
    beginResetModel();
    m_tableView = view;
    m_columns = view ? view->columnIdentifiers() : std::vector<std::string>();
    m_titles.clear();
    if (view) {
        for (const std::string &t : view->columnTitles())
            m_titles.push_back(QString::fromStdString(t));
    }
    endResetModel();
}

void TableController::setItems(SoundList items)
{
    m_items = items ? std::move(items) : makeSoundList();
    reloadData();
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
    sortBy(m_columns[static_cast<size_t>(column)]);
    reloadData();
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

void TableController::sortBy(const std::string &key)
{
    std::vector<SoundRecord> &items = *m_items;
    // Sort (value, position) pairs, then permute: the comparison touches a
    // compact array instead of chasing every record.
    std::vector<std::pair<std::string_view, unsigned>> keys;
    keys.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i)
        keys.emplace_back(valueOrEmpty(*items[i], key), static_cast<unsigned>(i));
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto &a, const auto &b) { return compareNumeric(a.first, b.first) < 0; });
    std::vector<SoundRecord> sorted;
    sorted.reserve(items.size());
    for (const auto &k : keys)
        sorted.push_back(std::move(items[k.second]));
    items.swap(sorted);
    ++m_mutations;
}

std::vector<SoundRecord> TableController::selectedItems() const
{
    std::vector<SoundRecord> out;
    if (!m_tableView)
        return out;
    for (int row : m_tableView->selectedRowIndexes()) {
        if (row > kMaxSelectedRow) {
            m_diagnostics.line(">>>>>>>>>>>>>TableConroller selectedItems row:" + std::to_string(row) + "!!!");
            continue;
        }
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
        return nullptr;
    return (*m_items)[static_cast<size_t>(row)];
}

void TableController::selectItemAtIndex(int row)
{
    if (!m_tableView || row < 0 || row >= static_cast<int>(m_items->size()))
        return;
    m_tableView->selectRow(row);
    m_tableView->scrollRowToVisible(row);
}

void TableController::selectItem(const SoundRecord &item)
{
    if (!item)
        return;
    const auto it = std::find_if(m_items->begin(), m_items->end(),
                                 [&](const SoundRecord &r) { return *r == *item; });
    if (it != m_items->end())
        selectItemAtIndex(static_cast<int>(it - m_items->begin()));
}

void TableController::removeSelectedItems()
{
    const std::vector<SoundRecord> selected = selectedItems();
    std::erase_if(*m_items, [&](const SoundRecord &r) {
        return std::any_of(selected.begin(), selected.end(), [&](const SoundRecord &s) { return *s == *r; });
    });
    ++m_mutations;
    reloadData();
}

void TableController::removeItem(const SoundRecord &item)
{
    std::erase(*m_items, item);
    ++m_mutations;
    reloadData();
}

void TableController::removeItemsWithPath(const std::string &path)
{
    std::erase_if(*m_items, [&](const SoundRecord &r) { return hasPath(*r, path); });
    std::erase_if(m_unplayable, [&](const auto &entry) { return hasPath(*entry.first, path); });
    ++m_mutations;
    reloadData();
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
    const auto it = std::find(m_items->begin(), m_items->end(), item);
    if (it != m_items->end()) {
        const int row = static_cast<int>(it - m_items->begin());
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
}

const std::string *TableController::unplayableReason(const SoundRecord &item) const
{
    const auto it = m_unplayable.find(item);
    return it == m_unplayable.end() ? nullptr : &it->second;
}

void TableController::reloadData()
{
    beginResetModel();
    endResetModel();
}

QMimeData *TableController::writeRows(const std::vector<int> &rows) const
{
    std::vector<std::string> paths;
    for (int row : rows) {
        if (row < 0 || row >= static_cast<int>(m_items->size()))
            continue;
        if (const std::string *path = (*m_items)[static_cast<size_t>(row)]->value("path"))
            paths.push_back(*path);
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

int TableController::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_items->size());
}

int TableController::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QString TableController::displayText(const std::string &bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QVariant TableController::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(m_items->size()))
        return {};
    const SoundRecord &item = (*m_items)[static_cast<size_t>(index.row())];
    if (role == StatusRole) {
        if (unplayableReason(item))
            return static_cast<int>(RowStatus::Unplayable);
        return static_cast<int>(item == m_playing ? RowStatus::Playing : RowStatus::None);
    }
    if (role == Qt::ToolTipRole) {
        if (const std::string *reason = unplayableReason(item))
            return QStringLiteral("Cannot play: %1").arg(displayText(*reason));
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole)
        return {};
    const std::string *v = item->value(identifierForColumn(index.column()));
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
    if (shouldEditTableColumn(index.column(), index.row()))
        f |= Qt::ItemIsEditable;
    return f;
}

bool TableController::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= static_cast<int>(m_items->size()) ||
        !m_isEditable)
        return false;
    const SoundRecord &item = (*m_items)[static_cast<size_t>(index.row())];
    const QByteArray bytes = QFile::encodeName(value.toString());
    item->setValue(identifierForColumn(index.column()), std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
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
