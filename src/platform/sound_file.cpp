#include "platform/sound_file.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/system_reason.h"

namespace auralist {

namespace {

SNDFILE *fail(std::string *error, const std::string &reason)
{
    if (error)
        *error = reason;
    return nullptr;
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
    if (info.channels <= 0 || info.samplerate <= 0 || info.samplerate > 768000 || info.channels > 256 ||
        info.frames < 0) {
        error = "Its sample rate or channel count cannot be played.";
        return false;
    }
    return true;
}

std::mutex &sndfileOpenLock()
{
    static std::mutex lock;
    return lock;
}

bool isRegularFile(const std::string &path, std::string &error)
{
    struct stat st {};
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

SNDFILE *openSoundFile(const std::string &path, SF_INFO &info, std::string *error)
{
    std::string notRegular;
    if (!isRegularFile(path, notRegular))
        return fail(error, notRegular);
    info = SF_INFO{};
    SNDFILE *file = nullptr;
    {
        const std::lock_guard<std::mutex> lock(sndfileOpenLock());
        file = sf_open(path.c_str(), SFM_READ, &info);
        if (!file)
            return fail(error, sf_strerror(nullptr));
    }
    std::string unplayable;
    if (!isPlayableInfo(info, unplayable)) {
        sf_close(file);
        return fail(error, unplayable);
    }
    return file;
}

} // namespace auralist
