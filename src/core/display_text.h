#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace auralist {

// For display only: native bytes (a name, a path) shown as text.
QString displayText(std::string_view bytes);
// A tooltip that shows text as it is: what could be taken for markup (a
// name such as "<h1>Big.wav") is escaped, line breaks kept.
QString plainTip(const QString &text);
// A name edited from original's shown text: the bytes of what the user left
// as it was are original's own (a name that is not UTF-8 keeps them), what
// was typed is UTF-8.
std::string editedBytes(std::string_view original, const QString &edited);

} // namespace auralist
