#include "ui/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include "core/query.h"
#include "core/string_utils.h"
#include "core/table_controller.h"
#include "ui/delete_panel.h"
#include "ui/drag_table.h"
#include "ui/keyboard_shortcuts.h"
#include "ui/waveform_strip.h"
#include "ui_main_window.h"

namespace auralist {

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::MainWindow>()), m_deletePanel(nullptr)
{
    m_ui->setupUi(this);
    m_deletePanel = new DeletePanel(this);
    m_deletePanel->setWindowModality(Qt::WindowModal);
    const struct {
        QToolButton *button;
        QStyle::StandardPixmap pixmap;
    } icons[] = {
        {m_ui->homeButton, QStyle::SP_MediaSkipBackward}, {m_ui->previousButton, QStyle::SP_MediaSeekBackward},
        {m_ui->playButton, QStyle::SP_MediaPlay},         {m_ui->stopButton, QStyle::SP_MediaStop},
        {m_ui->nextButton, QStyle::SP_MediaSeekForward},  {m_ui->endButton, QStyle::SP_MediaSkipForward},
        {m_ui->loopButton, QStyle::SP_BrowserReload},
    };
    for (const auto &i : icons)
        i.button->setIcon(style()->standardIcon(i.pixmap));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("auralist")));
    m_ui->find->installEventFilter(this);
    m_ui->find->setToolTip(QString::fromUtf8(queryHelp()));
    // Said in one breath, not the tooltip's five lines.
    m_ui->find->setAccessibleDescription(QStringLiteral(
        "Words in the name, -word to leave out, \"a phrase\", and fields such as tag:, len:<3s or bpm:120"));
    // The hint lies over what is under the find field, so the window does
    // not move when it comes and goes.
    m_findHint = new QLabel(centralWidget());
    m_findHint->setObjectName(QStringLiteral("findHint"));
    m_findHint->setAccessibleName(QStringLiteral("Find hint"));
    m_findHint->setTextFormat(Qt::PlainText);
    m_findHint->setAutoFillBackground(true);
    m_findHint->setPalette(QToolTip::palette());
    m_findHint->setMargin(3);
    m_findHint->setFrameShape(QFrame::StyledPanel);
    m_findHint->hide();
    // The field's clear button is a control of its own to a screen reader.
    for (QAction *action : m_ui->find->actions()) {
        action->setText(QStringLiteral("Clear Find"));
        action->setToolTip(QStringLiteral("Clear Find"));
    }
    for (QToolButton *button : m_ui->find->findChildren<QToolButton *>())
        button->setAccessibleName(QStringLiteral("Clear Find"));
    // What these show comes from file names, paths and tags: text, never
    // markup.
    for (QLabel *label : {m_ui->trackName, m_ui->label, m_ui->timeLabel, m_ui->loopLabel, m_ui->analysisStatus,
                          m_ui->fileStatus, m_deletePanel->deletePanelMessage(), m_deletePanel->deletePanelDetail()})
        label->setTextFormat(Qt::PlainText);
    m_labelText = m_ui->label->text();
    m_ui->label->installEventFilter(this);
    // From the find field, Tab goes on to the list, as Down and Return do.
    QWidget::setTabOrder(m_ui->find, m_ui->table);
    // The waveform grows with the window, a quarter of what the list gets.
    m_ui->splitter->setStretchFactor(0, 1);
    m_ui->splitter->setStretchFactor(1, 3);
    // The menu items' keys come from the one list the help shows.
    giveActionsTheirKeys(*this);
    // Del is the table's own key (it asks about the selected sounds); the
    // menu shows it without taking it from the table.
    m_ui->actionDelete->setShortcutContext(Qt::WidgetShortcut);
    m_ui->trackName->setAccessibleDescription(m_ui->trackName->text());
    // The library pane is narrow beside the list, and stays so.
    m_ui->librarySplitter->setStretchFactor(0, 0);
    m_ui->librarySplitter->setStretchFactor(1, 1);
    m_ui->librarySplitter->setSizes({180, 600});
    connect(m_ui->library, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem *> chosen = m_ui->library->selectedItems();
        if (chosen.isEmpty())
            return;
        const QListWidgetItem *item = chosen.front();
        if (item->data(kKindRole).toInt() == kSearchKind)
            emit savedSearchChosen(item->data(kSearchRole).toLongLong());
        else
            emit libraryEntryChosen(item->data(kKindRole).toInt(), item->data(kFolderRole).toByteArray());
    });
    setLibraryFolders({});
}

