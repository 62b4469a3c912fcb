#include "audio/decoder.h"

#include <sndfile.h>

#include <algorithm>

#include "platform/decoder_messages.h"
#include "platform/sound_file.h"

namespace auralist::audio {

namespace {

class SndfileDecoder : public Decoder {
public:
    SndfileDecoder(std::unique_ptr<SoundFile> file, std::string path)
        : m_owner(std::move(file)), m_file(m_owner->handle()), m_info(m_owner->info()), m_path(std::move(path))
    {
    }

    int sampleRate() const override { return m_info.samplerate; }
    std::int64_t frames() const override { return m_info.frames; }

    std::int64_t read(float *out, std::int64_t count) override
    {
        DecoderMessages::setCurrentFile(m_path);
        const int channels = m_info.channels;
        if (channels == 2)
            return sf_readf_float(m_file, out, count);
        m_scratch.resize(static_cast<size_t>(count) * static_cast<size_t>(channels));
        const sf_count_t got = sf_readf_float(m_file, m_scratch.data(), count);
        for (sf_count_t i = 0; i < got; ++i) {
            const float *frame = &m_scratch[static_cast<size_t>(i) * static_cast<size_t>(channels)];
            // Mono to both sides; more than two channels: the first two.
            out[2 * i] = frame[0];
            out[2 * i + 1] = channels == 1 ? frame[0] : frame[1];
        }
        return got;
    }

    bool seek(std::int64_t frame) override
    {
        DecoderMessages::setCurrentFile(m_path);
        return sf_seek(m_file, std::max<std::int64_t>(0, frame), SEEK_SET) >= 0;
    }

private:
    std::unique_ptr<SoundFile> m_owner;
    SNDFILE *m_file;
    SF_INFO m_info;
    std::string m_path;
    std::vector<float> m_scratch;
};

} // namespace

std::unique_ptr<Decoder> openSndfileDecoder(const std::string &path, std::string &error)
{
    DecoderMessages::setCurrentFile(path);
    std::unique_ptr<SoundFile> file = SoundFile::open(path, &error);
    if (!file)
        return nullptr;
    return std::make_unique<SndfileDecoder>(std::move(file), path);
}

} // namespace auralist::audio
