#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "audio/decoder.h"
#include "platform/sound_types.h"
#include "sound_files.h"
#include "test_support.h"

using namespace auralist;
using auralist::testing::TempDir;
using auralist::testing::writeSoundFile;

namespace {

bool has(const std::vector<std::string> &list, const std::string &item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool libraryDecodes(int major)
{
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.format == major)
            return true;
    }
    return false;
}

std::string writeTone(const TempDir &tmp, const std::string &name, int format)
{
    const std::string path = tmp.path() + "/" + name;
    writeSoundFile(path, format, 44100, 2, std::vector<float>(2 * 4410, 0.25F));
    return path;
}

} // namespace

TEST(SoundEngine, TypesAreWhatTheLibraryDecodesAndTheDecoderRefusesWhatItCannot)
{
    const auto types = sndfileSoundTypes();
    EXPECT_EQ(types, sndfileSoundTypes()); // asking again gives the same list
    for (const char *t : {"wav", "WAV", "wave", "aiff", "AIF", "aifc", "au", "flac", "FLAC", "ogg", "caf", "w64",
                          "rf64", "WAVE", "AIFF", "AIFC", "ULAW"})
        EXPECT_TRUE(has(types, t)) << t;
    EXPECT_EQ(has(types, "mp3"), libraryDecodes(SF_FORMAT_MPEG));
    EXPECT_EQ(has(types, "MP3"), libraryDecodes(SF_FORMAT_MPEG));
    EXPECT_FALSE(has(types, "raw"));
    EXPECT_FALSE(has(types, "txt"));

    TempDir tmp;
    std::string error;
    const auto opens = [&](const std::string &path) {
        error.clear();
        return audio::openSndfileDecoder(path, error) != nullptr;
    };
    EXPECT_TRUE(opens(writeTone(tmp, "tone.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16)));
    EXPECT_TRUE(opens(writeTone(tmp, "tone.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16)));
    // Named like a FLAC, holding a WAV: libsndfile reads the contents.
    EXPECT_TRUE(opens(writeTone(tmp, "wrong-name.flac", SF_FORMAT_WAV | SF_FORMAT_PCM_16)));
    EXPECT_FALSE(opens(tmp.file("empty.wav", "")));
    EXPECT_FALSE(opens(tmp.file("corrupt.wav", std::string("RIFF\x10\x00\x00\x00WAVEfmt ", 16))));
    EXPECT_FALSE(opens(tmp.file("text.wav", "not a sound at all, just words")));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(opens(tmp.dir("folder.wav")));
    EXPECT_EQ(error, "It is a folder.");
    EXPECT_FALSE(opens(tmp.path() + "/missing.wav"));
    EXPECT_EQ(error, "No such file or directory");
    const std::string fifo = tmp.path() + "/pipe.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(opens(fifo)); // returns at once instead of blocking
    EXPECT_EQ(error, "It is not a regular file.");

    // Mono comes out on both sides.
    const std::string mono = tmp.path() + "/mono.wav";
    writeSoundFile(mono, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, {0.1F, -0.2F, 0.3F});
    auto decoder = audio::openSndfileDecoder(mono, error);
    ASSERT_NE(decoder, nullptr);
    float out[8] = {};
    ASSERT_EQ(decoder->read(out, 4), 3);
    EXPECT_EQ(std::vector<float>(out, out + 6), (std::vector<float>{0.1F, 0.1F, -0.2F, -0.2F, 0.3F, 0.3F}));
}
