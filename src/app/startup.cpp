#include "app/startup.h"

#include <malloc.h>

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>

#include "analysis/analyse.h"
#include "analysis/analysis_pool.h"
#include "app/command_line.h"
#include "app/quit_signals.h"
#include "audio/audio_engine.h"
#include "audio/decoder.h"
#include "catalogue/library.h"
#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/file_type.h"
#include "core/line_output.h"
#include "core/setting.h"
#include "core/table_controller.h"
#include "intake/header_pool.h"
#include "intake/scanner.h"
#include "platform/curl_http.h"
#include "platform/decoder_messages.h"
#include "platform/message_box_alerts.h"
#include "platform/posix_file_system.h"
#include "platform/qt_desktop.h"
#include "platform/qt_settings.h"
#include "platform/sound_header_reader.h"
#include "platform/system_clock.h"
#include "ui/delete_panel.h"
#include "ui/developer_aids.h"
#include "ui/drag_table.h"
#include "ui/main_window.h"
#include "ui/waveform_strip.h"
#include "ui/window_wiring.h"
#include "ui_main_window.h"
#include "waveform/summary_worker.h"
#include "web/marketing.h"
#include "web/updater.h"

namespace auralist {

Browser::Browser(const ServiceSet &services, const Config &config) : m_services(services)
{
    // Objects of the layout, in the order the layout creates them, written
    // out here rather than in the initializer list so the order reads as it runs.
    // cppcheck-suppress useInitializationList
    m_window = std::make_unique<MainWindow>();
    // cppcheck-suppress useInitializationList
    m_tableController = std::make_unique<TableController>(services.diagnostics);
    if (!services.scanner)
        m_inlineScanner = std::make_unique<InlineScanner>(services.fileSystem, services.diagnostics.output());
    m_fileWorker = std::make_unique<files::FileWorker>(
        [](const std::string &path, const std::function<bool()> &stopped) {
            return analysis::audioHashOf(path, stopped);
        },
        &services.fileSystem);
    // cppcheck-suppress useInitializationList
    m_controller = std::make_unique<Controller>(
        Controller::Services{services.engine, services.fileSystem, services.desktop, services.alerts, services.settings,
                             services.diagnostics, services.scanner ? *services.scanner : *m_inlineScanner,
                             services.catalogue, m_fileWorker.get()},
        *m_tableController, *m_window);
    // cppcheck-suppress useInitializationList
    m_updater = std::make_unique<Updater>(
        Updater::Services{services.http, services.alerts, services.desktop, services.settings, services.clock},
        config.siteHost);
    // cppcheck-suppress useInitializationList
    m_marketing = std::make_unique<Marketing>(services.desktop, config);

    if (services.headerReader) {
        SoundReads *reads = &m_controller->reads();
        Catalogue *catalogue = services.catalogue;
        m_headerPool = std::make_unique<HeaderPool>(
            services.headerReader,
            [reads, catalogue](const RecordStorePtr &store, const std::vector<FactsResult> &results) {
                reads->factsArrived(store, results);
                if (catalogue)
                    catalogue->recordFacts(store, results);
            });
        reads->setHeaderFeed(m_headerPool.get());
        m_analysisPool = std::make_unique<analysis::AnalysisPool>(
            [reads, catalogue](const RecordStorePtr &store, std::vector<AnalysisResult> &results) {
                reads->traitsArrived(store, results);
                if (catalogue)
                    catalogue->recordAnalysis(store, std::move(results));
            });
        reads->setTraitFeed(m_analysisPool.get());
    }

    WaveformStrip *strip = m_window->ui().waveform;
    m_summaryWorker = std::make_unique<waveform::SummaryWorker>(
        &audio::openSndfileDecoder,
        [strip, toStrip = m_mailbox.sender()](std::uint64_t generation, const std::string &path,
                                              const std::shared_ptr<const waveform::PeakSummary> &summary) {
            toStrip.post([strip, generation, path, summary] { strip->summaryArrived(generation, path, summary); });
        });
    strip->setRequester([worker = m_summaryWorker.get()](std::uint64_t generation, const std::string &path) {
        worker->request(generation, path);
    });

    m_listSorter = std::make_unique<ListSorter>();
    m_tableController->setSorter(m_listSorter.get());

    // Outlets.
    DragTable *table = m_window->table();
    table->setTableController(m_tableController.get());
    table->setRowsShown([reads = &m_controller->reads()](int first, int last) { reads->rowsShown(first, last); });
    m_tableController->setDelegate(m_controller.get());
    table->setDragDelegate(m_controller.get());
    m_updater->setVersionTextField(m_window.get());
    m_wiring = std::make_unique<WindowWiring>(*m_window, *m_controller, *m_tableController, services.settings,
                                              services.catalogue);
    connectActions();

    // Awake.
    m_controller->awakeFromNib();
    table->awakeFromNib();
    m_wiring->restoreLayout();
}

Browser::~Browser()
{
    m_mailbox.close();
    m_summaryWorker.reset();
    m_tableController->setSorter(nullptr);
    m_listSorter.reset();
    // The table keeps a pointer to the model; let it go first.
    m_window->table()->setRowsShown({});
    m_window->table()->setTableController(nullptr);
}

std::vector<Stoppable *> Browser::threads() const
{
    std::vector<Stoppable *> units;
    if (m_headerPool)
        units.push_back(m_headerPool.get());
    if (m_analysisPool)
        units.push_back(m_analysisPool.get());
    units.push_back(m_summaryWorker.get());
    units.push_back(m_listSorter.get());
    units.push_back(m_fileWorker.get());
    return units;
}

void Browser::connectActions()
{
    Ui::MainWindow &ui = m_window->ui();
    Controller *c = m_controller.get();
    auto on
        = [this](QAction *action, auto slot) { QObject::connect(action, &QAction::triggered, m_window.get(), slot); };
    Updater *u = m_updater.get();
    Marketing *m = m_marketing.get();
    ui.actionCheckForUpdates->setEnabled(u->isEnabled());
    ui.actionVisitSite->setEnabled(m->hasSite());
    ui.actionTellAFriend->setEnabled(m->hasSite());
    on(ui.actionCheckForUpdates, [u] { u->ckeckForUpdates(true); });
    on(ui.actionVisitSite, [m] { m->visitSite(); });
    on(ui.actionFeedback, [m] { m->feedback(); });
    on(ui.actionTellAFriend, [m] { m->tellAFriend(); });
    on(ui.actionDonate, [m] { m->donate(); });

    if (qEnvironmentVariableIsSet("AURALIST_DEBUG"))
        addDeveloperAids(*m_window);
    m_wiring->connect();
    m_window->deletePanel()->setActions([c] { c->cancelDelete(); }, [c] { c->approveDelete(); });
    m_window->setWindowWillClose([this, c] {
        m_wiring->saveLayout();
        c->windowWillClose(true);
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, m_window.get(), [c] { c->appWillTerminate(); });
}

void Browser::launch(const std::vector<std::string> &paths)
{
    m_window->show();
    QTimer::singleShot(0, m_window.get(), [this, paths] { appFinishedLaunching(paths); });
}

void Browser::appFinishedLaunching(const std::vector<std::string> &paths)
{
    // Open requests made at launch come first, then the launch-finished
    // handlers: the list is there (and playing) behind the update check and
    // any alert it shows.
    // All of them are one intake; a path at which nothing exists is said
    // on standard error as well as in the window.
    if (!paths.empty()) {
        for (const std::string &missing : m_controller->openFiles(paths))
            std::fprintf(stderr, "auralist: %s: no such file or folder\n", missing.c_str());
    } else {
        m_controller->library().reopenLast();
    }
    m_controller->appFinishedLaunching();
    m_tableController->appDidFinishLaunching();
    m_updater->appDidFinishLaunching();
}

int runAuralist(int argc, char **argv)
{
    // Large blocks (a big list's buffers, a check's scratch space) come
    // straight from the system and go straight back when freed; left to
    // itself, the allocator raises this bound after the first such block
    // and keeps later ones in its heaps, where they stay resident.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20); // NOLINT(concurrency-mt-unsafe): before any thread starts
    // Answered before any display is needed; nothing else goes to standard
    // output, which carries the event lines.
    const CommandLine commandLine = readCommandLine(argc, argv);
    switch (commandLine.action) {
    case CommandLine::Action::Help: std::fputs(usageText().c_str(), stdout); return 0;
    case CommandLine::Action::Version: std::fputs(versionText().c_str(), stdout); return 0;
    case CommandLine::Action::Error: std::fputs(commandLine.error.c_str(), stderr); return 2;
    case CommandLine::Action::Run: break;
    }
    const int quitSignals = catchQuitSignals();
    DecoderMessages::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Auralist"));
    QApplication::setOrganizationName(QStringLiteral("Auralist"));
    QApplication::setDesktopFileName(QStringLiteral("auralist"));
    // QApplication has taken its own options out of argv; what is left are
    // paths (and perhaps "--"), kept as the bytes they are.
    const std::vector<std::string> paths = pathArguments(argc, argv);

    // Every thread of the application is started here, below, and stopped
    // here at quit, in order: the intake, the header readers and the
    // waveform worker (cancelled, their answers dropped), the update
    // check, the sound, and last the event lines, once everything that
    // writes them has ended.
    QueuedLineOutput eventLines(stdout);
    Diagnostics diagnostics(eventLines);
    // A sound not analysed yet is measured from its first seconds.
    audio::AudioEngine engine([](const std::string &path) {
        const analysis::StartLevel level = analysis::measureStart(path);
        return audio::SoundLevel{level.loudness, level.peak};
    });
    PosixFileSystem fileSystem;
    ThreadedScanner scanner(std::make_shared<PosixFileSystem>(), eventLines);
    // The catalogue's writer opens the file on its own thread; until it
    // answers, requests wait in its queue.
    catalogue::Library library(catalogue::defaultLibraryPath());
    library.setAudioHasher([](const std::string &path) { return analysis::audioHashOf(path); });
    QtDesktop desktop;
    MessageBoxAlerts alerts;
    QtSettings settings;
    CurlHttp http;
    SystemClock clock;
    const ServiceSet services{engine,  fileSystem, desktop,     alerts,   settings,
                              http,    clock,      diagnostics, &scanner, std::make_shared<SoundHeaderReader>(),
                              &library};
    Browser browser(services, Config::fromEnvironment());
    alerts.setParent(&browser.window());
    engine.setOutputProblemHandler(
        [&alerts](const std::string &message) { alerts.runAlert("Sound Output", message, "OK", ""); });
    quitOnSignals(quitSignals, browser.window());
    browser.launch(paths);
    const int status = QApplication::exec();

    // A thread stuck in a system call (a walk or a read on a dead disk)
    // must not keep the process: it is given until the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    std::vector<Stoppable *> units{&scanner};
    for (Stoppable *unit : browser.threads())
        units.push_back(unit);
    units.push_back(&http);
    // The catalogue last among them: what the others handed it is written.
    units.push_back(&library);
    units.push_back(&engine.player());
    const bool stopped = stopInOrder(units, deadline);
    settings.sync();
    const bool linesOut = stopInOrder({&eventLines}, deadline + std::chrono::milliseconds(200));
    if (!stopped || !linesOut) {
        debugLog("a thread did not stop in time; leaving without running destructors");
        // Nothing may be destroyed under a live thread: the settings are
        // saved and the event lines written (unless their reader is gone).
        std::fflush(stderr);
        ::_exit(status);
    }
    return status;
}

} // namespace auralist
