#include "gui/gui_test.h"

using namespace auralist;
using namespace auralist::fakes;
using auralist::testing::writeSoundFile;

void GuiTest::init()
{
    char templ[] = "/tmp/auralist-gui-XXXXXX";
    m_dir = ::mkdtemp(templ);
    m_diagnostics = std::make_unique<Diagnostics>(m_out.get());
    // Each case starts as a first start: nothing saved.
    m_settings.values.clear();
    m_settings.syncs = 0;
    const ServiceSet services{m_engine, m_fs,    m_desktop,      m_alerts, m_settings,
                              m_http,   m_clock, *m_diagnostics, nullptr,  nullptr};
    m_browser = std::make_unique<Browser>(services, Config{});
    m_browser->window().move(100, 300);
    m_browser->launch({});
    QVERIFY(QTest::qWaitForWindowExposed(&m_browser->window()));
    QTest::qWait(50);
}

void GuiTest::cleanup()
{
    m_browser.reset();
    std::filesystem::remove_all(m_dir);
}

void GuiTest::dropTakesFilesInAndKeysReachTheController()
{
    const std::string a = file("b 10.wav");
    const std::string b = file("b 2.wav");
    drop(QByteArray("file://") + QByteArray::fromStdString(m_dir) + "/b%2010.wav\r\nfile://"
         + QByteArray::fromStdString(m_dir) + "/b%202.wav\r\nhttp://example.org/x.wav\r\n");
    Controller &c = m_browser->controller();
    QCOMPARE(int(c.state().items->size()), 2);
    QCOMPARE((*c.state().items)[0].path(), a);
    QVERIFY(c.state().playModeOn);
    QCOMPARE(m_engine.loads.size(), size_t(1));

    // Non-file and empty drops change nothing.
    drop("http://example.org/only.wav\r\n");
    drop("");
    QCOMPARE(int(c.state().items->size()), 2);

    DragTable *table = m_browser->window().table();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Down);
    QCOMPARE(c.state().currentTrack, 1);
    QTest::keyClick(table, Qt::Key_Space); // playing: stops
    QVERIFY(!c.state().playModeOn);
    QTest::keyClick(table, Qt::Key_Space);
    QVERIFY(c.state().playModeOn);
    QCOMPARE(m_engine.last->path, b);
    std::fflush(m_out.get());
}

// Letters typed in the table go to the next name that starts with them,
// whatever the case; the same letter again goes on to the next such name;
// letters no name starts with leave the selection where it was.
void GuiTest::typingANamesFirstLettersGoesToIt()
{
    for (const char *name : {"Bass.wav", "Kick 1.wav", "kick 2.wav", "Snare.wav", "Sub.wav"})
        file(name);
    drop(QByteArray("file://") + QByteArray::fromStdString(m_dir) + "\r\n");
    Controller &c = m_browser->controller();
    QCOMPARE(int(c.state().items->size()), 5);
    DragTable *table = m_browser->window().table();
    table->setFocus();
    const auto nameAtCurrent = [&] { return table->model()->index(table->currentIndex().row(), 0).data().toString(); };
    QTest::keyClick(table, Qt::Key_Home);
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    QTest::keyClick(table, Qt::Key_K);
    QCOMPARE(nameAtCurrent(), QStringLiteral("Kick 1.wav"));
    QTest::keyClick(table, Qt::Key_K);
    QCOMPARE(nameAtCurrent(), QStringLiteral("kick 2.wav"));
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    QTest::keyClicks(table, "su");
    QCOMPARE(nameAtCurrent(), QStringLiteral("Sub.wav"));
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    QTest::keyClick(table, Qt::Key_Q);
    QCOMPARE(nameAtCurrent(), QStringLiteral("Sub.wav"));
    // From the last row it comes round to the first.
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    QTest::keyClick(table, Qt::Key_B);
    QCOMPARE(nameAtCurrent(), QStringLiteral("Bass.wav"));
    QCOMPARE(table->selectedRowIndexes(), std::vector<int>{table->currentIndex().row()});
}

