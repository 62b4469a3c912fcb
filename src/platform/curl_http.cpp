#include "platform/curl_http.h"

#include <curl/curl.h>

#include "build_config.h"

#include <algorithm>
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
    CurlHttp::requestStop(); // this class's own: no override runs in a destructor
    m_mailbox.close();
    m_worker.join();
    curl_global_cleanup();
}

void CurlHttp::requestStop()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping.store(true);
    for (void *multi : m_transfers)
        curl_multi_wakeup(static_cast<CURLM *>(multi));
    m_wake.notify_all();
}

bool CurlHttp::waitStopped(Deadline deadline)
{
    return m_worker.joinUntil(deadline);
}

void CurlHttp::fetch(const std::string &url, Answer done)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping.load())
        return;
    m_jobs.push_back({url, std::move(done)});
    if (!m_worker.started())
        m_worker.start([this] { run(); });
    m_wake.notify_all();
}

void CurlHttp::run()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping.load() || !m_jobs.empty(); });
            if (m_stopping.load())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        auto answer = std::make_shared<std::optional<std::string>>(get(job.url));
        m_mailbox.post([done = std::move(job.done), answer]() mutable { done(std::move(*answer)); });
    }
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
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Auralist/" AURALIST_RELEASE_TEXT);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);

    // The transfer runs in a multi handle, so that stopping can wake it.
    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(), &curl_multi_cleanup);
    if (!multi)
        return std::nullopt;
    curl_multi_add_handle(multi.get(), h);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_transfers.push_back(multi.get());
    }
    int running = 1;
    CURLcode result = CURLE_OK;
    while (running > 0) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK || m_stopping.load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (running > 0 && curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
    }
    if (running == 0) {
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE)
                result = message->data.result;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_transfers.erase(std::find(m_transfers.begin(), m_transfers.end(), multi.get()));
    }
    curl_multi_remove_handle(multi.get(), h);
    if (m_stopping.load() || result != CURLE_OK || body.overflow)
        return std::nullopt;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400)
        return std::nullopt;
    return std::move(body.data);
}

} // namespace auralist
