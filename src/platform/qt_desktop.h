#pragma once

#include "core/services.h"

namespace auralist {

// Opens links with the desktop's handlers (xdg-open). With
// AURALIST_OPEN_URL_LOG set, each link is appended to that file instead,
// so tests can see what would have opened.
class QtDesktop : public Desktop {
public:
    bool openUrl(const std::string &url) override;
    // File managers watch folders themselves; nothing to tell them.
    void noteFileSystemChanged(const std::string &path) override { (void)path; }
};

} // namespace auralist
