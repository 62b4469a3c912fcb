#include <utility>

#include "core/controller.h"
#include "core/file_type.h"
#include "core/setting.h"
#include "core/table_controller.h"

namespace auralist {

void Controller::Shown::recordMoved(const SoundRecord &record, const std::string &path)
{
    if (!record)
        return;
    record.setValue("path", path);
    record.setValue("name", std::string(lastPathComponent(path)));
    c.m_tableController.recordsChanged();
    ++c.m_itemsVersion;
    c.updateTitle();
}

void Controller::Shown::putBack(const SoundRecord &record, std::ptrdiff_t shownAt, std::ptrdiff_t listedAt)
{
    if (c.m_state.apartFrom(c.m_tableController.items()))
        c.m_state.items->insertAt(listedAt, record.index());
    c.m_tableController.insertRow(static_cast<int>(shownAt), record.index());
    ++c.m_itemsVersion;
}

SoundRecord Controller::Shown::soundHeard() const
{
    if (c.m_state.sound)
        return c.m_soundRecord;
    return c.currentTrackInRows() ? (*c.m_tableController.items())[static_cast<std::size_t>(c.m_state.currentTrack)]
                                  : SoundRecord();
}

void Controller::Shown::showAnswer(SoundList rows, const char *valuesKey,
                                   std::unordered_map<std::uint32_t, double> values)
{
    c.m_find.forget();
    c.setMatches(std::move(rows));
    c.m_tableController.setListValues(valuesKey, std::move(values));
}

void Controller::Shown::showCatalogueList(SoundList list, std::string name, const std::optional<std::string> &current)
{
    c.m_listingName = std::move(name);
    c.m_find.forget();
    c.setItems(list);
    if (!c.m_view.findText().isEmpty())
        c.find();
    c.m_reads.readHeaders();
    c.m_analysis.start();
    c.m_state.currentTrack = 0;
    if (current && !current->empty()) {
        const RecordStorePtr &store = list->store();
        const std::vector<std::uint32_t> &rows = c.m_tableController.items()->rows();
        for (std::size_t row = 0; row < rows.size(); ++row) {
            if (store->pathIs(rows[row], *current)) {
                c.m_state.currentTrack = static_cast<int>(row);
                break;
            }
        }
    }
    c.selectRow(c.m_state.currentTrack);
    c.m_view.setLabelText(QString());
    c.updateTitle();
    c.updateWaveform();
}

void Controller::Shown::stopIntake()
{
    if (c.m_state.scanning) {
        c.m_scanner.cancel();
        c.m_state.scanning = false;
    }
}

bool Controller::Shown::takeCheck(Catalogue::Listener::Changes changes)
{
    if (!changes.extended || !c.m_state.items)
        return false;
    const RecordStorePtr old = c.m_state.items->store();
    RecordStore &extended = *changes.extended;
    if (extended.size() < old->size())
        return false;
    extended.carryFrom(*old);
    for (const std::uint32_t r : changes.changed) {
        extended.setFacts(r, HeaderFacts{});
        extended.setTraits(r, SoundTraits{});
    }
    std::vector<bool> gone(old->size());
    for (const std::uint32_t r : changes.gone) {
        if (r < gone.size())
            gone[r] = true;
    }
    const auto carried = [&](const SoundList &from) {
        SoundList list = makeSoundList(changes.extended);
        for (const std::uint32_t r : from->rows()) {
            if (r >= gone.size() || !gone[r])
                list->rows().push_back(r);
        }
        return list;
    };
    SoundList items = carried(c.m_state.items);
    for (std::uint32_t r = changes.firstAdded; r < extended.size(); ++r)
        items->rows().push_back(r);
    if (c.m_state.matches && c.m_state.matches->store() != old) {
        // The table shows sounds of every folder (Find Similar): the list
        // takes the changes, for when it is shown again.
        c.m_state.items = items;
        ++c.m_itemsVersion;
        c.m_analysis.start();
        return true;
    }
    const bool filtered = c.m_state.matches && c.m_state.matches != c.m_state.items;
    SoundList shown = filtered ? carried(c.m_state.matches) : items;
    c.m_state.items = items;
    ++c.m_itemsVersion;
    c.m_state.matches = shown;
    c.m_tableController.setItemsExtending(shown);
    // New sounds take their place in the sort, and in the find.
    if (changes.firstAdded < extended.size()) {
        if (filtered)
            c.find();
        else if (!c.m_tableController.sortKey().empty())
            c.m_tableController.sortBy(c.m_tableController.sortKey(), c.m_tableController.sortAscending());
    }
    c.m_reads.readHeaders();
    c.m_analysis.start();
    c.updateTitle();
    return true;
}

void Controller::tableControllerStoreExtended(TableController &, const RecordStorePtr &from, const RecordStorePtr &to)
{
    const auto carry = [&](SoundRecord &r) {
        if (r && r.store() == from.get())
            r = SoundRecord(to, r.index());
    };
    carry(m_keptTrack);
    carry(m_soundRecord);
}

void Controller::Shown::removeRecords(const std::vector<SoundRecord> &records)
{
    // Every record of a file actually deleted leaves the rows (a file
    // taken in twice has two), and the sound list too, so that none shows
    // again; records of other files stay, however alike. One pass each,
    // however many files went.
    PathSet paths;
    for (const SoundRecord &record : records)
        paths.emplace(record.path());
    if (paths.empty())
        return;
    if (c.m_state.apartFrom(c.m_tableController.items())) {
        c.m_state.items->removePaths(paths);
        ++c.m_itemsVersion;
    }
    c.m_tableController.removeItemsWithPaths(paths);
}

} // namespace auralist
