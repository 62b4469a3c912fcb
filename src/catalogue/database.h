#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

#include "catalogue/folders.h"
#include "catalogue/mark_journal.h"
#include "core/services.h"
#include "core/sound_traits.h"

namespace auralist::catalogue {

class Statement;

// One sound as the catalogue remembers it.
struct SoundRow {
    std::string path; // native bytes
    std::int64_t size = 0;
    std::int64_t modified = 0; // nanoseconds since the epoch
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t lengthFrames = -1; // -1: not known
    int rate = 0;
    int channels = 0;
    std::string format;
    std::string fingerprint; // size and a hash of the file's ends
    bool favourite = false;
    std::string tags; // comma-separated
    std::string metadata; // what the file says of itself, packed (packMetadata); empty: nothing
    // The hash of this very file's decoded audio, once its analysis (or a
    // check of a file found moved) made it: a fingerprint only finds
    // candidates, this tells two sounds apart. None until then.
    std::optional<std::uint64_t> content;
    bool operator==(const SoundRow &) const = default;
};

// A file's own metadata as the sounds table keeps it: one text of four
// fields apart by the unit separator (description, text, tempo, root
// note), empty when there is none.
std::string packMetadata(const FileMetadata &metadata);
FileMetadata unpackMetadata(std::string_view packed);

// The key the analysis keeps a sound's content under: its packed
// fingerprint, its size and the hash of its decoded audio (files alike in
// size and ends may still differ between them).
struct ContentKey {
    std::uint64_t print = 0;
    std::int64_t size = 0;
    std::uint64_t audio = 0;
    bool operator==(const ContentKey &) const = default;
};

// A folder (or a set of files) the user took in.
struct Root {
    std::int64_t id = 0;
    std::string path;
    std::int64_t sounds = 0;
};

// The catalogue file: an SQLite database in WAL mode, its schema numbered
// by user_version and migrated forward step by step. Opening never fails
// for a damaged file: the file is moved aside (library.db.damaged-
// YYYYMMDD-HHMMSS), the newest backup is restored, or else a new catalogue
// is begun. A daily backup is taken with SQLite's online backup; the last
// three are kept.
//
// Not thread-safe: one thread owns a Database (the writer's, in the
// application) and every call is made there.
class Database {
public:
    enum class Opened {
        Fresh, // a new catalogue
        Existing, // the one there was
        Restored, // the file was damaged; the newest backup took its place
        Recreated, // the file was damaged and there was no good backup
        Unavailable, // cannot be opened or created (a folder that cannot be written)
    };
    static constexpr int kSchemaVersion = 6;
    // Of the analysis: what is stored under another is done again.
    static constexpr int kAnalysisVersion = 1;
    static constexpr int kBackupsKept = 3;

    explicit Database(std::string path);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    Opened open();
    bool isOpen() const { return m_db != nullptr; }
    // What went wrong (Unavailable), or where a damaged file was put.
    const std::string &problem() const { return m_problem; }
    const std::string &path() const { return m_path; }
    int schemaVersion();
    // Whether the file was read through for damage as it was opened: not
    // when the last start closed it whole and nothing has changed it since.
    bool checkedAtOpen() const { return m_checkedAtOpen; }

    // One transaction around several edits (each edit is a savepoint of
    // its own, whole or not at all, inside or outside one).
    bool begin();
    bool commit();
    bool inTransaction() const;
    // What the open transaction holds, committed now, and a new one begun;
    // true when everything written so far is on disk.
    bool commitNow();

    // A long piece of work is written in bounded transactions: breathe()
    // between its steps commits what the open transaction holds once it
    // is older than kBreathMilliseconds or has kBreathRows changes, lets
    // the writer run what cannot wait (marks and tags), and begins again.
    // unlocked(work) does work (reading files) with no transaction open, so
    // no other connection waits on this one meanwhile.
    static constexpr int kBreathMilliseconds = 250;
    static constexpr std::int64_t kBreathRows = 50000;
    using Breath = std::function<void(Database &)>;
    void setBreath(Breath breath) { m_breath = std::move(breath); }
    void breathe();
    void unlocked(const std::function<void()> &work);
    // How long a write waits for a lock another connection holds before
    // it gives up (and is tried again later); 0 gives up at once.
    void setLockPatience(int milliseconds) { m_lockPatience.store(milliseconds, std::memory_order_relaxed); }
    // The journal kept within its limit: what is in it copied into the
    // file and the journal started again (after a large piece and at quit).
    void checkpoint();

