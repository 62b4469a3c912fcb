#include "files/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/descriptor.h"
#include "platform/system_reason.h"

namespace auralist::files {

namespace {

std::string quoted(const std::string &name)
{
    return "\xe2\x80\x9c" + name + "\xe2\x80\x9d";
}

std::string joinPath(const std::string &folder, const std::string &name)
{
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

FileResult failed(const std::string &what, int error)
{
    FileResult r;
    r.status = FileResult::Status::Failed;
    r.error = what + ": " + systemReason(error);
    if (error == ENOSPC || error == EDQUOT)
        r.error = what + ": the disk is full";
    return r;
}

FileResult refused(std::string why)
{
    FileResult r;
    r.status = FileResult::Status::Refused;
    r.error = std::move(why);
    return r;
}

FileResult done(std::string made, const FileStamp &stamp)
{
    FileResult r;
    r.status = FileResult::Status::Done;
    r.made = std::move(made);
    r.stamp = stamp;
    return r;
}

bool renameNoReplace(int fromDir, const char *from, int toDir, const char *to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a link fails just the same when the
    // name is taken, and the old name goes once the new one is there.
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return false;
    ::unlinkat(fromDir, from, 0);
    return true;
}

// A file being written in a folder, without a name anyone could open until
// it is whole.
class Pending {
public:
    Pending(int dir, mode_t mode) : m_dir(dir)
    {
        // An unnamed file is named through /proc, or directly by a process
        // allowed to (AT_EMPTY_PATH).
        static const bool nameable = ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
        if (nameable)
            m_fd = Fd(::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
        if (m_fd.get() >= 0)
            return;
        // No unnamed files here: a hidden name no sound list takes.
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100 && m_fd.get() < 0; ++attempt) {
            std::array<char, 64> name{};
            std::snprintf(name.data(), name.size(), ".auralist-%d-%u.part", static_cast<int>(::getpid()),
                          counter.fetch_add(1));
            m_fd = Fd(::openat(dir, name.data(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, mode));
            if (m_fd.get() >= 0)
                m_temp = name.data();
            else if (errno != EEXIST)
                break;
        }
    }
    ~Pending()
    {
        if (!m_named && !m_temp.empty())
            ::unlinkat(m_dir, m_temp.c_str(), 0);
    }
    Pending(const Pending &) = delete;
    Pending &operator=(const Pending &) = delete;

    int fd() const { return m_fd.get(); }
    // Gives the file its name; errno EEXIST when the name is taken.
    bool name(const std::string &name)
    {
        bool ok = false;
        if (m_temp.empty()) {
            ok = ::linkat(m_fd.get(), "", m_dir, name.c_str(), AT_EMPTY_PATH) == 0;
            if (!ok && errno != EEXIST) {
                const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
                ok = ::linkat(AT_FDCWD, self.c_str(), m_dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
            }
        } else {
            ok = renameNoReplace(m_dir, m_temp.c_str(), m_dir, name.c_str());
        }
        m_named = ok;
        return ok;
    }

private:
    int m_dir;
    Fd m_fd;
    std::string m_temp; // empty: unnamed
    bool m_named = false;
};

constexpr std::size_t kBlock = std::size_t(8) << 20;

// Copies size bytes of in to out. An error's errno is left as it was.
enum class Copied : std::uint8_t { Whole, Cancelled, Failed };
Copied copyBytes(int in, int out, std::uint64_t size, const Hooks &hooks)
{
    std::uint64_t left = size;
    bool kernel = true;
    std::vector<char> buffer;
    while (left > 0) {
        if (hooks.cancelled && hooks.cancelled())
            return Copied::Cancelled;
        const std::size_t want = left < kBlock ? static_cast<std::size_t>(left) : kBlock;
        ssize_t n = -1;
        if (kernel) {
            // The kernel copies, or shares the blocks where the file system can.
            n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernel = false;
                continue;
            }
        } else {
            if (buffer.empty())
                buffer.resize(std::size_t(1) << 20);
            n = ::read(in, buffer.data(), std::min(want, buffer.size()));
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = ::write(out, buffer.data() + written, static_cast<std::size_t>(n - written));
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0)
                    return Copied::Failed;
                written += w;
            }
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Copied::Failed;
        if (n == 0) {
            errno = EIO; // shorter than it was: it changed meanwhile
            return Copied::Failed;
        }
        left -= static_cast<std::uint64_t>(n);
        if (hooks.copied)
            hooks.copied(static_cast<std::uint64_t>(n));
    }
    return Copied::Whole;
}

std::optional<std::uint64_t> hashOf(int fd, std::uint64_t size)
{
    std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> state(XXH3_createState(), XXH3_freeState);
    if (!state || XXH3_64bits_reset(state.get()) != XXH_OK)
        return std::nullopt;
    std::vector<char> buffer(std::size_t(1) << 20);
    std::uint64_t at = 0;
    while (at < size) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        XXH3_64bits_update(state.get(), buffer.data(), static_cast<std::size_t>(n));
        at += static_cast<std::uint64_t>(n);
    }
    return XXH3_64bits_digest(state.get());
}

// Names for the file: the first n-th, or nothing when none is left.
using NameFor = std::function<std::optional<std::string>(int n)>;

// Moves or copies source into folder under the first free name nameFor
// gives. expected: the source must still be that file.
FileResult transfer(const std::string &source, const std::optional<FileStamp> &expected, const std::string &folder,
                    const NameFor &nameFor, bool removeSource, const Hooks &hooks)
{
    const auto [sourceFolder, sourceName] = splitPath(source);
    Fd sourceDir(::open(sourceFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (sourceDir.get() < 0)
        return failed(quoted(sourceName) + " cannot be reached", errno);
    struct stat link { };
    if (::fstatat(sourceDir.get(), sourceName.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? refused(quoted(sourceName) + " is not there any more")
                               : failed(quoted(sourceName), errno);
    if (expected && stampOf(link) != *expected)
        return refused(quoted(sourceName) + " has been changed or replaced since");
    if (S_ISDIR(link.st_mode))
        return refused(quoted(sourceName) + " is a folder");
    // A pipe, a device or a socket is never opened: reading one may never
    // end, and holds up every step after it.
    if (!S_ISREG(link.st_mode) && !S_ISLNK(link.st_mode))
        return refused(quoted(sourceName) + " is not a file, and was left out");
    Fd targetDir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (targetDir.get() < 0)
        return failed("The folder " + quoted(splitPath(folder).second) + " cannot be opened", errno);
    struct stat targetStat { };
    if (::fstat(targetDir.get(), &targetStat) != 0)
        return failed("The folder " + quoted(splitPath(folder).second), errno);

    if (removeSource) {
        struct stat sourceDirStat { };
        if (::fstat(sourceDir.get(), &sourceDirStat) == 0 && sourceDirStat.st_dev == targetStat.st_dev
            && sourceDirStat.st_ino == targetStat.st_ino && nameFor(1) == sourceName)
            return done(source, stampOf(link)); // already where it is asked to go
        if (link.st_dev == targetStat.st_dev && !hooks.alwaysCopy) {
            // One file system: the file itself changes folder, at once.
            for (int n = 1;; ++n) {
                const std::optional<std::string> name = nameFor(n);
                if (!name)
                    return refused(quoted(nameFor(1).value_or(sourceName)) + " is already taken there");
                if (renameNoReplace(sourceDir.get(), sourceName.c_str(), targetDir.get(), name->c_str()))
                    return done(joinPath(folder, *name), stampOf(link));
                if (errno == EEXIST || errno == ENOTEMPTY)
                    continue;
                if (errno != EXDEV)
                    return failed(quoted(sourceName) + " cannot be moved", errno);
                break; // one device number, two mounts: copied after all
            }
        }
    }

    // A move takes the file itself, never what a link put in its place
    // points to: the file opened must be the one looked at.
    if (removeSource && S_ISLNK(link.st_mode))
        return refused(quoted(sourceName) + " is a link, and was not moved");
    // Without waiting: a link may lead to a pipe.
    Fd in(::openat(sourceDir.get(), sourceName.c_str(),
                   O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (removeSource ? O_NOFOLLOW : 0)));
    if (in.get() < 0)
        return failed(quoted(sourceName) + " cannot be read", errno);
    struct stat before { };
    if (::fstat(in.get(), &before) != 0 || !S_ISREG(before.st_mode))
        return refused(quoted(sourceName) + " is not a file, and was left out");
    if (removeSource && (before.st_dev != link.st_dev || before.st_ino != link.st_ino))
        return refused(quoted(sourceName) + " has been changed or replaced since");
    ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
    Pending out(targetDir.get(), before.st_mode & 0777);
    if (out.fd() < 0)
        return failed("Nothing can be written in " + quoted(splitPath(folder).second), errno);
    const std::uint64_t size = static_cast<std::uint64_t>(before.st_size);
    switch (copyBytes(in.get(), out.fd(), size, hooks)) {
    case Copied::Whole: break;
    case Copied::Cancelled: {
        FileResult r;
        r.status = FileResult::Status::Cancelled;
        return r;
    }
    case Copied::Failed: return failed(quoted(sourceName) + " was not copied", errno);
    }
    const std::array<timespec, 2> times{before.st_atim, before.st_mtim};
    ::futimens(out.fd(), times.data());
    struct stat after { };
    if (::fstat(in.get(), &after) != 0 || after.st_size != before.st_size
        || after.st_mtim.tv_sec != before.st_mtim.tv_sec || after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
        return refused(quoted(sourceName) + " changed while it was copied, and was not copied");
    if (removeSource) {
        // The source goes only once its copy is on the disk and reads back
        // the same.
        if (::fsync(out.fd()) != 0)
            return failed(quoted(sourceName) + " was not moved", errno);
        const auto a = hashOf(in.get(), size);
        const auto b = hashOf(out.fd(), size);
        if (!a || !b || *a != *b)
            return refused(quoted(sourceName) + " was not moved: its copy did not read back the same");
    }
    std::string made;
    for (int n = 1;; ++n) {
        const std::optional<std::string> name = nameFor(n);
        if (!name)
            return refused(quoted(nameFor(1).value_or(sourceName)) + " is already taken there");
        if (out.name(*name)) {
            made = joinPath(folder, *name);
            break;
        }
        if (errno != EEXIST)
            return failed(quoted(sourceName) + " was not copied", errno);
    }
    struct stat result { };
    ::fstat(out.fd(), &result);
    FileResult r = done(made, stampOf(result));
    if (removeSource) {
        ::fsync(targetDir.get());
        struct stat still { };
        if (::fstatat(sourceDir.get(), sourceName.c_str(), &still, AT_SYMLINK_NOFOLLOW) != 0
            || stampOf(still) != stampOf(link))
            r.error = quoted(sourceName) + " was copied, but changed meanwhile, so its original was kept";
        else if (::unlinkat(sourceDir.get(), sourceName.c_str(), 0) != 0)
            r.error = quoted(sourceName) + " was copied, but its original could not be removed: " + systemReason(errno);
    }
    return r;
}

NameFor numbered(const std::string &name)
{
    return [name](int n) -> std::optional<std::string> {
        if (n > 9999)
            return std::nullopt;
        return numberedName(name, n);
    };
}

} // namespace

FileResult writeNew(const std::string &folder, const std::string &name, const std::function<bool(int fd)> &write)
{
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return failed("The folder " + quoted(splitPath(folder).second) + " cannot be opened", errno);
    Pending out(dir.get(), 0666);
    if (out.fd() < 0)
        return failed("Nothing can be written in " + quoted(splitPath(folder).second), errno);
    errno = 0;
    if (!write(out.fd()))
        return failed(quoted(name) + " was not written", errno == 0 ? EIO : errno);
    const NameFor names = numbered(name);
    for (int n = 1;; ++n) {
        const std::optional<std::string> candidate = names(n);
        if (!candidate)
            return refused(quoted(name) + " is already taken there");
        if (out.name(*candidate)) {
            struct stat st { };
            ::fstat(out.fd(), &st);
            return done(joinPath(folder, *candidate), stampOf(st));
        }
        if (errno != EEXIST)
            return failed(quoted(name) + " was not written", errno);
    }
}

FileResult writeText(const std::string &path, const std::string &text)
{
    const auto [folder, name] = splitPath(path);
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return failed("The folder " + quoted(splitPath(folder).second) + " cannot be opened", errno);
    // A hidden name beside it, renamed over it once whole.
    const std::string temp = "." + name + ".auralist-" + std::to_string(::getpid());
    Fd out(::openat(dir.get(), temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
    if (out.get() < 0)
        return failed(quoted(name) + " cannot be written", errno);
    std::size_t at = 0;
    while (at < text.size()) {
        const ssize_t n = ::write(out.get(), text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::unlinkat(dir.get(), temp.c_str(), 0);
            return failed(quoted(name) + " was not written", error);
        }
        at += static_cast<std::size_t>(n);
    }
    if (::fsync(out.get()) != 0 || ::renameat(dir.get(), temp.c_str(), dir.get(), name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(dir.get(), temp.c_str(), 0);
        return failed(quoted(name) + " was not written", error);
    }
    struct stat st { };
    ::fstat(out.get(), &st);
    return done(path, stampOf(st));
}

std::optional<FileStamp> stampAt(const std::string &path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

FileResult checkSound(const std::string &path, std::uint64_t audio, const AudioHash &hashOf, const Hooks &hooks)
{
    const auto before = stampAt(path);
    if (!before)
        return refused("it is gone.");
    if (!hashOf)
        return refused("its sound cannot be checked.");
    const auto found = hashOf(path, hooks.cancelled ? hooks.cancelled : std::function<bool()>());
    if (hooks.cancelled && hooks.cancelled()) {
        FileResult r;
        r.status = FileResult::Status::Cancelled;
        return r;
    }
    if (!found || *found != audio)
        return refused("its sound is no longer the one found to duplicate another.");
    if (stampAt(path) != before)
        return refused("it changed while its sound was checked.");
    return done(path, *before);
}

std::string numberedName(std::string_view name, int n)
{
    if (n <= 1)
        return std::string(name);
    const std::size_t dot = name.rfind('.');
    const std::size_t stem = dot == std::string_view::npos || dot == 0 ? name.size() : dot;
    return std::string(name.substr(0, stem)) + " " + std::to_string(n) + std::string(name.substr(stem));
}

bool acceptableName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos
        && name.find('\0') == std::string_view::npos;
}

FileResult copyInto(const std::string &source, const std::string &folder, const Hooks &hooks)
{
    return transfer(source, std::nullopt, folder, numbered(splitPath(source).second), false, hooks);
}

FileResult moveInto(const std::string &source, const std::string &folder, const Hooks &hooks)
{
    return transfer(source, std::nullopt, folder, numbered(splitPath(source).second), true, hooks);
}

FileResult renameTo(const std::string &path, const std::string &newName)
{
    if (!acceptableName(newName))
        return refused(quoted(newName) + " cannot be a file's name");
    const auto [folder, name] = splitPath(path);
    if (newName == name) {
        const auto stamp = stampAt(path);
        return stamp ? done(path, *stamp) : refused(quoted(name) + " is not there any more");
    }
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return failed(quoted(name) + " cannot be reached", errno);
    struct stat st { };
    if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? refused(quoted(name) + " is not there any more") : failed(quoted(name), errno);
    if (!renameNoReplace(dir.get(), name.c_str(), dir.get(), newName.c_str())) {
        if (errno == EEXIST || errno == ENOTEMPTY)
            return refused(quoted(newName) + " is already taken in its folder");
        return failed(quoted(name) + " cannot be renamed", errno);
    }
    return done(joinPath(folder, newName), stampOf(st));
}

FileResult removeCopy(const std::string &path, const FileStamp &expected)
{
    const auto [folder, name] = splitPath(path);
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st { };
    if (dir.get() < 0 || ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return done({}, {}); // gone already
        return failed(quoted(name), errno);
    }
    if (stampOf(st) != expected)
        return refused(quoted(name) + " has been changed since it was made, and is kept");
    if (::unlinkat(dir.get(), name.c_str(), 0) != 0)
        return failed(quoted(name) + " cannot be removed", errno);
    return done({}, {});
}

FileResult moveBack(const std::string &path, const FileStamp &expected, const std::string &target,
                    const std::string &trashInfo, const Hooks &hooks)
{
    const auto [folder, name] = splitPath(target);
    FileResult r = transfer(
        path, expected, folder,
        [name = name](int n) -> std::optional<std::string> {
            if (n > 1)
                return std::nullopt;
            return name;
        },
        true, hooks);
    if (r.status == FileResult::Status::Done && !trashInfo.empty())
        ::unlink(trashInfo.c_str());
    return r;
}

std::uint64_t bytesToCopy(const FileStep &step)
{
    struct stat file { };
    if (::stat(step.path.c_str(), &file) != 0)
        return 0;
    switch (step.kind) {
    case FileStep::Kind::CopyInto: return static_cast<std::uint64_t>(file.st_size);
    case FileStep::Kind::MoveInto:
    case FileStep::Kind::MoveBack: {
        struct stat folder { };
        const std::string into = step.kind == FileStep::Kind::MoveInto ? step.target : splitPath(step.target).first;
        if (::stat(into.c_str(), &folder) != 0 || folder.st_dev == file.st_dev)
            return 0;
        return static_cast<std::uint64_t>(file.st_size);
    }
    default: return 0;
    }
}

} // namespace auralist::files
