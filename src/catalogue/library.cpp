#include "catalogue/library.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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
#include "catalogue/reconcile.h"
#include "core/diagnostics.h"

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

HeaderFacts factsOf(const SoundRow &row)
{
    HeaderFacts facts;
    facts.size = static_cast<std::uint64_t>(std::max<std::int64_t>(row.size, 0));
    unsigned container = 0;
    unsigned encoding = 0;
    if (row.lengthFrames < 0 || std::sscanf(row.format.c_str(), "%u.%u", &container, &encoding) != 2)
        return facts;
    facts.frames = row.lengthFrames;
    facts.rate = static_cast<std::uint32_t>(std::max(row.rate, 0));
    facts.channels = static_cast<std::uint16_t>(std::clamp(row.channels, 0, 65535));
    facts.container = static_cast<std::uint8_t>(std::min(container, 255U));
    facts.encoding = static_cast<std::uint8_t>(std::min(encoding, 255U));
    facts.state = HeaderFacts::State::Read;
    return facts;
}

// What the file at path is now: size, time, identity. False when nothing
// is there.
bool statInto(SoundRow &row)
{
    struct stat st { };
    if (::stat(row.path.c_str(), &st) != 0)
        return false;
    row.size = st.st_size;
    row.modified = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    row.device = st.st_dev;
    row.inode = st.st_ino;
    return true;
}

// The row for a path found on disk; known: what the catalogue had under
// that path (null: nothing). An unchanged file keeps its fingerprint.
SoundRow seenRow(std::string_view path, const SoundRow *known)
{
    SoundRow row;
    row.path = std::string(path);
    if (!statInto(row))
        return row;
    if (known && known->size == row.size && known->modified == row.modified && !known->fingerprint.empty())
        row.fingerprint = known->fingerprint;
    else
        row.fingerprint = fingerprintOf(row.path).value_or(std::string());
    return row;
}

bool under(std::string_view path, std::string_view root)
{
    while (root.size() > 1 && root.back() == '/')
        root.remove_suffix(1);
    return path == root || (path.starts_with(root) && path.size() > root.size() && path[root.size()] == '/');
}

constexpr std::size_t kChunk = 8192;

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

using KnownByPath = std::unordered_map<std::string_view, const SoundRow *>;

KnownByPath byPathOf(const std::vector<SoundRow> &known)
{
    KnownByPath byPath;
    byPath.reserve(known.size());
    for (const SoundRow &k : known)
        byPath.emplace(k.path, &k);
    return byPath;
}

// Writes what a reconciliation changed: new and changed sounds, and the
// forgetting of those gone unless the user is to be asked first. A sound
// that is as it was is not written again.
void writeReconciled(Database &db, std::int64_t root, const KnownByPath &known, const Reconciled &result)
{
    std::vector<SoundRow> changed;
    for (const SoundRow &row : result.rows) {
        const auto it = known.find(row.path);
        if (it == known.end() || !(row == *it->second))
            changed.push_back(row);
    }
    db.beginReplace();
    // A moved sound's old entry goes with the new one written: its marks
    // are the new one's now.
    std::vector<std::string> left;
    for (const auto &[from, to] : result.moved)
        left.push_back(from);
    db.forgetSounds(left);
    db.upsertSounds(root, changed);
    if (!result.mostlyGone)
        db.forgetSounds(result.gone);
}

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

Library::Library(std::string path, Now now)
    : m_now(std::move(now)),
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
    m_writer.post([this](Database &db) {
        db.backupIfDue(m_now());
        tellFolders(db);
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
        if (m_listener)
            call(*m_listener);
    });
}

void Library::tellFolders(Database &db)
{
    std::vector<CataloguedFolder> folders;
    for (const Root &root : db.roots()) {
        struct stat st { };
        folders.push_back({root.path, static_cast<std::uint64_t>(root.sounds), ::stat(root.path.c_str(), &st) != 0});
    }
    tell([folders = std::move(folders)](Listener &l) mutable { l.catalogueFoldersChanged(std::move(folders)); });
}

namespace {

void addRow(RecordStore &store, const SoundRow &row)
{
    const std::uint32_t i = store.add(row.path);
    const HeaderFacts facts = factsOf(row);
    if (facts.state == HeaderFacts::State::Read)
        store.setFacts(i, facts);
    if (row.favourite)
        store.setFavourite(i, true);
    if (!row.tags.empty())
        store.setTags(i, row.tags);
}

} // namespace