namespace {

QString countText(std::uint64_t count)
{
    return QString::fromStdString(groupedDigits(count));
}

} // namespace

void MainWindow::setLibraryFolders(const std::vector<CataloguedFolder> &folders)
{
    m_folders = folders;
    fillLibrary();
}

void MainWindow::setLibrarySearches(const std::vector<SavedSearch> &searches)
{
    m_searches = searches;
    fillLibrary();
}

void MainWindow::setFindText(const QString &text)
{
    m_ui->find->setText(text);
}

std::optional<QString> MainWindow::askForSearchName(const QString &suggested, bool rename)
{
    if (m_searchNameAnswer) {
        std::optional<QString> answer = std::move(m_searchNameAnswer);
        m_searchNameAnswer.reset();
        return answer;
    }
    bool ok = false;
    const QString name
        = QInputDialog::getText(this, rename ? QStringLiteral("Rename Search") : QStringLiteral("Save Search"),
                                QStringLiteral("Name of the search:"), QLineEdit::Normal, suggested, &ok);
    if (!ok)
        return std::nullopt;
    return name;
}

void MainWindow::fillLibrary()
{
    const std::vector<CataloguedFolder> &folders = m_folders;
    const QString selectedKey = m_ui->library->currentItem() && m_ui->library->currentItem()->isSelected()
        ? m_ui->library->currentItem()->data(kKindRole).toString() + QLatin1Char('/')
            + m_ui->library->currentItem()->data(kFolderRole).toString() + QLatin1Char('/')
            + m_ui->library->currentItem()->data(kSearchRole).toString()
        : QString();
    const QSignalBlocker quiet(m_ui->library);
    m_ui->library->clear();
    const auto add = [this](const QString &text, Catalogue::ListKind kind, const QByteArray &folder) {
        auto *item = new QListWidgetItem(text, m_ui->library);
        item->setData(kKindRole, static_cast<int>(kind));
        item->setData(kFolderRole, folder);
        return item;
    };
    std::uint64_t all = 0;
    for (const CataloguedFolder &f : folders)
        all += f.sounds;
    add(QStringLiteral("All Sounds (%1)").arg(countText(all)), Catalogue::ListKind::AllSounds, {})
        ->setToolTip(QStringLiteral("Every sound of every folder; the find field searches them all"));
    for (const CataloguedFolder &f : folders) {
        const QByteArray bytes(f.path.data(), static_cast<qsizetype>(f.path.size()));
        QString name = QFile::decodeName(bytes.mid(bytes.lastIndexOf('/') + 1));
        if (name.isEmpty())
            name = QFile::decodeName(bytes);
        QString text = QStringLiteral("%1 (%2)").arg(name, countText(f.sounds));
        if (f.offline)
            text += QStringLiteral(" \u2014 offline");
        QListWidgetItem *item = add(text, Catalogue::ListKind::Folder, bytes);
        item->setToolTip(
            plainTip(QFile::decodeName(bytes) + (f.offline ? QStringLiteral(" (not connected)") : QString())));
        if (f.offline)
            item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
    }
    add(QStringLiteral("Favourites"), Catalogue::ListKind::Favourites, {});
    add(QStringLiteral("Recently Played"), Catalogue::ListKind::RecentlyPlayed, {});
    for (const SavedSearch &search : m_searches) {
        auto *item = new QListWidgetItem(QString::fromStdString(search.name), m_ui->library);
        QFont italic = item->font();
        italic.setItalic(true);
        item->setFont(italic);
        item->setData(kKindRole, kSearchKind);
        item->setData(kSearchRole, static_cast<qlonglong>(search.id));
        item->setToolTip(plainTip(QString::fromStdString(search.query)));
        item->setData(Qt::AccessibleTextRole, QStringLiteral("Saved search ") + QString::fromStdString(search.name));
    }
    // The entry chosen stays chosen.
    for (int i = 0; i < m_ui->library->count() && !selectedKey.isEmpty(); ++i) {
        QListWidgetItem *item = m_ui->library->item(i);
        const QString key = item->data(kKindRole).toString() + QLatin1Char('/') + item->data(kFolderRole).toString()
            + QLatin1Char('/') + item->data(kSearchRole).toString();
        if (key == selectedKey) {
            item->setSelected(true);
            m_ui->library->setCurrentItem(item, QItemSelectionModel::NoUpdate);
        }
    }
}

