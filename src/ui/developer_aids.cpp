#include "ui/developer_aids.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeySequence>
#include <QShortcut>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "core/diagnostics.h"

namespace auralist {

namespace {

void watchForStalls(QWidget &window)
{
    // A timer due every 10 ms that fires late tells how long the thread was
    // busy elsewhere.
    auto *timer = new QTimer(&window);
    auto last = std::make_shared<QElapsedTimer>();
    auto longest = std::make_shared<qint64>(0);
    last->start();
    QObject::connect(timer, &QTimer::timeout, &window, [last, longest] {
        const qint64 late = last->restart() - 10;
        if (late > 50)
            debugLog("event loop stalled " + std::to_string(late) + " ms");
        *longest = std::max(*longest, late);
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window,
                     [longest] { debugLog("longest event-loop stall: " + std::to_string(*longest) + " ms"); });
    timer->start(10);
}

} // namespace

void addDeveloperAids(QWidget &window)
{
    watchForStalls(window);
    auto *stall = new QShortcut(QKeySequence(Qt::Key_F12), &window);
    QObject::connect(stall, &QShortcut::activated, &window, [] {
        debugLog("holding the window's thread for 1 s");
        QThread::msleep(1000);
    });
}

} // namespace auralist
