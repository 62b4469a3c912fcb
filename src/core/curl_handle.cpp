#include "core/curl_handle.h"

#include "core/property_list.h"
#include "core/services.h"

namespace auralist {

std::optional<std::string> CURLHandle::stringForUrl(Http &http, const std::string &url)
{
    const std::string_view scheme = std::string_view(url).substr(0, url.find(':'));
    if (url.find("://") == std::string::npos || (scheme != "http" && scheme != "https"))
        return std::nullopt;
    return http.get(url);
}

std::optional<QVariant> CURLHandle::propertyListForUrl(Http &http, const std::string &url)
{
    const auto text = stringForUrl(http, url);
    if (!text)
        return std::nullopt;
    return parsePropertyList(*text);
}

} // namespace auralist
