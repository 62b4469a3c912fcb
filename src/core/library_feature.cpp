#include <algorithm>
#include <numeric>
#include <unordered_set>
#include <utility>

#include "core/library_feature.h"

#include "core/browser_view.h"
#include "core/diagnostics.h"
#include "core/file_type.h"
#include "core/list_shown.h"
#include "core/setting.h"
#include "core/table_controller.h"
#include "core/triage_feature.h"
#include "core/undo.h"

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

LibraryFeature::LibraryFeature(const Services &services, ListShown &list, TableController &table, BrowserView &view,
                               TriageFeature &triage)
    : m_fs(services.fileSystem),
      m_settings(services.settings),
      m_alerts(services.alerts),
      m_engine(services.engine),
      m_catalogue(services.catalogue),
      m_listenedTo(services.catalogue),
      m_list(list),
      m_table(table),
      m_view(view),
      m_triage(triage)
{
    if (m_listenedTo)
        m_listenedTo->addListener(this);
}

LibraryFeature::~LibraryFeature()
{
    if (m_listenedTo)
        m_listenedTo->removeListener(this);
}

void LibraryFeature::intakeBegins(const std::vector<std::string> &roots)
{
    m_intakeRoots = roots;
    ++m_listRequest; // a list still on its way from the catalogue is not wanted now
    m_shownFolder = roots.size() == 1 ? roots.front() : std::string();
    m_shownKind.reset();
    if (m_catalogue && !roots.empty()) {
        keep(m_settings, settings::kLastShownList, "folder");
        keep(m_settings, settings::kLastShown, roots.front());
    }
}

void LibraryFeature::intakeTaken(const RecordStorePtr &store)
{
    if (!m_catalogue || !store)
        return;
    m_catalogue->recordIntake(m_intakeRoots, store);
    if (!m_shownFolder.empty()) {
        m_shownKind = Catalogue::ListKind::Folder;
        m_view.setLibrarySelection(m_shownKind, m_shownFolder);
    }
}

void LibraryFeature::keepCurrent(const SoundRecord &current)
{
    keep(m_settings, settings::kLastSound, current ? std::string(current.path()) : std::string());
}

void LibraryFeature::played(const SoundRecord &record)
{
    if (!m_catalogue || !record)
        return;
    std::string path(record.path());
    if (path != m_lastNoted) {
        m_catalogue->notePlayed(path);
        m_lastNoted = std::move(path);
    }
}

void LibraryFeature::showList(Catalogue::ListKind kind, const std::string &folder)
{
    if (!m_catalogue)
        return;
    // The intake under way gives way to the list asked for.
    m_list.stopIntake();
    m_shownKind = kind;
    m_shownFolder = kind == Catalogue::ListKind::Folder ? folder : std::string();
    keep(m_settings, settings::kLastShownList, listName(kind));
    keep(m_settings, settings::kLastShown, m_shownFolder);
    m_listAsked.start();
    m_catalogue->requestList(++m_listRequest, kind, m_shownFolder);
}

void LibraryFeature::markOffline(const SoundList &list)
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
    std::string path;
    for (const std::uint32_t r : list->rows()) {
        store->pathInto(r, path);
        if (std::any_of(offline.begin(), offline.end(), [&](const std::string &f) { return path.starts_with(f); }))
            m_table.markUnplayable(SoundRecord(store, r), "Its folder is not connected.");
    }
}

void LibraryFeature::catalogueListArrived(std::uint64_t request, RecordStorePtr store)
{
    if (request != m_listRequest || !store || !m_shownKind)
        return;
    SoundList list = makeSoundList(store);
    list->rows().resize(store->size());
    std::iota(list->rows().begin(), list->rows().end(), 0U);
    // The catalogue's own lists keep their order (the latest played first);
    // a folder, or every sound, takes the order the user sorts by.
    const qint64 arrived = m_listAsked.elapsed();
    if (*m_shownKind != Catalogue::ListKind::Folder && *m_shownKind != Catalogue::ListKind::AllSounds) {
        showArrivedList(list, arrived);
        return;
    }
    // A big one is sorted on the sorter's thread meanwhile.
    m_table.applySortThen(list, [this, list, arrived, request] {
        if (request == m_listRequest && m_shownKind)
            showArrivedList(list, arrived);
    });
}

