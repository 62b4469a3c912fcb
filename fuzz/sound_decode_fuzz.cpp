// Arbitrary bytes written to a file and opened and decoded as the sound
// engine does: nothing, or frames until the end, never a crash or a hang.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/sound_file.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = auralist::fuzzing::scratchFileWith(data, size);
    if (path.empty())
        return 0;

    const auto sound = auralist::SoundFile::open(path);
    if (!sound)
        return 0;
    SNDFILE *file = sound->handle();
    const SF_INFO &info = sound->info();
    std::vector<float> buffer(static_cast<std::size_t>(2048) * static_cast<std::size_t>(info.channels));
    // A header may claim any length; a bounded number of reads keeps a
    // generator of silence from running forever.
    for (int reads = 0; reads < 4096; ++reads) {
        if (sf_readf_float(file, buffer.data(), 2048) <= 0)
            break;
    }
    sf_seek(file, 0, SEEK_SET);
    return 0;
}
