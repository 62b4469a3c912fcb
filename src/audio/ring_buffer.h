#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace auralist::audio {

// A single-producer, single-consumer ring of interleaved stereo frames.
// The producer (the player thread) writes, the consumer (the output's
// real-time callback) reads or drops; neither ever waits or allocates
// after construction.
class FrameRing {
public:
    static constexpr int kChannels = 2;

    explicit FrameRing(size_t capacityFrames)
    {
        size_t capacity = 1;
        while (capacity < capacityFrames)
            capacity <<= 1U;
        m_mask = capacity - 1;
        m_samples.assign(capacity * kChannels, 0.0F);
    }

    size_t capacity() const { return m_mask + 1; }

    // Producer side.
    size_t writable() const
    {
        return capacity() - (m_write.load(std::memory_order_relaxed) - m_read.load(std::memory_order_acquire));
    }
    // Copies up to frames frames in; returns how many went in.
    size_t write(const float *in, size_t frames)
    {
        const std::uint64_t w = m_write.load(std::memory_order_relaxed);
        frames = std::min(frames, writable());
        for (size_t i = 0; i < frames; ++i) {
            const size_t at = static_cast<size_t>((w + i) & m_mask) * kChannels;
            m_samples[at] = in[i * kChannels];
            m_samples[at + 1] = in[i * kChannels + 1];
        }
        m_write.store(w + frames, std::memory_order_release);
        return frames;
    }
    // Frames written since construction.
    std::uint64_t written() const { return m_write.load(std::memory_order_relaxed); }

    // Consumer side.
    size_t readable() const
    {
        return static_cast<size_t>(m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_relaxed));
    }
    size_t read(float *out, size_t frames)
    {
        const std::uint64_t r = m_read.load(std::memory_order_relaxed);
        frames = std::min(frames, readable());
        for (size_t i = 0; i < frames; ++i) {
            const size_t at = static_cast<size_t>((r + i) & m_mask) * kChannels;
            out[i * kChannels] = m_samples[at];
            out[i * kChannels + 1] = m_samples[at + 1];
        }
        m_read.store(r + frames, std::memory_order_release);
        return frames;
    }
    // Drops everything readable now.
    void dropAll() { m_read.store(m_write.load(std::memory_order_acquire), std::memory_order_release); }
    // Frames read (or dropped) since construction; readable by either side.
    std::uint64_t consumed() const { return m_read.load(std::memory_order_acquire); }

private:
    std::vector<float> m_samples;
    size_t m_mask = 0;
    std::atomic<std::uint64_t> m_write{0};
    std::atomic<std::uint64_t> m_read{0};
};

} // namespace auralist::audio
