#include "analysis/cepstrum.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace auralist::analysis {

struct MelCepstrum::Transform {
    aubio_dct_t *dct = nullptr;
    fvec_t *energies = nullptr;
    fvec_t *out = nullptr;
    ~Transform()
    {
        if (dct)
            del_aubio_dct(dct);
        if (energies)
            del_fvec(energies);
        if (out)
            del_fvec(out);
    }
    Transform() = default;
    Transform(const Transform &) = delete;
    Transform &operator=(const Transform &) = delete;
};

MelCepstrum::MelCepstrum(unsigned window, unsigned filters, unsigned coefficients, unsigned rate)
    : m_coefficients(std::min(coefficients, filters)), m_transform(std::make_unique<Transform>())
{
    aubio_filterbank_t *bank = new_aubio_filterbank(filters, window);
    if (!bank)
        return;
    if (aubio_filterbank_set_mel_coeffs_slaney(bank, static_cast<smpl_t>(rate)) == 0) {
        const fmat_t *matrix = aubio_filterbank_get_coeffs(bank);
        for (uint_t f = 0; f < matrix->height; ++f) {
            const smpl_t *row = matrix->data[f];
            const smpl_t *end = row + matrix->length;
            const smpl_t *first = std::find_if(row, end, [](smpl_t w) { return w != 0; });
            const smpl_t *last
                = std::find_if(std::make_reverse_iterator(end), std::make_reverse_iterator(first), [](smpl_t w) {
                      return w != 0;
                  }).base();
            Band band;
            band.first = static_cast<std::uint32_t>(first - row);
            band.weights.assign(first, last);
            m_bands.push_back(std::move(band));
        }
    }
    del_aubio_filterbank(bank);
    m_transform->dct = new_aubio_dct(filters);
    m_transform->energies = new_fvec(filters);
    m_transform->out = new_fvec(filters);
}

MelCepstrum::~MelCepstrum() = default;

bool MelCepstrum::ready() const
{
    return !m_bands.empty() && m_transform->dct && m_transform->energies && m_transform->out;
}

void MelCepstrum::compute(const float *spectrum, float *out)
{
    // Summed in the bins' order, as the whole matrix would be, and floored
    // and logged as aubio does, so the numbers are its numbers.
    constexpr float kSmallest = 2.e-42F;
    for (std::size_t f = 0; f < m_bands.size(); ++f) {
        const Band &band = m_bands[f];
        const float *bins = spectrum + band.first;
        float sum = 0;
        for (std::size_t i = 0; i < band.weights.size(); ++i)
            sum += band.weights[i] * bins[i];
        m_transform->energies->data[f] = std::log10(std::max(kSmallest, sum));
    }
    aubio_dct_do(m_transform->dct, m_transform->energies, m_transform->out);
    std::copy(m_transform->out->data, m_transform->out->data + m_coefficients, out);
}

} // namespace auralist::analysis
