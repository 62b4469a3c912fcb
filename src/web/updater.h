#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include <QVariantMap>

#include "build_config.h"

namespace auralist {

class Alerts;
class Clock;
class Desktop;
class Http;
class Settings;
class TextField;

// Tells the user when a newer release is published on the maker's site:
// at launch when the last check lies more than 30 whole days back, and on
// request.
class Updater {
public:
    static constexpr int kCurrentVersion = AURALIST_RELEASE;
    static constexpr const char *kVersionPath = "/software/osx/Auralist/version.dict";
    static constexpr const char *kTitle = "Software Update";

    struct Services {
        Http &http;
        Alerts &alerts;
        Desktop &desktop;
        Settings &settings;
        Clock &clock;
    };

    // An empty site host turns the check off.
    Updater(const Services &services, std::string siteHost);
    ~Updater();
    Updater(const Updater &) = delete;
    Updater &operator=(const Updater &) = delete;

    void setVersionTextField(TextField *field) { m_versionTextField = field; }
    bool isEnabled() const { return !m_siteHost.empty(); }

    void appDidFinishLaunching();
    void setVersionTextField();
    // userAsked is false for the automatic check (a nil sender). The
    // version dictionary is fetched without waiting (once); the alerts
    // follow when it is there.
    void ckeckForUpdates(bool userAsked);
    bool isChecking() const { return m_fetching; }
    void update();
    static int currentVersion() { return kCurrentVersion; }
    int latestVersion();
    std::optional<std::string> latestVersionUrl();
    // What the last fetch found (nothing before it, or when it failed).
    const std::optional<QVariantMap> &versionDict();
    void ckeckForUpdatesIfNeeded();
    std::optional<std::time_t> lastUpdateCheck() const;
    void markAsChecked();

    std::string versionUrl() const;

    // "YYYY-MM-DD HH:MM:SS +HHMM" in local time, and back.
    static std::string dateText(std::time_t when);
    static std::optional<std::time_t> parseDateText(const std::string &text);

private:
    void reportCheck(bool userAsked);

    Http &m_http;
    Alerts &m_alerts;
    Desktop &m_desktop;
    Settings &m_settings;
    Clock &m_clock;
    std::string m_siteHost;
    TextField *m_versionTextField = nullptr;
    std::optional<QVariantMap> m_versionDict;
    bool m_fetching = false;
    bool m_answerUser = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace auralist
