#include "core/options.h"

#include <algorithm>

namespace auralist {

int Options::volume() const
{
    return std::clamp(valueOf(m_settings, settings::kVolume), 0, 100);
}

void Options::setVolume(int volume)
{
    volume = std::clamp(volume, 0, 100);
    m_engine.setVolume(volume / 100.0);
    keep(m_settings, settings::kVolume, volume);
}

void Options::set(const Setting<bool> &setting, bool on)
{
    keep(m_settings, setting, on);
    m_settings.sync();
    if (m_changed)
        m_changed(setting);
}

} // namespace auralist