    // The id of the root at path, remembered now if it was not.
    std::int64_t rememberRoot(const std::string &path);
    // Makes rows the sounds of root, in one transaction: new paths added,
    // known ones updated (keeping their marks and tags), the rest removed.
    bool replaceSounds(std::int64_t root, const std::vector<SoundRow> &rows);
    // The same in steps, for a root too big for one edit: beginReplace,
    // then upsertSounds as often as needed, then pruneUnseen, with no other
    // replacement between them.
    bool beginReplace();
    bool upsertSounds(std::int64_t root, const std::vector<SoundRow> &rows);
    bool pruneUnseen(std::int64_t root);
    // Adds rows to root as new entries: for paths no root holds yet.
    bool insertSounds(std::int64_t root, const std::vector<SoundRow> &rows);
    // What a header said (length, rate, channels, format) of the sound at path.
    bool setFacts(const std::string &path, const SoundRow &facts);
    std::vector<SoundRow> soundsOf(std::int64_t root);
    // The same one at a time, for a root too big to hold twice.
    void eachSoundOf(std::int64_t root, const std::function<void(const SoundRow &)> &visit);
    // What a list of root's sounds shows, one at a time, without copying:
    // the views are good until visit returns.
    struct ListedSound {
        // The folder's id and path (none: the name is the whole path), and
        // the sound's name; path() puts them together.
        std::int64_t folder = 0;
        std::string_view folderPath;
        std::string_view name;
        std::string path() const
        {
            return folder == 0 ? std::string(name) : std::string(folderPath) + '/' + std::string(name);
        }
        std::int64_t size = 0;
        std::int64_t modified = 0;
        std::int64_t lengthFrames = -1;
        int rate = 0;
        int channels = 0;
        std::string_view format;
        bool favourite = false;
        std::string_view tags;
        std::string_view metadata;
    };
    // Those whose ids are in (after, upTo] only, given them. False when
    // the read stopped before the last of them.
    bool eachListedSoundOf(std::int64_t root, const std::function<void(const ListedSound &)> &visit,
                           std::int64_t after = 0, std::int64_t upTo = std::numeric_limits<std::int64_t>::max());
    // The root at path, if it is remembered.
    std::optional<std::int64_t> rootAt(const std::string &path);
    // Forgets a root and its sounds' entries (never files).
    bool forgetRoot(std::int64_t root);
    bool forgetSounds(const std::vector<std::string> &paths);
    // The sound at path was played at when (seconds since the epoch).
    bool notePlayed(const std::string &path, std::int64_t when);
    // The last limit sounds played, the latest first.
    std::vector<SoundRow> recentlyPlayed(int limit);
    std::vector<SoundRow> favourites();
    std::vector<Root> roots();
    // Marks the sounds at paths (in any root); true once saved.
    bool setFavourite(const std::vector<std::string> &paths, bool on);
    // Each sound at a first path is now at its second, with everything
    // known of it: under the remembered folder that holds the new path, or
    // under its own folder, remembered for it.
    bool moveSounds(const std::vector<std::pair<std::string, std::string>> &moves);
    bool setTags(const std::vector<std::string> &paths, const std::string &tags);
    // One mark on the sound at path, on its own (no savepoint; a failure
    // other than another connection's lock is noted): whether the sound was there to be marked, or the write
    // met a lock or failed.
    enum class Marked { Done, NoSuchSound, Failed };
    Marked mark(const MarkEdit &edit);
    // Every sound with a mark or tags, in any root.
    std::vector<SoundRow> markedSounds();
    // The sound at path; else, when print is not empty, one with that
    // fingerprint.
    std::optional<SoundRow> findSound(const std::string &path, const std::string &print);

    // The saved searches, and what the analysis learned: parts of the
    // same file, reached through the database.
    class Searches;
    class Analyses;
    Searches savedSearches();
    Analyses analyses();

