#include "web/curl_handle.h"

#include "core/services.h"
#include "web/property_list.h"

namespace auralist {

namespace {

bool isWebUrlText(const std::string &url)
{
    const std::string_view scheme = std::string_view(url).substr(0, url.find(':'));
    return url.find("://") != std::string::npos && (scheme == "http" || scheme == "https");
}

} // namespace

std::optional<std::string> CURLHandle::stringForUrl(Http &http, const std::string &url)
{
    if (!isWebUrlText(url))
        return std::nullopt;
    return http.get(url);
}

void CURLHandle::propertyListForUrl(Http &http, const std::string &url,
                                    std::function<void(std::optional<QVariant>)> done)
{
    if (!isWebUrlText(url)) {
        done(std::nullopt);
        return;
    }
    http.fetch(url, [done = std::move(done)](std::optional<std::string> text) {
        done(text ? parsePropertyList(*text) : std::nullopt);
    });
}

std::optional<QVariant> CURLHandle::propertyListForUrl(Http &http, const std::string &url)
{
    const auto text = stringForUrl(http, url);
    if (!text)
        return std::nullopt;
    return parsePropertyList(*text);
}

} // namespace auralist
