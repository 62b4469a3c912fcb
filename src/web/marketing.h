#pragma once

#include <string>

#include "core/config.h"

namespace auralist {

class Desktop;

// The four links to the maker, opened through the desktop.
class Marketing {
public:
    Marketing(Desktop &desktop, Config config);

    void visitSite();
    void feedback();
    void tellAFriend();
    void donate();

    // The links themselves.
    std::string projectPageUrl() const;
    std::string feedbackUrl() const;
    std::string tellAFriendUrl() const;
    std::string donateUrl() const;
    // Without a site host there is no project page to visit or recommend.
    bool hasSite() const { return !m_config.siteHost.empty(); }

private:
    Desktop &m_desktop;
    Config m_config;
};

} // namespace auralist
