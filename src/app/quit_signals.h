#pragma once

class QWidget;

namespace auralist {

// SIGTERM (a logout, a service manager, kill), SIGINT and SIGHUP quit as
// closing the window does: the settings saved, the catalogue closed, every
// thread stopped in order. A second such signal ends the process at once.
// catchQuitSignals catches them from the start, before any thread, and
// returns the descriptor they are read from (-1: not caught);
// quitOnSignals closes window when one comes.
int catchQuitSignals();
void quitOnSignals(int fd, QWidget &window);

} // namespace auralist
