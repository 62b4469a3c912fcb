#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/header_facts.h"
#include "core/records.h"
#include "core/sound_traits.h"

namespace auralist {

class Sound;
using SoundPtr = std::shared_ptr<Sound>;

// Receives a sound's completion report.
class SoundDelegate {
public:
    virtual ~SoundDelegate() = default;
    // Arrives on the main thread once per started sound, after it has
    // stopped: finished is true only when its last frame was played.
    // The pointer keeps the sound alive for the duration of the call.
    virtual void soundDidFinishPlaying(const SoundPtr &sound, bool finished) = 0;
    // The file turned out not to be playable after all (an engine that
    // opens files away from the main thread finds out after play()); on the
    // main thread, instead of a completion report.
    virtual void soundDidFailToLoad(const SoundPtr &sound, const std::string &reason)
    {
        (void)sound;
        (void)reason;
    }
    // Where the listener is in the sound, in seconds, and its length; on
    // the main thread, about 20 times a second while it plays.
    virtual void soundPositionChanged(const SoundPtr &sound, double seconds, double length)
    {
        (void)sound;
        (void)seconds;
        (void)length;
    }
};

// One loaded sound file.
class Sound {
public:
    Sound() = default;
    virtual ~Sound() = default;
    Sound(const Sound &) = delete;
    Sound &operator=(const Sound &) = delete;

    // The delegate is not owned; it must outlive the sound's reports.
    virtual void setDelegate(SoundDelegate *delegate) = 0;
    // Starts from the beginning and returns at once.
    virtual void play() = 0;
    // Starts seconds from the beginning and returns at once.
    virtual void playFrom(double seconds) = 0;
    // Halts playing; harmless on a sound that is not playing.
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
    // Looping: at its end the sound goes on from its start, without a gap;
    // each pass is reported as played to its end, and it keeps playing.
    virtual void setLooping(bool looping) = 0;
    // Moves a playing sound to seconds from its start.
    virtual void seekTo(double seconds) = 0;
    // From the next play on, only the region from start to end (seconds)
    // plays, and a loop goes round it; end <= start: the whole sound.
    virtual void setRegion(double startSeconds, double endSeconds)
    {
        (void)startSeconds;
        (void)endSeconds;
    }
    // How loud it is (LUFS, dBTP), where the analysis knows: with matched
    // loudness on, it plays at the gain that brings it to the target.
    virtual void setLevel(double loudness, double peak)
    {
        (void)loudness;
        (void)peak;
    }
};

class SoundEngine {
public:
    SoundEngine() = default;
    virtual ~SoundEngine() = default;
    SoundEngine(const SoundEngine &) = delete;
    SoundEngine &operator=(const SoundEngine &) = delete;

    // A sound for the file at path (native bytes), or null when the file
    // cannot be decoded. Never blocks on FIFOs or devices.
    virtual SoundPtr load(const std::string &path) = 0;
    // Why the last load gave null, for the user.
    virtual std::string lastLoadError() const = 0;
    // The file that is to follow current when it plays to its end (empty:
    // none), so that it can follow without a gap. A later load() of the
    // same path gives that sound, already playing if it has begun.
    virtual void prepareNext(const SoundPtr &current, const std::string &path) = 0;
    // The level of everything played, 0 to 1; the system mixer is left alone.
    virtual void setVolume(double volume) = 0;
    // Each sound started from now on plays at the gain that brings it to
    // target (LUFS), lowered to keep its peaks under -1 dBTP (on), or as it
    // is (off). A sound whose level is not known is measured from its
    // first seconds before it starts.
    virtual void setLoudnessMatch(bool on, double target)
    {
        (void)on;
        (void)target;
    }
    // Every extension and four-character type code the engine can decode.
    // The same list on every call.
    virtual std::vector<std::string> soundUnfilteredFileTypes() const = 0;
};

class Desktop {
public:
    Desktop() = default;
    virtual ~Desktop() = default;
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    // Hands a web or mail link to the user's browser or mail program.
    virtual bool openUrl(const std::string &url) = 0;
    // Tells the desktop that the item at path changed (may do nothing).
    virtual void noteFileSystemChanged(const std::string &path) = 0;
    // Asks the file manager to show the files, selected in their folder.
    virtual void showInFolder(const std::vector<std::string> &paths) { (void)paths; }
    // Puts the paths on the clipboard, as text and as a list of files.
    virtual void copyPaths(const std::vector<std::string> &paths) { (void)paths; }
};

class Alerts {
public:
    Alerts() = default;
    virtual ~Alerts() = default;
    Alerts(const Alerts &) = delete;
    Alerts &operator=(const Alerts &) = delete;