    // Why the first edit or commit that failed since the last call failed
    // (a full disk, a file gone read-only); empty when none did.
    std::string takeWriteError();
    // How many edits or commits have failed since the file was opened.
    std::uint64_t writeErrors() const { return m_writeErrors; }

    // Takes today's backup unless there is one; keeps the newest three.
    bool backupIfDue(std::time_t now);
    std::vector<std::string> backups() const;

private:
    friend class Searches;
    friend class Analyses;
    // work (true: done) in a savepoint of its own, whole or not at all; a
    // failure is noted.
    bool inSavepoint(const std::function<bool()> &work);
    // edit's mark (its path aside) on the sound at each of paths, whole or
    // not at all.
    bool markEach(const std::vector<std::string> &paths, MarkEdit edit);
    bool openFile();
    void close();
    enum class Health { Healthy, Damaged, Busy, Failed };
    Health health();
    bool migrate();
    bool exec(const char *sql);
    bool moveAside(std::time_t now);
    bool restoreNewestBackup();
    void noteWriteError();
    bool checked(bool ok);

    static int onBusy(void *self, int attempts);
    // Commits the open transaction, lets the writer breathe, begins again.
    void pause(const std::function<void()> &meanwhile);

    std::string m_path;
    std::string m_problem;
    std::string m_writeError;
    std::uint64_t m_writeErrors = 0;
    sqlite3 *m_db = nullptr;
    bool m_closedWhole = false; // while opening: as the last start left it
    bool m_openedWhole = false;
    bool m_checkedAtOpen = false;
    Folders m_folders{m_db};
    Breath m_breath;
    std::chrono::steady_clock::time_point m_begun;
    std::int64_t m_changesAtBegin = 0;
    bool m_breathing = false;
    std::atomic<int> m_lockPatience{10000};
    std::chrono::steady_clock::time_point m_busySince;
};

// The saved searches kept in a catalogue file.
class Database::Searches {
public:
    explicit Searches(Database &db) : m_db(db) { }
    // Saved searches, in the order saved; a name saved again takes the new
    // query.
    std::vector<SavedSearch> all();
    bool saveSearch(const std::string &name, const std::string &query);
    bool renameSearch(std::int64_t id, const std::string &name);
    bool removeSearch(std::int64_t id);

private:
    Database &m_db;
};

// What the analysis learned, kept in a catalogue file by content.
class Database::Analyses {
public:
    explicit Analyses(Database &db);
    ~Analyses();
    Analyses(const Analyses &) = delete;
    Analyses &operator=(const Analyses &) = delete;
    // What the analysis learned of the sound at path, kept by its content.
    // Its statements are made at the first call and kept for the next ones
    // on the same object: keep one for a batch.
    bool setAnalysis(const std::string &path, const AnalysisResult &result);
    // Up to most sounds never analysed (by content), with their ids, in id
    // order from after on.
    std::vector<std::pair<std::int64_t, std::string>> unanalysed(std::int64_t after, std::size_t most);
    // Every sound whose content was analysed, with its content's key (none
    // for a fingerprint kept as text, from before fingerprints were packed)
    // and what was learned.
    using AnalysisVisit
        = std::function<void(std::string_view path, const std::optional<ContentKey> &, const AnalysisResult &)>;
    void eachAnalysis(const AnalysisVisit &visit);
    // Every analysed content's key and description.
    void eachDescription(const std::function<void(const ContentKey &, std::span<const float>)> &visit);
    // The content of the sound at path, where it has a packed fingerprint.
    std::optional<ContentKey> contentAt(const std::string &path);
    // Every sound of content, with what was learned of it.
    std::vector<std::pair<SoundRow, AnalysisResult>> soundsWith(const ContentKey &content);

private:
    Database &m_db;
    std::unique_ptr<Statement> m_own; // a sound's content
    std::unique_ptr<Statement> m_set; // what was learned of it
    std::unique_ptr<Statement> m_content;
};

inline Database::Searches Database::savedSearches()
{
    return Searches(*this);
}

inline Database::Analyses Database::analyses()
{
    return Analyses(*this);
}

} // namespace auralist::catalogue
