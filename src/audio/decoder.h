#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace auralist::audio {

// One open sound file, decoded to interleaved stereo float frames. Used by
// one thread at a time (the player's).
class Decoder {
public:
    Decoder() = default;
    virtual ~Decoder() = default;
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    virtual int sampleRate() const = 0;
    // The length the header claims, in frames (0 when unknown).
    virtual std::int64_t frames() const = 0;
    // Up to count frames into out (2 * count floats); 0 at the end, or when
    // the file can no longer be read (truncated under us, say).
    virtual std::int64_t read(float *out, std::int64_t count) = 0;
    // Moves to frame; false when the file cannot seek.
    virtual bool seek(std::int64_t frame) = 0;
};

// Opens path with libsndfile when it names a regular file (never a FIFO or
// a device, which would block). Null with the reason in error otherwise.
std::unique_ptr<Decoder> openSndfileDecoder(const std::string &path, std::string &error);

} // namespace auralist::audio
