#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QVariant>

#include "core/url_escape.h"

namespace auralist {

class Http;

// Fetching and escaping, as class-level operations.
class CURLHandle {
public:
    CURLHandle() = delete;

    // The whole resource as text, or nothing on any failure.
    static std::optional<std::string> stringForUrl(Http &http, const std::string &url);
    // The resource parsed as a property list (XML or the old text form), or
    // nothing when it cannot be fetched or does not parse.
    static std::optional<QVariant> propertyListForUrl(Http &http, const std::string &url);
    // The same without waiting: done gets it later, on this thread.
    static void propertyListForUrl(Http &http, const std::string &url,
                                   std::function<void(std::optional<QVariant>)> done);

    static std::string escape(const std::string &text) { return urlEncoded(text); }
    static std::string unescape(const std::string &text) { return urlDecoded(text); }
};

} // namespace auralist
