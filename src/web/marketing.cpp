#include "web/marketing.h"

#include "core/services.h"
#include "core/url_escape.h"

namespace auralist {

Marketing::Marketing(Desktop &desktop, Config config) : m_desktop(desktop), m_config(std::move(config))
{
}

std::string Marketing::projectPageUrl() const
{
    return "http://" + m_config.siteHost + "/software/osx/Auralist/";
}

std::string Marketing::feedbackUrl() const
{
    return "mailto:" + m_config.feedbackAddress + "?subject=Auralist";
}

std::string Marketing::tellAFriendUrl() const
{
    return "mailto:friend?subject=Auralist&body=" + urlEncoded(projectPageUrl());
}

std::string Marketing::donateUrl() const
{
    return "https://" + m_config.paymentHost + "/xclick/business=" + m_config.paymentAccount
        + "&item_name=Auralist&item_number=1.1&amount=3.00";
}

void Marketing::visitSite()
{
    if (hasSite())
        m_desktop.openUrl(projectPageUrl());
}

void Marketing::feedback()
{
    m_desktop.openUrl(feedbackUrl());
}

void Marketing::tellAFriend()
{
    if (hasSite())
        m_desktop.openUrl(tellAFriendUrl());
}

void Marketing::donate()
{
    m_desktop.openUrl(donateUrl());
}

} // namespace auralist
