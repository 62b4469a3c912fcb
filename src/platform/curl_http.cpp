#include "platform/curl_http.h"

#include <curl/curl.h>

#include <memory>

namespace auralist {

namespace {

struct Body {
    std::size_t limit = 0;
    std::string data;
    bool overflow = false;
};

size_t collect(char *ptr, size_t size, size_t count, void *userdata)
{
    auto *body = static_cast<Body *>(userdata);
    const size_t n = size * count;
    if (body->data.size() + n > body->limit) {
        body->overflow = true;
        return 0; // aborts the transfer
    }
    body->data.append(ptr, n);
    return n;
}

bool hasWebScheme(const std::string &url)
{
    return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

} // namespace

CurlHttp::CurlHttp(const Limits &limits) : m_limits(limits)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlHttp::~CurlHttp()
{
    curl_global_cleanup();
}

std::optional<std::string> CurlHttp::get(const std::string &url)
{
    if (!hasWebScheme(url) || url.find_first_of(" \r\n\t") != std::string::npos)
        return std::nullopt;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return std::nullopt;
    Body body;
    body.limit = m_limits.maxBodyBytes;
    CURL *h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, m_limits.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, m_limits.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(m_limits.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Auralist/20040426");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK || body.overflow)
        return std::nullopt;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400)
        return std::nullopt;
    return std::move(body.data);
}

} // namespace auralist
