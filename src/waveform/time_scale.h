#pragma once

namespace auralist::waveform {

// Ticks of the waveform's time scale lie at least this far apart.
constexpr int kTickSpacing = 64;

// The time scale's step, in seconds, for a strip width pixels wide showing
// length seconds: 0.01 s up to ten minutes, then ten times longer each
// time, so there are never more ticks than the width has room for,
// whatever length a header claims. 0: no scale (no width, no length).
double timeScaleStep(int width, double length);

} // namespace auralist::waveform
