#include <gtest/gtest.h>

#include <cstdlib>

#include "core/string_utils.h"
#include "fakes/fakes.h"
#include "web/curl_handle.h"
#include "web/marketing.h"
#include "web/property_list.h"
#include "web/updater.h"

using namespace auralist;
using namespace auralist::fakes;

namespace {

std::string unescape(const std::string &s)
{
    char *out = url_unescape(s.data(), static_cast<std::int32_t>(s.size()));
    std::string r(out);
    std::free(out);
    return r;
}

} // namespace

TEST(UrlEscape, FollowsTheByteRules)
{
    EXPECT_EQ(urlEncoded(""), "");
    EXPECT_EQ(urlEncoded("a b"), "a+b");
    EXPECT_EQ(urlEncoded("a-b.c"), "a%2Db%2Ec");
    EXPECT_EQ(urlEncoded("a/b:c"), "a%2Fb%3Ac");
    EXPECT_EQ(urlEncoded("100%"), "100%25");
    EXPECT_EQ(urlEncoded("\xe9"), "%E9");
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string e = urlEncoded(one);
        const bool alnum = std::isalnum(b) && b < 128;
        EXPECT_EQ(e.size(), alnum || b == ' ' ? 1U : 3U) << b;
        if (b != ' ' && b != '+' && b != '?') {
            EXPECT_EQ(unescape(e), one) << b;
        }
    }
    EXPECT_EQ(unescape("a+b"), "a+b");
    EXPECT_EQ(unescape("?a+b"), "?a b");
    EXPECT_EQ(unescape("x?y?z+w"), "x?y?z w");
    EXPECT_EQ(unescape("%41%4a"), "AJ");
    EXPECT_EQ(unescape("%zz"), "%zz");
    EXPECT_EQ(unescape("%4g1"), std::string("\x04") + "1");
    EXPECT_EQ(unescape("a%"), "a%");
    EXPECT_EQ(urlDecoded("a%00b"), "a");
    EXPECT_EQ(unescape("%3F+"), "?+");
    QVariantMap form;
    EXPECT_EQ(formatForHTTP(form), "");
    form["a"] = 1;
    EXPECT_EQ(formatForHTTP(form), "a=1");
    form["b"] = "x y&z";
    EXPECT_EQ(formatForHTTP(form), "a=1&b=x%20y&z");
}

TEST(PropertyList, ReadsBothFormsAndRefusesGarbage)
{
    auto text = parsePropertyList("{ version = 20040426; url = \"http://h/x y\"; /* c */ list = (a, \"b\\n\"); }");
    ASSERT_TRUE(text);
    const QVariantMap m = text->toMap();
    EXPECT_EQ(m["version"].toString(), "20040426");
    EXPECT_EQ(m["url"].toString(), "http://h/x y");
    EXPECT_EQ(m["list"].toList().size(), 2);
    EXPECT_EQ(m["list"].toList()[1].toString(), "b\n");
    auto xml = parsePropertyList(R"(<?xml version="1.0"?><!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "x">
<plist version="1.0"><dict><key>version</key><integer>20050101</integer><key>d</key><dict><key>t</key><true/></dict></dict></plist>)");
    ASSERT_TRUE(xml);
    EXPECT_EQ(xml->toMap()["version"].toLongLong(), 20050101);
    EXPECT_TRUE(xml->toMap()["d"].toMap()["t"].toBool());
    for (const char *bad : {"{ a = ", "{ a = b }", "<plist><dict><key>a</key></dict>", "((((", "\"unterminated",
                            "{ a = b; } trailing }", "<plist><dict><string>x</string></dict></plist>"})
        EXPECT_FALSE(parsePropertyList(bad)) << bad;
    EXPECT_FALSE(parsePropertyList(std::string(100000, '(')));
}

