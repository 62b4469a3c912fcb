#include "library/scanner.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <unordered_set>

#include "core/file_type.h"
#include "core/numeric_compare.h"

namespace auralist {

namespace {

struct Pending {
    std::string path;
    size_t nameStart; // where the entry's own name begins in path
    EntryKind kind;
    std::string_view name() const { return std::string_view(path).substr(nameStart); }
};

struct Frame {
    std::vector<Pending> entries;
    size_t next = 0;
};

std::vector<Pending> listOne(FileSystem &fs, const std::string &folder)
{
    std::vector<Pending> entries;
    fs.listDirectory(folder, [&](std::string_view name, EntryKind kind) {
        std::string path = joinPath(folder, name);
        const size_t nameStart = path.size() - name.size();
        entries.push_back({std::move(path), nameStart, kind});
    });
    // The system lists in its own (hash) order; people expect a file
    // manager's.
    std::sort(entries.begin(), entries.end(),
              [](const Pending &a, const Pending &b) { return compareForListing(a.name(), b.name()) < 0; });
    return entries;
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
    explicit LineWriter(std::FILE *out) : m_out(out) { m_buffer.reserve(kLimit + 4096); }
    ~LineWriter() { flush(); }
    LineWriter(const LineWriter &) = delete;
    LineWriter &operator=(const LineWriter &) = delete;

    void line(std::string_view prefix, std::string_view text)
    {
        m_buffer.append(prefix);
        m_buffer.append(text);
        m_buffer.push_back('\n');
        if (m_buffer.size() >= kLimit)
            write();
    }
    void flush()
    {
        write();
        std::fflush(m_out);
    }

private:
    void write()
    {
        if (!m_buffer.empty())
            std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_out);
        m_buffer.clear();
    }
    static constexpr size_t kLimit = 64 * 1024;
    std::FILE *m_out;
    std::string m_buffer;
};

// The type strings seen in one folder walk, each kept once.
class TypeTable {
public:
    static constexpr std::uint32_t kNone = 0;
    std::uint32_t idFor(std::string type)
    {
        if (type.empty())
            return kNone;
        const auto [it, added] = m_ids.try_emplace(std::move(type), static_cast<std::uint32_t>(m_types.size() + 1));
        if (added)
            m_types.push_back(&it->first);
        return it->second;
    }
    const std::string &type(std::uint32_t id) const { return *m_types[id - 1]; }

private:
    std::unordered_map<std::string, std::uint32_t> m_ids;
    std::vector<const std::string *> m_types;
};

} // namespace

bool walkSubpaths(FileSystem &fs, const std::string &folder, const std::function<void(std::string_view)> &visit,
                  const std::atomic<bool> *stop)
{
    // An explicit stack: trees may be far deeper than the call stack.
    std::vector<Frame> stack;
    stack.push_back({listOne(fs, folder), 0});
    while (!stack.empty()) {
        if (stopped(stop))
            return false;
        Frame &top = stack.back();
        if (top.next >= top.entries.size()) {
            stack.pop_back();
            continue;
        }
        Pending entry = std::move(top.entries[top.next++]);
        EntryKind kind = entry.kind;
        if (kind == EntryKind::Unknown) {
            const auto identity = fs.identify(entry.path);
            kind = identity ? identity->kind : EntryKind::None;
        }
        visit(entry.path);
        if (kind == EntryKind::Directory) {
            std::vector<Pending> children = listOne(fs, entry.path);
            if (!children.empty())
                stack.push_back({std::move(children), 0});
        }
    }
    return true;
}

std::vector<std::string> subpathsAtPath(FileSystem &fs, const std::string &folder)
{
    std::vector<std::string> out;
    walkSubpaths(fs, folder, [&](std::string_view path) { out.emplace_back(path); });
    return out;
}

