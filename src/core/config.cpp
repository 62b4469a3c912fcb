#include "core/config.h"

#include <cstdlib>

#include "build_config.h"

namespace auralist {

namespace {

std::string setting(const char *name, const char *builtin)
{
    const char *value
        = std::getenv(name); // NOLINT(concurrency-mt-unsafe): read on the main thread; nothing sets the environment
    return value ? std::string(value) : std::string(builtin);
}

} // namespace

Config Config::fromEnvironment()
{
    return Config{
        setting("AURALIST_SITE_HOST", AURALIST_BUILTIN_SITE_HOST),
        setting("AURALIST_FEEDBACK_ADDRESS", AURALIST_BUILTIN_FEEDBACK_ADDRESS),
        setting("AURALIST_PAYMENT_HOST", AURALIST_BUILTIN_PAYMENT_HOST),
        setting("AURALIST_PAYMENT_ACCOUNT", AURALIST_BUILTIN_PAYMENT_ACCOUNT),
    };
}

} // namespace auralist
