#include "core/mailbox.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stdexcept>

namespace auralist {

struct Mailbox::State {
    std::mutex mutex;
    std::deque<std::function<void()>> calls; // guarded by mutex
    bool closed = false; // guarded by mutex
    bool woken = false; // guarded by mutex: a wake-up is on its way
    int wakeFd = -1;

    State() : wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (wakeFd < 0)
            throw std::runtime_error("eventfd failed");
    }
    ~State() { ::close(wakeFd); }
    State(const State &) = delete;
    State &operator=(const State &) = delete;
};

bool Mailbox::Sender::post(std::function<void()> call) const
{
    if (!m_state)
        return false;
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->closed)
            return false;
        m_state->calls.push_back(std::move(call));
        wake = !m_state->woken;
        m_state->woken = true;
    }
    if (wake) {
        const std::uint64_t one = 1;
        // The counter cannot overflow at one write per delivery; EAGAIN
        // would mean a wake-up is pending anyway.
        while (::write(m_state->wakeFd, &one, sizeof one) < 0 && errno == EINTR) { }
    }
    return true;
}

Mailbox::Mailbox()
    : m_state(std::make_shared<State>()),
      m_notifier(std::make_unique<QSocketNotifier>(m_state->wakeFd, QSocketNotifier::Read))
{
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { deliver(); });
}

Mailbox::~Mailbox()
{
    close();
    // Gone from inside one of its own calls: the notifier is in the middle
    // of reporting, and goes when that is over.
    if (m_delivering) {
        m_notifier->disconnect();
        m_notifier.release()->deleteLater();
    }
}

void Mailbox::close()
{
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->closed = true;
        dropped.swap(m_state->calls);
    }
    if (m_notifier)
        m_notifier->setEnabled(false);
    // dropped goes here, outside the lock: its captures may hold anything.
}

void Mailbox::deliver()
{
    const std::shared_ptr<State> state = m_state;
    std::deque<std::function<void()>> calls;
    {
        const std::lock_guard<std::mutex> lock(state->mutex);
        std::uint64_t count = 0;
        while (::read(state->wakeFd, &count, sizeof count) < 0 && errno == EINTR) { }
        state->woken = false;
        calls.swap(state->calls);
    }
    m_delivering = true;
    for (std::function<void()> &call : calls) {
        call();
        // A call may close the mailbox, or end its owner: the rest is then
        // for nobody, and this object may be gone.
        const std::lock_guard<std::mutex> lock(state->mutex);
        if (state->closed)
            return;
    }
    m_delivering = false;
}

} // namespace auralist
