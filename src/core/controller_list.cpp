#include <utility>

#include "core/controller.h"
#include "core/setting.h"
#include "core/table_controller.h"

namespace auralist {

void Controller::showCatalogueList(SoundList list, std::string name, const std::optional<std::string> &current)
{
    m_listingName = std::move(name);
    m_lastFind.clear();
    setItems(list);
    if (!m_view.findText().isEmpty())
        find();
    m_tableController.readHeaders();
    m_analysis.start();
    m_currentTrack = 0;
    if (current && !current->empty()) {
        const RecordStorePtr &store = list->store();
        const std::vector<std::uint32_t> &rows = m_tableController.items()->rows();
        for (std::size_t row = 0; row < rows.size(); ++row) {
            if (store->path(rows[row]) == *current) {
                m_currentTrack = static_cast<int>(row);
                break;
            }
        }
    }
    selectRow(m_currentTrack);
    m_view.setLabelText(QString());
    updateTitle();
    updateWaveform();
}

void Controller::stopIntake()
{
    if (m_scanning) {
        m_scanner.cancel();
        m_scanning = false;
    }
}

bool Controller::takeCheck(Catalogue::Listener::Changes changes)
{
    if (!changes.extended || !m_items)
        return false;
    const RecordStorePtr old = m_items->store();
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
    SoundList items = carried(m_items);
    for (std::uint32_t r = changes.firstAdded; r < extended.size(); ++r)
        items->rows().push_back(r);
    if (m_matches && m_matches->store() != old) {
        // The table shows sounds of every folder (Find Similar): the list
        // takes the changes, for when it is shown again.
        m_items = items;
        ++m_itemsVersion;
        m_analysis.start();
        return true;
    }
    const bool filtered = m_matches && m_matches != m_items;
    SoundList shown = filtered ? carried(m_matches) : items;
    m_items = items;
    ++m_itemsVersion;
    m_matches = shown;
    m_tableController.setItemsExtending(shown);
    // New sounds take their place in the sort, and in the find.
    if (changes.firstAdded < extended.size()) {
        if (filtered)
            find();
        else if (!m_tableController.sortKey().empty())
            m_tableController.sortBy(m_tableController.sortKey(), m_tableController.sortAscending());
    }
    m_tableController.readHeaders();
    m_analysis.start();
    updateTitle();
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

void Controller::rememberCurrentSound()
{
    const SoundRecord current
        = currentTrackInRows() ? (*m_tableController.items())[static_cast<size_t>(m_currentTrack)] : SoundRecord();
    // The sound current at the quit is current again when the list comes back.
    keep(m_settings, settings::kLastSound, current ? std::string(current.path()) : std::string());
}

} // namespace auralist
