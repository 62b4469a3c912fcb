#pragma once

#include <QElapsedTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/services.h"

namespace auralist {

class BrowserView;
class ListShown;
class TableController;
class TriageFeature;

// The Library pane: the lists the catalogue keeps (a remembered folder,
// Favourites, Recently Played, All Sounds), shown at once and not played, a
// folder then checked against the disk in the background; the folder shown
// at the last quit reopened; folders forgotten; saved searches; favourites
// and tags on the selected sounds; and what the catalogue says went wrong.
//
// Threads: the window's; it hears the catalogue's answers itself.
class LibraryFeature : public Catalogue::Listener {
public:
    struct Services {
        FileSystem &fileSystem;
        Settings &settings;
        Alerts &alerts;
        SoundEngine &engine;
        Catalogue *catalogue = nullptr; // null: none
    };
    LibraryFeature(const Services &services, ListShown &list, TableController &table, BrowserView &view,
                   TriageFeature &triage);
    ~LibraryFeature() override;
    LibraryFeature(const LibraryFeature &) = delete;
    LibraryFeature &operator=(const LibraryFeature &) = delete;

    bool available() const { return m_catalogue != nullptr; }
    const std::vector<CataloguedFolder> &folders() const { return m_folders; }
    const std::vector<SavedSearch> &savedSearches() const { return m_searches; }

    // A list from the catalogue, shown once it arrives (the intake under
    // way gives way to it).
    void showList(Catalogue::ListKind kind, const std::string &folder);
    // Checks the folder shown again.
    void rescanFolder(const std::string &folder);
    // Forgets a folder's entries, after asking; never its files.
    void forgetFolder(const std::string &folder);
    // Started without paths: the list shown at the last quit (a setting,
    // reopenLast, on by default).
    void reopenLast();
    // An intake of roots begins: no list of the catalogue's is shown now.
    void intakeBegins(const std::vector<std::string> &roots);
    // The intake's sounds, whole: remembered, and its folder shown as such.
    void intakeTaken(const RecordStorePtr &store);
    // At the quit: current is the sound current then, current again when
    // the list comes back at the next start.
    void keepCurrent(const SoundRecord &current);
    // The record began to play (Recently Played).
    void played(const SoundRecord &record);

    // Sound > Save Search: the find field's query, under a name asked for.
    void saveSearch();
    // A saved search chosen in the pane: every sound, found by it.
    void showSavedSearch(std::int64_t id);
    void renameSavedSearch(std::int64_t id);
    void removeSavedSearch(std::int64_t id);
    // The Sound menu's marks, on the selected sounds.
    void toggleFavourite();
    void editTags();

    void catalogueFoldersChanged(std::vector<CataloguedFolder> folders) override;
    void catalogueSearchesChanged(const std::vector<SavedSearch> &searches) override;
    void catalogueListArrived(std::uint64_t request, RecordStorePtr store) override;
    void catalogueMarksArrived(const RecordStorePtr &store, std::vector<Marks> marks) override;
    void catalogueCheckFound(std::uint64_t request, Changes changes) override;
    void catalogueAsksToForget(const std::string &folder, std::uint64_t gone, std::uint64_t known) override;
    void catalogueProblem(Catalogue::Problem problem, const std::string &detail) override;

private:
    // The sounds of a folder not there now are shown greyed.
    void markOffline(const SoundList &list);
    // The catalogue's check of the folder shown against the disk.
    void startCheck();
    // A list from the catalogue, in its order, shown (it came arrived ms
    // after it was asked for).
    void showArrivedList(const SoundList &list, qint64 arrived);
    // Marks each selected record (they are all of the table's store) and
    // returns their paths, for the catalogue.
    std::vector<std::string> markSelected(const std::vector<SoundRecord> &selected,
                                          const std::function<void(RecordStore &, std::uint32_t)> &mark);

    FileSystem &m_fs;
    Settings &m_settings;
    Alerts &m_alerts;
    SoundEngine &m_engine;
    Catalogue *m_catalogue; // null once it turned out unavailable
    Catalogue *m_listenedTo; // to the end
    ListShown &m_list;
    TableController &m_table;
    BrowserView &m_view;
    TriageFeature &m_triage;
    std::vector<CataloguedFolder> m_folders;
    std::vector<SavedSearch> m_searches;
    std::uint64_t m_listRequest = 0; // the latest list asked for
    std::optional<Catalogue::ListKind> m_shownKind; // what the pane shows (none: an intake's list)
    bool m_reopening = false; // the list asked for is the one shown at the last quit
    std::string m_shownFolder;
    std::vector<std::string> m_intakeRoots; // what the intake in progress was handed
    std::string m_lastNoted; // the sound last noted as played
    bool m_toldProblem = false;
    bool m_toldWriteFailure = false;
    QElapsedTimer m_listAsked; // since the list (or its check) was asked for
};

} // namespace auralist
