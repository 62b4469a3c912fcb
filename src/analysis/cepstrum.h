#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace auralist::analysis {

// Mel-frequency cepstral coefficients of a magnitude spectrum, the numbers
// aubio's MFCC gives (its Slaney mel filters, the log, its DCT), with each
// filter kept as the few bins it covers rather than as a row of a whole
// matrix: the filters are narrow triangles, and the matrix is nearly all
// zeros.
//
// Threads: one object, one thread.
class MelCepstrum {
public:
    MelCepstrum(unsigned window, unsigned filters, unsigned coefficients, unsigned rate);
    ~MelCepstrum();
    MelCepstrum(const MelCepstrum &) = delete;
    MelCepstrum &operator=(const MelCepstrum &) = delete;

    bool ready() const;
    // spectrum: window / 2 + 1 magnitudes; out: the coefficients.
    void compute(const float *spectrum, float *out);

private:
    struct Band {
        std::uint32_t first = 0;
        std::vector<float> weights;
    };
    struct Transform;
    std::vector<Band> m_bands;
    unsigned m_coefficients;
    std::unique_ptr<Transform> m_transform;
};

} // namespace auralist::analysis
