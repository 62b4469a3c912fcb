#include "platform/sound_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace auralist {

namespace {

SNDFILE *fail(std::string *error, const std::string &reason)
{
    if (error)
        *error = reason;
    return nullptr;
}

} // namespace

std::mutex &sndfileOpenLock()
{
    static std::mutex lock;
    return lock;
}

bool isRegularFile(const std::string &path, std::string &error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        char buffer[256];
        // The GNU strerror_r returns the text, in buffer or in static storage.
        error = ::strerror_r(errno, buffer, sizeof buffer);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "It is a folder." : "It is not a regular file.";
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
    if (info.channels <= 0 || info.samplerate <= 0 || info.samplerate > 768000 || info.channels > 256 ||
        info.frames < 0) {
        sf_close(file);
        return fail(error, "Its sample rate or channel count cannot be played.");
    }
    return file;
}

} // namespace auralist
