#include <algorithm>
#include <numeric>
#include <unordered_set>
#include <utility>

#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/file_type.h"
#include "core/setting.h"
#include "core/table_controller.h"

namespace auralist {

namespace {

const char *listName(Catalogue::ListKind kind)
{
    switch (kind) {
    case Catalogue::ListKind::Favourites: return "favourites";
    case Catalogue::ListKind::RecentlyPlayed: return "recent";
    case Catalogue::ListKind::AllSounds: return "all";
    case Catalogue::ListKind::Folder: break;
    }
    return "folder";
}

} // namespace

void Controller::showLibraryList(Catalogue::ListKind kind, const std::string &folder)
{
    if (!m_catalogue)
        return;
    if (m_scanning) {
        // The intake under way gives way to the list asked for.
        m_scanner.cancel();
        m_scanning = false;
    }
    m_shownKind = kind;
    m_shownFolder = kind == Catalogue::ListKind::Folder ? folder : std::string();
    keep(m_settings, settings::kLastShownList, listName(kind));
    keep(m_settings, settings::kLastShown, m_shownFolder);
    m_listAsked.start();
    m_catalogue->requestList(++m_listRequest, kind, m_shownFolder);
}

void Controller::markOffline(const SoundList &list)
{
    // The sounds of a folder that is not there now are shown greyed, as
    // sounds that cannot play are.
    std::vector<std::string> offline;
    for (const CataloguedFolder &f : m_folders) {
        if (f.offline)
            offline.push_back(f.path.ends_with('/') ? f.path : f.path + '/');
    }
    if (offline.empty())
        return;
    const RecordStorePtr &store = list->store();
    for (const std::uint32_t r : list->rows()) {
        const std::string_view path = store->path(r);
        if (std::any_of(offline.begin(), offline.end(), [&](const std::string &f) { return path.starts_with(f); }))
            m_tableController.markUnplayable(SoundRecord(store, r), "Its folder is not connected.");
    }
}

void Controller::catalogueListArrived(std::uint64_t request, RecordStorePtr store)
{
    if (request != m_listRequest || !store || !m_shownKind)
        return;
    SoundList list = makeSoundList(store);
    list->rows().resize(store->size());
    std::iota(list->rows().begin(), list->rows().end(), 0U);
    // The catalogue's own lists keep their order (the latest played first);
    // a folder, or every sound, takes the order the user sorts by.
    if (*m_shownKind == Catalogue::ListKind::Folder || *m_shownKind == Catalogue::ListKind::AllSounds)
        m_tableController.applySort(list);
    m_tableController.clearUnplayable();
    if (*m_shownKind == Catalogue::ListKind::AllSounds)
        markOffline(list);
    switch (*m_shownKind) {
    case Catalogue::ListKind::Favourites: m_listingName = "Favourites"; break;
    case Catalogue::ListKind::RecentlyPlayed: m_listingName = "Recently Played"; break;
    case Catalogue::ListKind::AllSounds: m_listingName = "All Sounds"; break;
    case Catalogue::ListKind::Folder: m_listingName = std::string(lastPathComponent(m_shownFolder)); break;
    }
    m_lastFind.clear();
    setItems(list);
    if (!m_view.findText().isEmpty())
        find();
    m_tableController.readHeaders();
    m_analysis.start();
    m_currentTrack = 0;
    if (std::exchange(m_reopening, false)) {
        if (const auto last = valueOf(m_settings, settings::kLastSound); last && !last->empty()) {
            const std::vector<std::uint32_t> &rows = m_tableController.items()->rows();
            for (std::size_t row = 0; row < rows.size(); ++row) {
                if (store->path(rows[row]) == *last) {
                    m_currentTrack = static_cast<int>(row);
                    break;
                }
            }
        }
    }
    selectRow(m_currentTrack);
    m_view.setLibrarySelection(m_shownKind, m_shownFolder);
    m_view.setLabelText(QString());
    updateTitle();
    updateWaveform();
    debugLog("library: " + std::to_string(store->size()) + " sounds shown in " + std::to_string(m_listAsked.elapsed())
             + " ms");
    if (*m_shownKind == Catalogue::ListKind::Folder)
        startCheck();
}

void Controller::startCheck()
{
    if (!m_catalogue || m_shownFolder.empty() || m_fs.kindOf(m_shownFolder) == EntryKind::None)
        return;
    m_catalogue->checkList(m_listRequest, m_shownFolder, supportedSoundTypes());
}

void Controller::rescanFolder(const std::string &folder)
{
    if (m_shownKind == Catalogue::ListKind::Folder && m_shownFolder == folder)
        startCheck();
    else
        showLibraryList(Catalogue::ListKind::Folder, folder);
}

void Controller::catalogueCheckFound(std::uint64_t request, Changes changes)
{
    if (request != m_listRequest || !changes.extended || !m_items)
        return;
    const RecordStorePtr old = m_items->store();
    RecordStore &extended = *changes.extended;
    if (extended.size() < old->size())
        return;
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
        return;
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
    debugLog("library: the check's changes shown (" + std::to_string(changes.gone.size()) + " gone, "
             + std::to_string(extended.size() - changes.firstAdded) + " new, " + std::to_string(changes.changed.size())
             + " changed), " + std::to_string(m_listAsked.elapsed()) + " ms after the walk began");
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

void Controller::catalogueFoldersChanged(std::vector<CataloguedFolder> folders)
{
    const auto same = [](const CataloguedFolder &a, const CataloguedFolder &b) {
        return a.path == b.path && a.sounds == b.sounds && a.offline == b.offline;
    };
    const bool changed
        = !m_folders.empty() && !std::equal(m_folders.begin(), m_folders.end(), folders.begin(), folders.end(), same);
    m_folders = std::move(folders);
    m_view.setLibraryFolders(m_folders);
    m_view.setLibrarySelection(m_shownKind, m_shownFolder);
    // Every sound, shown while a folder is forgotten, comes or goes: the
    // list (and the search on it) is asked for again.
    if (changed && m_shownKind == Catalogue::ListKind::AllSounds)
        showLibraryList(Catalogue::ListKind::AllSounds, {});
}

void Controller::catalogueMarksArrived(const RecordStorePtr &store, std::vector<Marks> marks)
{
    if (!store)
        return;
    for (const Marks &m : marks) {
        if (m.record >= store->size())
            continue;
        store->setFavourite(m.record, m.favourite);
        store->setTags(m.record, m.tags);
    }
    if (m_items && m_items->store() == store)
        m_tableController.recordsChanged();
}

void Controller::catalogueAsksToForget(const std::string &folder, std::uint64_t gone, std::uint64_t known)
{
    const std::string name(lastPathComponent(folder));
    const std::string message = std::to_string(gone) + " of the " + std::to_string(known)
        + " sounds remembered in \u201c" + TableController::displayText(name).toStdString()
        + "\u201d are not there any more. Forget them, with their favourites and tags? If the folder is on a "
          "drive that is not connected, keep them.";
    if (m_alerts.runAlert("Forget Missing Sounds?", message, "Keep", "Forget") == 0)
        m_catalogue->forget(folder, true);
}

void Controller::catalogueProblem(Catalogue::Problem problem, const std::string &detail)
{
    if (problem == Catalogue::Problem::WriteFailed) {
        if (m_toldWriteFailure)
            return;
        m_toldWriteFailure = true;
        // Said as it is: another program holding the file is not a full disk.
        const bool held = detail.find("locked") != std::string::npos || detail.find("busy") != std::string::npos;
        m_alerts.runAlert("Library Not Saved",
                          "A change to the library could not be saved (" + detail + "). "
                              + (held ? std::string("Another program (perhaps a second Auralist) is holding the "
                                                    "library; favourites and tags are kept and saved as soon as it "
                                                    "lets go.")
                                      : std::string("What the window shows is kept while Auralist runs; favourites "
                                                    "and tags are saved once space is free (or the folder is "
                                                    "writable) again.")),
                          "OK", "");
        return;
    }
    if (m_toldProblem)
        return;
    m_toldProblem = true;
    switch (problem) {
    case Catalogue::Problem::Unavailable:
        m_catalogue = nullptr;
        m_view.setLabelText(QStringLiteral("The library cannot be saved (%1); Auralist runs without it.")
                                .arg(QString::fromStdString(detail)));
        m_view.setLibraryFolders({});
        break;
    case Catalogue::Problem::Restored:
        m_alerts.runAlert("Library Restored",
                          "The library file was damaged. It was set aside as \u201c" + detail
                              + "\u201d and the latest backup was restored; changes made since that backup are lost.",
                          "OK", "");
        break;
    case Catalogue::Problem::WriteFailed: break;
    case Catalogue::Problem::Recreated:
        m_alerts.runAlert("Library Started Again",
                          "The library file was damaged and no backup could be used. It was set aside as \u201c"
                              + detail + "\u201d and a new library was begun.",
                          "OK", "");
        break;
    }
}

void Controller::forgetFolder(const std::string &folder)
{
    if (!m_catalogue)
        return;
    const std::string name(lastPathComponent(folder));
    const std::string message = "Auralist forgets the sounds of \u201c"
        + TableController::displayText(name).toStdString()
        + "\u201d, with their favourites and tags. The files themselves stay where they are.";
    if (m_alerts.runAlert("Forget \u201c" + TableController::displayText(name).toStdString() + "\u201d?", message,
                          "Cancel", "Forget")
        != 0)
        return;
    m_catalogue->forget(folder, false);
    if (m_shownKind == Catalogue::ListKind::Folder && m_shownFolder == folder) {
        m_shownKind.reset();
        m_shownFolder.clear();
    }
}

std::vector<std::string> Controller::markSelected(const std::vector<SoundRecord> &selected,
                                                  const std::function<void(RecordStore &, std::uint32_t)> &mark)
{
    std::vector<std::string> paths;
    paths.reserve(selected.size());
    RecordStore &store = *m_tableController.items()->store();
    // What each was and became, to be undone.
    std::vector<MarksChange::Marked> changed;
    for (const SoundRecord &r : selected) {
        MarksChange::Marked item;
        item.record = r;
        item.favouriteBefore = store.favourite(r.index());
        item.tagsBefore = store.tags(r.index());
        mark(store, r.index());
        item.favouriteAfter = store.favourite(r.index());
        item.tagsAfter = store.tags(r.index());
        if (item.favouriteAfter != item.favouriteBefore || item.tagsAfter != item.tagsBefore)
            changed.push_back(std::move(item));
        paths.emplace_back(r.path());
    }
    m_triage.remember(std::make_unique<MarksChange>(std::move(changed)));
    m_tableController.recordsChanged();
    return paths;
}

void Controller::toggleFavourite()
{
    const std::vector<SoundRecord> selected = m_tableController.allSelectedItems();
    if (selected.empty())
        return;
    // All become favourites, unless all are already.
    const bool on = !std::all_of(selected.begin(), selected.end(),
                                 [](const SoundRecord &r) { return r.store()->favourite(r.index()); });
    std::vector<std::string> paths
        = markSelected(selected, [on](RecordStore &store, std::uint32_t r) { store.setFavourite(r, on); });
    if (m_catalogue)
        m_catalogue->setFavourite(std::move(paths), on);
}

void Controller::editTags()
{
    std::vector<SoundRecord> selected = m_tableController.allSelectedItems();
    if (selected.empty())
        return;
    const std::string_view first = selected.front().store()->tags(selected.front().index());
    const bool same = std::all_of(selected.begin(), selected.end(),
                                  [&](const SoundRecord &r) { return r.store()->tags(r.index()) == first; });
    const auto answer
        = m_view.askForTags(same ? QString::fromUtf8(first.data(), static_cast<qsizetype>(first.size())) : QString(),
                            static_cast<int>(selected.size()));
    if (!answer)
        return;
    // Each tag once, trimmed, in the order given.
    std::vector<QString> tags;
    for (const QString &part : answer->split(QLatin1Char(','))) {
        const QString tag = part.simplified();
        if (!tag.isEmpty() && std::find(tags.begin(), tags.end(), tag) == tags.end())
            tags.push_back(tag);
    }
    QStringList joined(tags.begin(), tags.end());
    const std::string text = joined.join(QStringLiteral(", ")).toStdString();
    std::vector<std::string> paths
        = markSelected(selected, [&text](RecordStore &store, std::uint32_t r) { store.setTags(r, text); });
    if (m_catalogue)
        m_catalogue->setTags(std::move(paths), text);
}

void Controller::rememberCurrentSound()
{
    const SoundRecord current
        = currentTrackInRows() ? (*m_tableController.items())[static_cast<size_t>(m_currentTrack)] : SoundRecord();
    // The sound current at the quit is current again when the list comes back.
    keep(m_settings, settings::kLastSound, current ? std::string(current.path()) : std::string());
}

void Controller::reopenLast()
{
    if (!m_catalogue || !valueOf(m_settings, settings::kReopenLast))
        return;
    const auto kind = valueOf(m_settings, settings::kLastShownList);
    if (!kind)
        return;
    m_reopening = true;
    if (*kind == "favourites")
        showLibraryList(Catalogue::ListKind::Favourites, {});
    else if (*kind == "recent")
        showLibraryList(Catalogue::ListKind::RecentlyPlayed, {});
    else if (*kind == "all")
        showLibraryList(Catalogue::ListKind::AllSounds, {});
    else if (const auto folder = valueOf(m_settings, settings::kLastShown); folder && !folder->empty())
        showLibraryList(Catalogue::ListKind::Folder, *folder);
}

void Controller::catalogueSearchesChanged(const std::vector<SavedSearch> &searches)
{
    m_searches = searches;
    m_view.setLibrarySearches(m_searches);
}

void Controller::saveSearch()
{
    const QString query = m_view.findText().trimmed();
    if (!m_catalogue || query.isEmpty()) {
        m_view.setFindHint(QStringLiteral("Type a search first, then save it"));
        return;
    }
    const std::optional<QString> name = m_view.askForSearchName(query, false);
    if (!name || name->trimmed().isEmpty())
        return;
    m_catalogue->saveSearch(name->trimmed().toStdString(), query.toStdString());
}

void Controller::showSavedSearch(std::int64_t id)
{
    const auto it = std::find_if(m_searches.begin(), m_searches.end(), [id](const auto &s) { return s.id == id; });
    if (it == m_searches.end())
        return;
    // Every sound as the catalogue has it now, found by the query once it
    // arrives.
    m_view.setFindText(QString::fromStdString(it->query));
    showLibraryList(Catalogue::ListKind::AllSounds, {});
}

void Controller::renameSavedSearch(std::int64_t id)
{
    const auto it = std::find_if(m_searches.begin(), m_searches.end(), [id](const auto &s) { return s.id == id; });
    if (it == m_searches.end() || !m_catalogue)
        return;
    const std::optional<QString> name = m_view.askForSearchName(QString::fromStdString(it->name), true);
    if (name && !name->trimmed().isEmpty())
        m_catalogue->renameSearch(id, name->trimmed().toStdString());
}

void Controller::removeSavedSearch(std::int64_t id)
{
    if (m_catalogue)
        m_catalogue->removeSearch(id);
}

} // namespace auralist
