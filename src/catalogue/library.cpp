#include "catalogue/library.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <malloc.h>
#include <sys/stat.h>

#include "catalogue/exchange.h"
#include "catalogue/library_rows.h"
#include "catalogue/list_reader.h"
#include "catalogue/reconcile.h"
#include "catalogue/walk.h"
#include "core/background.h"
#include "core/diagnostics.h"
#include "core/numeric_compare.h"

namespace auralist::catalogue {

namespace fs = std::filesystem;

std::string defaultLibraryPath()
{
    std::string base;
    // NOLINTBEGIN(concurrency-mt-unsafe): nothing in Auralist sets the environment
    if (const char *data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        base = data;
    else if (const char *home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        base = "/tmp";
    // NOLINTEND(concurrency-mt-unsafe)
    const std::string folder = base + "/Auralist";
    std::error_code error;
    fs::create_directories(folder, error);
    return folder + "/library.db";
}

namespace {

// A record's header facts as the catalogue keeps them, and back.
void putFacts(SoundRow &row, const HeaderFacts &facts)
{
    if (facts.state != HeaderFacts::State::Read)
        return;
    row.lengthFrames = facts.frames;
    row.rate = static_cast<int>(facts.rate);
    row.channels = facts.channels;
    row.format = std::to_string(facts.container) + "." + std::to_string(facts.encoding);
}

// What the file at path is now: size, time, identity. False when nothing
// is there.
bool statInto(SoundRow &row)
{
    struct stat st { };
    if (::stat(row.path.c_str(), &st) != 0)
        return false;
    lookInto(row, st);
    return true;
}

std::string_view withoutTrailingSlashes(std::string_view root)
{
    while (root.size() > 1 && root.back() == '/')
        root.remove_suffix(1);
    return root;
}

bool under(std::string_view path, std::string_view root)
{
    root = withoutTrailingSlashes(root);
    return path == root || (path.starts_with(root) && path.size() > root.size() && path[root.size()] == '/');
}

// Whether every file directly in folder is under root (folder + '/' +
// name: under() of such a path depends on the folder alone, but for the
// root being that very file).
bool filesUnder(std::string_view folder, std::string_view root)
{
    root = withoutTrailingSlashes(root);
    return folder.starts_with(root) && (folder.size() == root.size() || folder[root.size()] == '/');
}

constexpr std::size_t kChunk = 8192;

// A part of a list as one connection read it: the records, what was seen
// of each (size and time of change), and whether the read reached its end.
struct ListPart {
    RecordStore store;
    std::vector<std::pair<std::int64_t, std::int64_t>> seen;
    bool whole = false;
};

using ListVisit = std::function<void(const Database::ListedSound &)>;

void readPart(ListPart &part, bool keepSeen, const std::function<bool(const ListVisit &)> &read)
{
    ListedFolders folders;
    part.whole = read([&](const Database::ListedSound &row) {
        addListed(part.store, row, folders);
        if (keepSeen)
            part.seen.emplace_back(row.size, row.modified);
    });
}

// Lists root's sounds into store in id order, telling seen(size, modified)
// of each in the same order when given: a big root in two halves at once,
// the first on the writer's connection, the second on a connection of its
// own on a helper thread (joined before it returns).
void listRoot(Database &db, std::int64_t root, RecordStore &store,
              const std::function<void(std::int64_t, std::int64_t)> &seen = {})
{
    // Below this many sounds one connection is as quick as two.
    constexpr std::int64_t kTwoHalves = 50000;
    ListReader reader(db.path());
    const auto [first, last] = reader.idsOf(root);
    // The other connection sees only what is committed.
    const bool halves = reader.ok() && last - first >= kTwoHalves && db.commitNow();
    const std::int64_t middle = halves ? first + (last - first) / 2 : ListReader::kLast;
    const bool keepSeen = static_cast<bool>(seen);
    std::array<ListPart, 2> parts;
    std::thread helper;
    if (halves) {
        helper = std::thread([&, root] {
            readPart(parts[1], keepSeen,
                     [&](const ListVisit &visit) { return reader.each(root, middle, ListReader::kLast, visit); });
        });
    }
    readPart(parts[0], keepSeen, [&](const ListVisit &visit) { return db.eachListedSoundOf(root, visit, 0, middle); });
    if (halves) {
        helper.join();
        // The other connection could not read it all: the writer's reads
        // that half again, so that no sound is left out of the list.
        if (!parts[1].whole) {
            parts[1] = ListPart();
            readPart(parts[1], keepSeen, [&](const ListVisit &visit) {
                return db.eachListedSoundOf(root, visit, middle, ListReader::kLast);
            });
        }
    }
    for (ListPart &part : parts) {
        store.append(std::move(part.store));
        for (const auto &[size, modified] : part.seen)
            seen(size, modified);
    }
}

// Runs look(i) for every i below count on a few threads at once: looking
// at files (stat, the fingerprint's reads) waits on the system, which
// answers several at a time. The threads are joined before it returns.
void lookInParallel(std::size_t count, const std::function<void(std::size_t)> &look)
{
    constexpr std::size_t kStride = 512;
    const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
    if (count < 4 * kStride || threads == 1) {
        for (std::size_t i = 0; i < count; ++i)
            look(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        becomeBackgroundThread();
        for (;;) {
            const std::size_t start = next.fetch_add(kStride);
            if (start >= count)
                return;
            for (std::size_t i = start; i < std::min(count, start + kStride); ++i)
                look(i);
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers)
        helper.join();
}

// What the files at paths are now (pathAt(i) for i below count), looked
// at on a few threads; inode 0 where nothing is there.
template <class PathAt> std::vector<SoundRow> lookAt(std::size_t count, PathAt pathAt)
{
    std::vector<SoundRow> seen(count);
    lookInParallel(count, [&](std::size_t i) {
        seen[i].path = std::string(pathAt(i));
        statInto(seen[i]);
    });
    return seen;
}

// Gives each file looked at its fingerprint: an unchanged one (the size
// and time known) keeps the one known; the others are read, on a few
// threads.
void fingerprint(std::vector<SoundRow> &seen, const std::vector<SoundRow> &known, const PathIndex &knownAt)
{
    lookInParallel(seen.size(), [&](std::size_t i) {
        SoundRow &row = seen[i];
        if (row.inode == 0)
            return;
        const auto at = knownAt.find(row.path);
        const SoundRow *before = at ? &known[*at] : nullptr;
        if (before && before->size == row.size && before->modified == row.modified && !before->fingerprint.empty())
            row.fingerprint = before->fingerprint;
        else
            row.fingerprint = fingerprintOf(row.path).value_or(std::string());
    });
}

// What the catalogue has of root at paths: looked up one by one when they
// are few, picked out of all of root's when they are many.
std::vector<SoundRow> knownRows(Database &db, std::int64_t root, const std::vector<std::string> &paths)
{
    constexpr std::size_t kOneByOne = 4096;
    std::vector<SoundRow> rows;
    if (paths.size() <= kOneByOne) {
        for (const std::string &path : paths) {
            if (auto row = db.findSound(path, {}))
                rows.push_back(std::move(*row));
        }
        return rows;
    }
    const std::unordered_set<std::string_view> wanted(paths.begin(), paths.end());
    db.eachSoundOf(root, [&](const SoundRow &row) {
        if (wanted.count(row.path))
            rows.push_back(row);
    });
    return rows;
}

// The path of a walk's entry, compared as the walk orders its entries:
// folder by folder, each folder's names as a file manager lists them.
bool inWalkOrder(std::string_view a, std::string_view b)
{
    for (;;) {
        const std::size_t aEnd = std::min(a.find('/'), a.size());
        const std::size_t bEnd = std::min(b.find('/'), b.size());
        if (const int c = compareForListing(a.substr(0, aEnd), b.substr(0, bEnd)); c != 0)
            return c < 0;
        if (aEnd == a.size() || bEnd == b.size())
            return aEnd == a.size() && bEnd != b.size();
        a.remove_prefix(aEnd + 1);
        b.remove_prefix(bEnd + 1);
    }
}

// Writes what a reconciliation changed: new and changed sounds, and the
// forgetting of those gone unless the user is to be asked first. A sound
// that is as it was is not written again.
void writeReconciled(Database &db, std::int64_t root, const std::vector<SoundRow> &known, const PathIndex &knownAt,
                     const Reconciled &result)
{
    std::vector<SoundRow> changed;
    for (const SoundRow &row : result.rows) {
        const auto at = knownAt.find(row.path);
        if (!at || !(row == known[*at]))
            changed.push_back(row);
    }
    db.beginReplace();
    // In pieces, each committed on its own when the work runs long. A
    // moved sound's new entry is written before its old one goes (its
    // marks are the new one's now), so a cut between them loses no mark.
    constexpr std::size_t kPiece = 8192;
    for (std::size_t k = 0; k < changed.size(); k += kPiece) {
        const auto from = changed.begin() + static_cast<std::ptrdiff_t>(k);
        db.upsertSounds(
            root,
            std::vector<SoundRow>(from, from + static_cast<std::ptrdiff_t>(std::min(kPiece, changed.size() - k))));
        db.breathe();
    }
    std::vector<std::string> left;
    for (const auto &[from, to] : result.moved)
        left.push_back(from);
    db.forgetSounds(left);
    if (!result.mostlyGone)
        db.forgetSounds(result.gone);
}

} // namespace

Library::Library(std::string path, Now now)
    : m_now(std::move(now)),
      m_journal(path + ".marks"),
      m_writer(
          std::move(path),
          [this](Database::Opened opened, const std::string &problem) {
              if (opened == Database::Opened::Unavailable)
                  tell([problem](Listener &l) { l.catalogueProblem(Problem::Unavailable, problem); });
              else if (opened == Database::Opened::Restored)
                  tell([problem](Listener &l) { l.catalogueProblem(Problem::Restored, problem); });
              else if (opened == Database::Opened::Recreated)
                  tell([problem](Listener &l) { l.catalogueProblem(Problem::Recreated, problem); });
          },
          [this](const std::string &why) {
              tell([why](Listener &l) { l.catalogueProblem(Problem::WriteFailed, why); });
          })
{
    // Marks left from the last run (a kill, a quit while the catalogue was
    // held) are written first.
    m_writer.post([this](Database &db) {
        m_marks = m_journal.read();
        if (!m_marks.empty())
            debugLog("catalogue: " + std::to_string(m_marks.size()) + " marks from the last run");
        settleMarks(db);
        tellFolders(db);
        tellSearches(db);
    });
    // The backup copies the file as it is: no transaction may be open.
    m_writer.post([this](Database &db) { db.backupIfDue(m_now()); }, {}, Writer::Order::Alone);
    m_writer.setIdle([this](Database &db) {
        if (m_marksFailed)
            settleMarks(db);
        if (!m_unrecorded.empty() && m_now() - m_recordTried >= kRecordAgainSeconds) {
            for (Unrecorded &again : std::exchange(m_unrecorded, {}))
                recordIntake(again.roots, again.store);
        }
        return m_marksFailed || !m_unrecorded.empty();
    });
}

Library::~Library()
{
    m_writer.requestStop();
    m_writer.waitStopped(Deadline::max());
    m_mailbox.close();
}

void Library::tell(std::function<void(Listener &)> call)
{
    m_mailbox.post([this, call = std::move(call)] {
        // A listener may come or go while it is told.
        const std::vector<Listener *> listeners = m_listeners;
        for (Listener *listener : listeners) {
            if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
                call(*listener);
        }
    });
}

void Library::tellSearches(Database &db)
{
    tell([searches = db.savedSearches().all()](Listener &l) { l.catalogueSearchesChanged(searches); });
}

void Library::saveSearch(const std::string &name, const std::string &query)
{
    m_writer.post([this, name, query](Database &db) {
        db.savedSearches().saveSearch(name, query);
        tellSearches(db);
    });
}

void Library::renameSearch(std::int64_t id, const std::string &name)
{
    m_writer.post([this, id, name](Database &db) {
        db.savedSearches().renameSearch(id, name);
        tellSearches(db);
    });
}

void Library::removeSearch(std::int64_t id)
{
    m_writer.post([this, id](Database &db) {
        db.savedSearches().removeSearch(id);
        tellSearches(db);
    });
}

void Library::tellFolders(Database &db)
{
    std::vector<CataloguedFolder> folders;
    for (const Root &root : db.roots()) {
        struct stat st { };
        folders.push_back({root.path, static_cast<std::uint64_t>(root.sounds), ::stat(root.path.c_str(), &st) != 0});
    }
    // Each listener is given its own copy.
    tell([folders = std::move(folders)](Listener &l) { l.catalogueFoldersChanged(folders); });
}

void Library::recordIntake(const std::vector<std::string> &roots, const RecordStorePtr &store)
{
    if (roots.empty() || !store)
        return;
    const auto start = Clock::now();
    auto timing = std::make_shared<long long>(0);
    m_writer.post(
        [this, roots, store, timing](Database &db) {
            *timing = static_cast<long long>(store->size());
            const std::uint64_t failedBefore = db.writeErrors();
            // Each record belongs to the first root it is under: decided
            // once a folder, and for each record only whether it is one of
            // the roots itself (a file dropped). No path is put together.
            std::vector<std::vector<std::uint32_t>> members(roots.size());
            std::unordered_map<std::uint32_t, std::size_t> firstOfFolder;
            for (std::uint32_t i = 0; i < store->size(); ++i) {
                std::size_t first = roots.size();
                if (const std::uint32_t folder = store->folderOf(i); folder != RecordStore::kNoFolder) {
                    const auto [at, added] = firstOfFolder.try_emplace(folder, roots.size());
                    for (std::size_t r = 0; added && r < roots.size(); ++r) {
                        if (filesUnder(store->folderPath(folder), roots[r])) {
                            at->second = r;
                            break;
                        }
                    }
                    first = at->second;
                }
                for (std::size_t r = 0; r < first; ++r) {
                    if (store->scannedPathIs(i, withoutTrailingSlashes(roots[r]))) {
                        first = r;
                        break;
                    }
                }
                if (first < roots.size())
                    members[first].push_back(i);
            }
            std::vector<Listener::Marks> marks;
            const std::vector<Root> remembered = db.roots();
            for (size_t r = 0; r < roots.size(); ++r) {
                const std::int64_t root = db.rememberRoot(roots[r]);
                if (root == 0)
                    continue;
                const auto pathAt = [&](std::size_t k) { return store->scannedPath(members[r][k]); };
                const auto before = std::find_if(remembered.begin(), remembered.end(),
                                                 [root](const Root &other) { return other.id == root; });
                if (before == remembered.end() || before->sounds == 0) {
                    const std::vector<SoundRow> known;
                    // A new folder: written as it is looked at, a chunk at a
                    // time; when no other root holds any of it, its entries
                    // are only added.
                    const bool alone
                        = std::none_of(roots.begin(), roots.end(),
                                       [&](const std::string &other) {
                                           return &other != &roots[r]
                                               && (under(other, roots[r]) || under(roots[r], other));
                                       })
                        && std::none_of(remembered.begin(), remembered.end(), [&](const Root &other) {
                               return other.id != root && (under(other.path, roots[r]) || under(roots[r], other.path));
                           });
                    if (!alone)
                        db.beginReplace();
                    const PathIndex none;
                    // Each chunk is committed as it is written, and the
                    // files are looked at with no transaction open: marks
                    // made meanwhile are written between chunks, and a
                    // recording cut short keeps what it has.
                    bool whole = true;
                    for (size_t k = 0; k < members[r].size(); k += kChunk) {
                        if (m_stopping.load(std::memory_order_relaxed)) {
                            whole = false;
                            break;
                        }
                        const std::size_t n = std::min(kChunk, members[r].size() - k);
                        std::vector<SoundRow> rows;
                        db.unlocked([&] {
                            rows = lookAt(n, [&](std::size_t j) { return pathAt(k + j); });
                            fingerprint(rows, known, none);
                        });
                        if (alone)
                            db.insertSounds(root, rows);
                        else
                            db.upsertSounds(root, rows);
                        if (m_marksFailed || marksWaitFor(rows))
                            settleMarks(db);
                        db.breathe();
                    }
                    if (!alone && whole)
                        db.pruneUnseen(root);
                    continue;
                }
                recordKnown(db, root, roots[r], *store, members[r], static_cast<std::size_t>(before->sounds), marks);
                settleMarks(db);
            }
            std::sort(marks.begin(), marks.end(), [](const auto &a, const auto &b) { return a.record < b.record; });
            if (!marks.empty())
                tell([store, marks = std::move(marks)](Listener &l) { l.catalogueMarksArrived(store, marks); });
            // Not all of it is on the disk (a full disk): recorded again
            // later, and the marks waiting for its sounds with it.
            if (!db.commitNow() || db.writeErrors() != failedBefore) {
                m_unrecorded.push_back({roots, store});
                m_recordTried = m_now();
            }
            tellFolders(db);
            ::malloc_trim(0);
        },
        [start, timing] {
            debugLog("catalogue: recorded " + std::to_string(*timing) + " sounds in " + std::to_string(msSince(start))
                     + " ms");
        });
}

void Library::recordFacts(const RecordStorePtr &store, const std::vector<FactsResult> &facts)
{
    if (!store || facts.empty())
        return;
    // The paths are taken here, on the window's thread, which owns the
    // store: it may be one the window still adds to.
    std::vector<std::pair<std::string, SoundRow>> rows;
    rows.reserve(facts.size());
    for (const FactsResult &f : facts) {
        if (f.facts.state != HeaderFacts::State::Read || f.record >= store->size())
            continue;
        SoundRow row;
        putFacts(row, f.facts);
        row.metadata = packMetadata(f.metadata);
        rows.emplace_back(std::string(store->path(f.record)), std::move(row));
    }
    if (rows.empty())
        return;
    m_writer.post([rows = std::move(rows)](Database &db) {
        for (const auto &[path, row] : rows)
            db.setFacts(path, row);
    });
}

void Library::moveSounds(std::vector<std::pair<std::string, std::string>> moves)
{
    m_writer.post(
        [this, moves = std::move(moves)](Database &db) {
            if (db.moveSounds(moves))
                tellFolders(db);
        },
        {}, Writer::Order::Soon);
}

void Library::notePlayed(const std::string &path)
{
    const std::int64_t when = m_now();
    m_writer.post([path, when](Database &db) { db.notePlayed(path, when); });
}

void Library::requestList(std::uint64_t request, ListKind kind, const std::string &folder)
{
    m_latestList.store(request, std::memory_order_relaxed);
    m_writer.post([this, request, kind, folder](Database &db) {
        const auto start = Clock::now();
        auto store = std::make_shared<RecordStore>();
        std::vector<Looked> looked;
        if (kind == ListKind::Favourites) {
            for (const SoundRow &row : db.favourites())
                addRow(*store, row);
        } else if (kind == ListKind::RecentlyPlayed) {
            for (const SoundRow &row : db.recentlyPlayed(kRecentlyPlayed))
                addRow(*store, row);
        } else if (kind == ListKind::AllSounds) {
            for (const Root &root : db.roots())
                listRoot(db, root.id, *store);
        } else if (const auto root = db.rootAt(folder)) {
            listRoot(db, *root, *store, [&looked](std::int64_t size, std::int64_t modified) {
                looked.push_back({size, modified});
            });
        }
        m_shown = {request, kind == ListKind::Folder ? folder : std::string(), store, std::move(looked)};
        debugLog("catalogue: listed " + std::to_string(store->size()) + " sounds in " + std::to_string(msSince(start))
                 + " ms");
        tell([request, store](Listener &l) { l.catalogueListArrived(request, store); });
    });
}

void Library::checkList(std::uint64_t request, const std::string &folder, std::vector<std::string> types)
{
    m_writer.post([this, request, folder, types = std::move(types)](Database &db) {
        const auto start = Clock::now();
        const std::size_t checked = check(db, request, folder, types);
        // A big check's scratch space goes back to the system at once.
        ::malloc_trim(0);
        debugLog("catalogue: checked " + std::to_string(checked) + " sounds in " + std::to_string(msSince(start))
                 + " ms");
    });
}

Reconciled Library::reconcileRoot(Database &db, std::int64_t root, const std::string &folder,
                                  const std::vector<SoundRow> &known, std::vector<SoundRow> seen,
                                  std::size_t knownCount)
{
    const auto start = Clock::now();
    const std::size_t count = seen.size();
    const PathIndex knownAt(known.size(), [&known](std::size_t i) { return std::string_view(known[i].path); });
    db.unlocked([&] { fingerprint(seen, known, knownAt); });
    const auto looked = Clock::now();
    // A file found with the fingerprint of a sound gone, that is not the
    // same file renamed, is that sound only when their audio is the same.
    const SameSound sameSound = [this](const SoundRow &was, const SoundRow &now) {
        if (!m_audioHasher || !was.content || m_stopping.load(std::memory_order_relaxed))
            return false;
        const auto audio = m_audioHasher(now.path);
        return audio && *audio == *was.content;
    };
    Reconciled result;
    db.unlocked([&] { result = reconcile(known, knownAt, std::move(seen), true, sameSound); });
    if (knownCount > known.size())
        result.mostlyGone = result.gone.size() * 2 > knownCount;
    const auto reconciled = Clock::now();
    writeReconciled(db, root, known, knownAt, result);
    debugLog("catalogue: reconciled " + std::to_string(count) + ": fingerprints in "
             + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(looked - start).count())
             + " ms, reconciled in "
             + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(reconciled - looked).count())
             + " ms, written in " + std::to_string(msSince(reconciled)) + " ms; " + std::to_string(result.moved.size())
             + " moved, " + std::to_string(result.gone.size()) + " gone, " + std::to_string(result.toRead.size())
             + " to read");
    if (result.mostlyGone) {
        m_pendingForget = result.gone;
        tell([folder, gone = result.gone.size(), remembered = std::max(knownCount, known.size())](Listener &l) {
            l.catalogueAsksToForget(folder, gone, remembered);
        });
    }
    return result;
}

void Library::recordKnown(Database &db, std::int64_t root, const std::string &folder, const RecordStore &store,
                          const std::vector<std::uint32_t> &members, std::size_t knownCount,
                          std::vector<Listener::Marks> &marks)
{
    // What each file is now, and where each path is among them: a few
    // dozen bytes a file, no path kept.
    struct Now {
        std::int64_t size = 0;
        std::int64_t modified = 0;
        std::uint64_t device = 0;
        std::uint64_t inode = 0; // 0: nothing there
    };
    const std::size_t count = members.size();
    const auto pathAt = [&](std::size_t k) { return store.scannedPath(members[k]); };
    std::vector<Now> now(count);
    std::optional<PathIndex> seenAt;
    db.unlocked([&] {
        lookInParallel(count, [&](std::size_t k) {
            SoundRow row;
            row.path = pathAt(k);
            if (statInto(row))
                now[k] = {row.size, row.modified, row.device, row.inode};
        });
        seenAt.emplace(count, pathAt);
    });
    // A sound found as the catalogue has it (the same file, size and time)
    // only brings its marks; every other known one is reconciled.
    std::vector<std::uint8_t> same(count);
    std::vector<SoundRow> known;
    db.eachSoundOf(root, [&](const SoundRow &row) {
        if (const auto at = seenAt->find(row.path)) {
            const Now &file = now[*at];
            if (!same[*at] && file.inode != 0 && file.inode == row.inode && file.device == row.device
                && file.size == row.size && file.modified == row.modified && !row.fingerprint.empty()) {
                same[*at] = 1;
                if (row.favourite || !row.tags.empty())
                    marks.push_back({members[*at], row.favourite, row.tags});
                return;
            }
        }
        known.push_back(row);
    });
    seenAt.reset();
    std::vector<SoundRow> seen;
    std::vector<std::uint32_t> seenOf; // each one's record
    for (std::size_t k = 0; k < count; ++k) {
        if (same[k])
            continue;
        SoundRow row;
        row.path = pathAt(k);
        row.size = now[k].size;
        row.modified = now[k].modified;
        row.device = now[k].device;
        row.inode = now[k].inode;
        seen.push_back(std::move(row));
        seenOf.push_back(members[k]);
    }
    if (seen.empty() && known.empty())
        return; // all of it as it was
    std::vector<Now>().swap(now);
    const Reconciled found = reconcileRoot(db, root, folder, known, std::move(seen), knownCount);
    for (std::size_t k = 0; k < found.rows.size(); ++k) {
        if (found.rows[k].favourite || !found.rows[k].tags.empty())
            marks.push_back({seenOf[k], found.rows[k].favourite, found.rows[k].tags});
    }
}

std::size_t Library::check(Database &db, std::uint64_t request, const std::string &folder,
                           const std::vector<std::string> &types)
{
    const auto root = db.rootAt(folder);
    if (!root)
        return 0;
    const bool shownHere = request == m_shown.request && m_shown.store && m_shown.folder == folder
        && m_shown.looked.size() == m_shown.store->size();
    // The folder is walked while the list shown is indexed (or, for a list
    // not shown, what is known of it read): the one waits on the disk, the
    // other does not.
    const auto start = Clock::now();
    std::optional<Found> seen;
    std::thread walker([&] {
        seen = findSounds(folder, types, [this, request] {
            return m_stopping.load(std::memory_order_relaxed)
                || m_latestList.load(std::memory_order_relaxed) != request;
        });
    });
    const RecordStore empty;
    const RecordStore &shown = shownHere ? *m_shown.store : empty;
    const PathIndex shownAt = indexOf(shown);
    std::vector<SoundRow> known;
    if (!shownHere)
        known = db.soundsOf(*root);
    walker.join();
    if (!seen) {
        // Not there (offline), or a newer list was asked for meanwhile.
        tellFolders(db);
        return 0;
    }
    debugLog("catalogue: walked " + std::to_string(seen->size()) + " sounds in " + std::to_string(msSince(start))
             + " ms");
    const std::size_t count = seen->size();
    if (!shownHere) {
        std::vector<SoundRow> rows;
        rows.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            rows.push_back(seen->row(i));
        seen.reset();
        reconcileRoot(db, *root, folder, known, std::move(rows), 0);
        tellFolders(db);
        return count;
    }

    // Only what differs from the list shown is reconciled: the files not
    // where they were listed or not as they were, and the listed sounds
    // not found unchanged.
    std::vector<Looked> &looked = m_shown.looked;
    std::vector<std::uint8_t> state(shown.size()); // 1: found as it was, 2: found changed
    std::vector<std::uint8_t> differs(seen->size());
    lookInParallel(seen->size(), [&](std::size_t i) {
        const auto at = shownAt.find(seen->path(i));
        if (at && looked[*at].size == seen->fileSize(i) && looked[*at].modified == seen->modified(i)) {
            state[*at] = 1;
            return;
        }
        differs[i] = 1;
        if (at)
            state[*at] = 2;
    });
    std::vector<SoundRow> seenNow;
    for (std::size_t i = 0; i < seen->size(); ++i) {
        if (differs[i])
            seenNow.push_back(seen->row(i));
    }
    seen.reset();
    std::vector<std::string> knownPaths;
    std::size_t present = 0;
    for (std::uint32_t i = 0; i < shown.size(); ++i) {
        if (looked[i].size < 0)
            continue;
        ++present;
        if (state[i] != 1)
            knownPaths.emplace_back(shown.scannedPath(i));
    }
    if (seenNow.empty() && knownPaths.empty()) {
        tellFolders(db);
        return count; // as it was: every sound found where it was listed, unchanged
    }
    known = knownRows(db, *root, knownPaths);
    const Reconciled result = reconcileRoot(db, *root, folder, known, std::move(seenNow), present);
    tellFolders(db);

    // What the list shown has to take in.
    Listener::Changes changes;
    const auto listed = [&](const std::string &path, std::vector<std::uint32_t> &into) {
        if (const auto at = shownAt.find(path))
            into.push_back(*at);
    };
    for (const std::string &path : result.gone)
        listed(path, changes.gone);
    for (const auto &[from, to] : result.moved)
        listed(from, changes.gone);
    for (const std::string &path : result.toRead)
        listed(path, changes.changed);
    std::sort(changes.gone.begin(), changes.gone.end());
    std::sort(changes.changed.begin(), changes.changed.end());
    std::vector<const SoundRow *> added;
    for (const SoundRow &row : result.rows) {
        if (!shownAt.find(row.path))
            added.push_back(&row);
    }
    // New ones follow the others as a walk would have found them.
    std::sort(added.begin(), added.end(),
              [](const SoundRow *a, const SoundRow *b) { return inWalkOrder(a->path, b->path); });
    if (changes.gone.empty() && changes.changed.empty() && added.empty())
        return count;
    // A store that holds every record of the one shown at the same index,
    // then the new ones: the window keeps its selection by index.
    auto extended = std::make_shared<RecordStore>();
    for (std::uint32_t i = 0; i < shown.size(); ++i)
        extended->add(shown.scannedPath(i));
    changes.firstAdded = extended->size();
    for (const SoundRow *row : added) {
        const std::uint32_t i = extended->add(row->path);
        if (row->favourite)
            extended->setFavourite(i, true);
        if (!row->tags.empty())
            extended->setTags(i, row->tags);
    }
    // What the library knows of the list shown follows it.
    for (const std::uint32_t i : changes.gone)
        looked[i].size = -1;
    for (const SoundRow &row : result.rows) {
        if (const auto at = shownAt.find(row.path))
            looked[*at] = {row.size, row.modified};
    }
    for (const SoundRow *row : added)
        looked.push_back({row->size, row->modified});
    changes.extended = extended;
    m_shown.store = extended;
    tell([request, changes = std::move(changes)](Listener &l) { l.catalogueCheckFound(request, changes); });
    return count;
}

void Library::forget(const std::string &folder, bool goneOnly)
{
    m_writer.post([this, folder, goneOnly](Database &db) {
        if (goneOnly) {
            std::vector<std::string> paths;
            for (const std::string &path : m_pendingForget) {
                if (under(path, folder))
                    paths.push_back(path);
            }
            db.forgetSounds(paths);
            m_pendingForget.clear();
        } else if (const auto root = db.rootAt(folder)) {
            db.forgetRoot(*root);
        }
        tellFolders(db);
    });
}

void Library::whenWritten(std::function<void()> done)
{
    m_writer.post([](Database &) {}, std::move(done));
}

} // namespace auralist::catalogue
