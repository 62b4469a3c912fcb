#include "core/setting.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace auralist {

bool valueOf(const Settings &store, const Setting<bool> &setting)
{
    const auto v = store.value(setting.key);
    if (v && (*v == "true" || *v == "1"))
        return true;
    if (v && (*v == "false" || *v == "0"))
        return false;
    return setting.byDefault;
}

int valueOf(const Settings &store, const Setting<int> &setting)
{
    const auto v = store.value(setting.key);
    if (!v)
        return setting.byDefault;
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(v->c_str(), &end, 10);
    if (end == v->c_str() || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        return setting.byDefault;
    return static_cast<int>(n);
}

double valueOf(const Settings &store, const Setting<double> &setting)
{
    const auto v = store.value(setting.key);
    if (!v)
        return setting.byDefault;
    char *end = nullptr;
    const double n = std::strtod(v->c_str(), &end);
    return end == v->c_str() || !std::isfinite(n) ? setting.byDefault : n;
}

std::optional<std::string> valueOf(const Settings &store, const TextSetting &setting)
{
    return store.value(setting.key);
}

void keep(Settings &store, const Setting<bool> &setting, bool value)
{
    store.setValue(setting.key, value ? "true" : "false");
}

void keep(Settings &store, const Setting<int> &setting, int value)
{
    store.setValue(setting.key, std::to_string(value));
}

void keep(Settings &store, const TextSetting &setting, const std::string &value)
{
    store.setValue(setting.key, value);
}

} // namespace auralist
