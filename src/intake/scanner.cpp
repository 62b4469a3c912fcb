#include "intake/scanner.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "core/file_type.h"
#include "core/numeric_compare.h"

namespace auralist {

namespace {

// One folder's entries: names kept in one buffer, sorted once.
struct Folder {
    struct Entry {
        std::uint32_t at;
        std::uint32_t length;
        EntryKind kind;
    };
    std::string path;
    std::string names;
    std::vector<Entry> entries;
    size_t next = 0;
    std::string_view name(const Entry &e) const { return std::string_view(names).substr(e.at, e.length); }
};

Folder listOne(FileSystem &fs, std::string_view folder)
{
    Folder f;
    f.path.assign(folder);
    fs.listDirectory(f.path, [&](std::string_view name, EntryKind kind) {
        f.entries.push_back(
            {static_cast<std::uint32_t>(f.names.size()), static_cast<std::uint32_t>(name.size()), kind});
        f.names.append(name);
    });
    // The system lists in its own (hash) order; people expect a file
    // manager's.
    std::sort(f.entries.begin(), f.entries.end(), [&f](const Folder::Entry &a, const Folder::Entry &b) {
        return compareForListing(f.name(a), f.name(b)) < 0;
    });
    return f;
}

bool stopped(const std::atomic<bool> *stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

// Whole lines for standard output, written in large pieces. Each write is
// one call under the stream's lock, so lines printed meanwhile by other
// threads fall between lines, never inside one.
class LineWriter {
public:
    explicit LineWriter(LineOutput &out) : m_out(out) { m_buffer.reserve(kLimit + 4096); }
    ~LineWriter() { flush(); }
    LineWriter(const LineWriter &) = delete;
    LineWriter &operator=(const LineWriter &) = delete;

    void line(std::string_view prefix, std::string_view text)
    {
        if (!prefix.empty())
            m_buffer.append(prefix);
        m_buffer.append(text);
        m_buffer.push_back('\n');
        if (m_buffer.size() >= kLimit)
            write();
    }
    void flush()
    {
        write();
        m_out.flush();
    }

private:
    void write()
    {
        m_out.write(m_buffer);
        m_buffer.clear();
    }
    static constexpr size_t kLimit = size_t(64) * 1024;
    LineOutput &m_out;
    std::string m_buffer;
};

// The type strings seen in one scan, each kept once, with whether it names
// a sound. Few distinct types occur, so the last one found is tried first.
class TypeTable {
public:
    static constexpr std::uint32_t kNone = 0;
    explicit TypeTable(const std::vector<std::string> &supported) : m_supported(supported.begin(), supported.end()) { }
    std::uint32_t idFor(std::string_view type)
    {
        if (type.empty())
            return kNone;
        if (m_last != kNone && this->type(m_last) == type)
            return m_last;
        auto it = m_ids.find(std::string(type));
        if (it == m_ids.end()) {
            it = m_ids.emplace(std::string(type), static_cast<std::uint32_t>(m_types.size() + 1)).first;
            m_types.push_back(&it->first);
            m_isSound.push_back(m_supported.count(it->first) != 0);
        }
        m_last = it->second;
        return m_last;
    }
    const std::string &type(std::uint32_t id) const { return *m_types[id - 1]; }
    bool isSound(std::uint32_t id) const { return id != kNone && m_isSound[id - 1]; }

private:
    std::unordered_set<std::string> m_supported;
    std::unordered_map<std::string, std::uint32_t> m_ids;
    std::vector<const std::string *> m_types;
    std::vector<bool> m_isSound;
    std::uint32_t m_last = kNone;
};

// The path's type string, as pathFileType gives it, without copying the
// extension.
// A folder is judged by its extension alone: folders carry no type code
// (the attribute that holds a file's says other things of a folder), and
// asking for one would cost a look up of the folder's whole path.
std::uint32_t typeOf(FileSystem &fs, const std::string &path, TypeTable &types, bool folder = false)
{
    const std::string_view ext = pathExtension(path);
    if (!ext.empty())
        return types.idFor(ext);
    if (folder)
        return TypeTable::kNone;
    const std::uint32_t code = fs.fileTypeCode(path);
    return code == 0 ? TypeTable::kNone : types.idFor(typeCodeString(code));
}

} // namespace

namespace {

// Lists folders ahead of the walk, on a thread of its own, in the order the
// walk will want them: the walk's own depth-first order. The walk takes
// exactly one listing for each folder entry it meets, so the two never
// disagree about what is a folder: the lister decides it (from the
// listing's type, or a look at the entry when the listing does not say)
// and the walk trusts it.
//
// Threads: the lister owns the folders it lists until it queues them; the
// walk owns them once taken. The queue, guarded by a mutex, is the only
// thing they share; it holds a bounded number of listings.
class Lister {
public:
    Lister(FileSystem &fs, std::string_view root, const std::atomic<bool> *stop)
        : m_fs(fs), m_stop(stop), m_thread([this, r = std::string(root)] { run(r); })
    {
    }
    ~Lister()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    Lister(const Lister &) = delete;
    Lister &operator=(const Lister &) = delete;

