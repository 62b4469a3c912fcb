#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace auralist {

// Carries calls from worker threads to the thread that made the mailbox
// (the window's), in the order they were posted.
//
// Threads: a Sender posts from any thread; the calls run on the owner's
// thread, from its event loop. The queue is guarded by a mutex of our own
// and the owner is woken through an eventfd, so nothing a worker builds
// passes through Qt's event queue: every hand-over is one ThreadSanitizer
// can see. Once the mailbox is gone (or closed) what is queued and what is
// posted later is dropped, so a worker may outlive the object it reports
// to.
class Mailbox {
    struct State;

public:
    class Sender {
    public:
        Sender() = default;
        // Runs call on the owner's thread, unless the mailbox is gone by
        // then. False when it is gone already.
        bool post(std::function<void()> call) const;

    private:
        friend class Mailbox;
        explicit Sender(std::shared_ptr<State> state) : m_state(std::move(state)) { }
        std::shared_ptr<State> m_state;
    };

    Mailbox();
    ~Mailbox();
    Mailbox(const Mailbox &) = delete;
    Mailbox &operator=(const Mailbox &) = delete;

    Sender sender() const { return Sender(m_state); }
    bool post(std::function<void()> call) const { return sender().post(std::move(call)); }
    // Drops what is queued and all that comes later. Owner's thread.
    void close();
    // Runs what is queued now. Owner's thread; the event loop calls it.
    void deliver();

private:
    std::shared_ptr<State> m_state;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_delivering = false;
};

} // namespace auralist
