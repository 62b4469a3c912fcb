#include "web/updater.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "core/browser_view.h"
#include "core/services.h"
#include "core/setting.h"
#include "core/string_utils.h"
#include "web/curl_handle.h"

namespace auralist {

namespace {

// "version": leading white space, an optional sign, then decimal digits up
// to the first other character; no digits gives 0.
int versionNumber(const QVariant &value)
{
    if (value.typeId() != QMetaType::QString) {
        const qlonglong v = value.toLongLong();
        return static_cast<int>(std::clamp<qlonglong>(v, INT_MIN, INT_MAX));
    }
    const std::string text = value.toString().toStdString();
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long v = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        v = std::min<long long>(v * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
        ++i;
    }
    v = negative ? -v : v;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double: return true;
    default: return false;
    }
}

// The published dictionary comes over plain HTTP: anything but the shape we
// expect counts as a failed fetch.
bool isUsableVersionDict(const QVariant &plist)
{
    if (plist.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap map = plist.toMap();
    const auto version = map.constFind(QStringLiteral("version"));
    if (version != map.constEnd() && version->typeId() != QMetaType::QString && !isNumber(*version))
        return false;
    const auto url = map.constFind(QStringLiteral("url"));
    if (url != map.constEnd() && url->typeId() != QMetaType::QString)
        return false;
    return true;
}

bool isWebUrl(const std::string &url)
{
    std::string scheme;
    for (char c : url) {
        if (c == ':')
            break;
        scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return (scheme == "http" || scheme == "https") && url.compare(scheme.size(), 3, "://") == 0
        && url.size() > scheme.size() + 3;
}

} // namespace

Updater::Updater(const Services &services, std::string siteHost)
    : m_http(services.http),
      m_alerts(services.alerts),
      m_desktop(services.desktop),
      m_settings(services.settings),
      m_clock(services.clock),
      m_siteHost(std::move(siteHost))
{
}

Updater::~Updater()
{
    // An answer still on its way finds nobody.
    *m_alive = false;
}

std::string Updater::versionUrl() const
{
    return "http://" + m_siteHost + kVersionPath;
}

void Updater::appDidFinishLaunching()
{
    if (isEnabled())
        ckeckForUpdatesIfNeeded();
    setVersionTextField();
}

void Updater::setVersionTextField()
{
    if (!m_versionTextField)
        return;
    // 20040426 -> "2004 04 26": a blank before the day, then one before the month.
    const std::string digits = std::to_string(kCurrentVersion);
    const std::string date = digits.substr(0, 4) + " " + digits.substr(4, 2) + " " + digits.substr(6);
    const std::string text = m_versionTextField->text().toStdString();
    m_versionTextField->setText(QString::fromStdString(xmlparse::stringByReplacingSubstring(text, "YYYY MM DD", date)));
}

void Updater::ckeckForUpdates(bool userAsked)
{
    if (m_versionDict || !isEnabled()) {
        reportCheck(userAsked);
        return;
    }
    // The version dictionary is fetched off the window's thread; a second
    // request meanwhile joins the one under way.
    m_answerUser = m_answerUser || userAsked;
    if (m_fetching)
        return;
    m_fetching = true;
    CURLHandle::propertyListForUrl(m_http, versionUrl(), [this, alive = m_alive](std::optional<QVariant> plist) {
        if (!*alive)
            return;
        m_fetching = false;
        if (plist && isUsableVersionDict(*plist))
            m_versionDict = plist->toMap();
        const bool asked = m_answerUser;
        m_answerUser = false;
        reportCheck(asked);
    });
}

void Updater::reportCheck(bool userAsked)
{
    const int latest = latestVersion();
    if (latest == 0) {
        m_alerts.runAlert(kTitle, "Unable to check for new version.\nPlease try again later.", "OK", "");
    } else if (currentVersion() < latest) {
        std::string message = "A newer version of this application is available.\n";
        const auto &dict = versionDict();
        if (dict) {
            const QVariant description = dict->value(QStringLiteral("description"));
            if (description.typeId() == QMetaType::QString)
                message += description.toString().toStdString();
        }
        if (m_alerts.runAlert(kTitle, message, "Download", "Ignore") == 1)
            update();
    } else if (userAsked) {
        m_alerts.runAlert(kTitle, "Application release " + std::to_string(currentVersion()) + " is up to date.", "OK",
                          "");
    }
    markAsChecked();
}

void Updater::update()
{
    const auto url = latestVersionUrl();
    if (url)
        m_desktop.openUrl(*url);
}

int Updater::latestVersion()
{
    const auto &dict = versionDict();
    if (!dict)
        return 0;
    const auto version = dict->constFind(QStringLiteral("version"));
    if (version == dict->constEnd())
        return 0;
    return versionNumber(*version);
}

std::optional<std::string> Updater::latestVersionUrl()
{
    const auto &dict = versionDict();
    if (!dict)
        return std::nullopt;
    const QVariant url = dict->value(QStringLiteral("url"));
    if (url.typeId() != QMetaType::QString)
        return std::nullopt;
    std::string text = url.toString().trimmed().toStdString();
    if (!isWebUrl(text))
        return std::nullopt;
    return text;
}

const std::optional<QVariantMap> &Updater::versionDict()
{
    return m_versionDict;
}

void Updater::ckeckForUpdatesIfNeeded()
{
    const auto last = lastUpdateCheck();
    if (!last) {
        ckeckForUpdates(false);
        return;
    }
    const double seconds = std::difftime(m_clock.now(), *last);
    const double days = seconds / 86400.0;
    const int wholeDays = days > INT_MAX ? INT_MAX : (days < INT_MIN ? INT_MIN : static_cast<int>(days));
    if (wholeDays > 30)
        ckeckForUpdates(false);
}

std::optional<std::time_t> Updater::lastUpdateCheck() const
{
    const auto text = valueOf(m_settings, settings::kLastUpdateCheck);
    if (!text)
        return std::nullopt;
    return parseDateText(*text);
}

void Updater::markAsChecked()
{
    keep(m_settings, settings::kLastUpdateCheck, dateText(m_clock.now()));
    m_settings.sync();
}

std::string Updater::dateText(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    const long offset = local.tm_gmtoff;
    const long absOffset = offset < 0 ? -offset : offset;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d %c%02ld%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                  absOffset / 3600, (absOffset % 3600) / 60);
    return buffer;
}

std::optional<std::time_t> Updater::parseDateText(const std::string &text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    char sign = 0;
    char zone[5] = {};
    // NOLINTNEXTLINE(cert-err34-c): the conversion count and ranges are checked below
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d %c%4[0-9]%n", &year, &month, &day, &hour, &minute, &second,
                    &sign, zone, &consumed)
        != 8)
        return std::nullopt;
    if (static_cast<size_t>(consumed) != text.size() || (sign != '+' && sign != '-') || std::string(zone).size() != 4)
        return std::nullopt;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60
        || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const int zoneHours = (zone[0] - '0') * 10 + (zone[1] - '0');
    const int zoneMinutes = (zone[2] - '0') * 10 + (zone[3] - '0');
    if (zoneMinutes > 59)
        return std::nullopt;
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    const std::time_t asUtc = timegm(&utc);
    const long offset = (zoneHours * 3600L + zoneMinutes * 60L) * (sign == '-' ? -1 : 1);
    return asUtc - offset;
}

} // namespace auralist
