// The property-list parser on arbitrary text: an answer or nothing, never a
// crash or a hang, and what it answers survives a second look.
#include <cstdint>
#include <string_view>

#include "web/property_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto result = auralist::parsePropertyList(text);
    if (result)
        (void)result->toMap().value(QStringLiteral("version")).toString();
    return 0;
}