void GuiTest::headerClickSortsAndRowsDragOutAsFiles()
{
    file("kick 10.wav");
    file("kick 2.wav");
    file("Kick 3.wav");
    m_browser->controller().droppedFilesInWell({m_dir});
    DragTable *table = m_browser->window().table();
    QHeaderView *header = table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionPosition(0) + 10, 5));
    const auto &items = *m_browser->controller().state().items;
    // The listing's order: case ignored, digit runs by value.
    QCOMPARE(items[0].name(), std::string_view("kick 2.wav"));
    QCOMPARE(items[1].name(), std::string_view("Kick 3.wav"));
    QCOMPARE(items[2].name(), std::string_view("kick 10.wav"));
    QCOMPARE(table->model()->data(table->model()->index(1, 0)).toString(), QString("Kick 3.wav"));

    std::unique_ptr<QMimeData> mime(
        table->model()->mimeData({table->model()->index(2, 0), table->model()->index(2, 1)}));
    QCOMPARE(mime->data("text/uri-list"),
             QByteArray("file://") + QByteArray::fromStdString(m_dir) + "/kick%2010.wav\r\n");
}

void GuiTest::deletePanelIsWindowModalAndReturnDeletes()
{
    const std::string a = file("a.wav");
    const std::string b = file("b.wav");
    m_browser->controller().droppedFilesInWell({a, b});
    DragTable *table = m_browser->window().table();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Delete);
    DeletePanel *panel = m_browser->window().deletePanel();
    QTRY_VERIFY(panel->isVisible());
    QCOMPARE(panel->windowModality(), Qt::WindowModal);
    QCOMPARE(panel->deletePanelMessage()->text(), QString("Are you sure you want to delete a.wav?"));
    QTest::keyClick(panel, Qt::Key_Escape);
    QTRY_VERIFY(!panel->isVisible());
    QVERIFY(std::filesystem::exists(a));
    QTest::keyClick(table, Qt::Key_Delete);
    QTRY_VERIFY(panel->isVisible());
    QVERIFY(panel->deleteButton()->isDefault());
    QTest::keyClick(panel->deleteButton(), Qt::Key_Return);
    QTRY_VERIFY(!panel->isVisible());
    QVERIFY(!std::filesystem::exists(a));
    QVERIFY(std::filesystem::exists(b));
    QCOMPARE(int(m_browser->controller().state().items->size()), 1);
}

void GuiTest::closingTheMainWindowQuitsAndSyncs()
{
    MainWindow &w = m_browser->window();
    QCOMPARE(w.geometry().height(), int(Controller::kTallWindowHeight));
    QSignalSpy quit(qApp, &QCoreApplication::aboutToQuit);
    w.close();
    QTRY_VERIFY(m_browser->window().isHidden());
    // quit() is queued; run the loop until the application asks to quit.
    QTimer::singleShot(2000, qApp, [] { QCoreApplication::exit(1); });
    const int code = QCoreApplication::exec();
    QCOMPARE(code, 0);
    QCOMPARE(quit.count(), 1);
    QCOMPARE(m_settings.syncs, 1);
}

void GuiTest::spaceInTheDeleteSheetNeverDeletes()
{
    const std::string a = file("a.wav");
    file("b.wav");
    m_browser->controller().droppedFilesInWell({a, m_dir + "/b.wav"});
    DragTable *table = m_browser->window().table();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Delete);
    DeletePanel *panel = m_browser->window().deletePanel();
    QTRY_VERIFY(panel->isVisible());
    QCOMPARE(panel->deletePanelDetail()->text(), QString("The file is removed from the disk. This cannot be undone."));
    // Space, wherever the panel's focus is, presses neither button.
    QTRY_VERIFY(QApplication::focusWidget() == panel->deleteButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QTest::keyClick(panel->cancelButton(), Qt::Key_Space);
    QTest::keyClick(panel, Qt::Key_Space);
    QTest::qWait(50);
    QVERIFY(panel->isVisible());
    QVERIFY(std::filesystem::exists(a));
    QTest::mouseClick(panel->cancelButton(), Qt::LeftButton);
    QTRY_VERIFY(!panel->isVisible());
    QVERIFY(std::filesystem::exists(a));

    // With the Trash checked, the panel says so.
    m_browser->window().ui().actionMoveToTrash->setChecked(true);
    QTest::keyClick(table, Qt::Key_Delete);
    QTRY_VERIFY(panel->isVisible());
    QCOMPARE(panel->deletePanelDetail()->text(), QString("The file is moved to the Trash."));
    QTest::keyClick(panel, Qt::Key_Escape);
    QTRY_VERIFY(!panel->isVisible());
    QVERIFY(std::filesystem::exists(a));
}

