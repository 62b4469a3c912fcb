#include "platform/qt_desktop.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

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

} // namespace auralist
