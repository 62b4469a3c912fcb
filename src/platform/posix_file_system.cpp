#include "platform/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/file_type.h"
#include "core/url_escape.h"
#include "platform/descriptor.h"
#include "platform/system_reason.h"

namespace auralist {

namespace {

EntryKind kindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return EntryKind::File;
    if (S_ISDIR(mode))
        return EntryKind::Directory;
    if (S_ISLNK(mode))
        return EntryKind::Symlink;
    return EntryKind::Other;
}

EntryKind kindOfDirent(unsigned char type)
{
    switch (type) {
    case DT_REG: return EntryKind::File;
    case DT_DIR: return EntryKind::Directory;
    case DT_LNK: return EntryKind::Symlink;
    case DT_UNKNOWN: return EntryKind::Unknown;
    default: return EntryKind::Other;
    }
}

std::string percentEncodePath(const std::string &path)
{
    std::string out;
    appendPercentEscaped(out, path, [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || (c != 0 && std::strchr("/-_.~", c) != nullptr);
    });
    return out;
}

bool makeDirectories(const std::string &path, mode_t mode)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const auto [parent, name] = splitPath(path);
    if (parent != path && parent != "." && !makeDirectories(parent, mode))
        return false;
    return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

std::string homeTrash()
{
    // NOLINTBEGIN(concurrency-mt-unsafe): nothing in Auralist sets the environment
    const char *dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return std::string(dataHome) + "/Trash";
    const char *home = std::getenv("HOME");
    // NOLINTEND(concurrency-mt-unsafe)
    return std::string(home ? home : "") + "/.local/share/Trash";
}

// The mount point of the file system holding the folder opened as dirFd.
std::string topDirectoryOf(const std::string &absoluteFolder, dev_t device)
{
    std::string top = absoluteFolder;
    for (;;) {
        const auto [parent, name] = splitPath(top);
        (void)name;
        struct stat st { };
        if (top == "/" || ::stat(parent.c_str(), &st) != 0 || st.st_dev != device)
            return top;
        top = parent;
    }
}

// The name a file takes in the Trash: its own, shortened (as file managers
// do) where its .trashinfo and a number would not fit in a name; the
// extension is kept, and no character is cut in two. The .trashinfo keeps
// the whole original path.
std::string trashNameFor(const std::string &name)
{
    constexpr std::size_t kRoom = 255 - std::char_traits<char>::length(".trashinfo") - 4;
    if (name.size() <= kRoom)
        return name;
    const std::size_t dot = name.rfind('.');
    const std::string extension
        = dot != std::string::npos && dot > 0 && name.size() - dot <= 16 ? name.substr(dot) : "";
    std::size_t keep = kRoom - extension.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.substr(0, keep) + extension;
}

// Opens the folder name in dirFd, made (0700) if it is not there, only if
// it is a real folder (never a link) that belongs to this user and that no
// one else may enter: -1 otherwise.
int openOwnFolder(int dirFd, const std::string &name)
{
    if (dirFd < 0)
        return -1;
    if (::mkdirat(dirFd, name.c_str(), 0700) != 0 && errno != EEXIST)
        return -1;
    Fd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st { };
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 0077) != 0) {
        errno = EPERM;
        return -1;
    }
    return fd.release();
}

