#pragma once

#include <optional>
#include <string_view>

#include <QVariant>

namespace auralist {

// Parses a property list in XML form or in the old text form
// ({ key = value; }, ( a, b ), "quoted", <hex data>, comments).
// Dictionaries become QVariantMap, arrays QVariantList, strings QString,
// data QByteArray; XML integers, reals, booleans and dates become the
// matching QVariant types. Nothing when the text does not parse.
std::optional<QVariant> parsePropertyList(std::string_view text);

} // namespace auralist
