#pragma once

#include <cstddef>

#include "core/services.h"

namespace auralist {

// Synchronous HTTP(S) GET with libcurl, bounded in time and size.
class CurlHttp : public Http {
public:
    static constexpr long kConnectTimeoutSeconds = 5;
    static constexpr long kTotalTimeoutSeconds = 10;
    static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

    CurlHttp();
    ~CurlHttp() override;
    std::optional<std::string> get(const std::string &url) override;
};

} // namespace auralist
