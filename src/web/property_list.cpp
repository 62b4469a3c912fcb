#include "web/property_list.h"

#include <QDateTime>
#include <QXmlStreamReader>

#include <cctype>

namespace auralist {

namespace {

// Deeper nesting than this is refused rather than risking the stack.
constexpr int kMaxDepth = 256;

// The old text form.
class TextParser {
public:
    explicit TextParser(std::string_view text) : m_text(text) { }

    std::optional<QVariant> parseDocument()
    {
        skipSpace();
        if (m_failed)
            return std::nullopt;
        if (atEnd())
            return QVariant(QVariantMap()); // an empty file is an empty dictionary
        std::optional<QVariant> value = parseValue(0);
        if (!value)
            return std::nullopt;
        skipSpace();
        if (!atEnd()) {
            // A file may also be a bare dictionary body: key = value; ...
            return std::nullopt;
        }
        return value;
    }

    std::optional<QVariant> parseBareDictionary()
    {
        QVariantMap map;
        skipSpace();
        while (!atEnd() && !m_failed) {
            if (!parseEntry(map, 0))
                return std::nullopt;
            skipSpace();
        }
        if (m_failed)
            return std::nullopt;
        return QVariant(map);
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return m_text[m_pos]; }

    void skipSpace()
    {
        while (!atEnd()) {
            const char c = peek();
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_pos;
            } else if (c == '/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '/') {
                while (!atEnd() && peek() != '\n')
                    ++m_pos;
            } else if (c == '/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '*') {
                const size_t end = m_text.find("*/", m_pos + 2);
                if (end == std::string_view::npos) {
                    m_failed = true;
                    m_pos = m_text.size();
                    return;
                }
                m_pos = end + 2;
            } else {
                return;
            }
        }
    }

    static bool isUnquotedChar(char c)
    {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '+' || c == '/' || c == ':'
            || c == '.' || c == '-';
    }

    std::optional<QString> parseString()
    {
        if (atEnd())
            return std::nullopt;
        if (peek() == '"')
            return parseQuoted();
        const size_t start = m_pos;
        while (!atEnd() && isUnquotedChar(peek()))
            ++m_pos;
        if (m_pos == start)
            return std::nullopt;
        return QString::fromUtf8(m_text.data() + start, static_cast<qsizetype>(m_pos - start));
    }

    std::optional<QString> parseQuoted()
    {
        ++m_pos; // opening quote
        std::string bytes;
        while (!atEnd()) {
            const char c = peek();
            ++m_pos;
            if (c == '"')
                return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
            if (c != '\\') {
                bytes.push_back(c);
                continue;
            }
            if (atEnd())
                return std::nullopt;
            const char e = peek();
            ++m_pos;
            switch (e) {
            case 'n': bytes.push_back('\n'); break;
            case 't': bytes.push_back('\t'); break;
            case 'r': bytes.push_back('\r'); break;
            case 'a': bytes.push_back('\a'); break;
            case 'b': bytes.push_back('\b'); break;
            case 'f': bytes.push_back('\f'); break;
            case 'v': bytes.push_back('\v'); break;
            case 'U': {
                unsigned code = 0;
                int digits = 0;
                while (digits < 4 && !atEnd() && std::isxdigit(static_cast<unsigned char>(peek()))) {
                    code = code * 16 + static_cast<unsigned>(std::stoi(std::string(1, peek()), nullptr, 16));
                    ++m_pos;
                    ++digits;
                }
                if (digits == 0)
                    return std::nullopt;
                bytes += QString(QChar(static_cast<char16_t>(code))).toUtf8().toStdString();
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned code = static_cast<unsigned>(e - '0');
                    int digits = 1;
                    while (digits < 3 && !atEnd() && peek() >= '0' && peek() <= '7') {
                        code = code * 8 + static_cast<unsigned>(peek() - '0');
                        ++m_pos;
                        ++digits;
                    }
                    bytes.push_back(static_cast<char>(code & 0xFF));
                } else {
                    bytes.push_back(e);
                }
            }
        }
        return std::nullopt; // unterminated
    }

    std::optional<QVariant> parseData()
    {
        ++m_pos; // '<'
        QByteArray hex;
        while (!atEnd() && peek() != '>') {
            const char c = peek();
            ++m_pos;
            if (std::isspace(static_cast<unsigned char>(c)))
                continue;
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
            hex.append(c);
        }
        if (atEnd() || hex.size() % 2 != 0)
            return std::nullopt;
        ++m_pos; // '>'
        return QVariant(QByteArray::fromHex(hex));
    }

    bool parseEntry(QVariantMap &map, int depth)
    {
        const std::optional<QString> key = parseString();
        if (!key)
            return false;
        skipSpace();
        if (atEnd())
            return false;
        if (peek() == ';') {
            // "key;" is shorthand for key = key (strings files allow it).
            ++m_pos;
            map.insert(*key, *key);
            return true;
        }
        if (peek() != '=')
            return false;
        ++m_pos;
        skipSpace();
        std::optional<QVariant> value = parseValue(depth + 1);
        if (!value)
            return false;
        skipSpace();
        if (atEnd() || peek() != ';')
            return false;
        ++m_pos;
        map.insert(*key, *value);
        return true;
    }

