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

SNDFILE *openSoundFile(const std::string &path, SF_INFO &info, std::string *error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        char buffer[256];
        // The GNU strerror_r returns the text, in buffer or in static storage.
        return fail(error, ::strerror_r(errno, buffer, sizeof buffer));
    }
    if (!S_ISREG(st.st_mode))
        return fail(error, S_ISDIR(st.st_mode) ? "It is a folder." : "It is not a regular file.");
    info = SF_INFO{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return fail(error, sf_strerror(nullptr));
    if (info.channels <= 0 || info.samplerate <= 0 || info.samplerate > 768000 || info.channels > 256 ||
        info.frames < 0) {
        sf_close(file);
        return fail(error, "Its sample rate or channel count cannot be played.");
    }
    return file;
}

} // namespace auralist