void LibraryFeature::showArrivedList(const SoundList &list, qint64 arrived)
{
    const RecordStorePtr &store = list->store();
    const qint64 sorted = m_listAsked.elapsed();
    m_table.clearUnplayable();
    if (*m_shownKind == Catalogue::ListKind::AllSounds)
        markOffline(list);
    std::string name;
    switch (*m_shownKind) {
    case Catalogue::ListKind::Favourites: name = "Favourites"; break;
    case Catalogue::ListKind::RecentlyPlayed: name = "Recently Played"; break;
    case Catalogue::ListKind::AllSounds: name = "All Sounds"; break;
    case Catalogue::ListKind::Folder: name = std::string(lastPathComponent(m_shownFolder)); break;
    }
    std::optional<std::string> current;
    if (std::exchange(m_reopening, false))
        current = valueOf(m_settings, settings::kLastSound);
    m_list.showCatalogueList(list, std::move(name), current);
    m_view.setLibrarySelection(m_shownKind, m_shownFolder);
    debugLog("library: " + std::to_string(store->size()) + " sounds shown in " + std::to_string(m_listAsked.elapsed())
             + " ms (arrived at " + std::to_string(arrived) + " ms, sorted by " + std::to_string(sorted) + " ms)");
    if (*m_shownKind == Catalogue::ListKind::Folder)
        startCheck();
}

void LibraryFeature::startCheck()
{
    if (!m_catalogue || m_shownFolder.empty() || m_fs.kindOf(m_shownFolder) == EntryKind::None)
        return;
    m_catalogue->checkList(m_listRequest, m_shownFolder, m_engine.soundUnfilteredFileTypes());
}

void LibraryFeature::rescanFolder(const std::string &folder)
{
    if (m_shownKind == Catalogue::ListKind::Folder && m_shownFolder == folder)
        startCheck();
    else
        showList(Catalogue::ListKind::Folder, folder);
}

void LibraryFeature::catalogueCheckFound(std::uint64_t request, Changes changes)
{
    if (request != m_listRequest || !changes.extended || !m_list.shownItems())
        return;
    const std::size_t gone = changes.gone.size();
    const std::size_t changed = changes.changed.size();
    const std::uint32_t firstAdded = changes.firstAdded;
    const RecordStorePtr extended = changes.extended;
    if (!m_list.takeCheck(std::move(changes)))
        return;
    debugLog("library: the check's changes shown (" + std::to_string(gone) + " gone, "
             + std::to_string(extended->size() - firstAdded) + " new, " + std::to_string(changed) + " changed), "
             + std::to_string(m_listAsked.elapsed()) + " ms after the walk began");
}

void LibraryFeature::catalogueFoldersChanged(std::vector<CataloguedFolder> folders)
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
        showList(Catalogue::ListKind::AllSounds, {});
}

void LibraryFeature::catalogueMarksArrived(const RecordStorePtr &store, std::vector<Marks> marks)
{
    if (!store)
        return;
    for (const Marks &m : marks) {
        if (m.record >= store->size())
            continue;
        store->setFavourite(m.record, m.favourite);
        store->setTags(m.record, m.tags);
    }
    if (const SoundList items = m_list.shownItems(); items && items->store() == store)
        m_table.recordsChanged();
}