    // The next folder's listing, in walk order; false when the lister
    // stopped first, or the scan was stopped meanwhile. While it waits,
    // idle is called every 100 ms.
    bool next(Folder &out, const std::function<void()> &idle)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (
            !m_changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return !m_ready.empty() || m_finished; })) {
            if (stopped(m_stop))
                return false;
            if (idle) {
                lock.unlock();
                idle();
                lock.lock();
            }
        }
        if (m_ready.empty())
            return false;
        out = std::move(m_ready.front());
        m_ready.pop_front();
        lock.unlock();
        m_changed.notify_all();
        return true;
    }

private:
    static constexpr size_t kAhead = 256;

    void run(const std::string &root)
    {
        // At the window's own priority, as the walk is: what they find is
        // what the user is waiting for. Header reading and analysis stay
        // in the background.
        // Depth first, like the walk: a folder's listing, then each of its
        // folders' in turn, before its next sibling's.
        std::vector<std::pair<std::string, std::vector<std::string>>> stack;
        auto list = [&](const std::string &path) -> bool {
            Folder f = listOne(m_fs, path);
            std::vector<std::string> folders;
            std::string child;
            for (Folder::Entry &e : f.entries) {
                if (stopped(m_stop))
                    return false;
                if (e.kind == EntryKind::Unknown) {
                    child = joinPath(f.path, f.name(e));
                    const auto identity = m_fs.identify(child);
                    e.kind = identity ? identity->kind : EntryKind::None;
                }
                if (e.kind == EntryKind::Directory)
                    folders.push_back(joinPath(f.path, f.name(e)));
            }
            std::reverse(folders.begin(), folders.end()); // taken from the back
            if (!put(std::move(f)))
                return false;
            stack.emplace_back(path, std::move(folders));
            return true;
        };
        bool ok = list(root);
        while (ok && !stack.empty()) {
            auto &pending = stack.back().second;
            if (pending.empty()) {
                stack.pop_back();
                continue;
            }
            const std::string next = std::move(pending.back());
            pending.pop_back();
            ok = list(next);
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }

    bool put(Folder &&f)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_ready.size() < kAhead || m_quit; });
        if (m_quit)
            return false;
        m_ready.push_back(std::move(f));
        lock.unlock();
        m_changed.notify_all();
        return true;
    }

    FileSystem &m_fs;
    const std::atomic<bool> *m_stop;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Folder> m_ready; // guarded by m_mutex
    bool m_finished = false; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    std::thread m_thread; // last: starts once the rest is ready
};

} // namespace

