#include "core/controller.h"
#include "core/file_type.h"
#include "core/setting.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <algorithm>

#include "core/diagnostics.h"
#include "core/string_utils.h"
#include "core/table_controller.h"

namespace auralist {

namespace {

// How often a live find runs again while facts and analyses stream in.
constexpr std::chrono::milliseconds kRefindInterval{300};

} // namespace

Controller::Controller(const Services &services, TableController &tableController, BrowserView &view)
    : m_engine(services.engine),
      m_fs(services.fileSystem),
      m_desktop(services.desktop),
      m_alerts(services.alerts),
      m_settings(services.settings),
      m_diagnostics(services.diagnostics),
      m_tableController(tableController),
      m_view(view),
      m_options(services.settings, services.engine,
                [this](const Setting<bool> &changed) {
                    if (std::string_view(changed.key) == settings::kAutoAdvance.key) {
                        queueNextTrack();
                    } else if (std::string_view(changed.key) == settings::kSearchAllText.key) {
                        m_find.forget();
                        find();
                    }
                }),
      m_scanner(services.scanner),
      m_reads(tableController),
      m_jobs(services.files, view, services.alerts),
      m_analysis(m_shown, tableController, m_reads, view, services.settings, services.engine, services.catalogue),
      m_triage({services.fileSystem, services.desktop, services.settings, m_jobs, services.catalogue}, m_shown,
               tableController, view),
      m_deletion(
          {services.fileSystem, services.desktop, services.alerts, m_jobs, m_options, m_triage}, m_shown,
          tableController, view, [this] { stop(); }, [this] { play(); }),
      m_library({services.fileSystem, services.settings, services.alerts, services.engine, services.catalogue}, m_shown,
                tableController, view, m_triage)
{
    m_refind.setSingleShot(true);
    m_refind.setInterval(kRefindInterval);
    QObject::connect(&m_refind, &QTimer::timeout, [this] {
        if (m_findIsLive)
            find();
    });
}

Controller::~Controller()
{
    m_scanner.cancel();
    // The sound is released without being stopped; its reports must not
    // reach a controller that is gone.
    if (m_state.sound)
        m_state.sound->setDelegate(nullptr);
}

void Controller::awakeFromNib()
{
    m_engine.setVolume(m_options.volume() / 100.0);
    if (m_analysis.matchLoudness())
        m_engine.setLoudnessMatch(true, m_analysis.loudnessTarget());
    m_view.setTableCanDrop(true);
    m_tableController.setIsEditable(false);
    showBrowser();
}

void Controller::appFinishedLaunching()
{
    m_view.makeTableFirstResponder();
    m_view.displayLabel();
}

void Controller::windowWillClose(bool isMainWindow)
{
    if (isMainWindow)
        m_view.terminate();
}

void Controller::appWillTerminate()
{
    m_library.keepCurrent(currentTrackInRows()
                              ? (*m_tableController.items())[static_cast<std::size_t>(m_state.currentTrack)]
                              : SoundRecord());
    m_settings.sync();
}

void Controller::showBrowser()
{
    Rect frame = m_view.windowFrame();
    if (!m_state.isBrowserOpen) {
        // Screen y grows downwards here: the top edge moves by the old
        // height minus the short height, as the bottom-up arithmetic does.
        frame.y += frame.height - kShortWindowHeight;
        frame.height = m_tallHeight;
        m_state.isBrowserOpen = true;
    } else {
        if (frame.height > kShortWindowHeight)
            m_tallHeight = frame.height;
        frame.height = kShortWindowHeight;
        m_state.isBrowserOpen = false;
    }
    // Keep the top edge (and with it the title bar) on the screen.
    const Rect screen = m_view.availableScreen();
    if (screen.height > 0) {
        frame.y = std::min(frame.y, screen.y + screen.height - frame.height);
        frame.y = std::max(frame.y, screen.y);
    }
    // Shown or hidden first: what is hidden takes no room in the new size.
    m_view.setBrowserVisible(m_state.isBrowserOpen);
    m_view.setWindowFrame(frame);
    const Rect scroll = m_view.scrollViewFrame();
    m_view.setScrollViewFrameSize(scroll.width, kScrollViewHeight);
    m_view.display();
}

void Controller::setItems(SoundList list)
{
    m_state.items = list ? std::move(list) : makeSoundList();
    ++m_itemsVersion;
    setMatches(m_state.items);
}

void Controller::setMatches(SoundList list)
{
    // The table's change of rows lines up what follows the playing sound.
    m_state.matches = std::move(list);
    m_tableController.setItems(m_state.matches);
}

void Controller::find()
{
    const QByteArray text = m_view.findText().toUtf8();
    // A list the analysis made gives way to the find.
    if (!m_tableController.listValuesKey().empty())
        m_tableController.setListValues({}, {});
    const std::string_view typed(text.constData(), static_cast<size_t>(text.size()));
    if (!m_state.items && !FindFilter::blank(typed))
        setItems(makeSoundList());
    QElapsedTimer timer;
    timer.start();
    FindFilter::Found found = m_find.run(typed, m_state.items, m_itemsVersion + m_tableController.mutationCount(),
                                         m_options.searchAllText());
    const qint64 searched = timer.elapsed();
    const auto shownAfter = qScopeGuard([&] {
        debugLog("find: " + std::to_string(m_state.matches ? m_state.matches->size() : 0) + " found in "
                 + std::to_string(searched) + " ms, shown " + std::to_string(timer.elapsed() - searched) + " ms later");
    });
    m_findIsLive = found.live;
    m_view.setFindHint(QString::fromStdString(found.hint));
    if (!found.matches) {
        setMatches(m_state.items ? m_state.items : makeSoundList());
        return;
    }
    setMatches(std::move(found.matches));
    // Rows the find itself set are no change to the list it searched.
    m_find.settled(m_itemsVersion + m_tableController.mutationCount());
}

void Controller::tableControllerValuesChanged(TableController &)
{
    if (m_findIsLive && !m_refind.isActive())
        m_refind.start();
}

void Controller::tableControllerRowsWillChange(TableController &)
{
    m_keptTrack = currentTrackInRows() ? (*m_tableController.items())[static_cast<size_t>(m_state.currentTrack)]
                                       : SoundRecord();
}

void Controller::tableControllerRowsDidChange(TableController &)
{
    // The current track stays on its sound; where that has left the rows,
    // it is the row now at its place.
    const bool hadTrack = static_cast<bool>(m_keptTrack);
    const int row = hadTrack ? m_tableController.rowOf(m_keptTrack) : -1;
    m_keptTrack = {};
    if (row >= 0)
        m_state.currentTrack = row;
    else if (m_state.currentTrack >= m_tableController.rowCount())
        m_state.currentTrack = std::max(0, m_tableController.rowCount() - 1);
    // What follows the playing sound may be another row now.
    queueNextTrack();
    // With nothing playing, the window names and draws the current sound:
    // where its sound left the rows, the one that took its place.
    if (hadTrack && row < 0 && !(m_state.sound && m_state.sound->isPlaying())) {
        QString name;
        if (currentTrackInRows()) {
            const SoundRecord record = (*m_tableController.items())[static_cast<size_t>(m_state.currentTrack)];
            name = displayText(std::string(lastPathComponent(record.path())));
        }
        m_view.setTrackName(name);
        updateWaveform();
    }
}

void Controller::tableControllerDidSort(TableController &)
{
    // The whole sound list takes the sort too, so that the list a find
    // filters (and the one it returns to) is in the order shown.
    if (m_state.apartFrom(m_tableController.items())) {
        m_tableController.applySort(m_state.items);
        ++m_itemsVersion;
    }
}

bool Controller::currentTrackInRows() const
{
    return m_state.currentTrack >= 0 && m_state.currentTrack < m_tableController.rowCount();
}

} // namespace auralist