void GuiTest::findFieldKeysAndTheShortWindow()
{
    {
        // Tab goes from the find field to the list; its clear button has a
        // name a screen reader says.
        QLineEdit *find = m_browser->window().ui().find;
        find->setFocus();
        QTRY_VERIFY(find->hasFocus());
        QTest::keyClick(find, Qt::Key_Tab);
        QTRY_VERIFY(m_browser->window().table()->hasFocus());
        find->setText(QStringLiteral("x"));
        bool named = false;
        for (QToolButton *button : find->findChildren<QToolButton *>())
            named = named || (button->isVisible() && button->accessibleName() == QStringLiteral("Clear Find"));
        QVERIFY(named);
        find->clear();
    }
    {
        // Names are text wherever they are shown: "<h1>" is not a heading.
        MainWindow &w = m_browser->window();
        w.setTrackName(QStringLiteral("plain.wav"));
        const int plain = w.ui().trackName->sizeHint().height();
        w.setTrackName(QStringLiteral("<h1>Big</h1><font size=7>RED</font>.wav"));
        QCOMPARE(w.ui().trackName->sizeHint().height(), plain);
        QVERIFY(w.ui().trackName->text().startsWith(QStringLiteral("<h1>")));
        w.showDeletePanel(QStringLiteral("Are you sure you want to delete these 2 sounds?"),
                          QStringLiteral("<h1>Big.wav\n<font size=7>RED.wav"));
        auto *panel = w.findChild<DeletePanel *>();
        QLabel *detail = panel->deletePanelDetail();
        QCOMPARE(detail->textFormat(), Qt::PlainText);
        QVERIFY(detail->sizeHint().height() < 4 * w.fontMetrics().height());
        w.hideDeletePanel();
        // A name of 251 bytes: the question stays narrower than the screen.
        w.showDeletePanel(QStringLiteral("Are you sure you want to delete %1.wav?").arg(QString(247, QLatin1Char('x'))),
                          QStringLiteral("The file is moved to the Trash."));
        QTRY_VERIFY(panel->isVisible());
        QVERIFY(panel->width() < w.screen()->availableGeometry().width());
        QVERIFY(panel->deleteButton()->geometry().right() <= panel->width());
        w.hideDeletePanel();
    }

    file("kick.wav");
    file("snare.wav");
    m_browser->controller().droppedFilesInWell({m_dir});
    MainWindow &w = m_browser->window();
    QLineEdit *find = w.ui().find;
    DragTable *table = w.table();
    find->setFocus();
    QTest::keyClicks(find, "sn");
    QCOMPARE(table->model()->rowCount(), 1);
    QTest::keyClick(find, Qt::Key_Escape);
    QCOMPARE(find->text(), QString());
    QCOMPARE(table->model()->rowCount(), 2);
    QVERIFY(find->hasFocus());
    QTest::keyClick(find, Qt::Key_Down);
    QTRY_VERIFY(table->hasFocus());
    find->setFocus();
    QTest::keyClick(find, Qt::Key_Return);
    QTRY_VERIFY(table->hasFocus());

    // The short window shows no sliver of the list; the tall one shows it.
    QVERIFY(table->isVisible());
    w.ui().actionShowBrowser->trigger();
    QTRY_COMPARE(w.height(), 75);
    QVERIFY(!table->isVisible());
    w.ui().actionShowBrowser->trigger();
    QTRY_COMPARE(w.height(), int(Controller::kTallWindowHeight));
    QVERIFY(table->isVisible());
}