// The Trash of the volume whose top folder is top, as the freedesktop
// rules have it, never following a link: $top/.Trash/$uid when $top/.Trash
// is a real folder with the sticky bit, else $top/.Trash-$uid; each made
// 0700 where it is not there, and taken only when it is this user's own.
// where: its path. -1 when there is none that is safe.
int openVolumeTrash(const std::string &top, std::string &where)
{
    Fd topFd(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (topFd.get() < 0)
        return -1;
    const std::string uid = std::to_string(::getuid());
    const std::string prefix = top == "/" ? std::string() : top;
    Fd shared(::openat(topFd.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st { };
    if (shared.get() >= 0 && ::fstat(shared.get(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
        const int mine = openOwnFolder(shared.get(), uid);
        if (mine >= 0) {
            where = prefix + "/.Trash/" + uid;
            return mine;
        }
    }
    const int own = openOwnFolder(topFd.get(), ".Trash-" + uid);
    if (own >= 0)
        where = prefix + "/.Trash-" + uid;
    return own;
}

// Moves parentFd/name into a Trash folder (with its .trashinfo), the home
// trash when it lies on the same file system, else the volume's own one.
RemovalResult moveToTrash(int parentFd, const std::string &absoluteFolder, const std::string &name, dev_t device)
{
    std::string trash = homeTrash();
    std::string infoPathPrefix; // empty: absolute paths in .trashinfo
    if (!makeDirectories(trash + "/files", 0700) || !makeDirectories(trash + "/info", 0700))
        return {RemovalResult::Status::Failed, "the Trash folder " + trash + " cannot be made", {}, {}};
    struct stat trashStat { };
    Fd filesFd;
    Fd infoFd;
    if (::stat((trash + "/files").c_str(), &trashStat) != 0 || trashStat.st_dev != device) {
        const std::string top = topDirectoryOf(absoluteFolder, device);
        infoPathPrefix = top;
        Fd volumeTrash(openVolumeTrash(top, trash));
        filesFd = Fd(openOwnFolder(volumeTrash.get(), "files"));
        infoFd = Fd(openOwnFolder(volumeTrash.get(), "info"));
        if (filesFd.get() < 0 || infoFd.get() < 0)
            return {RemovalResult::Status::Failed,
                    "this volume has no Trash folder that is safely yours (a link, or another user's, is in its "
                    "place); nothing was moved",
                    {},
                    {}};
    } else {
        filesFd = Fd(::open((trash + "/files").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        infoFd = Fd(::open((trash + "/info").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (filesFd.get() < 0 || infoFd.get() < 0)
        return {RemovalResult::Status::Failed, systemReason(errno), {}, {}};

    std::string original = (absoluteFolder == "/" ? std::string() : absoluteFolder) + "/" + name;
    if (!infoPathPrefix.empty() && infoPathPrefix != "/")
        original = original.substr(infoPathPrefix.size() + 1);
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const std::string info = "[Trash Info]\nPath=" + percentEncodePath(original) + "\nDeletionDate=" + date + "\n";

    const std::string base = trashNameFor(name);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string trashName = attempt == 0 ? base : base + "." + std::to_string(attempt);
        const std::string infoName = trashName + ".trashinfo";
        // Claiming the .trashinfo name first makes the files name ours.
        Fd infoFile(::openat(infoFd.get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (infoFile.get() < 0) {
            if (errno == EEXIST)
                continue;
            return {RemovalResult::Status::Failed, systemReason(errno), {}, {}};
        }
        const bool written = ::write(infoFile.get(), info.data(), info.size()) == static_cast<ssize_t>(info.size());
        struct stat existing { };
        if (written && ::fstatat(filesFd.get(), trashName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0
            && ::renameat(parentFd, name.c_str(), filesFd.get(), trashName.c_str()) == 0) {
            std::string trashedAs = trash;
            trashedAs.append("/files/").append(trashName);
            std::string trashInfo = trash;
            trashInfo.append("/info/").append(infoName);
            return {RemovalResult::Status::Removed, {}, std::move(trashedAs), std::move(trashInfo)};
        }
        const int error = written ? errno : EIO;
        ::unlinkat(infoFd.get(), infoName.c_str(), 0);
        if (written && error == ENOENT)
            continue; // the files name was taken: try the next one
        return {RemovalResult::Status::Failed, systemReason(error), {}, {}};
    }
    return {RemovalResult::Status::Failed, "no free name in the Trash", {}, {}};
}

} // namespace

bool PosixFileSystem::listDirectory(const std::string &path, const EntryCallback &callback)
{
    DIR *dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    // readdir is safe on a stream no other thread uses.
    while (const dirent *entry = ::readdir(dir)) { // NOLINT(concurrency-mt-unsafe)
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        callback(std::string_view(name), kindOfDirent(entry->d_type));
    }
    ::closedir(dir);
    return true;
}

EntryKind PosixFileSystem::kindOf(const std::string &path)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        return EntryKind::None;
    return kindOfMode(st.st_mode);
}

std::uint32_t PosixFileSystem::fileTypeCode(const std::string &path)
{
    unsigned char info[32] = {};
    const ssize_t n = ::lgetxattr(path.c_str(), "user.com.apple.FinderInfo", info, sizeof info);
    if (n < 4)
        return 0;
    return (std::uint32_t(info[0]) << 24) | (std::uint32_t(info[1]) << 16) | (std::uint32_t(info[2]) << 8)
        | std::uint32_t(info[3]);
}

std::optional<FileIdentity> PosixFileSystem::identify(const std::string &path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                        kindOfMode(st.st_mode)};
}

RemovalResult PosixFileSystem::removeFile(const std::string &path, const FileIdentity &expected, bool toTrash)
{
    if (expected.kind == EntryKind::Directory)
        return {RemovalResult::Status::IsFolder, {}, {}, {}};
    const auto [folder, name] = splitPath(path);
    if (name.empty() || name == "." || name == "..")
        return {RemovalResult::Status::Changed, {}, {}, {}};
    // Everything below works relative to the folder opened once, so that a
    // folder of the path renamed or replaced meanwhile cannot redirect it.
    Fd parent(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) {
        if (errno == ENOENT)
            return {RemovalResult::Status::Gone, {}, {}, {}};
        return {RemovalResult::Status::Failed, systemReason(errno), {}, {}};
    }
    struct stat now { };
    if (::fstatat(parent.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return {RemovalResult::Status::Gone, {}, {}, {}};
        return {RemovalResult::Status::Failed, systemReason(errno), {}, {}};
    }
    const FileIdentity current{static_cast<std::uint64_t>(now.st_dev), static_cast<std::uint64_t>(now.st_ino),
                               kindOfMode(now.st_mode)};
    if (current.kind == EntryKind::Directory)
        return {RemovalResult::Status::IsFolder, {}, {}, {}};
    if (current != expected)
        return {RemovalResult::Status::Changed, {}, {}, {}};
    if (toTrash) {
        char resolved[PATH_MAX];
        if (!::realpath(folder.c_str(), resolved))
            return {RemovalResult::Status::Failed, systemReason(errno), {}, {}};
        struct stat folderStat { };
        if (::fstat(parent.get(), &folderStat) != 0)
            return {RemovalResult::Status::Failed, systemReason(errno), {}, {}};
        return moveToTrash(parent.get(), resolved, name, folderStat.st_dev);
    }
    if (::unlinkat(parent.get(), name.c_str(), 0) != 0) {
        if (errno == ENOENT)
            return {RemovalResult::Status::Gone, {}, {}, {}};
        return {RemovalResult::Status::Failed, systemReason(errno), {}, {}};
    }
    return {RemovalResult::Status::Removed, {}, {}, {}};
}

std::optional<FileStamp> PosixFileSystem::stamp(const std::string &path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

} // namespace auralist
