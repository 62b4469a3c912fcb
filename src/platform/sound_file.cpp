#include "platform/sound_file.h"

#include <sys/stat.h>

namespace auralist {

SNDFILE *openSoundFile(const std::string &path, SF_INFO &info)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    info = SF_INFO{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return nullptr;
    if (info.channels <= 0 || info.samplerate <= 0 || info.samplerate > 768000 || info.channels > 256 ||
        info.frames < 0) {
        sf_close(file);
        return nullptr;
    }
    return file;
}

} // namespace auralist