void GuiTest::auditionControlsInTheWindow()
{
    file("a.wav");
    file("b.wav");
    file("c.wav");
    m_browser->controller().droppedFilesInWell({m_dir});
    MainWindow &w = m_browser->window();
    DragTable *table = w.table();
    auto a = m_engine.last;
    QCOMPARE(table->model()->index(0, 0).data(TableController::StatusRole).toInt(),
             int(TableController::RowStatus::Playing));

    // The time shown follows the sound; Alt+Right and Alt+Left seek.
    a->delegate->soundPositionChanged(a, 2.0, 7.5);
    QCOMPARE(w.ui().timeLabel->text(), QString("0:02.0 / 0:07.5"));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Right, Qt::AltModifier);
    QTest::keyClick(table, Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(a->seeks, (std::vector<double>{3.0, 1.0}));

    // The slider sets the level in the engine and the settings.
    w.ui().volumeSlider->setValue(40);
    QCOMPARE(m_engine.volume, 0.4);
    QCOMPARE(m_settings.values["volume"], std::string("40"));

    // Play on Select: the arrow key plays the row it lands on.
    const size_t loads = m_engine.loads.size();
    QTest::keyClick(table, Qt::Key_Down);
    QCOMPARE(m_engine.loads.size(), loads);
    w.ui().actionPlayOnSelect->setChecked(true);
    QTest::keyClick(table, Qt::Key_Down);
    QCOMPARE(m_engine.loads.size(), loads + 1);
    QCOMPARE(m_engine.last->path, m_dir + "/c.wav");
    QCOMPARE(table->model()->index(2, 0).data(TableController::StatusRole).toInt(),
             int(TableController::RowStatus::Playing));
    QCOMPARE(table->model()->index(0, 0).data(TableController::StatusRole).toInt(), 0);
}

void GuiTest::clickInTheWaveformSeeksAndPlays()
{
    // However long a header claims a sound is, the scale has no more ticks
    // than the strip has room for.
    for (const double length : {0.2, 3.0, 3600.0, 1e9, double(std::int64_t{1} << 36) / 1000}) {
        const double step = WaveformStrip::timeScaleStep(800, length);
        QVERIFY(step > 0);
        QVERIFY2(length / step <= 800.0 / WaveformStrip::kTickSpacing + 1, qPrintable(QString::number(length)));
    }
    QCOMPARE(WaveformStrip::timeScaleStep(800, std::nan("")), 0.0);

    // A real 4 s sound, so the strip has a real summary to show.
    const std::string path = m_dir + "/four seconds.wav";
    std::vector<float> frames(2 * 44100 * 4);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = 0.5F * std::sin(float(i) * 0.01F) * float(frames.size() - i) / float(frames.size());
    writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, frames);

    WaveformStrip *strip = m_browser->window().ui().waveform;
    QSignalSpy shown(strip, &WaveformStrip::summaryShown);
    m_browser->controller().droppedFilesInWell({path});
    QCOMPARE(strip->accessibleName(), QString("Waveform"));
    QCOMPARE(strip->track(), path);
    QTRY_VERIFY(strip->summary() && strip->summary()->complete);
    QCOMPARE(strip->lengthSeconds(), 4.0);

    // Playing: a click at three quarters moves the sound there.
    auto sound = m_engine.last;
    QVERIFY(sound->playing);
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() * 3 / 4, strip->height() / 2));
    QCOMPARE(sound->seeks.size(), size_t(1));
    QVERIFY(std::abs(sound->seeks[0] - 3.0) < 4.0 / strip->width() + 1e-9);

    // Stopped: a click plays the row from there, play mode on.
    m_browser->controller().stop();
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() * 3 / 4, strip->height() / 2));
    QVERIFY(m_engine.last != sound);
    QVERIFY(m_engine.last->playing);
    QVERIFY(std::abs(m_engine.last->startedAt - 3.0) < 4.0 / strip->width() + 1e-9);
    QVERIFY(m_browser->controller().state().playModeOn);

    // The playhead follows the engine's reports.
    m_engine.last->delegate->soundPositionChanged(m_engine.last, 3.5, 4.0);
    QVERIFY(strip->playheadSeconds() >= 3.5 && strip->playheadSeconds() < 3.8);
}