void Library::recordIntake(const std::vector<std::string> &roots, const RecordStorePtr &store)
{
    if (roots.empty() || !store)
        return;
    const auto start = Clock::now();
    auto timing = std::make_shared<long long>(0);
    m_writer.post(
        [this, roots, store, timing](Database &db) {
            *timing = static_cast<long long>(store->size());
            // Each record belongs to the first root it is under.
            std::vector<std::vector<std::uint32_t>> members(roots.size());
            for (std::uint32_t i = 0; i < store->size(); ++i) {
                const std::string_view path = store->scannedPath(i);
                for (size_t r = 0; r < roots.size(); ++r) {
                    if (under(path, roots[r])) {
                        members[r].push_back(i);
                        break;
                    }
                }
            }
            std::vector<Listener::Marks> marks;
            for (size_t r = 0; r < roots.size(); ++r) {
                const std::int64_t root = db.rememberRoot(roots[r]);
                if (root == 0)
                    continue;
                std::vector<SoundRow> known = db.soundsOf(root);
                if (known.empty()) {
                    // A new folder: written as it is read, a chunk at a time.
                    db.beginReplace();
                    std::vector<SoundRow> rows;
                    for (size_t k = 0; k < members[r].size(); ++k) {
                        rows.push_back(seenRow(store->scannedPath(members[r][k]), nullptr));
                        if (rows.size() == kChunk || k + 1 == members[r].size()) {
                            db.upsertSounds(root, rows);
                            rows.clear();
                        }
                    }
                    db.pruneUnseen(root);
                    continue;
                }
                const Reconciled found
                    = reconcileRoot(db, root, roots[r], known, members[r].size(),
                                    [&](std::size_t k) { return store->scannedPath(members[r][k]); });
                for (size_t k = 0; k < found.rows.size(); ++k) {
                    if (found.rows[k].favourite || !found.rows[k].tags.empty())
                        marks.push_back({members[r][k], found.rows[k].favourite, found.rows[k].tags});
                }
            }
            if (!marks.empty())
                tell([store, marks = std::move(marks)](Listener &l) mutable {
                    l.catalogueMarksArrived(store, std::move(marks));
                });
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
        rows.emplace_back(std::string(store->path(f.record)), std::move(row));
    }
    if (rows.empty())
        return;
    m_writer.post([rows = std::move(rows)](Database &db) {
        for (const auto &[path, row] : rows)
            db.setFacts(path, row);
    });
}

void Library::setFavourite(std::vector<std::string> paths, bool on)
{
    const std::string what = "favourite of " + std::to_string(paths.size());
    m_writer.post([paths = std::move(paths), on](Database &db) { db.setFavourite(paths, on); },
                  [what, start = Clock::now()] {
                      debugLog("catalogue: " + what + " saved in " + std::to_string(msSince(start)) + " ms");
                  });
}

void Library::setTags(std::vector<std::string> paths, std::string tags)
{
    const std::string what = "tags of " + std::to_string(paths.size());
    m_writer.post([paths = std::move(paths), tags = std::move(tags)](Database &db) { db.setTags(paths, tags); },
                  [what, start = Clock::now()] {
                      debugLog("catalogue: " + what + " saved in " + std::to_string(msSince(start)) + " ms");
                  });
}

void Library::notePlayed(const std::string &path)
{
    const std::int64_t when = m_now();
    m_writer.post([path, when](Database &db) { db.notePlayed(path, when); });
}

void Library::requestList(std::uint64_t request, ListKind kind, const std::string &folder)
{
    m_writer.post([this, request, kind, folder](Database &db) {
        auto store = std::make_shared<RecordStore>();
        if (kind == ListKind::Favourites) {
            for (const SoundRow &row : db.favourites())
                addRow(*store, row);
        } else if (kind == ListKind::RecentlyPlayed) {
            for (const SoundRow &row : db.recentlyPlayed(kRecentlyPlayed))
                addRow(*store, row);
        } else if (const auto root = db.rootAt(folder)) {
            db.eachSoundOf(*root, [&](const SoundRow &row) { addRow(*store, row); });
        }
        m_shown = {request, kind == ListKind::Folder ? folder : std::string(), store};
        tell([request, store](Listener &l) { l.catalogueListArrived(request, store); });
    });
}

void Library::checkList(std::uint64_t request, const std::string &folder, const RecordStorePtr &found)
{
    m_writer.post([this, request, folder, found](Database &db) {
        const auto start = Clock::now();
        check(db, request, folder, found);
        // A big check's scratch space goes back to the system at once.
        ::malloc_trim(0);
        debugLog("catalogue: checked " + std::to_string(found ? found->size() : 0) + " sounds in "
                 + std::to_string(msSince(start)) + " ms");
    });
}

Reconciled Library::reconcileRoot(Database &db, std::int64_t root, const std::string &folder,
                                  const std::vector<SoundRow> &known, std::size_t count,
                                  const std::function<std::string_view(std::size_t)> &pathAt)
{
    const auto start = Clock::now();
    KnownByPath byPath = byPathOf(known);
    std::vector<SoundRow> seen(count);
    lookInParallel(count, [&](std::size_t i) {
        const std::string_view path = pathAt(i);
        const auto it = byPath.find(path);
        seen[i] = seenRow(path, it == byPath.end() ? nullptr : it->second);
    });
    const auto looked = Clock::now();
    Reconciled result = reconcile(known, std::move(seen), true);
    const auto reconciled = Clock::now();
    writeReconciled(db, root, byPath, result);
    debugLog("catalogue: reconciled " + std::to_string(count) + ": files looked at in "
             + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(looked - start).count())
             + " ms, reconciled in "
             + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(reconciled - looked).count())
             + " ms, written in " + std::to_string(msSince(reconciled)) + " ms; " + std::to_string(result.moved.size())
             + " moved, " + std::to_string(result.gone.size()) + " gone, " + std::to_string(result.toRead.size())
             + " to read");
    if (result.mostlyGone) {
        m_pendingForget = result.gone;
        tell([folder, gone = result.gone.size(), remembered = known.size()](Listener &l) {
            l.catalogueAsksToForget(folder, gone, remembered);
        });
    }
    return result;
}

