#pragma once

#include <cstdint>
#include <string>

namespace auralist::audio {

// Where frames go: a stream of interleaved stereo float frames at one
// sample rate, pulled by a real-time callback on the output's own thread.
//
// open() and close() are called by the player thread only; the render
// callback runs on the output's thread and must not block or allocate.
class AudioOutput {
public:
    // Fills out with frames frames (2 * frames floats).
    using Render = void (*)(void *context, float *out, std::size_t frames);

    AudioOutput() = default;
    virtual ~AudioOutput() = default;
    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // Makes sure a stream at rate is running and pulling from render (a
    // running stream at that rate is kept). Blocks until it runs or fails;
    // on failure, error says why for the user.
    virtual bool open(int rate, Render render, void *context, std::string &error) = 0;
    // Once close() returns, render is not running and is not called again
    // until the next open().
    virtual void close() = 0;
    // Drops what the server holds but has not played yet (silence, or a
    // faded tail) and asks for frames again at once: a new sound is heard
    // without waiting behind it.
    virtual void flush() = 0;
    // Steady: the sound has been playing a while, and the server may hold
    // more of it ahead, so that a late thread on a busy machine is ridden
    // out; not steady (at each start and seek): a small buffer, so the
    // first frames are heard at once. Kept until the next call or open().
    virtual void setSteady(bool steady) { (void)steady; }
    // The stream or its server has gone away since open().
    virtual bool failed() const = 0;
    // How long a frame handed to render takes to be heard, in frames.
    virtual std::int64_t latencyFrames() const = 0;
};

} // namespace auralist::audio