void GuiTest::headerColumnsFillInAndTheLayoutIsRemembered()
{
    // The window as the application runs it: a scanning thread and a
    // header pool.
    m_browser.reset();
    m_engine.types.push_back("flac");
    m_scanner = std::make_unique<ThreadedScanner>(std::make_shared<PosixFileSystem>(), m_out.get());
    auto makeBrowser = [&] {
        const ServiceSet services{
            m_engine, m_fs,    m_desktop,      m_alerts,        m_settings,
            m_http,   m_clock, *m_diagnostics, m_scanner.get(), std::make_shared<SoundHeaderReader>()};
        auto b = std::make_unique<Browser>(services, Config{});
        b->launch({});
        return b;
    };
    m_browser = makeBrowser();
    QVERIFY(QTest::qWaitForWindowExposed(&m_browser->window()));
    writeSoundFile(m_dir + "/long.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2,
                   std::vector<float>(2 * 96000, 0.25F));
    writeSoundFile(m_dir + "/short.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2,
                   std::vector<float>(2 * 44100, 0.25F));
    file("broken.wav");
    drop(QByteArray("file://") + QByteArray::fromStdString(m_dir) + "\r\n");

    DragTable *table = m_browser->window().table();
    QAbstractItemModel *model = table->model();
    QTRY_COMPARE(model->rowCount(), 3);
    const QString folder = QString::fromStdString(std::filesystem::path(m_dir).filename().string());
    QTRY_COMPARE(m_browser->window().windowTitle(), folder + QString::fromUtf8(" \u2014 3 sounds \u2014 Auralist"));
    auto column = [&](const char *id) {
        for (int c = 0; c < m_browser->tableController().columnCount(); ++c) {
            if (m_browser->tableController().identifierForColumn(c) == id)
                return c;
        }
        return -1;
    };
    auto cell = [&](const std::string &name, const char *id) {
        for (int r = 0; r < model->rowCount(); ++r) {
            if (model->index(r, 0).data().toString().toStdString() == name)
                return model->index(r, column(id)).data().toString();
        }
        return QString();
    };
    QTRY_COMPARE(cell("long.wav", kLengthKey), QString("0:02.0"));
    QCOMPARE(cell("long.wav", kFormatKey), QString("WAV 24-bit"));
    QCOMPARE(cell("long.wav", kRateKey), QString("48000"));
    QCOMPARE(cell("long.wav", kChannelsKey), QString("2"));
    QTRY_COMPARE(cell("short.flac", kFormatKey), QString("FLAC 16-bit"));
    QTRY_COMPARE(cell("broken.wav", kLengthKey), QString::fromUtf8(kNoValue));
    // The sound whose header could not be read is marked as one that
    // cannot play.
    for (int r = 0; r < model->rowCount(); ++r) {
        if (model->index(r, 0).data().toString() == "broken.wav")
            QCOMPARE(model->index(r, 0).data(TableController::StatusRole).toInt(),
                     int(TableController::RowStatus::Unplayable));
    }

    // The length column sorts by duration: what could not be read first,
    // then 1 s, then 2 s.
    QHeaderView *header = table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column(kLengthKey)) + 5, header->height() / 2));
    QCOMPARE(model->index(0, 0).data().toString(), QString("broken.wav"));
    QCOMPARE(model->index(1, 0).data().toString(), QString("short.flac"));
    QCOMPARE(model->index(2, 0).data().toString(), QString("long.wav"));

    // The header's menu hides a column.
    // The rate starts hidden; the header's menu shows it, and hides the format.
    QVERIFY(header->isSectionHidden(column(kRateKey)));
    for (const char *title : {"Rate", "Format"}) {
        const WhenShown chosen([title] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return false;
            for (QAction *a : menu->actions()) {
                if (a->text() == title)
                    a->trigger();
            }
            menu->close();
            return true;
        });
        emit header->customContextMenuRequested(QPoint(10, 5));
        QVERIFY(chosen.done());
    }
    QVERIFY(!header->isSectionHidden(column(kRateKey)));
    QVERIFY(header->isSectionHidden(column(kFormatKey)));
    header->resizeSection(0, 321);
    m_browser->window().resize(700, 420);
    QTRY_COMPARE(m_browser->window().size(), QSize(700, 420));

    // Closed and opened again: the same size, widths and columns.
    m_browser->window().close();
    QVERIFY(m_settings.values.count("tableColumns") == 1);
    m_browser = makeBrowser();
    QVERIFY(QTest::qWaitForWindowExposed(&m_browser->window()));
    header = m_browser->window().table()->horizontalHeader();
    QVERIFY(!header->isSectionHidden(column(kRateKey)));
    QVERIFY(header->isSectionHidden(column(kFormatKey)));
    QCOMPARE(header->sectionSize(0), 321);
    QCOMPARE(m_browser->window().size(), QSize(700, 420));
    // The sort is kept: shown, and the next list comes in in its order.
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), column(kLengthKey));
    QCOMPARE(m_browser->tableController().sortKey(), std::string(kLengthKey));
    QVERIFY(m_settings.values.count("waveformSplit") == 1);
}

