#include "ui/window_wiring.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSlider>
#include <QSplitter>
#include <QToolButton>

#include <cstdio>
#include <memory>

#include "core/controller.h"
#include "core/file_type.h"
#include "core/setting.h"
#include "core/string_utils.h"
#include "core/table_controller.h"
#include "ui/delete_panel.h"
#include "ui/drag_table.h"
#include "ui/keyboard_shortcuts.h"
#include "ui/main_window.h"
#include "ui/name_editor.h"
#include "ui/waveform_strip.h"
#include "ui_main_window.h"

namespace auralist {

WindowWiring::WindowWiring(MainWindow &window, Controller &controller, TableController &table, Settings &settings,
                           Catalogue *catalogue)
    : m_window(window), m_controller(controller), m_table(table), m_settings(settings), m_catalogue(catalogue)
{
}

void WindowWiring::connect()
{
    connectPlayback();
    connectLibrary();
    connectTriage();
}

void WindowWiring::restoreLayout()
{
    if (const auto size = valueOf(m_settings, settings::kWindowSize)) {
        int width = 0;
        int height = 0;
        if (std::sscanf(size->c_str(), "%dx%d", &width, &height) == 2 && width > 0 && height > 0
            && m_controller.state().isBrowserOpen)
            m_window.resize(std::min(width, 10000), std::min(height, 10000));
    }
    if (const auto columns = valueOf(m_settings, settings::kTableColumns)) {
        const QByteArray state = QByteArray::fromBase64(QByteArray::fromStdString(*columns));
        QHeaderView *header = m_window.table()->horizontalHeader();
        // A state for another set of columns is ignored.
        if (!header->restoreState(state) || header->count() != m_table.columnCount())
            header->reset();
        m_window.table()->fitColumns();
    }
    if (const auto split = valueOf(m_settings, settings::kWaveformSplit))
        m_window.ui().splitter->restoreState(QByteArray::fromBase64(QByteArray::fromStdString(*split)));
    if (const auto split = valueOf(m_settings, settings::kLibrarySplit))
        m_window.ui().librarySplitter->restoreState(QByteArray::fromBase64(QByteArray::fromStdString(*split)));
    if (const auto sort = valueOf(m_settings, settings::kSortColumn))
        m_table.setSort(*sort, valueOf(m_settings, settings::kSortAscending));
}

void WindowWiring::saveLayout()
{
    if (m_controller.state().isBrowserOpen) {
        const QSize size = m_window.size();
        keep(m_settings, settings::kWindowSize, std::to_string(size.width()) + "x" + std::to_string(size.height()));
    }
    const QByteArray state = m_window.table()->horizontalHeader()->saveState().toBase64();
    keep(m_settings, settings::kTableColumns, state.toStdString());
    if (m_controller.state().isBrowserOpen) {
        keep(m_settings, settings::kWaveformSplit, m_window.ui().splitter->saveState().toBase64().toStdString());
        keep(m_settings, settings::kLibrarySplit, m_window.ui().librarySplitter->saveState().toBase64().toStdString());
    }
}

void WindowWiring::connectPlayback()
{
    Ui::MainWindow &ui = m_window.ui();
    Controller *c = &m_controller;
    auto on = [this](QAction *action, auto slot) { QObject::connect(action, &QAction::triggered, &m_window, slot); };
    auto onButton
        = [this](QToolButton *button, auto slot) { QObject::connect(button, &QToolButton::clicked, &m_window, slot); };
    onButton(ui.homeButton, [c] { c->home(); });
    onButton(ui.previousButton, [c] { c->previous(); });
    onButton(ui.playButton, [c] { c->play(); });
    onButton(ui.stopButton, [c] { c->stop(); });
    onButton(ui.nextButton, [c] { c->next(); });
    onButton(ui.endButton, [c] { c->end(); });
    onButton(ui.loopButton, [c] { c->toggleLooping(); });
    QObject::connect(ui.find, &QLineEdit::textChanged, &m_window, [c] { c->find(); });

    on(ui.actionPlay, [c] { c->play(); });
    on(ui.actionStop, [c] { c->stop(); });
    on(ui.actionNext, [c] { c->next(); });
    on(ui.actionPrevious, [c] { c->previous(); });
    on(ui.actionHome, [c] { c->home(); });
    on(ui.actionEnd, [c] { c->end(); });
    on(ui.actionToggleLooping, [c] { c->toggleLooping(); });
    on(ui.actionShowBrowser, [c] { c->showBrowser(); });
    on(ui.actionDelete, [c] { c->deleteSelected(); });
    on(ui.actionFind, [&ui] {
        ui.find->setFocus(Qt::ShortcutFocusReason);
        ui.find->selectAll();
    });
    on(ui.actionQuit, [this] { m_window.close(); });
    on(ui.actionOpen, [this, c] {
        // The dialog starts where the user last opened a folder.
        const auto last = valueOf(m_settings, settings::kOpenFolder);
        const QString start = last ? QFile::decodeName(QByteArray::fromStdString(*last)) : QDir::homePath();
        const QString folder = QFileDialog::getExistingDirectory(&m_window, QStringLiteral("Open Folder"), start);
        if (!folder.isEmpty()) {
            const QByteArray bytes = QFile::encodeName(folder);
            const std::string path(bytes.constData(), static_cast<size_t>(bytes.size()));
            keep(m_settings, settings::kOpenFolder, path);
            c->openFiles({path});
        }
    });
    ui.actionAutoAdvance->setChecked(c->options().autoAdvance());
    QObject::connect(ui.actionAutoAdvance, &QAction::toggled, &m_window,
                     [c](bool on) { c->options().setAutoAdvance(on); });
    ui.actionNormaliseWaveform->setChecked(valueOf(m_settings, settings::kNormaliseWaveform));
    ui.waveform->setNormalised(ui.actionNormaliseWaveform->isChecked());
    QObject::connect(ui.actionNormaliseWaveform, &QAction::toggled, &m_window, [this, strip = ui.waveform](bool on) {
        strip->setNormalised(on);
        keep(m_settings, settings::kNormaliseWaveform, on);
    });
    on(ui.actionKeyboardShortcuts, [this] {
        auto *keys = m_window.findChild<QDialog *>(QStringLiteral("keyboardShortcuts"));
        if (!keys) {
            keys = makeKeyboardShortcutsDialog(&m_window);
            keys->setObjectName(QStringLiteral("keyboardShortcuts"));
        }
        keys->show();
        keys->raise();
    });
    QObject::connect(&m_table, &TableController::sortChanged, &m_window, [this] {
        keep(m_settings, settings::kSortColumn, m_table.sortKey());
        keep(m_settings, settings::kSortAscending, m_table.sortAscending());
    });
    ui.actionPlayOnSelect->setChecked(c->options().playOnSelect());
    QObject::connect(ui.actionPlayOnSelect, &QAction::toggled, &m_window,
                     [c](bool on) { c->options().setPlayOnSelect(on); });
    QObject::connect(ui.waveform, &WaveformStrip::seekRequested, &m_window, [c](double s) { c->playFrom(s); });
    on(ui.actionSeekBack, [c] { c->seekBy(-1.0); });
    on(ui.actionSeekForward, [c] { c->seekBy(1.0); });
    ui.volumeSlider->setValue(c->options().volume());
    QObject::connect(ui.volumeSlider, &QSlider::valueChanged, &m_window, [c](int v) { c->options().setVolume(v); });
    ui.actionMatchLoudness->setChecked(c->analysis().matchLoudness());
    QObject::connect(ui.actionMatchLoudness, &QAction::toggled, &m_window,
                     [c](bool on) { c->analysis().setMatchLoudness(on); });
    ui.actionSkipUnplayable->setChecked(c->options().skipUnplayable());
    QObject::connect(ui.actionSkipUnplayable, &QAction::toggled, &m_window,
                     [c](bool on) { c->options().setSkipUnplayable(on); });
    ui.actionMoveToTrash->setChecked(c->options().moveToTrash());
    QObject::connect(ui.actionMoveToTrash, &QAction::toggled, &m_window,
                     [c](bool on) { c->options().setMoveToTrash(on); });
}

void WindowWiring::connectTriage()
{
    Ui::MainWindow &ui = m_window.ui();
    Controller *c = &m_controller;
    MainWindow *w = &m_window;
    const auto showDestinations = [c, w] {
        std::vector<QString> names;
        for (const std::string &f : c->triage().destinations())
            names.push_back(displayText(lastPathComponent(f)));
        w->setDestinationNames(names);
    };
    showDestinations();
    QObject::connect(w, &MainWindow::copyToDestination, w,
                     [c](int n) { c->triage().copyToDestination(static_cast<std::size_t>(n)); });
    QObject::connect(w, &MainWindow::moveToDestination, w,
                     [c](int n) { c->triage().moveToDestination(static_cast<std::size_t>(n)); });
    QObject::connect(ui.actionDestinations, &QAction::triggered, w, [c, showDestinations] {
        c->triage().editDestinations();
        showDestinations();
    });
    QObject::connect(ui.actionUndo, &QAction::triggered, w, [c] { c->triage().undo(); });
    QObject::connect(ui.actionRedo, &QAction::triggered, w, [c] { c->triage().redo(); });
    QObject::connect(ui.stopFiles, &QToolButton::clicked, w, [c] { c->triage().jobs().cancel(); });
    QObject::connect(ui.actionShowInFolder, &QAction::triggered, w, [c] { c->triage().showInFolder(); });
    QObject::connect(ui.actionCopyPath, &QAction::triggered, w, [c] { c->triage().copyPaths(); });
    QObject::connect(ui.actionExportList, &QAction::triggered, w, [c] { c->triage().exportList(); });
    QObject::connect(ui.waveform, &WaveformStrip::regionChosen, w,
                     [c](double start, double end) { c->triage().setRegion(start, end); });
    QObject::connect(ui.waveform, &WaveformStrip::regionCleared, w, [c] { c->triage().clearRegion(); });
    QObject::connect(ui.waveform, &WaveformStrip::regionDraggedOut, w, [c] { c->triage().regionDraggedOut(); });
    QObject::connect(ui.actionExportRegion, &QAction::triggered, w, [c] { c->triage().exportRegionToDestination(); });
    // F2: the name of the selected row, edited where it is shown.
    TableController *tc = &m_table;
    tc->setRenamer([c](const SoundRecord &record, const std::string &name) { c->triage().renameRecord(record, name); });
    DragTable *table = w->table();
    auto *editor = new NameEditor(table);
    QObject::connect(ui.actionRename, &QAction::triggered, w, [tc, table, editor] {
        const int row = tc->selectedItemIndex();
        const int nameColumn = tc->columnOf("name");
        if (row < 0 || nameColumn < 0)
            return;
        table->setItemDelegateForColumn(nameColumn, editor);
        const QModelIndex index = tc->index(row, nameColumn);
        table->setCurrentIndex(index);
        table->edit(index);
    });
}

void WindowWiring::connectLibrary()
{
    Ui::MainWindow &ui = m_window.ui();
    Controller *c = &m_controller;
    const bool available = c->library().available();
    ui.actionShowLibrary->setChecked(available && valueOf(m_settings, settings::kShowLibrary));
    ui.actionShowLibrary->setEnabled(available);
    ui.library->setVisible(ui.actionShowLibrary->isChecked());
    QObject::connect(ui.actionShowLibrary, &QAction::toggled, &m_window, [this, list = ui.library](bool on) {
        list->setVisible(on);
        keep(m_settings, settings::kShowLibrary, on);
    });
    for (QAction *action : {ui.actionExportMarks, ui.actionImportMarks, ui.actionSaveSearch})
        action->setEnabled(available);
    QObject::connect(ui.actionFavourite, &QAction::triggered, &m_window, [c] { c->library().toggleFavourite(); });
    QObject::connect(ui.actionFindSimilar, &QAction::triggered, &m_window, [c] { c->analysis().findSimilar(); });
    QObject::connect(ui.actionSaveSearch, &QAction::triggered, &m_window, [c] { c->library().saveSearch(); });
    ui.find->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(ui.find, &QWidget::customContextMenuRequested, &m_window, [c, find = ui.find](const QPoint &at) {
        std::unique_ptr<QMenu> menu(find->createStandardContextMenu());
        menu->addSeparator();
        QAction *all = menu->addAction(QStringLiteral("Search Descriptions and Tags"));
        all->setCheckable(true);
        all->setChecked(c->options().searchAllText());
        if (menu->exec(find->mapToGlobal(at)) == all)
            c->options().setSearchAllText(all->isChecked());
    });
    QObject::connect(&m_window, &MainWindow::savedSearchChosen, &m_window,
                     [c](qint64 id) { c->library().showSavedSearch(id); });
    ui.actionSimilarEverywhere->setChecked(c->analysis().similarEverywhere());
    QObject::connect(ui.actionSimilarEverywhere, &QAction::toggled, &m_window,
                     [c](bool on) { c->analysis().setSimilarEverywhere(on); });
    QObject::connect(ui.actionFindDuplicates, &QAction::triggered, &m_window, [c] { c->analysis().findDuplicates(); });
    QObject::connect(ui.actionDeleteDuplicates, &QAction::triggered, &m_window,
                     [c] { c->analysis().deleteDuplicates(); });
    QObject::connect(ui.actionEditTags, &QAction::triggered, &m_window, [c] { c->library().editTags(); });
    QObject::connect(&m_window, &MainWindow::libraryEntryChosen, &m_window, [c](int kind, const QByteArray &folder) {
        c->library().showList(static_cast<Catalogue::ListKind>(kind), folder.toStdString());
    });
    QObject::connect(
        ui.library, &QWidget::customContextMenuRequested, &m_window, [c, list = ui.library](const QPoint &at) {
            const QListWidgetItem *item = list->itemAt(at);
            if (item && item->data(MainWindow::kKindRole).toInt() == MainWindow::kSearchKind) {
                const qint64 id = item->data(MainWindow::kSearchRole).toLongLong();
                QMenu menu(list);
                QAction *rename = menu.addAction(QStringLiteral("Rename\u2026"));
                QAction *remove = menu.addAction(QStringLiteral("Remove"));
                const QAction *chosen = menu.exec(list->viewport()->mapToGlobal(at));
                if (chosen == rename)
                    c->library().renameSavedSearch(id);
                else if (chosen == remove)
                    c->library().removeSavedSearch(id);
                return;
            }
            if (!item || item->data(MainWindow::kKindRole).toInt() != static_cast<int>(Catalogue::ListKind::Folder))
                return;
            const std::string folder = item->data(MainWindow::kFolderRole).toByteArray().toStdString();
            QMenu menu(list);
            QAction *rescan = menu.addAction(QStringLiteral("Rescan"));
            QAction *forget = menu.addAction(QStringLiteral("Forget\u2026"));
            const QAction *chosen = menu.exec(list->viewport()->mapToGlobal(at));
            if (chosen == rescan)
                c->library().rescanFolder(folder);
            else if (chosen == forget)
                c->library().forgetFolder(folder);
        });
    Catalogue *catalogue = m_catalogue;
    if (!catalogue)
        return;
    MainWindow *window = &m_window;
    const auto report = [window](bool ok, const std::string &message) {
        (void)ok;
        window->setLabelText(QString::fromStdString(message));
    };
    QObject::connect(ui.actionExportMarks, &QAction::triggered, window, [window, catalogue, report] {
        const QString file = QFileDialog::getSaveFileName(window, QStringLiteral("Export Favourites and Tags"),
                                                          QDir::homePath() + QStringLiteral("/Auralist marks.json"),
                                                          QStringLiteral("JSON (*.json)"));
        if (!file.isEmpty())
            catalogue->exportMarks(QFile::encodeName(file).toStdString(), report);
    });
    QObject::connect(ui.actionImportMarks, &QAction::triggered, window, [window, catalogue, report] {
        const QString file = QFileDialog::getOpenFileName(window, QStringLiteral("Import Favourites and Tags"),
                                                          QDir::homePath(), QStringLiteral("JSON (*.json)"));
        if (!file.isEmpty())
            catalogue->importMarks(QFile::encodeName(file).toStdString(), report);
    });
}

} // namespace auralist