bool walkSubpaths(FileSystem &fs, const std::string &folder,
                  const std::function<void(std::string_view, bool folder)> &visit, const std::atomic<bool> *stop,
                  const std::function<void()> &idle)
{
    std::string_view root(folder);
    while (root.size() > 1 && root.back() == '/')
        root.remove_suffix(1);
    Lister lister(fs, root, stop);
    // An explicit stack: trees may be far deeper than the call stack.
    std::vector<Folder> stack(1);
    if (!lister.next(stack.back(), idle))
        return !stopped(stop);
    std::string path;
    while (!stack.empty()) {
        if (stopped(stop))
            return false;
        Folder &top = stack.back();
        if (top.next >= top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const Folder::Entry &entry = top.entries[top.next++];
        path.assign(top.path);
        if (path.empty() || path.back() != '/')
            path.push_back('/');
        path.append(top.name(entry));
        visit(path, entry.kind == EntryKind::Directory);
        if (entry.kind == EntryKind::Directory) {
            Folder children;
            if (!lister.next(children, idle))
                return false;
            if (!children.entries.empty())
                stack.push_back(std::move(children));
        }
    }
    return true;
}

bool scanPaths(FileSystem &fs, const ScanRequest &request, LineOutput &out,
               const std::function<void(RecordStore &&)> &batch, const std::atomic<bool> *stop, std::size_t batchSize)
{
    TypeTable types(request.supportedTypes);
    LineWriter lines(out);
    RecordStore records;
    // Batches go out batchSize records at a time, and at least every
    // 100 ms, so rows keep appearing while a slow disk is walked.
    using Clock = std::chrono::steady_clock;
    Clock::time_point sent = Clock::now();
    auto send = [&] {
        batch(std::move(records));
        records = RecordStore();
        sent = Clock::now();
    };
    auto take = [&](std::string_view path, std::uint32_t type) {
        if (!types.isSound(type))
            return;
        records.add(path);
        if (records.size() >= batchSize || Clock::now() - sent >= std::chrono::milliseconds(100))
            send();
    };
    // While a folder is slow to list, what was found before it goes out.
    auto idle = [&] {
        if (!records.empty())
            send();
    };
    bool completed = true;
    for (const std::string &path : request.paths) {
        if (stopped(stop)) {
            completed = false;
            break;
        }
        if (fs.kindOf(path) != EntryKind::Directory) {
            const std::uint32_t type = typeOf(fs, path, types);
            if (type != TypeTable::kNone) {
                lines.line("format: ", types.type(type));
                take(path, type);
            }
            continue;
        }
        // Every path below is printed as the walk finds it; the format
        // lines follow the whole listing, so the types wait meanwhile.
        std::vector<std::uint32_t> typeOfEntry;
        std::string entryPath;
        completed = walkSubpaths(
            fs, path,
            [&](std::string_view below, bool folder) {
                lines.line({}, below);
                entryPath.assign(below);
                const std::uint32_t type = typeOf(fs, entryPath, types, folder);
                typeOfEntry.push_back(type);
                take(below, type);
            },
            stop, idle);
        if (!completed)
            break;
        for (std::uint32_t id : typeOfEntry) {
            if (id != TypeTable::kNone)
                lines.line("format: ", types.type(id));
        }
    }
    lines.flush();
    if (completed)
        batch(std::move(records));
    return completed;
}

void InlineScanner::start(std::uint64_t scan, const std::vector<std::string> &paths,
                          const std::vector<std::string> &types, Listener &listener)
{
    const bool completed = scanPaths(m_fs, {paths, types}, *m_out,
                                     [&](RecordStore &&batch) { listener.scanBatch(scan, std::move(batch)); });
    listener.scanFinished(scan, completed);
}

// What the worker and the main thread share; everything else is one side's.
struct ThreadedScanner::Shared {
    std::shared_ptr<FileSystem> fs;
    LineOutput *out = nullptr;
    Mailbox::Sender toMain;
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex.
    bool hasJob = false;
    std::uint64_t scan = 0;
    ScanRequest request;
    bool quit = false;
    // Set to stop the scan under way; cleared, under mutex, only when the
    // worker takes the next job.
    std::atomic<bool> stop{false};

    void run()
    {
        for (;;) {
            std::uint64_t taken = 0;
            ScanRequest job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return hasJob || quit; });
                if (quit)
                    return;
                hasJob = false;
                taken = scan;
                job = std::move(request);
                stop.store(false);
            }
            const bool completed = scanPaths(
                *fs, job, *out,
                [&](RecordStore &&batch) {
                    auto moved = std::make_shared<RecordStore>(std::move(batch));
                    toMain.post([this, taken, moved] { deliverBatch(taken, std::move(*moved)); });
                },
                &stop);
            toMain.post([this, taken, completed] { deliverFinished(taken, completed); });
        }
    }

    // Main thread only, as is everything below.
    IntakeScanner::Listener *listener = nullptr;
    // Scans up to this number were cancelled: nothing more of them is told.
    std::uint64_t cancelledThrough = 0;

    void deliverBatch(std::uint64_t number, RecordStore &&batch) const
    {
        if (number > cancelledThrough && listener)
            listener->scanBatch(number, std::move(batch));
    }
    void deliverFinished(std::uint64_t number, bool completed) const
    {
        if (number > cancelledThrough && listener)
            listener->scanFinished(number, completed);
    }
};

ThreadedScanner::ThreadedScanner(std::shared_ptr<FileSystem> fs, LineOutput &out) : m_shared(std::make_shared<Shared>())
{
    m_shared->fs = std::move(fs);
    m_shared->out = &out;
    m_shared->toMain = m_mailbox.sender();
}

ThreadedScanner::ThreadedScanner(std::shared_ptr<FileSystem> fs, std::FILE *out)
    : ThreadedScanner(std::move(fs), std::make_unique<FileLineOutput>(out))
{
}

ThreadedScanner::ThreadedScanner(std::shared_ptr<FileSystem> fs, std::unique_ptr<LineOutput> owned)
    : ThreadedScanner(std::move(fs), *owned)
{
    m_ownedOutput = std::move(owned);
}

ThreadedScanner::~ThreadedScanner()
{
    ThreadedScanner::requestStop(); // this class's own: no override runs in a destructor
    m_mailbox.close();
    m_worker.join();
}

void ThreadedScanner::requestStop()
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->quit = true;
    m_shared->hasJob = false;
    m_shared->stop.store(true);
    m_shared->wake.notify_all();
}

bool ThreadedScanner::waitStopped(Deadline deadline)
{
    return m_worker.joinUntil(deadline);
}

void ThreadedScanner::start(std::uint64_t scan, const std::vector<std::string> &paths,
                            const std::vector<std::string> &types, Listener &listener)
{
    m_shared->listener = &listener;
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->stop.store(true); // the scan under way, if any, ends first
    m_shared->scan = scan;
    m_shared->request = {paths, types};
    m_shared->hasJob = true;
    if (!m_worker.started()) {
        Shared *shared = m_shared.get();
        m_worker.start([shared] { shared->run(); });
    }
    m_shared->wake.notify_all();
}

void ThreadedScanner::cancel()
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    // A job not yet taken is never begun; the one under way stops; neither
    // reports anything more.
    m_shared->cancelledThrough = m_shared->scan;
    m_shared->hasJob = false;
    m_shared->stop.store(true);
}

} // namespace auralist
