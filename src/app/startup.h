#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/mailbox.h"
#include "core/services.h"
#include "core/worker_thread.h"
#include "files/file_worker.h"

namespace auralist {

namespace analysis {
class AnalysisPool;
}

class Controller;
class Diagnostics;
class HeaderPool;
class ListSorter;
class MainWindow;
class Marketing;
class TableController;
class Updater;
class WindowWiring;
namespace waveform {
class SummaryWorker;
}

// The services the browser runs on; start-up takes them ready-made, so
// tests can hand in fakes.
struct ServiceSet {
    SoundEngine &engine;
    FileSystem &fileSystem;
    Desktop &desktop;
    Alerts &alerts;
    Settings &settings;
    Http &http;
    Clock &clock;
    Diagnostics &diagnostics;
    // Where intakes are scanned (null: on the window's thread, as tests
    // that need no threads like it) and where headers are read (null: not
    // at all).
    IntakeScanner *scanner = nullptr;
    std::shared_ptr<HeaderReader> headerReader;
    // The saved catalogue (null: none).
    Catalogue *catalogue = nullptr;
};

// Creates the window and the objects behind it and connects them in the
// documented order: table controller and updater first, then the outlets,
// then the awake step, then the window is shown and launching finishes
// once the event loop runs.
class Browser {
public:
    Browser(const ServiceSet &services, const Config &config);
    ~Browser();
    Browser(const Browser &) = delete;
    Browser &operator=(const Browser &) = delete;

    // Shows the window and queues the launch-finished event, then the
    // open-file request for paths (when not empty).
    void launch(const std::vector<std::string> &paths);

    MainWindow &window() { return *m_window; }
    Controller &controller() { return *m_controller; }
    TableController &tableController() { return *m_tableController; }
    Updater &updater() { return *m_updater; }
    Marketing &marketing() { return *m_marketing; }
    // The threads the browser runs (header readers, waveform worker), to
    // be stopped before it goes.
    std::vector<Stoppable *> threads() const;

private:
    // The Help menu, the developer's aids and the window's closing; the
    // rest of the window is wired by m_wiring.
    void connectActions();
    void appFinishedLaunching(const std::vector<std::string> &paths);

    ServiceSet m_services;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<TableController> m_tableController;
    std::unique_ptr<IntakeScanner> m_inlineScanner; // when none was given
    std::unique_ptr<files::FileWorker> m_fileWorker;
    std::unique_ptr<Controller> m_controller;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<Marketing> m_marketing;
    std::unique_ptr<HeaderPool> m_headerPool;
    std::unique_ptr<analysis::AnalysisPool> m_analysisPool;
    std::unique_ptr<waveform::SummaryWorker> m_summaryWorker;
    std::unique_ptr<ListSorter> m_listSorter;
    std::unique_ptr<WindowWiring> m_wiring;
    Mailbox m_mailbox; // waveform summaries on their way to the strip
};

// The whole application on the real services: what main runs.
int runAuralist(int argc, char **argv);

} // namespace auralist
