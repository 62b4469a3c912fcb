#include "platform/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system_reason.h"

namespace auralist {

namespace {

std::unique_ptr<SoundFile> fail(std::string *error, const std::string &reason)
{
    if (error)
        *error = reason;
    return nullptr;
}

std::mutex &libsndfileTurn()
{
    static std::mutex lock;
    return lock;
}

std::function<void()> &openReadHook()
{
    static std::function<void()> hook;
    return hook;
}

} // namespace

const char *notRegularFileReason(mode_t mode)
{
    if (S_ISREG(mode))
        return nullptr;
    return S_ISDIR(mode) ? "It is a folder." : "It is not a regular file.";
}

bool isPlayableInfo(const SF_INFO &info, std::string &error)
{
    // A rate under 1 kHz is no sound anyone made: a header that claims one
    // is damaged or lying.
    constexpr int kLowestRate = 1000;
    if (info.channels <= 0 || info.samplerate < kLowestRate || info.samplerate > 768000 || info.channels > 256
        || info.frames < 0) {
        error = "Its sample rate or channel count cannot be played.";
        return false;
    }
    return true;
}

bool isRegularFile(const std::string &path, std::string &error)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0) {
        error = systemReason(errno);
        return false;
    }
    if (const char *reason = notRegularFileReason(st.st_mode)) {
        error = reason;
        return false;
    }
    return true;
}

std::unique_ptr<SoundFile> SoundFile::open(const std::string &path, std::string *error)
{
    // Without blocking: a FIFO named like a sound must not hold the opener.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, systemReason(errno));
    struct stat st { };
    if (::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(error, systemReason(code));
    }
    if (const char *reason = notRegularFileReason(st.st_mode)) {
        ::close(fd);
        return fail(error, reason);
    }
    return adopt(fd, st.st_size, error);
}

std::unique_ptr<SoundFile> SoundFile::adopt(int fd, std::int64_t size, std::string *error)
{
    std::unique_ptr<SoundFile> file(new SoundFile(fd, size));
    SF_VIRTUAL_IO io{&SoundFile::vioLength, &SoundFile::vioSeek, &SoundFile::vioRead, &SoundFile::vioWrite,
                     &SoundFile::vioTell};
    {
        std::unique_lock<std::mutex> turn(libsndfileTurn());
        file->m_openTurn = &turn;
        file->m_file = sf_open_virtual(&io, SFM_READ, &file->m_info, file.get());
        file->m_openTurn = nullptr;
        if (!file->m_file)
            return fail(error, sf_strerror(nullptr));
    }
    std::string unplayable;
    if (!isPlayableInfo(file->m_info, unplayable))
        return fail(error, unplayable);
    return file;
}

SNDFILE *SoundFile::create(int fd, SF_INFO &info, std::string *error)
{
    const std::lock_guard<std::mutex> turn(libsndfileTurn());
    SNDFILE *file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!file && error)
        *error = sf_strerror(nullptr);
    return file;
}

SoundFile::~SoundFile()
{
    if (m_file)
        sf_close(m_file);
    ::close(m_fd);
}

void SoundFile::setOpenReadHook(std::function<void()> hook)
{
    openReadHook() = std::move(hook);
}

sf_count_t SoundFile::vioLength(void *self)
{
    return static_cast<SoundFile *>(self)->m_size;
}

sf_count_t SoundFile::vioSeek(sf_count_t offset, int whence, void *self)
{
    auto *f = static_cast<SoundFile *>(self);
    std::int64_t to = offset;
    if (whence == SEEK_CUR)
        to += f->m_position;
    else if (whence == SEEK_END)
        to += f->m_size;
    if (to < 0)
        return -1;
    f->m_position = to;
    return to;
}

sf_count_t SoundFile::vioRead(void *to, sf_count_t count, void *self)
{
    auto *f = static_cast<SoundFile *>(self);
    if (count <= 0)
        return 0;
    // The disk may be slow: the others may open meanwhile.
    if (f->m_openTurn)
        f->m_openTurn->unlock();
    if (f->m_openTurn && openReadHook())
        openReadHook()();
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(f->m_fd, static_cast<char *>(to) + done, static_cast<size_t>(count - done),
                                    static_cast<off_t>(f->m_position + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    if (f->m_openTurn)
        f->m_openTurn->lock();
    f->m_position += done;
    return done;
}

sf_count_t SoundFile::vioWrite(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t SoundFile::vioTell(void *self)
{
    return static_cast<SoundFile *>(self)->m_position;
}

} // namespace auralist
