#pragma once

#include <QSettings>

#include "core/services.h"

namespace auralist {

// User settings in $XDG_CONFIG_HOME/Auralist/Auralist.conf (INI, keys under
// [General]).
class QtSettings : public Settings {
public:
    QtSettings();
    std::optional<std::string> value(const std::string &key) const override;
    void setValue(const std::string &key, const std::string &value) override;
    bool sync() override;
    QString fileName() const { return m_settings.fileName(); }

private:
    QSettings m_settings;
};

} // namespace auralist