void MainWindow::setLibrarySelection(std::optional<Catalogue::ListKind> kind, const std::string &folder)
{
    const QSignalBlocker quiet(m_ui->library);
    const QByteArray bytes(folder.data(), static_cast<qsizetype>(folder.size()));
    m_ui->library->clearSelection();
    if (!kind)
        return;
    for (int i = 0; i < m_ui->library->count(); ++i) {
        QListWidgetItem *item = m_ui->library->item(i);
        if (item->data(kKindRole).toInt() == static_cast<int>(*kind)
            && (*kind != Catalogue::ListKind::Folder || item->data(kFolderRole).toByteArray() == bytes)) {
            item->setSelected(true);
            m_ui->library->setCurrentItem(item, QItemSelectionModel::NoUpdate);
            return;
        }
    }
}

std::optional<QString> MainWindow::askForTags(const QString &current, int count)
{
    bool ok = false;
    const QString label = count == 1
        ? QStringLiteral("Tags of the selected sound, separated by commas:")
        : QStringLiteral("Tags of the %1 selected sounds, separated by commas:").arg(count);
    ++m_tagsAsked;
    if (m_tagsAnswer) {
        std::optional<QString> answer = std::move(m_tagsAnswer);
        m_tagsAnswer.reset();
        return answer;
    }
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("editTags"));
    dialog.setWindowTitle(QStringLiteral("Edit Tags"));
    dialog.setLabelText(label);
    dialog.setTextValue(current);
    ok = dialog.exec() == QDialog::Accepted;
    if (!ok)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<std::vector<std::string>> MainWindow::askForDestinations(const std::vector<std::string> &current)
{
    if (m_destinationsAnswer) {
        std::optional<std::vector<std::string>> answer = std::move(m_destinationsAnswer);
        m_destinationsAnswer.reset();
        return answer;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("destinations"));
    dialog.setWindowTitle(QStringLiteral("Destinations"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *explain = new QLabel(QStringLiteral("Ctrl+1 to Ctrl+9 copy the selected sounds to these folders, "
                                              "Ctrl+Shift+1 to Ctrl+Shift+9 move them there."),
                               &dialog);
    explain->setWordWrap(true);
    layout->addWidget(explain);
    auto *list = new QListWidget(&dialog);
    list->setAccessibleName(QStringLiteral("Destination folders"));
    const auto addFolder = [list](const std::string &folder) {
        auto *item = new QListWidgetItem(QFile::decodeName(QByteArray::fromStdString(folder)), list);
        item->setData(Qt::UserRole, QByteArray::fromStdString(folder));
    };
    for (const std::string &f : current)
        addFolder(f);
    layout->addWidget(list);
    auto *buttons = new QHBoxLayout;
    auto *add = new QPushButton(QStringLiteral("Add\u2026"), &dialog);
    auto *remove = new QPushButton(QStringLiteral("Remove"), &dialog);
    auto *up = new QPushButton(QStringLiteral("Move Up"), &dialog);
    auto *down = new QPushButton(QStringLiteral("Move Down"), &dialog);
    for (QPushButton *b : {add, remove, up, down})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(box);
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    const auto update = [=] {
        add->setEnabled(list->count() < 9);
        remove->setEnabled(list->currentRow() >= 0);
        up->setEnabled(list->currentRow() > 0);
        down->setEnabled(list->currentRow() >= 0 && list->currentRow() < list->count() - 1);
    };
    connect(list, &QListWidget::currentRowChanged, &dialog, update);
    connect(add, &QPushButton::clicked, &dialog, [&dialog, addFolder, update] {
        const QString folder = QFileDialog::getExistingDirectory(&dialog, QStringLiteral("Add a Destination"));
        if (!folder.isEmpty())
            addFolder(QFile::encodeName(folder).toStdString());
        update();
    });
    connect(remove, &QPushButton::clicked, &dialog, [list, update] {
        delete list->takeItem(list->currentRow());
        update();
    });
    const auto shift = [list, update](int by) {
        const int row = list->currentRow();
        if (row < 0 || row + by < 0 || row + by >= list->count())
            return;
        QListWidgetItem *item = list->takeItem(row);
        list->insertItem(row + by, item);
        list->setCurrentRow(row + by);
        update();
    };
    connect(up, &QPushButton::clicked, &dialog, [shift] { shift(-1); });
    connect(down, &QPushButton::clicked, &dialog, [shift] { shift(1); });
    update();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    std::vector<std::string> folders;
    folders.reserve(static_cast<std::size_t>(list->count()));
    for (int i = 0; i < list->count(); ++i)
        folders.push_back(list->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    return folders;
}

std::optional<std::string> MainWindow::askForListFile()
{
    if (m_listFileAnswer) {
        std::optional<std::string> answer = std::move(m_listFileAnswer);
        m_listFileAnswer.reset();
        return answer;
    }
    QString filter;
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export List"), QDir::homePath() + QStringLiteral("/Sounds.m3u"),
        QStringLiteral("M3U playlist (*.m3u);;CSV table (*.csv)"), &filter);
    if (file.isEmpty())
        return std::nullopt;
    QString chosen = file;
    if (!chosen.contains(QLatin1Char('.')))
        chosen += filter.startsWith(QStringLiteral("CSV")) ? QStringLiteral(".csv") : QStringLiteral(".m3u");
    return QFile::encodeName(chosen).toStdString();
}

void MainWindow::showFileProgress(const QString &text)
{
    m_ui->fileStatus->setText(text);
    m_ui->fileStatus->show();
    m_ui->stopFiles->show();
}

void MainWindow::hideFileProgress()
{
    m_ui->fileStatus->hide();
    m_ui->stopFiles->hide();
}

void MainWindow::showRegion(double start, double end)
{
    m_ui->waveform->setRegion(start, end);
}

void MainWindow::setRegionFile(const std::string &path)
{
    m_ui->waveform->setRegionFile(path);
}

void MainWindow::setUndoTitles(const QString &undo, const QString &redo)
{
    m_ui->actionUndo->setText(undo.isEmpty() ? QStringLiteral("&Undo") : undo);
    m_ui->actionUndo->setEnabled(!undo.isEmpty());
    m_ui->actionRedo->setText(redo.isEmpty() ? QStringLiteral("&Redo") : redo);
    m_ui->actionRedo->setEnabled(!redo.isEmpty());
}

void MainWindow::setDestinationNames(const std::vector<QString> &names)
{
    for (QMenu *menu : {m_ui->menuCopyTo, m_ui->menuMoveTo}) {
        const bool move = menu == m_ui->menuMoveTo;
        if (menu->actions().isEmpty()) {
            for (int n = 0; n < 9; ++n) {
                QAction *action = menu->addAction(QString());
                // Shortcuts that work while the menu is closed.
                addAction(action);
                action->setShortcut(QKeySequence((move ? Qt::CTRL | Qt::SHIFT : Qt::CTRL) | (Qt::Key_1 + n)));
                connect(action, &QAction::triggered, this, [this, n, move] {
                    if (move)
                        emit moveToDestination(n);
                    else
                        emit copyToDestination(n);
                });
            }
        }
        const QList<QAction *> actions = menu->actions();
        for (int n = 0; n < 9; ++n) {
            const bool set = n < static_cast<int>(names.size());
            actions[n]->setText(set ? QStringLiteral("&%1 %2").arg(n + 1).arg(names[static_cast<size_t>(n)])
                                    : QStringLiteral("&%1 (no destination)").arg(n + 1));
        }
    }
}

MainWindow::~MainWindow() = default;

DragTable *MainWindow::table() const
{
    return m_ui->table;
}

Rect MainWindow::windowFrame() const
{
    // The position is the frame's, title bar included, so that keeping it
    // on the screen keeps the title bar there; the size is the content's.
    const QPoint p = pos();
    return {double(p.x()), double(p.y()), double(width()), double(height())};
}

void MainWindow::setWindowFrame(const Rect &frame)
{
    resize(int(frame.width), int(frame.height));
    move(int(frame.x), int(frame.y));
}

Rect MainWindow::availableScreen() const
{
    const QScreen *s = screen();
    if (!s)
        return {};
    const QRect a = s->availableGeometry();
    return {double(a.x()), double(a.y()), double(a.width()), double(a.height())};
}

Rect MainWindow::scrollViewFrame() const
{
    const QRect g = m_ui->table->geometry();
    return {double(g.x()), double(g.y()), double(g.width()), double(g.height())};
}

void MainWindow::setScrollViewFrameSize(double width, double height)
{
    m_ui->table->resize(int(width), int(height));
}

void MainWindow::display()
{
    update();
}

void MainWindow::setStatusText(const QString &text)
{
    m_ui->analysisStatus->setText(text);
    // Squeezed where room is short: the whole of it in its tooltip.
    m_ui->analysisStatus->setToolTip(plainTip(text));
    m_ui->analysisStatus->setVisible(!text.isEmpty());
}

void MainWindow::setFindHint(const QString &text)
{
    m_findHint->setText(text);
    m_findHint->setVisible(!text.isEmpty());
    placeFindHint();
}

void MainWindow::placeFindHint()
{
    if (!m_findHint->isVisible())
        return;
    m_findHint->adjustSize();
    const QWidget *parent = m_findHint->parentWidget();
    const QRect field(m_ui->find->mapTo(parent, QPoint(0, 0)), m_ui->find->size());
    const int width = std::min(m_findHint->width(), parent->width() - 8);
    m_findHint->resize(width, m_findHint->height());
    m_findHint->move(std::max(4, field.right() - width + 1), field.bottom() + 2);
    m_findHint->raise();
}

void MainWindow::setLabelText(const QString &text)
{
    m_labelText = text;
    m_ui->label->setToolTip(plainTip(text));
    fitLabel();
}

// The line beside the controls is cut short to its room, never over them:
// the whole of it is in its tooltip.
void MainWindow::fitLabel()
{
    const int room = std::max(0, m_ui->label->contentsRect().width());
    m_ui->label->setText(m_ui->label->fontMetrics().elidedText(m_labelText, Qt::ElideRight, room));
}

void MainWindow::displayLabel()
{
    m_ui->label->repaint();
}

// The labels' names say what they are; a screen reader reads what they
// show from their descriptions.
void MainWindow::setTrackName(const QString &text)
{
    m_ui->trackName->setText(text);
    m_ui->trackName->setAccessibleDescription(text);
}

void MainWindow::setTimeText(const QString &text)
{
    m_ui->timeLabel->setText(text);
    m_ui->timeLabel->setAccessibleDescription(text);
}

void MainWindow::showWaveform(const std::string &path)
{
    m_ui->waveform->showTrack(path);
}

void MainWindow::setPlayhead(double seconds, double length, bool playing)
{
    m_ui->waveform->setPlayhead(seconds, length, playing);
}

void MainWindow::setLoopLabel(const QString &text)
{
    m_ui->loopLabel->setText(text);
    // The button and the menu item say whether looping is on.
    const bool looping = text == QStringLiteral("Loop:");
    m_ui->loopButton->setChecked(looping);
    m_ui->actionToggleLooping->setChecked(looping);
}

QString MainWindow::findText() const
{
    return m_ui->find->text();
}

void MainWindow::setBrowserVisible(bool visible)
{
    // The short window shows the controls only, not a sliver of the list.
    m_ui->librarySplitter->setVisible(visible);
    // The window's smallest size follows at once, before it is resized.
    centralWidget()->layout()->activate();
    layout()->activate();
}

void MainWindow::setTableCanDrop(bool canDrop)
{
    m_ui->table->canDrop(canDrop);
}

void MainWindow::makeTableFirstResponder()
{
    activateWindow();
    m_ui->table->setFocus(Qt::OtherFocusReason);
}

void MainWindow::showDeletePanel(const QString &message, const QString &detail)
{
    m_deletePanel->deletePanelMessage()->setText(message);
    m_deletePanel->deletePanelDetail()->setText(detail);
    m_deletePanel->deleteButton()->setDefault(true);
    m_deletePanel->open();
}

void MainWindow::hideDeletePanel()
{
    m_deletePanel->hidePanel();
}

void MainWindow::terminate()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

QString MainWindow::text() const
{
    return m_ui->versionTextField->text();
}

void MainWindow::setText(const QString &text)
{
    m_ui->versionTextField->setText(text);
}

// In the find field, Escape empties it (the whole list shows again) and
// Down or Return go on to the list.
bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->label && event->type() == QEvent::Resize)
        fitLabel();
    if (watched == m_ui->find && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Escape: m_ui->find->clear(); return true;
        case Qt::Key_Down:
        case Qt::Key_Return:
        case Qt::Key_Enter: m_ui->table->setFocus(Qt::TabFocusReason); return true;
        default: break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    placeFindHint();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_willClose)
        m_willClose();
}

} // namespace auralist