void GuiTest::theSelectionFollowsItsSoundAndKeysMoveIt()
{
    for (const char *name : {"b.wav", "c.wav", "A.wav", "d.wav", "e.wav"})
        file(name);
    m_browser->controller().droppedFilesInWell(
        {m_dir + "/b.wav", m_dir + "/c.wav", m_dir + "/A.wav", m_dir + "/d.wav", m_dir + "/e.wav"});
    Controller &c = m_browser->controller();
    DragTable *table = m_browser->window().table();
    QAbstractItemModel *model = table->model();
    auto selectedName = [&] { return QString::fromUtf8(m_browser->tableController().selectedItem().name()); };
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Down); // c.wav, row 1
    QCOMPARE(selectedName(), QString("c.wav"));

    // A click on the Name header: c.wav moves to row 2 and stays selected,
    // the arrow shows; a second click turns the order round.
    QHeaderView *header = table->horizontalHeader();
    const QPoint nameHeader(header->sectionViewportPosition(0) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, nameHeader);
    QCOMPARE(model->index(0, 0).data().toString(), QString("A.wav"));
    QCOMPARE(selectedName(), QString("c.wav"));
    QCOMPARE(c.state().currentTrack, 2);
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, nameHeader);
    QCOMPARE(model->index(0, 0).data().toString(), QString("e.wav"));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(selectedName(), QString("c.wav"));
    QCOMPARE(m_settings.values["sortColumn"], std::string("name"));
    QCOMPARE(m_settings.values["sortAscending"], std::string("false"));
    // Next plays what is now below it.
    QTest::keyClick(table, Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(m_engine.last->path, m_dir + "/b.wav");

    // Find, then Escape: the found sound stays selected, in view, and Next
    // goes on from it.
    QLineEdit *find = m_browser->window().ui().find;
    find->setFocus();
    QTest::keyClicks(find, "d.");
    QCOMPARE(model->rowCount(), 1);
    QTest::keyClick(find, Qt::Key_Down);
    QTest::keyClick(table, Qt::Key_Return); // plays the selected row
    QCOMPARE(m_engine.last->path, m_dir + "/d.wav");
    find->setFocus();
    QTest::keyClick(find, Qt::Key_Escape);
    QCOMPARE(model->rowCount(), 5);
    QCOMPARE(selectedName(), QString("d.wav"));
    QCOMPARE(c.state().currentTrack, 1);
    QTest::keyClick(table, Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(m_engine.last->path, m_dir + "/c.wav");

    // Home and End select without playing; Ctrl+End plays the last.
    const size_t loads = m_engine.loads.size();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_End);
    QCOMPARE(selectedName(), QString("A.wav"));
    QTest::keyClick(table, Qt::Key_Home);
    QCOMPARE(selectedName(), QString("e.wav"));
    QCOMPARE(c.state().currentTrack, 0);
    QCOMPARE(m_engine.loads.size(), loads);
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(m_engine.last->path, m_dir + "/e.wav");
    QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(m_engine.last->path, m_dir + "/A.wav");

    // Open Folder starts where a folder was last opened.
    m_settings.values["openFolder"] = m_dir;
    QString shownAt;
    const WhenShown opened([&shownAt] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return false;
        shownAt = dialog->directory().absolutePath();
        dialog->reject();
        return true;
    });
    m_browser->window().ui().actionOpen->trigger();
    QVERIFY(opened.done());
    QCOMPARE(shownAt, QString::fromStdString(m_dir));

    // Every key the window answers to is in the help, and each action the
    // help names has the key it says.
    QString listed;
    for (const KeyHelp &k : keyboardShortcuts()) {
        listed += k.keys + QLatin1Char(',');
        const QStringList keys = k.keys.split(QStringLiteral(", "));
        QVERIFY2(k.actions.empty() || k.actions.size() == static_cast<std::size_t>(keys.size()), qPrintable(k.keys));
        for (std::size_t i = 0; i < k.actions.size(); ++i) {
            auto *action = m_browser->window().findChild<QAction *>(QString::fromLatin1(k.actions[i]));
            QVERIFY2(action, k.actions[i]);
            QCOMPARE(action->shortcut().toString(), keys[static_cast<qsizetype>(i)]);
        }
    }
    for (QAction *action : m_browser->window().findChildren<QAction *>()) {
        if (!action->shortcut().isEmpty())
            QVERIFY2(listed.contains(action->shortcut().toString()), qPrintable(action->shortcut().toString()));
    }
    m_browser->window().ui().actionKeyboardShortcuts->trigger();
    auto *help = m_browser->window().findChild<QDialog *>("keyboardShortcuts");
    QVERIFY(help);
    QTRY_VERIFY(help->isVisible());
    help->close();
}

