// Show in Folder against a private D-Bus daemon: a file manager that answers
// is asked to show the files; with none there, the folder is opened.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include "platform/qt_desktop.h"
#include "test_support.h"

namespace auralist {
namespace {

using testing::spinUntil;
using testing::TempDir;

// Stands in for the file manager: remembers what it was asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;
    QString startupId;

public slots:
    void ShowItems(const QStringList &uris, const QString &startup) // NOLINT(readability-identifier-naming)
    {
        shown = uris;
        startupId = startup;
    }
};

// A session bus of the test's own, gone with it.
class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
            return;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;
    const QString &address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

class ShowInFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        caller = QDBusConnection::connectToBus(bus.address(), QStringLiteral("caller"));
        ASSERT_TRUE(caller.isConnected());
        qputenv("AURALIST_OPEN_URL_LOG", QFile::encodeName(QString::fromStdString(log)));
    }
    void TearDown() override
    {
        qunsetenv("AURALIST_OPEN_URL_LOG");
        QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
        QDBusConnection::disconnectFromBus(QStringLiteral("manager"));
    }
    std::string opened() const
    {
        QFile file(QString::fromStdString(log));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    TempDir dir;
    std::string log = dir.path() + "/opened";
    PrivateBus bus;
    QDBusConnection caller{QStringLiteral("none")};
};

TEST_F(ShowInFolder, AsksTheFileManagerToShowTheFilesOrOpensTheFolderWhenNoneAnswers)
{
    const std::string a = dir.file("Kicks/kick 1.wav");
    const std::string b = dir.file("Kicks/snare #2.wav");
    QtDesktop desktop(QStringLiteral("caller"));

    // Nobody owns the file manager's name: the first file's folder is opened.
    desktop.showInFolder({a});
    ASSERT_TRUE(spinUntil([&] { return !opened().empty(); }));
    EXPECT_EQ(opened(), "file://" + dir.path() + "/Kicks\n");

    // A file manager answers: it is asked for every file, as URIs, and
    // nothing is opened besides.
    QDBusConnection managerBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("manager"));
    ASSERT_TRUE(managerBus.isConnected());
    FakeFileManager manager;
    ASSERT_TRUE(managerBus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                                          QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(managerBus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    QFile::remove(QString::fromStdString(log));
    desktop.showInFolder({a, b});
    ASSERT_TRUE(spinUntil([&] { return !manager.shown.isEmpty(); }));
    EXPECT_EQ(manager.shown,
              QStringList({QString::fromStdString("file://" + dir.path() + "/Kicks/kick%201.wav"),
                           QString::fromStdString("file://" + dir.path() + "/Kicks/snare%20%232.wav")}));
    EXPECT_TRUE(manager.startupId.isEmpty());
    spinUntil([] { return false; }, 200);
    EXPECT_EQ(opened(), "");
}

} // namespace
} // namespace auralist

#include "desktop_test.moc"