TEST(StringUtils, SplitReplaceTrim)
{
    using namespace xmlparse;
    const CharacterSet space(" ");
    EXPECT_EQ(componentsSeparatedByCharSetAvoidingQuotes("a b", space), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(componentsSeparatedByCharSetAvoidingQuotes("a  b", space), (std::vector<std::string>{"a ", "b"}));
    EXPECT_EQ(componentsSeparatedByCharSetAvoidingQuotes(" a", space), (std::vector<std::string>{"", "a"}));
    EXPECT_EQ(componentsSeparatedByCharSetAvoidingQuotes("a ", space), (std::vector<std::string>{"a "}));
    EXPECT_EQ(componentsSeparatedByCharSetAvoidingQuotes("x=\"a b\" y", space),
              (std::vector<std::string>{"x=\"a b\"", "y"}));
    EXPECT_EQ(componentsSeparatedByCharSetAvoidingQuotes("\"a\"b", space), (std::vector<std::string>{"\"a", "b"}));
    EXPECT_EQ(stringsBySplitingFirstOccurenceOf("key=value=x", "="), (std::vector<std::string>{"key", "value=x"}));
    EXPECT_TRUE(stringsBySplitingFirstOccurenceOf("novalue", "=").empty());
    EXPECT_EQ(stringByReplacingSubstring("aaa", "aa", "b"), "ba");
    EXPECT_EQ(stringByReplacingSubstring("aba", "a", "aa"), "aabaa");
    EXPECT_EQ(stringByReplacingCharacterFromSet("a-b-c", CharacterSet("-"), "--"), "a--b--c"); // ends
    EXPECT_EQ(stringByRemovingPaddingCharacterSet("  a b ", space), "a b");
    EXPECT_EQ(stringByRemovingPaddingCharacterSet("   ", space), "   ");
    EXPECT_EQ(stringUnquoted(" \"a b\"\n"), "a b");
    EXPECT_EQ(stringUnquoted("'a\""), "a");
}

namespace {

struct UpdaterRig {
    FakeHttp http;
    FakeAlerts alerts;
    FakeDesktop desktop;
    FakeSettings settings;
    FakeClock clock;
    Updater updater{Updater::Services{http, alerts, desktop, settings, clock}, "127.0.0.1:1"};
};

} // namespace

TEST(Updater, ThirtyDayRuleAlertsAndUntrustedReplies)
{
    UpdaterRig r;
    // First launch: the check runs; a failed fetch still records it.
    r.updater.appDidFinishLaunching();
    ASSERT_EQ(r.alerts.shown.size(), 1U);
    EXPECT_EQ(r.alerts.shown[0].title, "Software Update");
    EXPECT_EQ(r.alerts.shown[0].message, "Unable to check for new version.\nPlease try again later.");
    EXPECT_EQ(r.http.requests, (std::vector<std::string>{"http://127.0.0.1:1/software/osx/Auralist/version.dict"}));
    ASSERT_TRUE(r.settings.value("lastUpdateCheck"));
    EXPECT_EQ(Updater::parseDateText(*r.settings.value("lastUpdateCheck")), r.clock.time);

    // 30 days 23 hours: no check; 31 days: check.
    r.clock.time += 30 * 86400 + 23 * 3600;
    r.updater.ckeckForUpdatesIfNeeded();
    EXPECT_EQ(r.http.requests.size(), 1U);
    r.clock.time += 3600;
    r.http.body = "{ version = 20040426; url = \"http://h/\"; }";
    r.updater.ckeckForUpdatesIfNeeded();
    EXPECT_EQ(r.http.requests.size(), 2U);
    EXPECT_EQ(r.alerts.shown.size(), 1U); // up to date, automatic: silent
    r.updater.ckeckForUpdates(true); // asked: told, and no second fetch
    EXPECT_EQ(r.alerts.shown.back().message, "Application release 20040426 is up to date.");
    EXPECT_EQ(r.http.requests.size(), 2U);

    // Newer, with a description shown as it is; Download opens the URL.
    UpdaterRig n;
    n.http.body = "{ version = \"20991231\"; url = \"https://h/get\"; description = \"<b>100%</b>\"; }";
    n.updater.ckeckForUpdates(false);
    EXPECT_EQ(n.alerts.shown.back().message, "A newer version of this application is available.\n<b>100%</b>");
    EXPECT_EQ(n.alerts.shown.back().defaultButton, "Download");
    EXPECT_EQ(n.desktop.opened, (std::vector<std::string>{"https://h/get"}));
    n.alerts.answer = 0;
    n.updater.ckeckForUpdates(true);
    EXPECT_EQ(n.desktop.opened.size(), 1U);

    // A url that is not http(s) opens nothing; wrong types fail the fetch.
    UpdaterRig f;
    f.http.body = "{ version = 20991231; url = \"file:///etc/passwd\"; }";
    f.updater.ckeckForUpdates(false);
    EXPECT_TRUE(f.desktop.opened.empty());
    UpdaterRig t;
    t.http.body = "{ version = (1); }";
    t.updater.ckeckForUpdates(false);
    EXPECT_EQ(t.alerts.shown.back().message, "Unable to check for new version.\nPlease try again later.");
    t.http.body = "( a, b )";
    EXPECT_EQ(t.updater.latestVersion(), 0);

    // No site host: no check at launch.
    FakeHttp http;
    FakeAlerts alerts;
    FakeDesktop desktop;
    FakeSettings settings;
    FakeClock clock;
    Updater off(Updater::Services{http, alerts, desktop, settings, clock}, "");
    off.appDidFinishLaunching();
    EXPECT_TRUE(http.requests.empty());
    EXPECT_TRUE(alerts.shown.empty());
    EXPECT_FALSE(Updater::parseDateText("garbage"));
    EXPECT_FALSE(Updater::parseDateText("2024-13-01 00:00:00 +0000"));
}

TEST(Marketing, LinksAreExact)
{
    FakeDesktop desktop;
    Marketing m(desktop, Config{"www.example.org", "me@example.org", "pay.example.org", "me%40example.org"});
    m.visitSite();
    m.feedback();
    m.tellAFriend();
    m.donate();
    EXPECT_EQ(desktop.opened,
              (std::vector<std::string>{
                  "http://www.example.org/software/osx/Auralist/", "mailto:me@example.org?subject=Auralist",
                  "mailto:friend?subject=Auralist&body=http%3A%2F%2Fwww%2Eexample%2Eorg%2Fsoftware%2Fosx%2FAuralist%2F",
                  "https://pay.example.org/xclick/"
                  "business=me%40example.org&item_name=Auralist&item_number=1.1&amount=3.00"}));
}
