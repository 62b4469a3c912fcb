#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <Qt>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/analysis_feature.h"
#include "core/browser_view.h"
#include "core/deletion.h"
#include "core/file_jobs.h"
#include "core/find_filter.h"
#include "core/library_feature.h"
#include "core/options.h"
#include "core/records.h"
#include "core/services.h"
#include "core/setting.h"
#include "core/sound_reads.h"
#include "core/table_view.h"
#include "core/triage_feature.h"

namespace auralist {

class Diagnostics;
class TableController;

// The one key that changes playback.
inline constexpr int kSpaceBarKey = Qt::Key_Space;
// The key that asks to delete the selected sound.
inline constexpr int kDeleteKey = Qt::Key_Delete;

// The browser's controller: intake of dropped and opened files, the sound
// list and find filter, playback and track navigation, deletion, and the
// window's lifecycle. Runs on the main thread only.
class Controller : public TableControllerDelegate,
                   public SoundDelegate,
                   public DragDelegate,
                   public IntakeScanner::Listener {
public:
    struct Services {
        SoundEngine &engine;
        FileSystem &fileSystem;
        Desktop &desktop;
        Alerts &alerts;
        Settings &settings;
        Diagnostics &diagnostics;
        // Where intakes are scanned.
        IntakeScanner &scanner;
        // The saved catalogue (null: none).
        Catalogue *catalogue = nullptr;
        // Where copies, moves and renames are carried out (null: nowhere).
        FileOperations *files = nullptr;
    };

    Controller(const Services &services, TableController &tableController, BrowserView &view);
    ~Controller() override;
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    // Lifecycle.
    void awakeFromNib();
    void appFinishedLaunching();
    void windowWillClose(bool isMainWindow);
    void appWillTerminate();
    void showBrowser();

    // Intake.
    bool acceptsDroppedFilesIn(const std::vector<std::string> &paths) override;
    void droppedFilesInWell(const std::vector<std::string> &paths) override;
    bool applicationOpenFile(const std::string &path);
    // Several paths in one request: those at which something exists are
    // taken in together, like one drop. Returns those at which nothing
    // exists, which the window's status line names.
    std::vector<std::string> openFiles(const std::vector<std::string> &paths);
    // The scan's reports.
    void scanBatch(std::uint64_t scan, RecordStore &&batch) override;
    void scanFinished(std::uint64_t scan, bool completed) override;

    // Sound list and find.
    void setItems(SoundList list);
    void setMatches(SoundList list);
    void find();

    // Playback.
    void play();
    void stop();
    void next();
    void previous();
    void home();
    void end();
    void toggleLooping();
    // Moves the playing sound by seconds (negative: back).
    void seekBy(double seconds);
    // The user pointed at seconds in the sound the waveform shows: the
    // playing sound goes there; otherwise the current row plays from there.
    void playFrom(double seconds);
    void playCurrentTrack();
    void justStop();
    void setSound(SoundPtr sound);
    // Tells the sound playing its level, once the analysis knows it.
    void tellSoundLevel();
    // How the sounds sound: analysis, matched loudness, similar sounds
    // and duplicates.
    AnalysisFeature &analysis() { return m_analysis; }

    // The switches of the menus and the volume, kept in the settings.
    Options &options() { return m_options; }

    // The Library pane: the catalogue's lists, saved searches and marks.
    LibraryFeature &library() { return m_library; }

    // Triage: destinations, copies, moves, renames, regions, the list
    // exported, and undo.
    TriageFeature &triage() { return m_triage; }
    // The headers read and the sounds analysed, for the rows listed.
    SoundReads &reads() { return m_reads; }

    // Deletion.
    void deleteSelected();
    void cancelDelete();
    void approveDelete();
    void sheetDidEnd(int returnCode);

    // Table controller delegate.
    void tableControllerSelectedItems(TableController &, const std::vector<SoundRecord> &) override;
    void doubleClick(TableController &) override;
    void keyDown(int key) override;
    void tableControllerRowsWillChange(TableController &) override;
    void tableControllerRowsDidChange(TableController &) override;
    void tableControllerDidSort(TableController &) override;
    void tableControllerValuesChanged(TableController &) override;
    void tableControllerStoreExtended(TableController &, const RecordStorePtr &from, const RecordStorePtr &to) override;
    // Sound delegate.
    void soundDidFinishPlaying(const SoundPtr &sound, bool finished) override;
    void soundDidFailToLoad(const SoundPtr &sound, const std::string &reason) override;
    void soundPositionChanged(const SoundPtr &sound, double seconds, double length) override;

    // What the browser is doing, for the window and for tests.
    struct State {
        SoundList items; // the sound list (an intake's, or the catalogue's)
        SoundList matches; // the rows shown: the sound list, or what the find kept of it
        int currentTrack = 0; // the row playback starts from and moves on from
        SoundPtr sound; // the sound loaded to play (null: none)
        bool playModeOn = false; // a sound that ends is followed by the next
        bool isLooping = false;
        bool isBrowserOpen = false; // the window's tall form
        bool scanning = false; // an intake's scan is under way
        // Whether the sound list is apart from rows, the rows shown (a find
        // shows part of it), so that what changes the rows changes it too.
        bool apartFrom(const SoundList &rows) const { return items && items != rows; }
    };
    const State &state() const { return m_state; }
    void setCurrentTrack(int track) { m_state.currentTrack = track; }
    bool isDeletePanelOpen() const { return m_deletion.isOpen(); }

    static constexpr double kShortWindowHeight = 75.0;
    // The tall form's height until the user gives it another.
    static constexpr double kTallWindowHeight = 640.0;
    static constexpr double kScrollViewHeight = 93.0;

private:
    bool currentTrackInRows() const;
    // Selects a row for the controller's own reasons (not the user's).
    void selectRow(int row);
    // Marks the record that could not be loaded; true when the run should
    // go on with the next row.
    bool couldNotLoad(const SoundRecord &record, const std::string &path, const std::string &reason);
    // Tells the engine which file follows the playing one, so it can follow
    // without a gap.
    void queueNextTrack();
    // The waveform shows the playing sound, or the current row when
    // nothing plays.
    void updateWaveform();
    // The intake's steps once its scan has ended (or was cut short).
    void completeIntake();
    // The intake taken, in its order: shown, read, analysed, played.
    void showIntake();
    void updateTitle();

    SoundEngine &m_engine;
    FileSystem &m_fs;
    Desktop &m_desktop;
    Alerts &m_alerts;
    Settings &m_settings;
    Diagnostics &m_diagnostics;
    TableController &m_tableController;
    BrowserView &m_view;
    Options m_options;

    State m_state;
    double m_tallHeight = kTallWindowHeight; // what the tall form returns to
    SoundRecord m_soundRecord; // the row the sound was made from
    bool m_soundLevelKnown = false; // the sound was told its level
    double m_position = 0; // of the sound, in seconds
    double m_startAt = 0; // where playCurrentTrack starts the sound
    bool m_selecting = false; // selectRow is at work
    SoundRecord m_keptTrack; // the current track's sound across a change of rows

    IntakeScanner &m_scanner;
    std::uint64_t m_scan = 0; // the number of the latest scan
    bool m_scanCompleted = false; // the scan ended by itself, not cut short
    std::string m_listingName; // the dropped folder's (or first file's) name
    QString m_intakeNote; // what the status line says once the intake is done
    QElapsedTimer m_titleShown; // since the count in the title last changed

    FindFilter m_find;
    // A find whose answer changes with what is learned of the sounds (a
    // length, a tag, a tempo) runs again, at most this often, as it is.
    bool m_findIsLive = false;
    QTimer m_refind;
    std::uint64_t m_itemsVersion = 0;

    // What the features beside the controller are given of the list.
    class Shown : public ListShown {
    public:
        explicit Shown(Controller &controller) : c(controller) { }
        SoundList shownItems() const override { return c.m_state.items; }
        SoundList shownMatches() const override { return c.m_state.matches; }
        void showAnswer(SoundList rows, const char *valuesKey,
                        std::unordered_map<std::uint32_t, double> values) override;
        void showFound() override { c.find(); }
        void askToDelete(std::vector<SoundRecord> records, std::vector<KeptSound> kept) override
        {
            c.m_deletion.ask(std::move(records), std::move(kept));
        }
        void analysed() override { c.tellSoundLevel(); }
        void recordMoved(const SoundRecord &record, const std::string &path) override;
        void putBack(const SoundRecord &record, std::ptrdiff_t shownAt, std::ptrdiff_t listedAt) override;
        void removeRecords(const std::vector<SoundRecord> &records) override;
        void listChanged() override { c.updateTitle(); }
        SoundRecord soundHeard() const override;
        SoundPtr loadedSound() const override { return c.m_state.sound; }
        double playedSeconds() const override { return c.m_position; }
        void showCatalogueList(SoundList list, std::string name, const std::optional<std::string> &current) override;
        void stopIntake() override;
        bool takeCheck(Catalogue::Listener::Changes changes) override;

    private:
        Controller &c;
    };

    // Made last: they are given the rest.
    Shown m_shown{*this};
    SoundReads m_reads;
    FileJobs m_jobs;
    AnalysisFeature m_analysis;
    TriageFeature m_triage;
    Deletion m_deletion;
    LibraryFeature m_library;
};

} // namespace auralist
