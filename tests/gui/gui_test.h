#pragma once

// The window under test: what every GUI case shares.

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QDrag>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QToolButton>
#include <QtTest>
#include <cstring>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sndfile.h>

#include "app/startup.h"
#include "catalogue/library.h"
#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/header_facts.h"
#include "core/table_controller.h"
#include "core/uri_list.h"
#include "fakes/fakes.h"
#include "intake/scanner.h"
#include "platform/posix_file_system.h"
#include "platform/sound_header_reader.h"
#include "sound_files.h"
#include "ui/delete_panel.h"
#include "ui/drag_table.h"
#include "ui/image_and_text_cell.h"
#include "ui/keyboard_shortcuts.h"
#include "ui/main_window.h"
#include "ui/waveform_strip.h"
#include "ui_main_window.h"
#include "unit/test_support.h"

// The first column of every row, top to bottom, as shown.
inline QStringList shownNames(const QAbstractItemModel *model)
{
    QStringList names;
    for (int r = 0; r < model->rowCount(); ++r)
        names << model->index(r, 0).data().toString();
    return names;
}

// Acts on a dialog or menu once it is up, however long that takes: a
// following call opens it and runs it in a loop of its own, during which
// this polls. tryAct answers whether it found what it wanted and acted.
class WhenShown {
public:
    explicit WhenShown(std::function<bool()> tryAct) : m_tryAct(std::move(tryAct))
    {
        m_timer.callOnTimeout([this] {
            if (!m_done && m_tryAct()) {
                m_done = true;
                m_timer.stop();
            }
        });
        m_timer.start(20);
    }
    bool done() const { return m_done; }

private:
    std::function<bool()> m_tryAct;
    QTimer m_timer;
    bool m_done = false;
};

class GuiTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void dropTakesFilesInAndKeysReachTheController();
    void typingANamesFirstLettersGoesToIt();
    void headerClickSortsAndRowsDragOutAsFiles();
    void deletePanelIsWindowModalAndReturnDeletes();
    void closingTheMainWindowQuitsAndSyncs();
    void spaceInTheDeleteSheetNeverDeletes();
    void findFieldKeysAndTheShortWindow();
    void auditionControlsInTheWindow();
    void clickInTheWaveformSeeksAndPlays();
    void headerColumnsFillInAndTheLayoutIsRemembered();
    void theSelectionFollowsItsSoundAndKeysMoveIt();
    void severalSelectedSoundsAreDeletedAfterOneQuestion();
    void menusTheWaveformAndWhatTheWindowShows();
    void theLibraryRemembersFoldersFavouritesAndTags();
    void analysisFillsItsColumnsAndTheStatusLine();
    void findSimilarInTheListAndInEveryFolder();
    void theFindFieldTakesAQuery();
    void triageKeysCopyMoveRenameAndUndo();
    void aRegionOfTheWaveformIsChosenPlayedAndWritten();

private:
    // The window as the application runs it: a scanner thread and a
    // header pool (and the analysis), and the catalogue given.
    void startWithHeaderPool(auralist::Catalogue *catalogue = nullptr)
    {
        m_browser.reset();
        m_scanner
            = std::make_unique<auralist::ThreadedScanner>(std::make_shared<auralist::PosixFileSystem>(), m_out.get());
        const auralist::ServiceSet services{
            m_engine, m_fs,    m_desktop,      m_alerts,        m_settings,
            m_http,   m_clock, *m_diagnostics, m_scanner.get(), std::make_shared<auralist::SoundHeaderReader>(),
            catalogue};
        m_browser = std::make_unique<auralist::Browser>(services, auralist::Config{});
        m_browser->launch({});
        QVERIFY(QTest::qWaitForWindowExposed(&m_browser->window()));
    }
    std::string file(const std::string &name)
    {
        const std::string p = m_dir + "/" + name;
        std::ofstream(p) << "x";
        return p;
    }
    void drop(const QByteArray &uriList)
    {
        QMimeData mime;
        mime.setData("text/uri-list", uriList);
        QWidget *vp = m_browser->window().table()->viewport();
        const QPoint at = vp->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropEvent(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &dropEvent);
    }

    std::string m_dir;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> m_out{std::tmpfile(), &std::fclose};
    std::unique_ptr<auralist::Diagnostics> m_diagnostics;
    auralist::fakes::FakeEngine m_engine;
    auralist::PosixFileSystem m_fs;
    auralist::fakes::FakeDesktop m_desktop;
    auralist::fakes::FakeAlerts m_alerts;
    auralist::fakes::FakeSettings m_settings;
    auralist::fakes::FakeHttp m_http;
    auralist::fakes::FakeClock m_clock;
    std::unique_ptr<auralist::ThreadedScanner> m_scanner; // outlives the browser
    std::unique_ptr<auralist::Browser> m_browser;
};
