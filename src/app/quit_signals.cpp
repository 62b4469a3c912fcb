#include "app/quit_signals.h"

#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "core/diagnostics.h"

namespace auralist {

namespace {

// Written by the handler of a quitting signal, read on the window's thread.
int g_quitSignalPipe
    = -1; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables): a signal handler's only way out

extern "C" void onQuitSignal(int number)
{
    const char byte = static_cast<char>(number);
    // Nothing else is safe in a handler; a full pipe already says it.
    [[maybe_unused]] const ssize_t written = ::write(g_quitSignalPipe, &byte, 1);
}

} // namespace

int catchQuitSignals()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    g_quitSignalPipe = fds[1];
    struct sigaction action { };
    action.sa_handler = &onQuitSignal;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
    return fds[0];
}

void quitOnSignals(int fd, QWidget &window)
{
    if (fd < 0)
        return;
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, fd] {
        char byte = 0;
        while (::read(fd, &byte, 1) > 0) { }
        debugLog("quitting on signal " + std::to_string(static_cast<int>(byte)));
        window.close();
    });
}

} // namespace auralist
