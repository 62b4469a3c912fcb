#pragma once

#include <QString>

#include "core/services.h"

namespace auralist {

// Opens links with the desktop's handlers (xdg-open). With
// AURALIST_OPEN_URL_LOG set, each link is appended to that file instead,
// so tests can see what would have opened.
//
// Show in Folder asks the file manager over D-Bus (the FileManager1
// interface file managers share), without waiting for the answer; when
// none answers, the folder is opened instead.
class QtDesktop : public Desktop {
public:
    // bus: the name of the D-Bus connection to ask on (empty: the session bus).
    explicit QtDesktop(QString bus = {}) : m_bus(std::move(bus)) { }
    bool openUrl(const std::string &url) override;
    void showInFolder(const std::vector<std::string> &paths) override;
    void copyPaths(const std::vector<std::string> &paths) override;
    // File managers watch folders themselves; nothing to tell them.
    void noteFileSystemChanged(const std::string &path) override { (void)path; }

private:
    QString m_bus;
};

} // namespace auralist