bool scanPaths(FileSystem &fs, const ScanRequest &request, std::FILE *out,
               const std::function<void(RecordStore &&)> &batch, const std::atomic<bool> *stop, std::size_t batchSize)
{
    const std::unordered_set<std::string> supported(request.supportedTypes.begin(), request.supportedTypes.end());
    LineWriter lines(out);
    RecordStore records;
    // Batches go out batchSize records at a time, and at least every
    // 100 ms, so rows keep appearing while a slow disk is walked.
    using Clock = std::chrono::steady_clock;
    Clock::time_point sent = Clock::now();
    auto take = [&](const std::string &path, const std::string &type) {
        if (supported.count(type) == 0)
            return;
        records.add(path);
        if (records.size() >= batchSize || Clock::now() - sent >= std::chrono::milliseconds(100)) {
            batch(std::move(records));
            records = RecordStore();
            sent = Clock::now();
        }
    };
    bool completed = true;
    for (const std::string &path : request.paths) {
        if (stopped(stop)) {
            completed = false;
            break;
        }
        if (fs.kindOf(path) != EntryKind::Directory) {
            const std::string type = pathFileType(path, fs);
            if (!type.empty()) {
                lines.line("format: ", type);
                take(path, type);
            }
            continue;
        }
        // Every path below is printed as the walk finds it; the format
        // lines follow the whole listing, so their types wait, kept once.
        TypeTable types;
        std::vector<std::uint32_t> typeOfEntry;
        std::string entryPath;
        completed = walkSubpaths(
            fs, path,
            [&](std::string_view below) {
                lines.line({}, below);
                entryPath.assign(below);
                std::string type = pathFileType(entryPath, fs);
                const std::uint32_t id = types.idFor(type);
                typeOfEntry.push_back(id);
                if (id != TypeTable::kNone)
                    take(entryPath, types.type(id));
            },
            stop);
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
    const bool completed = scanPaths(m_fs, {paths, types}, m_out,
                                     [&](RecordStore &&batch) { listener.scanBatch(scan, std::move(batch)); });
    listener.scanFinished(scan, completed);
}

// What the worker and the main thread share; everything else is one side's.
struct ThreadedScanner::Shared {
    std::shared_ptr<FileSystem> fs;
    std::FILE *out = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex.
    bool hasJob = false;
    std::uint64_t scan = 0;
    ScanRequest request;
    bool quit = false;
    bool idle = true;
    QObject *context = nullptr; // null once the scanner is gone
    std::function<void(std::uint64_t, RecordStore &&)> onBatch;
    std::function<void(std::uint64_t, bool)> onFinished;
    // Set by the main thread to stop the scan under way.
    std::atomic<bool> stop{false};
    std::thread worker;

    // Runs fn on the main thread, unless the scanner is gone by then.
    void post(std::function<void()> fn)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (context)
            QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
    }

    static void run(const std::shared_ptr<Shared> &self)
    {
        for (;;) {
            std::uint64_t scan = 0;
            ScanRequest request;
            {
                std::unique_lock<std::mutex> lock(self->mutex);
                self->idle = true;
                self->wake.notify_all();
                self->wake.wait(lock, [&] { return self->hasJob || self->quit; });
                if (self->quit)
                    return;
                self->hasJob = false;
                self->idle = false;
                scan = self->scan;
                request = std::move(self->request);
                self->stop.store(false);
            }
            const bool completed = scanPaths(
                *self->fs, request, self->out,
                [&](RecordStore &&batch) {
                    auto moved = std::make_shared<RecordStore>(std::move(batch));
                    self->post([self, scan, moved] {
                        if (self->onBatch)
                            self->onBatch(scan, std::move(*moved));
                    });
                },
                &self->stop);
            self->post([self, scan, completed] {
                if (self->onFinished)
                    self->onFinished(scan, completed);
            });
        }
    }
};

ThreadedScanner::ThreadedScanner(std::shared_ptr<FileSystem> fs, std::FILE *out)
    : m_shared(std::make_shared<Shared>()), m_context(new QObject)
{
    m_shared->fs = std::move(fs);
    m_shared->out = out;
    m_shared->context = m_context;
}

ThreadedScanner::~ThreadedScanner()
{
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->quit = true;
        m_shared->context = nullptr;
        m_shared->stop.store(true);
        m_shared->wake.notify_all();
    }
    if (m_shared->worker.joinable()) {
        // A walk stuck on a slow or dead disk must not hold up quitting:
        // give it a moment, then let it go.
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        const bool finished =
            m_shared->wake.wait_for(lock, std::chrono::milliseconds(300), [&] { return m_shared->idle; });
        lock.unlock();
        if (finished)
            m_shared->worker.join();
        else
            m_shared->worker.detach();
    }
    delete m_context;
}

void ThreadedScanner::start(std::uint64_t scan, const std::vector<std::string> &paths,
                            const std::vector<std::string> &types, Listener &listener)
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_listener = &listener;
    // The callbacks run on the main thread, where the listener lives; they
    // reach it through this scanner, which they outlive only as no-ops.
    Listener *target = &listener;
    m_shared->onBatch = [target](std::uint64_t s, RecordStore &&batch) { target->scanBatch(s, std::move(batch)); };
    m_shared->onFinished = [target](std::uint64_t s, bool completed) { target->scanFinished(s, completed); };
    m_shared->stop.store(true); // the scan under way, if any, ends first
    m_shared->scan = scan;
    m_shared->request = {paths, types};
    m_shared->hasJob = true;
    if (!m_shared->worker.joinable())
        m_shared->worker = std::thread(&Shared::run, m_shared);
    m_shared->wake.notify_all();
}

void ThreadedScanner::cancel()
{
    m_shared->stop.store(true);
}

} // namespace auralist