void Library::check(Database &db, std::uint64_t request, const std::string &folder, const RecordStorePtr &found)
{
    const auto root = db.rootAt(folder);
    if (!root || !found)
        return;
    const Reconciled result = reconcileRoot(db, *root, folder, db.soundsOf(*root), found->size(), [&](std::size_t i) {
        return found->scannedPath(static_cast<std::uint32_t>(i));
    });
    tellFolders(db);

    // What the list shown has to take in.
    if (request != m_shown.request || !m_shown.store || m_shown.folder != folder)
        return;
    const RecordStore &shown = *m_shown.store;
    std::unordered_map<std::string_view, std::uint32_t> shownAt;
    shownAt.reserve(shown.size());
    for (std::uint32_t i = 0; i < shown.size(); ++i)
        shownAt.emplace(shown.scannedPath(i), i);
    Listener::Changes changes;
    const auto listed = [&](const std::string &path, std::vector<std::uint32_t> &into) {
        if (const auto it = shownAt.find(path); it != shownAt.end())
            into.push_back(it->second);
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
        if (!shownAt.count(row.path))
            added.push_back(&row);
    }
    if (changes.gone.empty() && changes.changed.empty() && added.empty())
        return;
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
    changes.extended = extended;
    m_shown.store = extended;
    tell([request, changes = std::move(changes)](Listener &l) mutable {
        l.catalogueCheckFound(request, std::move(changes));
    });
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

void Library::exportMarks(const std::string &file, Done done)
{
    m_writer.post([this, file, done = std::move(done)](Database &db) {
        const std::string json = catalogue::exportMarks(db);
        const std::string part = file + ".part";
        bool ok = false;
        {
            std::ofstream out(part, std::ios::binary | std::ios::trunc);
            out << json;
            out.flush();
            ok = static_cast<bool>(out);
        }
        std::error_code error;
        if (ok)
            fs::rename(part, file, error);
        if (!ok || error)
            fs::remove(part, error);
        const bool written = ok && !error;
        m_mailbox.post([done, written] {
            done(written, written ? "Favourites and tags were written." : "The file could not be written.");
        });
    });
}

void Library::importMarks(const std::string &file, Done done)
{
    m_writer.post([this, file, done = std::move(done)](Database &db) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const ImportResult result = catalogue::importMarks(db, in ? text.str() : std::string());
        std::string message;
        if (!result.readable)
            message = "The file is not a list of favourites and tags.";
        else
            message = std::to_string(result.applied) + " sounds marked; " + std::to_string(result.unmatched)
                + " not in the catalogue.";
        m_mailbox.post([done, ok = result.readable, message] { done(ok, message); });
        tellFolders(db);
    });
}

void Library::whenWritten(std::function<void()> done)
{
    m_writer.post([](Database &) {}, std::move(done));
}

} // namespace auralist::catalogue
