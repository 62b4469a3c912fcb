#include "catalogue/walk.h"

#include <xxhash.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "core/file_type.h"

namespace auralist::catalogue {

void lookInto(SoundRow &row, const struct stat &st)
{
    row.size = st.st_size;
    row.modified = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    row.device = st.st_dev;
    row.inode = st.st_ino;
}

namespace {

std::string typeCodeOf(const std::string &path)
{
    unsigned char info[32] = {};
    if (::lgetxattr(path.c_str(), "user.com.apple.FinderInfo", info, sizeof info) < 4)
        return {};
    const std::uint32_t code = (std::uint32_t(info[0]) << 24) | (std::uint32_t(info[1]) << 16)
        | (std::uint32_t(info[2]) << 8) | std::uint32_t(info[3]);
    return code == 0 ? std::string() : typeCodeString(code);
}

class Walk {
public:
    Walk(const std::vector<std::string> &types, const std::function<bool()> &stop)
        : m_types(types.begin(), types.end()), m_stop(stop)
    {
    }

    bool isSound(std::string_view name, const std::string &path) const
    {
        const std::string_view ext = pathExtension(name);
        if (!ext.empty())
            return m_types.count(ext) != 0;
        const std::string code = typeCodeOf(path);
        return !code.empty() && m_types.count(code) != 0;
    }

    // Lists folders from the shared queue until none is left and no one is
    // listing one (which could add more), or the walk is stopped.
    void work(Found &found)
    {
        std::vector<std::string> folders;
        for (;;) {
            std::string folder;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return !m_queue.empty() || m_busy == 0; });
                if (m_queue.empty())
                    return;
                folder = std::move(m_queue.back());
                m_queue.pop_back();
                ++m_busy;
            }
            if (m_stop())
                m_stopped.store(true, std::memory_order_relaxed);
            else
                list(folder, found, folders);
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_stopped.load(std::memory_order_relaxed)) {
                    for (std::string &f : folders)
                        m_queue.push_back(std::move(f));
                } else {
                    m_queue.clear();
                }
                --m_busy;
            }
            folders.clear();
            m_changed.notify_all();
        }
    }

    void start(std::string root) { m_queue.push_back(std::move(root)); }
    bool stopped() const { return m_stopped.load(std::memory_order_relaxed); }

private:
    void list(const std::string &folder, Found &found, std::vector<std::string> &folders)
    {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return;
        }
        std::string path;
        // readdir is safe on a stream no other thread uses.
        while (const dirent *entry = ::readdir(dir)) { // NOLINT(concurrency-mt-unsafe)
            const char *name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            path.assign(folder);
            if (path.back() != '/')
                path.push_back('/');
            path.append(name);
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st { };
                isFolder = ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
            }
            if (isSound(name, path)) {
                SoundRow looked;
                // As the file is played: through a link to what it names.
                struct stat st { };
                if (::fstatat(fd, name, &st, 0) == 0)
                    lookInto(looked, st);
                found.add(path, looked);
            }
            if (isFolder)
                folders.push_back(path);
        }
        ::closedir(dir);
    }

    struct Transparent {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    const std::unordered_set<std::string, Transparent, std::equal_to<>> m_types;
    const std::function<bool()> &m_stop;
    std::atomic<bool> m_stopped{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_queue; // guarded by m_mutex
    int m_busy = 0; // guarded by m_mutex
};

} // namespace

SoundRow Found::row(std::size_t i) const
{
    const Entry &e = m_entries[i];
    SoundRow row;
    row.path = std::string(path(i));
    row.size = e.size;
    row.modified = e.modified;
    row.device = e.device;
    row.inode = e.inode;
    return row;
}

void Found::add(std::string_view path, const SoundRow &looked)
{
    m_entries.push_back({m_paths.size(), static_cast<std::uint32_t>(path.size()), looked.size, looked.modified,
                         looked.device, looked.inode});
    m_paths.append(path);
}

void Found::append(const Found &more)
{
    const std::uint64_t base = m_paths.size();
    m_paths.append(more.m_paths);
    m_entries.reserve(m_entries.size() + more.m_entries.size());
    for (Entry e : more.m_entries) {
        e.at += base;
        m_entries.push_back(e);
    }
}

std::optional<Found> findSounds(std::string_view root, const std::vector<std::string> &types,
                                const std::function<bool()> &stopped)
{
    while (root.size() > 1 && root.back() == '/')
        root.remove_suffix(1);
    const std::string top(root);
    struct stat st { };
    if (::stat(top.c_str(), &st) != 0)
        return std::nullopt;
    Walk walk(types, stopped);
    Found found;
    if (!S_ISDIR(st.st_mode)) {
        // A file taken in on its own.
        if (walk.isSound(lastPathComponent(top), top)) {
            SoundRow looked;
            lookInto(looked, st);
            found.add(top, looked);
        }
        return found;
    }
    if (::access(top.c_str(), R_OK | X_OK) != 0)
        return std::nullopt;
    walk.start(top);
    const std::size_t helpers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4) - 1;
    std::vector<Found> theirs(helpers);
    std::vector<std::thread> threads;
    threads.reserve(helpers);
    for (std::size_t t = 0; t < helpers; ++t)
        threads.emplace_back([&walk, &out = theirs[t]] { walk.work(out); });
    walk.work(found);
    for (std::thread &t : threads)
        t.join();
    if (walk.stopped())
        return std::nullopt;
    for (const Found &more : theirs)
        found.append(more);
    return found;
}

} // namespace auralist::catalogue
