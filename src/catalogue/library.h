#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/database.h"
#include "catalogue/mark_journal.h"
#include "catalogue/reconcile.h"
#include "catalogue/similar_sounds.h"
#include "catalogue/writer.h"
#include "core/mailbox.h"
#include "core/services.h"

namespace auralist::catalogue {

// Where the catalogue lives: $XDG_DATA_HOME/Auralist/library.db, or
// ~/.local/share/Auralist/library.db. The folder is made if need be.
std::string defaultLibraryPath();

// The catalogue for the window: requests become jobs for the writer
// thread, answers come back through a mailbox on the thread that made the
// library (the window's).
//
// Threads: made, called and destroyed on the window's thread. The writer
// thread owns the database and what the library knows of the list shown
// (m_shown); nothing else is shared. A store handed to the writer takes no
// more records: the writer only reads its paths.
class Library : public Catalogue, public Stoppable {
public:
    using Now = std::function<std::time_t()>;
    explicit Library(
        std::string path, Now now = [] { return std::time(nullptr); });
    ~Library() override;
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    void addListener(Listener *listener) override { m_listeners.push_back(listener); }
    void removeListener(Listener *listener) override { std::erase(m_listeners, listener); }
    void recordIntake(const std::vector<std::string> &roots, const RecordStorePtr &store) override;
    void recordFacts(const RecordStorePtr &store, const std::vector<FactsResult> &facts) override;
    void recordAnalysis(const RecordStorePtr &store, std::vector<AnalysisResult> results) override;
    void requestAnalyses(std::uint64_t request, const RecordStorePtr &store) override;
    void findSimilar(std::uint64_t request, const RecordStorePtr &store, std::uint32_t record, std::size_t most,
                     bool everywhere) override;
    void requestUnanalysed(std::uint64_t request, std::int64_t after, std::size_t most) override;
    void saveSearch(const std::string &name, const std::string &query) override;
    void renameSearch(std::int64_t id, const std::string &name) override;
    void removeSearch(std::int64_t id) override;
    void moveSounds(std::vector<std::pair<std::string, std::string>> moves) override;
    void setFavourite(std::vector<std::string> paths, bool on) override;
    void setTags(std::vector<std::string> paths, std::string tags) override;
    void notePlayed(const std::string &path) override;
    void requestList(std::uint64_t request, ListKind kind, const std::string &folder) override;
    void checkList(std::uint64_t request, const std::string &folder, std::vector<std::string> types) override;
    void forget(const std::string &folder, bool goneOnly) override;
    void exportMarks(const std::string &file, Done done) override;
    void importMarks(const std::string &file, Done done) override;

    // The hash of a file's decoded audio (as the analysis makes it), to
    // tell whether a file found with the fingerprint of a sound gone is
    // that sound moved. Set before the first request; without it only a
    // file renamed in place keeps a sound's marks.
    using AudioHasher = std::function<std::optional<std::uint64_t>(const std::string &path)>;
    void setAudioHasher(AudioHasher hasher) { m_audioHasher = std::move(hasher); }

    // Runs on the writer once everything posted before it has been done
    // and committed, and any failure of it reported (tests).
    void whenWritten(std::function<void()> done);

    void requestStop() override
    {
        m_stopping.store(true, std::memory_order_relaxed);
        m_writer.requestStop();
    }
    bool waitStopped(Deadline deadline) override { return m_writer.waitStopped(deadline); }

    static constexpr int kRecentlyPlayed = 500;

private:
    // Writer-thread state: the list last made for the window.
    // A listed file as it was when last looked at (size -1: gone since).
    struct Looked {
        std::int64_t size = 0;
        std::int64_t modified = 0;
    };
    struct Shown {
        std::uint64_t request = 0;
        std::string folder;
        RecordStorePtr store;
        std::vector<Looked> looked; // by store index, for a folder's list
    };
    // Calls the listener on the window's thread.
    void tell(std::function<void(Listener &)> call);
    void tellFolders(Database &db);
    void tellSearches(Database &db);
    // Brings root's entries up to date with the files seen there now
    // (looked at, not yet fingerprinted), known being what it had of them:
    // the two reconciled, what changed written; with most of it gone (of
    // knownCount, when known is only part of the root), the user is asked
    // before those are forgotten.
    Reconciled reconcileRoot(Database &db, std::int64_t root, const std::string &folder,
                             const std::vector<SoundRow> &known, std::vector<SoundRow> seen, std::size_t knownCount);
    // The descriptions of every analysed content, read once.
    SimilarSounds &similar(Database &db);
    // The labels (in similar) of store's analysed records, found anew
    // unless they are the last ones found.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> &labelsOf(Database &db, const RecordStorePtr &store);
    // Makes store's labelled records those of contents (records with their
    // content) that similar knows.
    void label(Database &db, const RecordStorePtr &store,
               const std::vector<std::pair<std::uint32_t, ContentKey>> &contents);
    std::vector<Listener::Likeness> similarAmong(Database &db, const RecordStorePtr &store, std::uint32_t record,
                                                 std::size_t most);
    RecordStorePtr similarEverywhere(Database &db, const std::string &path, std::size_t most,
                                     std::vector<Listener::Likeness> &found);
    // Brings root, known to the catalogue (knownCount sounds), up to date
    // with members of store, the sounds found there now, adding to marks
    // those of the sounds that have some.
    void recordKnown(Database &db, std::int64_t root, const std::string &folder, const RecordStore &store,
                     const std::vector<std::uint32_t> &members, std::size_t knownCount,
                     std::vector<Listener::Marks> &marks);
    // Walks folder for the sounds of types and reconciles; the number found.
    std::size_t check(Database &db, std::uint64_t request, const std::string &folder,
                      const std::vector<std::string> &types);

    std::vector<Listener *> m_listeners; // the window's thread
    Now m_now;
    AudioHasher m_audioHasher; // set before the writer's first job; called there
    Mailbox m_mailbox;
    Shown m_shown; // writer thread only
    // Read by a check's walk, which gives up when either says so.
    std::atomic<bool> m_stopping{false};
    std::atomic<std::uint64_t> m_latestList{0}; // the last list asked for
    std::vector<std::string> m_pendingForget; // writer thread only: gone sounds awaiting the user's word
    SimilarSounds m_similar; // writer thread only
    // Writer thread only: a store's records (the last asked about) with
    // their labels in m_similar.
    struct Labelled {
        RecordStorePtr store;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> labels;
    };
    Labelled m_labelled;
    // Writer thread only: the marks not yet known to be in the catalogue
    // (their sound not recorded yet, or the write met a lock), in order,
    // as the journal beside the catalogue holds them.
    MarkJournal m_journal;
    std::vector<MarkEdit> m_marks;
    bool m_marksFailed = false; // one met a lock or a failure: tried again when idle
    // Writer thread only: intakes whose recording failed (a full disk),
    // recorded again now and then until one takes.
    struct Unrecorded {
        std::vector<std::string> roots;
        RecordStorePtr store;
    };
    std::vector<Unrecorded> m_unrecorded;
    std::time_t m_recordTried = 0;
    static constexpr std::time_t kRecordAgainSeconds = 30;
    // Writes what m_marks holds that has a sound to mark, keeping the
    // order of each sound's marks; what is in the catalogue leaves them.
    // Whether a mark waits for a sound of rows (one not recorded when it
    // was made).
    bool marksWaitFor(const std::vector<SoundRow> &rows) const;
    void settleMarks(Database &db);
    void postMarks(std::vector<MarkEdit> edits, std::string what);
    Writer m_writer; // last: its thread goes first
};

} // namespace auralist::catalogue
