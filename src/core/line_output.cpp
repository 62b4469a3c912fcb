#include "core/line_output.h"

#include <algorithm>

namespace auralist {

void FileLineOutput::write(std::string_view lines)
{
    // One call under the stream's lock: lines written meanwhile by other
    // threads fall between these, never inside one.
    if (!lines.empty())
        std::fwrite(lines.data(), 1, lines.size(), m_out);
}

void FileLineOutput::flush()
{
    std::fflush(m_out);
}

QueuedLineOutput::QueuedLineOutput(std::FILE *out) : m_out(out)
{
    m_thread.start([this] { run(); });
}

QueuedLineOutput::~QueuedLineOutput()
{
    QueuedLineOutput::requestStop(); // this class's own: no override runs in a destructor
    m_thread.join();
}

void QueuedLineOutput::write(std::string_view lines)
{
    if (lines.empty())
        return;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty() || m_queue.back().make)
        m_queue.emplace_back();
    m_queue.back().text.append(lines);
    m_queue.back().upTo = ++m_queued;
    m_changed.notify_all();
}

void QueuedLineOutput::writeMade(std::function<std::string()> make)
{
    if (!make)
        return;
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back({{}, std::move(make), ++m_queued});
    m_changed.notify_all();
}

void QueuedLineOutput::flush()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_flushAsked = true;
    m_changed.notify_all();
}

void QueuedLineOutput::requestStop()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
    m_flushAsked = true;
    m_changed.notify_all();
}

bool QueuedLineOutput::waitStopped(Deadline deadline)
{
    return m_thread.joinUntil(deadline);
}

void QueuedLineOutput::drain()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_flushAsked = true;
    m_changed.notify_all();
    const std::uint64_t target = m_queued;
    m_changed.wait(lock, [&] { return m_written >= target && !m_flushAsked; });
}

void QueuedLineOutput::run()
{
    std::deque<Pending> writing;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_flushAsked || !m_queue.empty(); });
        writing.swap(m_queue);
        const bool flush = m_flushAsked;
        m_flushAsked = false;
        lock.unlock();
        std::uint64_t done = 0;
        for (Pending &p : writing) {
            const std::string text = p.make ? p.make() : std::move(p.text);
            if (!text.empty())
                std::fwrite(text.data(), 1, text.size(), m_out);
            done = p.upTo;
        }
        // Each batch is flushed: a reader of a pipe sees every event when it
        // happens, as it did when each line was flushed as it was printed.
        if (flush || !writing.empty())
            std::fflush(m_out);
        writing.clear();
        lock.lock();
        m_written = std::max(m_written, done);
        m_changed.notify_all();
        // Asked to stop: what came before the request is all written.
        if (m_quit && m_queue.empty())
            return;
    }
}

} // namespace auralist