void LibraryFeature::catalogueAsksToForget(const std::string &folder, std::uint64_t gone, std::uint64_t known)
{
    const std::string name(lastPathComponent(folder));
    const std::string message = std::to_string(gone) + " of the " + std::to_string(known)
        + " sounds remembered in \u201c" + displayText(name).toStdString()
        + "\u201d are not there any more. Forget them, with their favourites and tags? If the folder is on a "
          "drive that is not connected, keep them.";
    if (m_alerts.runAlert("Forget Missing Sounds?", message, "Keep", "Forget") == 0)
        m_catalogue->forget(folder, true);
}

void LibraryFeature::catalogueProblem(Catalogue::Problem problem, const std::string &detail)
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

void LibraryFeature::forgetFolder(const std::string &folder)
{
    if (!m_catalogue)
        return;
    const std::string name(lastPathComponent(folder));
    const std::string message = "Auralist forgets the sounds of \u201c" + displayText(name).toStdString()
        + "\u201d, with their favourites and tags. The files themselves stay where they are.";
    if (m_alerts.runAlert("Forget \u201c" + displayText(name).toStdString() + "\u201d?", message, "Cancel", "Forget")
        != 0)
        return;
    m_catalogue->forget(folder, false);
    if (m_shownKind == Catalogue::ListKind::Folder && m_shownFolder == folder) {
        m_shownKind.reset();
        m_shownFolder.clear();
    }
}

std::vector<std::string> LibraryFeature::markSelected(const std::vector<SoundRecord> &selected,
                                                      const std::function<void(RecordStore &, std::uint32_t)> &mark)
{
    std::vector<std::string> paths;
    paths.reserve(selected.size());
    RecordStore &store = *m_table.items()->store();
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
    m_table.recordsChanged();
    return paths;
}

void LibraryFeature::toggleFavourite()
{
    const std::vector<SoundRecord> selected = m_table.allSelectedItems();
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

void LibraryFeature::editTags()
{
    std::vector<SoundRecord> selected = m_table.allSelectedItems();
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

void LibraryFeature::reopenLast()
{
    if (!m_catalogue || !valueOf(m_settings, settings::kReopenLast))
        return;
    const auto kind = valueOf(m_settings, settings::kLastShownList);
    if (!kind)
        return;
    m_reopening = true;
    if (*kind == "favourites")
        showList(Catalogue::ListKind::Favourites, {});
    else if (*kind == "recent")
        showList(Catalogue::ListKind::RecentlyPlayed, {});
    else if (*kind == "all")
        showList(Catalogue::ListKind::AllSounds, {});
    else if (const auto folder = valueOf(m_settings, settings::kLastShown); folder && !folder->empty())
        showList(Catalogue::ListKind::Folder, *folder);
}

void LibraryFeature::catalogueSearchesChanged(const std::vector<SavedSearch> &searches)
{
    m_searches = searches;
    m_view.setLibrarySearches(m_searches);
}

void LibraryFeature::saveSearch()
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

void LibraryFeature::showSavedSearch(std::int64_t id)
{
    const auto it = std::find_if(m_searches.begin(), m_searches.end(), [id](const auto &s) { return s.id == id; });
    if (it == m_searches.end())
        return;
    // Every sound as the catalogue has it now, found by the query once it
    // arrives.
    m_view.setFindText(QString::fromStdString(it->query));
    showList(Catalogue::ListKind::AllSounds, {});
}

void LibraryFeature::renameSavedSearch(std::int64_t id)
{
    const auto it = std::find_if(m_searches.begin(), m_searches.end(), [id](const auto &s) { return s.id == id; });
    if (it == m_searches.end() || !m_catalogue)
        return;
    const std::optional<QString> name = m_view.askForSearchName(QString::fromStdString(it->name), true);
    if (name && !name->trimmed().isEmpty())
        m_catalogue->renameSearch(id, name->trimmed().toStdString());
}

void LibraryFeature::removeSavedSearch(std::int64_t id)
{
    if (m_catalogue)
        m_catalogue->removeSearch(id);
}

} // namespace auralist
