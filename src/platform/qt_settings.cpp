#include "platform/qt_settings.h"

namespace auralist {

// The native format on Linux is an INI file: $XDG_CONFIG_HOME/Auralist/Auralist.conf, keys in [General].
QtSettings::QtSettings() : m_settings(QSettings::NativeFormat, QSettings::UserScope, "Auralist", "Auralist")
{
}

std::optional<std::string> QtSettings::value(const std::string &key) const
{
    const QVariant v = m_settings.value(QString::fromStdString(key));
    if (!v.isValid())
        return std::nullopt;
    return v.toString().toStdString();
}

void QtSettings::setValue(const std::string &key, const std::string &value)
{
    m_settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
}

bool QtSettings::sync()
{
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}

} // namespace auralist
