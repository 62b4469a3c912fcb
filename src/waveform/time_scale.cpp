#include "waveform/time_scale.h"

#include <cmath>
#include <initializer_list>

namespace auralist::waveform {

double timeScaleStep(int width, double length)
{
    if (width <= 0 || !(length > 0) || !std::isfinite(length))
        return 0;
    for (const double s : {0.01, 0.05, 0.1, 0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 300.0, 600.0}) {
        if (width * s / length >= kTickSpacing)
            return s;
    }
    double step = 3600;
    while (width * step / length < kTickSpacing)
        step *= 10;
    return step;
}

} // namespace auralist::waveform
