#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/records.h"
#include "core/services.h"
#include "core/undo.h"

namespace auralist {

class BrowserView;
class FileJobs;
class ListShown;
class TableController;

// Triage: the destination folders (setting destinations, up to nine),
// copies and moves of the selected sounds to them, renaming, regions of a
// sound written out, the list exported, and the undoing and redoing of each
// change (and of the deletions and marks the controller hands it).
//
// Threads: the window's; the file worker's answers arrive there.
class TriageFeature : public Catalogue::Listener, private ChangeContext {
public:
    struct Services {
        FileSystem &fileSystem;
        Desktop &desktop;
        Settings &settings;
        FileJobs &jobs;
        Catalogue *catalogue = nullptr; // null: none
    };
    TriageFeature(const Services &services, ListShown &list, TableController &table, BrowserView &view);
    ~TriageFeature() override;
    TriageFeature(const TriageFeature &) = delete;
    TriageFeature &operator=(const TriageFeature &) = delete;

    static constexpr std::size_t kMostDestinations = 9;
    std::vector<std::string> destinations() const;
    void setDestinations(const std::vector<std::string> &folders);
    void editDestinations();
    // Copies or moves the selected sounds to the n-th destination (0-based).
    void copyToDestination(std::size_t n) { sendToDestination(n, false); }
    void moveToDestination(std::size_t n) { sendToDestination(n, true); }
    // Renames the file of record (from the name's editor).
    void renameRecord(const SoundRecord &record, const std::string &newName);

    // Edit > Undo and Redo; a change made elsewhere joins the same stack.
    void undo() { m_changes.undo(*this); }
    void redo() { m_changes.redo(*this); }
    void remember(std::unique_ptr<Change> change) { m_changes.push(std::move(change)); }
    // The jobs on the file worker, theirs and the deletion's (Stop).
    FileJobs &jobs() { return m_jobs; }

    // Sound > Show in Folder and Copy Path, for the selected sounds.
    void showInFolder();
    void copyPaths();
    // File > Export List: the rows shown, in their order, as M3U (paths)
    // or CSV (every visible column).
    enum class ListFormat : std::uint8_t { M3u, Csv };
    // leftOut (if given): how many sounds the list could not name (an M3U
    // line cannot hold a path with a line break in it).
    std::string exportedList(ListFormat format, std::size_t *leftOut = nullptr) const;
    void exportList();

    // A region of the sound heard, from start to end (seconds), chosen on
    // the waveform: it alone plays and loops; it is written to the cache
    // folder at once, for dragging out. Cleared by clearRegion (Escape) and
    // when another sound becomes the current one.
    void setRegion(double start, double end);
    // The region's file was dropped on another program: it is kept.
    void regionDraggedOut();
    void clearRegion();
    std::optional<std::pair<double, double>> region() const;
    // The sound record is shown on the waveform (none: nothing): a region
    // of another sound goes.
    void soundShown(const SoundRecord &record);
    // sound was made from record to play: it plays the region, if it has one.
    void soundLoaded(const SoundRecord &record, Sound &sound);
    // Sound > Export Region: the region as a new file in the first destination.
    void exportRegionToDestination();
    // Frames first..last of record, written as a new file into folder;
    // done(path) once it is there (empty: it is not).
    void exportRegion(const SoundRecord &record, std::int64_t first, std::int64_t last, const std::string &folder,
                      std::function<void(const std::string &)> done = {});

    void catalogueProblem(Catalogue::Problem problem, const std::string &detail) override;

private:
    void sendToDestination(std::size_t n, bool move);
    void dropRegionFile();
    // The region's frames in its file.
    std::pair<std::int64_t, std::int64_t> regionFrames() const;

    // What the changes on the undo stack act on.
    void runFileSteps(const QString &doing, std::vector<FileStep> steps,
                      std::function<void(std::vector<FileResult>)> finished) override;
    FileSystem &files() override { return m_fs; }
    void fileChanged(const std::string &path) override;
    void recordNowAt(const SoundRecord &record, const std::string &path) override;
    void soundsMoved(std::vector<std::pair<std::string, std::string>> moves) override;
    bool isShown(const SoundRecord &record) const override;
    void putBack(const SoundRecord &record, std::ptrdiff_t shownAt, std::ptrdiff_t listedAt) override;
    void fileGone(const SoundRecord &record) override;
    void setMarks(const std::vector<MarksOf> &marks) override;
    void listChanged() override;
    void tellProblems(const QString &title, const std::vector<std::string> &problems) override;

    FileSystem &m_fs;
    Desktop &m_desktop;
    Settings &m_settings;
    FileJobs &m_jobs;
    Catalogue *m_catalogue; // null once it turned out unavailable
    Catalogue *m_listenedTo; // to the end
    ListShown &m_list;
    TableController &m_table;
    BrowserView &m_view;
    UndoStack m_changes;

    struct Region {
        SoundRecord record;
        double start = 0;
        double end = 0;
        std::string file; // written for dragging out (empty: not yet)
        FileStamp stamp;
        bool handedOn = false; // its file was dragged out to another program
    };
    std::optional<Region> m_region;
};

} // namespace auralist