    std::optional<QVariant> parseValue(int depth)
    {
        if (depth > kMaxDepth || atEnd() || m_failed)
            return std::nullopt;
        const char c = peek();
        if (c == '{') {
            ++m_pos;
            QVariantMap map;
            for (;;) {
                skipSpace();
                if (atEnd() || m_failed)
                    return std::nullopt;
                if (peek() == '}') {
                    ++m_pos;
                    return QVariant(map);
                }
                if (!parseEntry(map, depth))
                    return std::nullopt;
            }
        }
        if (c == '(') {
            ++m_pos;
            QVariantList list;
            skipSpace();
            if (!atEnd() && peek() == ')') {
                ++m_pos;
                return QVariant(list);
            }
            for (;;) {
                skipSpace();
                std::optional<QVariant> value = parseValue(depth + 1);
                if (!value)
                    return std::nullopt;
                list.append(*value);
                skipSpace();
                if (atEnd())
                    return std::nullopt;
                if (peek() == ',') {
                    ++m_pos;
                    skipSpace();
                    if (!atEnd() && peek() == ')') { // trailing comma
                        ++m_pos;
                        return QVariant(list);
                    }
                    continue;
                }
                if (peek() == ')') {
                    ++m_pos;
                    return QVariant(list);
                }
                return std::nullopt;
            }
        }
        if (c == '<')
            return parseData();
        std::optional<QString> s = parseString();
        if (!s)
            return std::nullopt;
        return QVariant(*s);
    }

    std::string_view m_text;
    size_t m_pos = 0;
    bool m_failed = false;
};

std::optional<QVariant> parseXmlValue(QXmlStreamReader &xml, int depth);

std::optional<QVariant> parseXmlDict(QXmlStreamReader &xml, int depth)
{
    QVariantMap map;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("key"))
            return std::nullopt;
        const QString key = xml.readElementText();
        if (xml.hasError() || !xml.readNextStartElement())
            return std::nullopt;
        std::optional<QVariant> value = parseXmlValue(xml, depth + 1);
        if (!value)
            return std::nullopt;
        map.insert(key, *value);
    }
    if (xml.hasError())
        return std::nullopt;
    return QVariant(map);
}

// Called with the reader on a value's start element; leaves it on its end.
std::optional<QVariant> parseXmlValue(QXmlStreamReader &xml, int depth)
{
    if (depth > kMaxDepth)
        return std::nullopt;
    const auto name = xml.name();
    if (name == QLatin1String("dict"))
        return parseXmlDict(xml, depth);
    if (name == QLatin1String("array")) {
        QVariantList list;
        while (xml.readNextStartElement()) {
            std::optional<QVariant> value = parseXmlValue(xml, depth + 1);
            if (!value)
                return std::nullopt;
            list.append(*value);
        }
        if (xml.hasError())
            return std::nullopt;
        return QVariant(list);
    }
    if (name == QLatin1String("true") || name == QLatin1String("false")) {
        const bool v = name == QLatin1String("true");
        xml.skipCurrentElement();
        return QVariant(v);
    }
    const QString text = xml.readElementText();
    if (xml.hasError())
        return std::nullopt;
    if (name == QLatin1String("string"))
        return QVariant(text);
    if (name == QLatin1String("integer")) {
        bool ok = false;
        const qlonglong v = text.trimmed().toLongLong(&ok);
        return ok ? std::optional<QVariant>(QVariant(v)) : std::nullopt;
    }
    if (name == QLatin1String("real")) {
        bool ok = false;
        const double v = text.trimmed().toDouble(&ok);
        return ok ? std::optional<QVariant>(QVariant(v)) : std::nullopt;
    }
    if (name == QLatin1String("date")) {
        const QDateTime d = QDateTime::fromString(text.trimmed(), Qt::ISODate);
        return d.isValid() ? std::optional<QVariant>(QVariant(d)) : std::nullopt;
    }
    if (name == QLatin1String("data")) {
        const auto result = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        // Base64 in plists is often wrapped and indented.
        if (!result) {
            QByteArray compact = text.toLatin1();
            compact.replace(' ', "").replace('\n', "").replace('\t', "").replace('\r', "");
            const auto retry = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
            return retry ? std::optional<QVariant>(QVariant(*retry)) : std::nullopt;
        }
        return QVariant(*result);
    }
    return std::nullopt;
}

std::optional<QVariant> parseXml(std::string_view text)
{
    QXmlStreamReader xml(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist"))
        return std::nullopt;
    if (!xml.readNextStartElement())
        return std::nullopt;
    std::optional<QVariant> value = parseXmlValue(xml, 0);
    if (!value)
        return std::nullopt;
    // Nothing but the closing plist may follow.
    if (xml.readNextStartElement())
        return std::nullopt;
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return std::nullopt;
    return value;
}

bool looksLikeXml(std::string_view text)
{
    size_t i = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        i = 3;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    return text.substr(i, 5) == "<?xml" || text.substr(i, 6) == "<plist" || text.substr(i, 9) == "<!DOCTYPE";
}

} // namespace

std::optional<QVariant> parsePropertyList(std::string_view text)
{
    if (looksLikeXml(text))
        return parseXml(text);
    if (auto value = TextParser(text).parseDocument())
        return value;
    return TextParser(text).parseBareDictionary();
}

} // namespace auralist
