#include "platform/sound_header_reader.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/header_facts.h"
#include "platform/sound_file.h"
#include "platform/sound_metadata.h"
#include "platform/system_reason.h"

namespace auralist {

namespace {

HeaderFacts failed(std::string &error, std::string reason)
{
    error = std::move(reason);
    HeaderFacts f;
    f.state = HeaderFacts::State::Failed;
    return f;
}

FileFormat containerOf(int major)
{
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX: return FileFormat::Wav;
    case SF_FORMAT_AIFF: return FileFormat::Aiff;
    case SF_FORMAT_FLAC: return FileFormat::Flac;
    case SF_FORMAT_OGG: return FileFormat::Ogg;
    case SF_FORMAT_MPEG: return FileFormat::Mp3;
    case SF_FORMAT_AU: return FileFormat::Au;
    case SF_FORMAT_CAF: return FileFormat::Caf;
    case SF_FORMAT_W64: return FileFormat::W64;
    case SF_FORMAT_RF64: return FileFormat::Rf64;
    default: return FileFormat::Other;
    }
}

SampleEncoding encodingOf(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return SampleEncoding::Pcm8;
    case SF_FORMAT_PCM_16: return SampleEncoding::Pcm16;
    case SF_FORMAT_PCM_24: return SampleEncoding::Pcm24;
    case SF_FORMAT_PCM_32: return SampleEncoding::Pcm32;
    case SF_FORMAT_FLOAT: return SampleEncoding::Float;
    case SF_FORMAT_DOUBLE: return SampleEncoding::Double;
    case SF_FORMAT_VORBIS: return SampleEncoding::Vorbis;
    case SF_FORMAT_OPUS: return SampleEncoding::Opus;
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III: return SampleEncoding::Mpeg;
    case SF_FORMAT_ALAW: return SampleEncoding::ALaw;
    case SF_FORMAT_ULAW: return SampleEncoding::ULaw;
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM: return SampleEncoding::Adpcm;
    default: return SampleEncoding::Other;
    }
}

} // namespace

HeaderFacts factsFromInfo(int format, long long frames, int rate, int channels, unsigned long long size)
{
    HeaderFacts f;
    f.state = HeaderFacts::State::Read;
    f.container = static_cast<std::uint8_t>(containerOf(format & SF_FORMAT_TYPEMASK));
    f.encoding = static_cast<std::uint8_t>(encodingOf(format & SF_FORMAT_SUBMASK));
    f.frames = frames;
    f.rate = static_cast<std::uint32_t>(rate);
    f.channels = static_cast<std::uint16_t>(channels);
    f.size = size;
    return f;
}

namespace {

// The facts of the file at path and, given metadata, what it says of itself.
HeaderFacts readHeader(const std::string &path, std::string &error, FileMetadata *metadata)
{
    // Opened without blocking: a FIFO or a device must not hold a reader.
    std::string reason;
    const std::unique_ptr<SoundFile> file = SoundFile::open(path, &reason);
    if (!file)
        return failed(error, reason);
    const SF_INFO &info = file->info();
    if (metadata)
        *metadata = readFileMetadata(file->handle(), info.format, path);
    return factsFromInfo(info.format, info.frames, info.samplerate, info.channels,
                         static_cast<unsigned long long>(file->size()));
}

} // namespace

HeaderFacts SoundHeaderReader::readWithMetadata(const std::string &path, std::string &error, FileMetadata &metadata)
{
    return readHeader(path, error, &metadata);
}

HeaderFacts SoundHeaderReader::read(const std::string &path, std::string &error)
{
    return readHeader(path, error, nullptr);
}

} // namespace auralist