    // Shows a modal alert and waits. Returns 1 for the default button and
    // 0 for the alternate one (an empty alternate shows one button only).
    // The message is plain text, never markup.
    virtual int runAlert(const std::string &title, const std::string &message, const std::string &defaultButton,
                         const std::string &alternateButton)
        = 0;
};

class Settings {
public:
    Settings() = default;
    virtual ~Settings() = default;
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    virtual std::optional<std::string> value(const std::string &key) const = 0;
    virtual void setValue(const std::string &key, const std::string &value) = 0;
    // Writes to disk; false when the settings could not be written.
    virtual bool sync() = 0;
};

class Http {
public:
    Http() = default;
    virtual ~Http() = default;
    Http(const Http &) = delete;
    Http &operator=(const Http &) = delete;

    // The whole body of an http or https URL, or nothing on any failure
    // (bad URL, network error, time-out, status >= 400, oversized body).
    // Synchronous, bounded by the implementation's time-outs.
    virtual std::optional<std::string> get(const std::string &url) = 0;

    // The same without waiting: done is called later with the answer, on
    // the calling thread (the window's), from its event loop. This default
    // answers at once, through get(); real implementations fetch on a
    // thread of their own.
    using Answer = std::function<void(std::optional<std::string>)>;
    // NOLINTNEXTLINE(performance-unnecessary-value-param): overrides keep it for later
    virtual void fetch(const std::string &url, Answer done) { done(get(url)); }
};

class Clock {
public:
    Clock() = default;
    virtual ~Clock() = default;
    Clock(const Clock &) = delete;
    Clock &operator=(const Clock &) = delete;

    virtual std::time_t now() const = 0;
};

enum class EntryKind : std::uint8_t { None, File, Directory, Symlink, Other, Unknown };

// What a path named when it was looked at, without following a final link.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    EntryKind kind = EntryKind::None;
    bool operator==(const FileIdentity &) const = default;
};

struct RemovalResult {
    enum class Status : std::uint8_t {
        Removed, // the file or link is gone (or in the Trash)
        Gone, // nothing was there any more
        Changed, // the path names something else now: nothing removed
        IsFolder, // folders are never removed
        Failed, // the system refused: nothing removed
    };
    Status status = Status::Failed;
    // The system's reason, for the user, when nothing was removed.
    std::string error;
    // Moved to the Trash: where the file is now, and its .trashinfo.
    std::string trashedAs;
    std::string trashInfo;
};

// What a file is, to tell later whether it is still the one an operation
// made or moved: the same file (device, inode) with the same contents as
// far as size and time can say.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp &) const = default;
};

// One thing to do to the user's files.
struct FileStep {
    enum class Kind : std::uint8_t {
        CopyInto, // path into the folder target, under a free name
        MoveInto, // the same, the source removed once the copy is verified
        Rename, // path to the name target, in its folder
        RemoveCopy, // path, if it is still the file expected
        MoveBack, // path (still the file expected) to exactly target
        ExportRegion, // frames first..last of path as a new file in the folder target
        WriteText, // target as the whole of the file path, in place of what was there
        CheckSound, // path still holds the sound whose decoded audio hashes to audio (nothing is changed)
        Remove, // path, if it is still the file identity names, to the Trash (toTrash) or off the disk
    };
    Kind kind = Kind::CopyInto;
    std::string path;
    std::string target;
    std::optional<FileStamp> expected;
    // MoveBack of a file out of the Trash: its .trashinfo, removed after.
    std::string trashInfo;
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::uint64_t audio = 0;
    // Remove: what was at path when the user was asked (none: nothing was).
    std::optional<FileIdentity> identity;
    bool toTrash = false;

    static FileStep of(Kind kind, std::string path, std::string target)
    {
        FileStep s;
        s.kind = kind;
        s.path = std::move(path);
        s.target = std::move(target);
        return s;
    }
};

