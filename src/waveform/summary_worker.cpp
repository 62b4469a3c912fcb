#include "waveform/summary_worker.h"

#include <algorithm>

namespace auralist::waveform {

SummaryWorker::SummaryWorker(Opener opener, Sink sink) : m_opener(std::move(opener)), m_sink(std::move(sink))
{
    m_thread.start([this] { run(); });
}

SummaryWorker::~SummaryWorker()
{
    SummaryWorker::requestStop(); // this class's own: no override runs in a destructor
    m_thread.join();
}

void SummaryWorker::requestStop()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
    m_cancel = true;
    m_wake.notify_all();
}

bool SummaryWorker::waitStopped(Deadline deadline)
{
    return m_thread.joinUntil(deadline);
}

void SummaryWorker::request(std::uint64_t generation, const std::string &path)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_next = Request{generation, path};
        // Whatever is being built now is for nobody. Set here, under the
        // lock the worker takes the request under, so it cannot cancel
        // the request itself.
        m_cancel = true;
    }
    m_wake.notify_one();
    if (afterRequestQueued)
        afterRequestQueued();
}

void SummaryWorker::run()
{
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || m_next; });
            if (m_quit)
                return;
            request = std::move(*m_next);
            m_next.reset();
            m_cancel = false;
        }
        std::string error;
        std::unique_ptr<audio::Decoder> decoder = m_opener(request.path, error);
        if (!decoder) {
            auto empty = std::make_shared<PeakSummary>();
            empty->error = error.empty() ? std::string("The file cannot be read.") : error;
            empty->complete = true;
            m_sink(request.generation, request.path, empty);
            continue;
        }
        // A long file shows itself in a few steps as it is read.
        const std::int64_t every
            = std::max<std::int64_t>(std::int64_t{decoder->sampleRate()} * 20, decoder->frames() / 6);
        std::shared_ptr<const PeakSummary> summary = buildSummary(
            *decoder, m_cancel,
            [&](const std::shared_ptr<const PeakSummary> &partial) {
                m_sink(request.generation, request.path, partial);
            },
            every);
        if (!m_cancel)
            m_sink(request.generation, request.path, summary);
    }
}

} // namespace auralist::waveform
