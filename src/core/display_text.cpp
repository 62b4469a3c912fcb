#include "core/display_text.h"

#include <QByteArray>
#include <QFile>

namespace auralist {

QString displayText(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string editedBytes(std::string_view original, const QString &edited)
{
    const QString shown = displayText(original);
    const auto encoded = [](const QString &text) {
        const QByteArray bytes = QFile::encodeName(text);
        return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
    };
    if (edited == shown)
        return std::string(original);
    // What was left as it was, before and after what was typed.
    qsizetype same = 0;
    while (same < shown.size() && same < edited.size() && shown[same] == edited[same])
        ++same;
    qsizetype sameEnd = 0;
    while (sameEnd < shown.size() - same && sameEnd < edited.size() - same
           && shown[shown.size() - 1 - sameEnd] == edited[edited.size() - 1 - sameEnd])
        ++sameEnd;
    // The most bytes of the name that show as the part left before, and
    // after: the name's own bytes there.
    std::size_t head = 0;
    for (std::size_t b = 0; b <= original.size(); ++b) {
        if (displayText(original.substr(0, b)) == shown.left(same))
            head = b;
    }
    std::size_t tail = 0;
    for (std::size_t b = 0; b <= original.size() - head; ++b) {
        if (displayText(original.substr(original.size() - b)) == shown.right(sameEnd))
            tail = b;
    }
    std::string out(original.substr(0, head));
    out += encoded(edited.mid(same, edited.size() - same - sameEnd));
    out += original.substr(original.size() - tail);
    // Anything else (a part left that no bytes show as): as typed.
    return displayText(out) == edited ? out : encoded(edited);
}

QString plainTip(const QString &text)
{
    if (!text.contains(QLatin1Char('<')) && !text.contains(QLatin1Char('&')))
        return text;
    return QStringLiteral("<qt>%1</qt>").arg(text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")));
}

} // namespace auralist