struct FileResult {
    enum class Status : std::uint8_t {
        Done,
        Refused, // not done: the file is not what was expected, or the name is taken
        Failed, // not done: the system refused (the reason says why)
        Cancelled,
    };
    Status status = Status::Failed;
    std::string made; // where the file is now (Done)
    FileStamp stamp; // of what is at made
    std::string error; // for the user
    // Remove: what became of the file; in the Trash, made is where it is
    // now and trashInfo its .trashinfo.
    RemovalResult::Status removal = RemovalResult::Status::Failed;
    std::string trashInfo;
};

// Copies, moves and renames the user's files off the window's thread, one
// job after another. Nothing is ever overwritten, nothing partial is ever
// left under a final name, and a source is removed only once its copy is
// complete and verified.
class FileOperations {
public:
    FileOperations() = default;
    virtual ~FileOperations() = default;
    FileOperations(const FileOperations &) = delete;
    FileOperations &operator=(const FileOperations &) = delete;

    // Both called on the window's thread: progress now and then while the
    // job runs (steps done, bytes done of the bytes it copies), finished
    // once with a result for each step.
    using Progress = std::function<void(std::size_t steps, std::uint64_t bytes, std::uint64_t totalBytes)>;
    using Finished = std::function<void(std::vector<FileResult> results)>;
    // Returns the job's number.
    virtual std::uint64_t run(std::vector<FileStep> steps, Finished finished, Progress progress) = 0;
    // The job's step under way is undone and the rest are not begun.
    virtual void cancel(std::uint64_t job) = 0;
};

class FileSystem {
public:
    FileSystem() = default;
    virtual ~FileSystem() = default;
    FileSystem(const FileSystem &) = delete;
    FileSystem &operator=(const FileSystem &) = delete;

    using EntryCallback = std::function<void(std::string_view name, EntryKind kind)>;
    // Calls back once per entry of the folder (not "." or ".."), in the
    // order the system lists them. The kind is Unknown when the listing
    // does not say. False when the folder cannot be read.
    virtual bool listDirectory(const std::string &path, const EntryCallback &callback) = 0;
    // What is at path, following a final symbolic link; None when nothing.
    virtual EntryKind kindOf(const std::string &path) = 0;
    // The four-byte type code of the item itself (a final link is not
    // followed); 0 when it has none.
    virtual std::uint32_t fileTypeCode(const std::string &path) = 0;
    // The identity of the item at path itself (a final link is not followed).
    virtual std::optional<FileIdentity> identify(const std::string &path) = 0;
    // Removes (or moves to the Trash) the file or link at path, but only
    // when it is still what `expected` names. Never removes a folder.
    virtual RemovalResult removeFile(const std::string &path, const FileIdentity &expected, bool toTrash) = 0;
    // What the item at path is now (a final link is not followed).
    virtual std::optional<FileStamp> stamp(const std::string &path)
    {
        (void)path;
        return std::nullopt;
    }
};

// Scans what an intake was handed, away from the caller, printing the
// intake's lines and making its records.
class IntakeScanner {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        // Records found, in order; on the main thread.
        virtual void scanBatch(std::uint64_t scan, RecordStore &&batch) = 0;
        // The scan has ended (completed false: cancelled); on the main
        // thread, after its last batch.
        virtual void scanFinished(std::uint64_t scan, bool completed) = 0;
    };

    IntakeScanner() = default;
    virtual ~IntakeScanner() = default;
    IntakeScanner(const IntakeScanner &) = delete;
    IntakeScanner &operator=(const IntakeScanner &) = delete;

    // Starts scan number scan of paths, types being the supported type
    // list. A scan still running is cancelled first.
    virtual void start(std::uint64_t scan, const std::vector<std::string> &paths, const std::vector<std::string> &types,
                       Listener &listener)
        = 0;
    // Stops the scan running, if any; it reports nothing more.
    virtual void cancel() = 0;
};

// A folder (or a file taken in on its own) the catalogue remembers.
// A query kept under a name, listed in the Library pane.
struct SavedSearch {
    std::int64_t id = 0;
    std::string name;
    std::string query;
    bool operator==(const SavedSearch &) const = default;
};

struct CataloguedFolder {
    std::string path; // native bytes
    std::uint64_t sounds = 0;
    bool offline = false; // not there now (its drive unplugged)
};

