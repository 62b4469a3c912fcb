#include "platform/qt_desktop.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#include "core/uri_list.h"

namespace auralist {

bool QtDesktop::openUrl(const std::string &url)
{
    const QByteArray bytes(url.data(), static_cast<qsizetype>(url.size()));
    const QByteArray log = qgetenv("AURALIST_OPEN_URL_LOG");
    if (!log.isEmpty()) {
        QFile file(QFile::decodeName(log));
        if (!file.open(QIODevice::Append))
            return false;
        file.write(bytes + '\n');
        return true;
    }
    const QUrl qurl = QUrl::fromEncoded(bytes, QUrl::StrictMode);
    if (!qurl.isValid())
        return false;
    return QDesktopServices::openUrl(qurl);
}

void QtDesktop::showInFolder(const std::vector<std::string> &paths)
{
    if (paths.empty())
        return;
    QStringList uris;
    for (const std::string &p : paths)
        uris.push_back(QString::fromStdString(fileUrlForPath(p)));
    const std::string &first = paths.front();
    const std::size_t slash = first.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
        : slash == 0                                      ? "/"
                                                          : first.substr(0, slash);
    const auto openFolder = [this, folder] { openUrl(fileUrlForPath(folder)); };
    QDBusConnection bus = m_bus.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(m_bus);
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, openFolder] {
        if (watcher->isError())
            openFolder();
        watcher->deleteLater();
    });
}

void QtDesktop::copyPaths(const std::vector<std::string> &paths)
{
    auto *data = new QMimeData;
    QString text;
    for (const std::string &p : paths)
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + QFile::decodeName(QByteArray::fromStdString(p));
    data->setText(text);
    const std::string list = uriListForPaths(paths);
    data->setData(QString::fromLatin1(kUriListMimeType), QByteArray::fromStdString(list));
    QGuiApplication::clipboard()->setMimeData(data);
}

} // namespace auralist
