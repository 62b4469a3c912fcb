#pragma once

#include <cstddef>

#include "core/services.h"

namespace auralist {

// Synchronous HTTP(S) GET with libcurl, bounded in time and size.
struct HttpLimits {
    long connectTimeoutMs = 5000;
    long totalTimeoutMs = 10000;
    std::size_t maxBodyBytes = std::size_t{1024} * 1024;
};

class CurlHttp : public Http {
public:
    using Limits = HttpLimits;

    explicit CurlHttp(const Limits &limits = Limits());
    CurlHttp(const CurlHttp &) = delete;
    CurlHttp &operator=(const CurlHttp &) = delete;
    ~CurlHttp() override;
    std::optional<std::string> get(const std::string &url) override;

private:
    Limits m_limits;
};

} // namespace auralist