// The saved catalogue, as the window's thread sees it. Every request
// returns at once; the work is done on the catalogue's own thread and the
// answers come back as calls on the listener, on the window's thread.
class Catalogue {
public:
    enum class Problem : std::uint8_t {
        Unavailable, // cannot be opened or created: running without it
        Restored, // the file was damaged and set aside; a backup took its place
        Recreated, // the file was damaged and set aside; no backup was good
        WriteFailed, // an edit could not be saved (a full disk): told once
    };
    enum class ListKind : std::uint8_t { Folder, Favourites, RecentlyPlayed, AllSounds };

    class Listener {
    public:
        virtual ~Listener() = default;
        // The remembered folders, in the order they were first taken in.
        // Answers that hand over data take it by value: each listener is
        // given its own, to keep.
        // NOLINTNEXTLINE(performance-unnecessary-value-param)
        virtual void catalogueFoldersChanged(std::vector<CataloguedFolder> folders) { (void)folders; }
        // The answer to requestList number request: a new store whose
        // records carry their header facts and marks, in the catalogue's
        // order (what is missing from disk is left out unless offline).
        // NOLINTNEXTLINE(performance-unnecessary-value-param)
        virtual void catalogueListArrived(std::uint64_t request, RecordStorePtr store)
        {
            (void)request;
            (void)store;
        }
        // The marks the catalogue has for records of store (an intake's):
        // by record index.
        struct Marks {
            std::uint32_t record = 0;
            bool favourite = false;
            std::string tags;
        };
        // NOLINTNEXTLINE(performance-unnecessary-value-param)
        virtual void catalogueMarksArrived(const RecordStorePtr &store, std::vector<Marks> marks)
        {
            (void)store;
            (void)marks;
        }
        // A check of the list shown (requestList's store, or the last
        // extension of it) found changes. extended holds every record of
        // that store at the same index, then the paths new on disk; gone
        // are records no longer there; changed, records whose files changed
        // (their header facts to be read again).
        struct Changes {
            RecordStorePtr extended;
            std::uint32_t firstAdded = 0;
            std::vector<std::uint32_t> gone;
            std::vector<std::uint32_t> changed;
        };
        // NOLINTNEXTLINE(performance-unnecessary-value-param)
        virtual void catalogueCheckFound(std::uint64_t request, Changes changes)
        {
            (void)request;
            (void)changes;
        }
        // A check found most of a folder's sounds gone: forget them?
        virtual void catalogueAsksToForget(const std::string &folder, std::uint64_t gone, std::uint64_t known)
        {
            (void)folder;
            (void)gone;
            (void)known;
        }
        // The saved searches, in the order they were saved: once the
        // catalogue opens, and after every change.
        virtual void catalogueSearchesChanged(const std::vector<SavedSearch> &searches) { (void)searches; }
        // Said once, when the catalogue opens.
        virtual void catalogueProblem(Problem problem, const std::string &detail)
        {
            (void)problem;
            (void)detail;
        }
        // The answer to requestAnalyses: what earlier analyses learned of
        // store's records (by record index), those never analysed left out.
        virtual void catalogueAnalysesArrived(std::uint64_t request, const RecordStorePtr &store,
                                              const std::vector<AnalysisResult> &results)
        {
            (void)request;
            (void)store;
            (void)results;
        }
        // The answer to requestUnanalysed: paths of sounds never analysed,
        // and the catalogue's place after the last of them (empty: none left).
        virtual void catalogueUnanalysedArrived(std::uint64_t request, std::int64_t last,
                                                const std::vector<std::string> &paths)
        {
            (void)request;
            (void)last;
            (void)paths;
        }
        // The answer to findSimilar: records of store, nearest first, each
        // with its likeness (0 to 100); empty when the sound asked about
        // is not analysed. Asked of the whole catalogue, store is one made
        // for the answer.
        using Likeness = std::pair<std::uint32_t, double>;
        virtual void catalogueSimilarFound(std::uint64_t request, const RecordStorePtr &store,
                                           const std::vector<Likeness> &found)
        {
            (void)request;
            (void)store;
            (void)found;
        }
    };

    Catalogue() = default;
    virtual ~Catalogue() = default;
    Catalogue(const Catalogue &) = delete;
    Catalogue &operator=(const Catalogue &) = delete;

