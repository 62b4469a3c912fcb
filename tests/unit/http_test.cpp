#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <thread>

#include "fakes/fakes.h"
#include "local_http_server.h"
#include "platform/curl_http.h"
#include "web/curl_handle.h"
#include "web/updater.h"

using namespace auralist;
using namespace auralist::fakes;
using auralist::testing::LocalHttpServer;

namespace {

const std::string kDict = "{ version = 20991231; url = \"http://127.0.0.1/new\"; description = \"Faster.\"; }";

void answer(int fd, const std::string &path)
{
    if (path == "/software/osx/Auralist/version.dict" || path == "/dict") {
        LocalHttpServer::reply(fd, "200 OK", kDict);
    } else if (path == "/xml") {
        LocalHttpServer::reply(fd, "200 OK",
                               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>version</key>"
                               "<integer>20050101</integer></dict></plist>");
    } else if (path == "/slow") {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        LocalHttpServer::reply(fd, "200 OK", kDict);
    } else if (path == "/big") {
        LocalHttpServer::reply(fd, "200 OK", std::string(10 * 1024 * 1024, 'x'));
    } else if (path == "/big-unannounced") {
        LocalHttpServer::send(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        LocalHttpServer::send(fd, std::string(10 * 1024 * 1024, 'x'));
    } else if (path == "/cut") {
        LocalHttpServer::send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n{ version = 2099");
    } else if (path == "/garbage") {
        LocalHttpServer::reply(fd, "200 OK", std::string("\x00\xff{{{ = ;;", 10));
    } else if (path == "/error") {
        LocalHttpServer::reply(fd, "500 Internal Server Error", kDict);
    } else {
        LocalHttpServer::reply(fd, "404 Not Found", "<html>not here</html>");
    }
}

} // namespace

TEST(CurlHttp, FetchesFromALocalServerAndFailsSafely)
{
    LocalHttpServer server(answer);
    CurlHttp http(CurlHttp::Limits{1000, 700, 1024 * 1024});

    EXPECT_EQ(CURLHandle::stringForUrl(http, server.url("/dict")), kDict);
    const auto dict = CURLHandle::propertyListForUrl(http, server.url("/dict"));
    ASSERT_TRUE(dict);
    EXPECT_EQ(dict->toMap().value("version").toString(), "20991231");
    const auto xml = CURLHandle::propertyListForUrl(http, server.url("/xml"));
    ASSERT_TRUE(xml);
    EXPECT_EQ(xml->toMap().value("version").toInt(), 20050101);

    // Every failure gives nothing, and none takes longer than the limits.
    const auto start = std::chrono::steady_clock::now();
    for (const char *path : {"/missing", "/error", "/big", "/big-unannounced", "/cut", "/slow"})
        EXPECT_FALSE(CURLHandle::stringForUrl(http, server.url(path))) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(CURLHandle::propertyListForUrl(http, server.url("/garbage")));
    EXPECT_FALSE(http.get("http://127.0.0.1:" + std::to_string(auralist::testing::refusedPort()) + "/"));
    EXPECT_FALSE(http.get("file:///etc/passwd"));
    EXPECT_FALSE(http.get("ftp://127.0.0.1/"));
    EXPECT_FALSE(http.get("http://"));
    EXPECT_FALSE(http.get("http://127.0.0.1:" + std::to_string(server.port()) + "/a b"));

    // Exactly at the cap is still a body.
    CurlHttp tight(CurlHttp::Limits{1000, 2000, kDict.size()});
    EXPECT_EQ(tight.get(server.url("/dict")), kDict);
    CurlHttp tighter(CurlHttp::Limits{1000, 2000, kDict.size() - 1});
    EXPECT_FALSE(tighter.get(server.url("/dict")));
}

TEST(CurlHttp, UpdaterChecksAgainstALocalServer)
{
    LocalHttpServer server(answer);
    CurlHttp http;
    FakeAlerts alerts;
    FakeDesktop desktop;
    FakeSettings settings;
    FakeClock clock;
    alerts.answer = 1; // Download
    Updater updater(Updater::Services{http, alerts, desktop, settings, clock},
                    "127.0.0.1:" + std::to_string(server.port()));
    // The check does not wait for the server: the answer comes later,
    // through the event loop.
    updater.appDidFinishLaunching();
    EXPECT_TRUE(alerts.shown.empty());
    EXPECT_TRUE(updater.isChecking());
    QElapsedTimer t;
    t.start();
    while (alerts.shown.empty() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(alerts.shown.size(), 1U);
    EXPECT_EQ(alerts.shown[0].message, "A newer version of this application is available.\nFaster.");
    EXPECT_EQ(desktop.opened, (std::vector<std::string>{"http://127.0.0.1/new"}));
    EXPECT_TRUE(settings.value("lastUpdateCheck"));
}

TEST(CurlHttp, AFetchAnswersOnTheCallingThreadAndStoppingEndsOneUnderWayAtOnce)
{
    LocalHttpServer server(answer);
    CurlHttp http;
    std::vector<std::optional<std::string>> answers;
    const auto caller = std::this_thread::get_id();
    bool onCaller = true;
    http.fetch(server.url("/dict"), [&](std::optional<std::string> body) {
        onCaller = onCaller && std::this_thread::get_id() == caller;
        answers.push_back(std::move(body));
    });
    EXPECT_TRUE(answers.empty());
    QElapsedTimer t;
    t.start();
    while (answers.empty() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(answers.size(), 1U);
    EXPECT_EQ(answers[0], kDict);
    EXPECT_TRUE(onCaller);

    // A server that takes 1.5 s to answer holds up nobody's quitting.
    http.fetch(server.url("/slow"), [&](std::optional<std::string> body) { answers.push_back(std::move(body)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    t.restart();
    http.requestStop();
    EXPECT_TRUE(http.waitStopped(std::chrono::steady_clock::now() + std::chrono::seconds(1)));
    EXPECT_LT(t.elapsed(), 500);
}
