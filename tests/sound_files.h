#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace auralist::testing {

// Writes interleaved samples as a sound file: format is libsndfile's
// format word (container | encoding).
inline void writeSoundFile(const std::string &path, int format, int rate, int channels,
                           const std::vector<float> &samples)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
    sf_close(f);
}

} // namespace auralist::testing