    // Whoever listens is told every answer, on the thread that made the
    // catalogue, in the order added; a listener is removed before it goes.
    virtual void addListener(Listener *listener) = 0;
    virtual void removeListener(Listener *listener) = 0;
    // Records an intake of roots: every record of store (which takes no
    // more records) with its file's size, time and identity and its
    // fingerprint; known sounds keep their marks, which are handed back.
    virtual void recordIntake(const std::vector<std::string> &roots, const RecordStorePtr &store) = 0;
    // Header facts of store's records, as they arrive.
    virtual void recordFacts(const RecordStorePtr &store, const std::vector<FactsResult> &facts) = 0;
    // What the analysis learned of store's records, kept by their content.
    virtual void recordAnalysis(const RecordStorePtr &store, std::vector<AnalysisResult> results) = 0;
    // Asks what earlier analyses learned of store's records (a store that
    // takes no more records): catalogueAnalysesArrived answers.
    virtual void requestAnalyses(std::uint64_t request, const RecordStorePtr &store) = 0;
    // Up to most sounds of any folder never analysed, from the catalogue's
    // place after (0: its start) on: catalogueUnanalysedArrived answers.
    virtual void requestUnanalysed(std::uint64_t request, std::int64_t after, std::size_t most)
    {
        (void)request;
        (void)after;
        (void)most;
    }
    // The analysed sounds of store (everywhere: of the whole catalogue)
    // most like its record (by timbre, brightness, noisiness, envelope,
    // pitch and length), up to most of them: catalogueSimilarFound answers.
    virtual void findSimilar(std::uint64_t request, const RecordStorePtr &store, std::uint32_t record, std::size_t most,
                             bool everywhere)
    {
        (void)request;
        (void)store;
        (void)record;
        (void)most;
        (void)everywhere;
    }
    // Keeps query under name (in place of the one of that name, if any);
    // renames or removes a saved search.
    virtual void saveSearch(const std::string &name, const std::string &query)
    {
        (void)name;
        (void)query;
    }
    virtual void renameSearch(std::int64_t id, const std::string &name)
    {
        (void)id;
        (void)name;
    }
    virtual void removeSearch(std::int64_t id) { (void)id; }
    // Each sound at a first path has been moved or renamed to its second:
    // its favourite, tags and all go with it.
    virtual void moveSounds(std::vector<std::pair<std::string, std::string>> moves) = 0;
    virtual void setFavourite(std::vector<std::string> paths, bool on) = 0;
    virtual void setTags(std::vector<std::string> paths, std::string tags) = 0;
    virtual void notePlayed(const std::string &path) = 0;
    // The sounds of a folder (or of a list of the catalogue's own).
    virtual void requestList(std::uint64_t request, ListKind kind, const std::string &folder) = 0;
    // Checks the folder of list request against the disk, after
    // requestList: the folder is walked for the sounds of types (as an
    // intake would take them), what is there compared with what is
    // remembered, the catalogue brought up to date and the list shown told
    // what changed. A newer requestList cuts it short.
    virtual void checkList(std::uint64_t request, const std::string &folder, std::vector<std::string> types) = 0;
    // Forgets folder's entries (never its files); gone only: just the
    // sounds no longer there.
    virtual void forget(const std::string &folder, bool goneOnly) = 0;
    // Writes every mark to file as JSON / merges those of file in.
    // done(ok, message) is called on the window's thread.
    using Done = std::function<void(bool ok, std::string message)>;
    virtual void exportMarks(const std::string &file, Done done) = 0;
    virtual void importMarks(const std::string &file, Done done) = 0;
};

// Reads what a sound file's header says; safe to call from any thread.
class HeaderReader {
public:
    HeaderReader() = default;
    virtual ~HeaderReader() = default;
    HeaderReader(const HeaderReader &) = delete;
    HeaderReader &operator=(const HeaderReader &) = delete;

    // The facts of the file at path (state Read), or state Failed with the
    // reason in error. Never blocks on FIFOs or devices.
    virtual HeaderFacts read(const std::string &path, std::string &error) = 0;
    // The same, and what the file says of itself inside, into metadata.
    virtual HeaderFacts readWithMetadata(const std::string &path, std::string &error, FileMetadata &metadata)
    {
        (void)metadata;
        return read(path, error);
    }
};

} // namespace auralist