void GuiTest::severalSelectedSoundsAreDeletedAfterOneQuestion()
{
    for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        file(name);
    m_browser->controller().droppedFilesInWell({m_dir});
    MainWindow &w = m_browser->window();
    DragTable *table = w.table();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(table, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(table->selectedRowIndexes(), (std::vector<int>{0, 1, 2}));
    QTest::keyClick(table, Qt::Key_Delete);
    DeletePanel *panel = w.deletePanel();
    QTRY_VERIFY(panel->isVisible());
    QCOMPARE(panel->deletePanelMessage()->text(), QString("Are you sure you want to delete these 3 sounds?"));
    QCOMPARE(panel->deletePanelDetail()->text(),
             QString("a.wav\nb.wav\nc.wav\n\nThe files are removed from the disk. This cannot be undone."));
    QTest::mouseClick(panel->deleteButton(), Qt::LeftButton);
    QTRY_VERIFY(!panel->isVisible());
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        QVERIFY(!std::filesystem::exists(m_dir + "/" + name));
    QVERIFY(std::filesystem::exists(m_dir + "/d.wav"));
    QCOMPARE(table->model()->rowCount(), 1);
    QVERIFY(w.windowTitle().contains(QString::fromUtf8("\u2014 1 sound \u2014")));
    QCOMPARE(QString::fromUtf8(m_browser->tableController().selectedItem().name()), QString("d.wav"));
}

void GuiTest::menusTheWaveformAndWhatTheWindowShows()
{
    MainWindow &w = m_browser->window();
    Ui::MainWindow &ui = w.ui();
    // A first start: the tall form, twelve rows and more, every column in.
    QVERIFY(w.width() >= 1000);
    DragTable *table = w.table();
    QVERIFY(table->viewport()->height() >= 12 * table->verticalHeader()->defaultSectionSize());

    // Continue to Next Sound: on by default, a setting.
    QVERIFY(ui.actionAutoAdvance->isChecked());
    ui.actionAutoAdvance->trigger();
    QCOMPARE(m_settings.values["autoAdvance"], std::string("false"));
    QVERIFY(!m_browser->controller().options().autoAdvance());

    // Normalise Waveform: on by default; a sound peaking at a quarter of
    // full scale is drawn four times as large.
    const std::string path = m_dir + "/quiet tom.wav";
    std::vector<float> frames(2 * 8820);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = 0.25F * std::sin(float(i / 2) * 0.05F);
    writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, frames);
    WaveformStrip *strip = ui.waveform;
    m_browser->controller().droppedFilesInWell({path});
    QTRY_VERIFY(strip->summary() && strip->summary()->complete);
    QVERIFY(ui.actionNormaliseWaveform->isChecked());
    QVERIFY(std::abs(strip->displayGain() - 4.0) < 0.01);
    // A pixel covers fewer frames than a block: drawn from the frames.
    QCOMPARE(strip->summary()->fine.size(), size_t(8820));
    const auto one = strip->summary()->peakOf(100, 101);
    QVERIFY(std::abs(one.high - 0.25F * std::sin(100 * 0.05F)) < 1e-4F);
    ui.actionNormaliseWaveform->trigger();
    QCOMPARE(strip->displayGain(), 1.0);
    QCOMPARE(m_settings.values["normaliseWaveform"], std::string("false"));

    // The strip grows with the window.
    const int before = strip->height();
    w.resize(w.width(), w.height() + 200);
    QTRY_VERIFY(strip->height() > before + 20);

    // Ctrl+B twice: back to the size before, and the short size is never
    // saved as the window's.
    const QSize tall = w.size();
    ui.actionShowBrowser->trigger();
    QTRY_COMPARE(w.height(), 75);
    w.close();
    QVERIFY(m_settings.values.count("windowSize") == 0 || m_settings.values["windowSize"] != "75");
    QVERIFY(m_settings.values["windowSize"].find("x75") == std::string::npos);
    w.show();
    ui.actionShowBrowser->trigger();
    QTRY_COMPARE(w.size(), tall);

    // The Path column hidden: the last one shown takes the free width.
    QHeaderView *header = table->horizontalHeader();
    header->setSectionHidden(1, true);
    table->fitColumns();
    int last = header->count() - 1;
    QTRY_VERIFY(header->sectionPosition(last) + header->sectionSize(last) >= header->viewport()->width() - 2);
    header->setSectionHidden(1, false);
    table->fitColumns();

    // The time keeps its room, so the slider stays where it is.
    const int sliderX = ui.volumeSlider->x();
    w.setTimeText("0:01.3 / 0:04.0");
    QCoreApplication::processEvents();
    QCOMPARE(ui.volumeSlider->x(), sliderX);
    w.setTimeText(QString());
    QCoreApplication::processEvents();
    QCOMPARE(ui.volumeSlider->x(), sliderX);

    // What a screen reader is given: the labels' text, the Loop button's
    // state, menu items without their keys.
    w.setTimeText("0:01.3 / 0:04.0");
    QAccessibleInterface *time = QAccessible::queryAccessibleInterface(ui.timeLabel);
    QCOMPARE(time->text(QAccessible::Name), QString("Time"));
    QCOMPARE(time->text(QAccessible::Description), QString("0:01.3 / 0:04.0"));
    w.setTrackName("quiet tom.wav");
    QCOMPARE(QAccessible::queryAccessibleInterface(ui.trackName)->text(QAccessible::Description),
             QString("quiet tom.wav"));
    QAccessibleInterface *loop = QAccessible::queryAccessibleInterface(ui.loopButton);
    QVERIFY(loop->state().checkable);
    QVERIFY(!loop->state().checked);
    QTest::mouseClick(ui.loopButton, Qt::LeftButton);
    QVERIFY(m_browser->controller().state().isLooping);
    QVERIFY(loop->state().checked);
    QVERIFY(ui.actionToggleLooping->isChecked());
    QCOMPARE(ui.actionDelete->text().remove('&'), QString::fromUtf8("Delete Sound\u2026"));
    QCOMPARE(ui.actionDelete->shortcut(), QKeySequence(Qt::Key_Delete));

    // At twice the scale, the status icon takes its room in view units.
    QPixmap icon(32, 32);
    icon.setDevicePixelRatio(2.0);
    ImageAndTextCell cell;
    cell.setImage(icon);
    const auto [strip2, text] = cell.divideFrame(QRectF(0, 0, 200, 20));
    QCOMPARE(cell.imageFrameForCellFrame(QRectF(0, 0, 200, 20)).height(), 16.0);
    QVERIFY(strip2.width() < 24);
    QVERIFY(text.x() < 24);
}

QTEST_MAIN(GuiTest)
