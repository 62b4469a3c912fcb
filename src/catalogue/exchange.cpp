#include "catalogue/exchange.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <algorithm>
#include <vector>

namespace auralist::catalogue {

namespace {

constexpr const char *kFormatKey = "auralist-library";

bool isUtf8(const std::string &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return !decoder.hasError() && text.toUtf8().toStdString() == bytes;
}

std::vector<std::string> tagsOf(const std::string &text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos)
            end = text.size();
        std::string tag = text.substr(at, end - at);
        tag.erase(0, tag.find_first_not_of(" \t"));
        tag.erase(tag.find_last_not_of(" \t") + 1);
        if (!tag.empty() && std::find(out.begin(), out.end(), tag) == out.end())
            out.push_back(tag);
        at = end + 1;
    }
    return out;
}

std::string joinedTags(const std::string &have, const std::string &more)
{
    std::vector<std::string> tags = tagsOf(have);
    for (std::string &t : tagsOf(more)) {
        if (std::find(tags.begin(), tags.end(), t) == tags.end())
            tags.push_back(std::move(t));
    }
    std::string out;
    for (const std::string &t : tags)
        out += (out.empty() ? "" : ", ") + t;
    return out;
}

} // namespace

std::string exportMarks(Database &db)
{
    QJsonArray sounds;
    for (const SoundRow &r : db.markedSounds()) {
        QJsonObject entry;
        const QByteArray path(r.path.data(), static_cast<qsizetype>(r.path.size()));
        if (isUtf8(r.path))
            entry.insert(QStringLiteral("path"), QString::fromUtf8(path));
        else
            entry.insert(QStringLiteral("pathBase64"), QString::fromLatin1(path.toBase64()));
        if (!r.fingerprint.empty())
            entry.insert(QStringLiteral("fingerprint"), QString::fromStdString(r.fingerprint));
        entry.insert(QStringLiteral("favourite"), r.favourite);
        entry.insert(QStringLiteral("tags"), QString::fromUtf8(r.tags.data(), static_cast<qsizetype>(r.tags.size())));
        sounds.append(entry);
    }
    QJsonObject top;
    top.insert(QLatin1String(kFormatKey), 1);
    top.insert(QStringLiteral("sounds"), sounds);
    return QJsonDocument(top).toJson(QJsonDocument::Indented).toStdString();
}

ImportResult importMarks(Database &db, const std::string &json)
{
    ImportResult result;
    QJsonParseError error{};
    const QJsonDocument doc
        = QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()
        || doc.object().value(QLatin1String(kFormatKey)).toInt() != 1)
        return result;
    result.readable = true;
    const QJsonArray sounds = doc.object().value(QStringLiteral("sounds")).toArray();
    for (qsizetype i = 0; i < sounds.size(); ++i) {
        const QJsonObject entry = sounds.at(i).toObject();
        std::string path;
        if (entry.contains(QStringLiteral("pathBase64")))
            path
                = QByteArray::fromBase64(entry.value(QStringLiteral("pathBase64")).toString().toLatin1()).toStdString();
        else
            path = entry.value(QStringLiteral("path")).toString().toUtf8().toStdString();
        const std::string print = entry.value(QStringLiteral("fingerprint")).toString().toStdString();
        const std::optional<SoundRow> found = path.empty() && print.empty() ? std::nullopt : db.findSound(path, print);
        if (!found) {
            ++result.unmatched;
            continue;
        }
        if (entry.value(QStringLiteral("favourite")).toBool() && !found->favourite)
            db.setFavourite({found->path}, true);
        const std::string tags = entry.value(QStringLiteral("tags")).toString().toUtf8().toStdString();
        const std::string joined = joinedTags(found->tags, tags);
        if (joined != found->tags)
            db.setTags({found->path}, joined);
        ++result.applied;
    }
    return result;
}

} // namespace auralist::catalogue
