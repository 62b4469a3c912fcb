#include "ui/keyboard_shortcuts.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QTableWidget>
#include <QVBoxLayout>

namespace auralist {

const std::vector<KeyHelp> &keyboardShortcuts()
{
    static const std::vector<KeyHelp> keys{
        {QStringLiteral("Space"), QStringLiteral("Play the current sound, or stop")},
        {QStringLiteral("Return"), QStringLiteral("Play the selected sound")},
        {QStringLiteral("Up, Down"), QStringLiteral("Select the sound above or below")},
        {QStringLiteral("Shift+Up, Shift+Down"), QStringLiteral("Select several sounds")},
        {QStringLiteral("Home, End"), QStringLiteral("Select the first or the last sound")},
        {QStringLiteral("Ctrl+Home, Ctrl+End"),
         QStringLiteral("Play the first or the last sound"),
         {"actionHome", "actionEnd"}},
        {QStringLiteral("Ctrl+Left, Ctrl+Right"),
         QStringLiteral("Play the previous or the next sound"),
         {"actionPrevious", "actionNext"}},
        {QStringLiteral("Alt+Left, Alt+Right"),
         QStringLiteral("Back or forward one second"),
         {"actionSeekBack", "actionSeekForward"}},
        {QStringLiteral("Ctrl+L"), QStringLiteral("Loop the current sound, or stop looping"), {"actionToggleLooping"}},
        {QStringLiteral("Del"), QStringLiteral("Delete the selected sounds (after asking)"), {"actionDelete"}},
        {QStringLiteral("Ctrl+A"), QStringLiteral("Select every sound")},
        {QStringLiteral("Ctrl+F"),
         QStringLiteral("Find (words, -word, \"a phrase\", len:<3s, bpm:120 ...)"),
         {"actionFind"}},
        {QStringLiteral("Ctrl+S"), QStringLiteral("Save the search under a name in the library"), {"actionSaveSearch"}},
        {QStringLiteral("Escape"), QStringLiteral("In the find field: show every sound again")},
        {QStringLiteral("Down, Return"), QStringLiteral("In the find field: go to the list")},
        {QStringLiteral("Ctrl+D"),
         QStringLiteral("Mark the selected sounds as favourites, or unmark them"),
         {"actionFavourite"}},
        {QStringLiteral("Ctrl+T"), QStringLiteral("Edit the tags of the selected sounds"), {"actionEditTags"}},
        {QStringLiteral("Ctrl+Shift+F"),
         QStringLiteral("List the sounds most like the selected one"),
         {"actionFindSimilar"}},
        {QStringLiteral("Ctrl+Shift+D"),
         QStringLiteral("List the sounds whose audio is the same"),
         {"actionFindDuplicates"}},
        {QStringLiteral("Escape"), QStringLiteral("In the list: leave similar sounds or duplicates")},
        {QStringLiteral("Ctrl+1, Ctrl+2, Ctrl+3, Ctrl+4, Ctrl+5, Ctrl+6, Ctrl+7, Ctrl+8, Ctrl+9"),
         QStringLiteral("Copy the selected sounds to destination 1 to 9")},
        {QStringLiteral("Ctrl+Shift+1, Ctrl+Shift+2, Ctrl+Shift+3, Ctrl+Shift+4, Ctrl+Shift+5, Ctrl+Shift+6, "
                        "Ctrl+Shift+7, Ctrl+Shift+8, Ctrl+Shift+9"),
         QStringLiteral("Move the selected sounds to destination 1 to 9")},
        {QStringLiteral("F2"), QStringLiteral("Rename the selected sound's file"), {"actionRename"}},
        {QStringLiteral("Ctrl+Z, Ctrl+Shift+Z"),
         QStringLiteral("Undo or redo a copy, move, rename, deletion to the Trash, favourite or tags"),
         {"actionUndo", "actionRedo"}},
        {QStringLiteral("Ctrl+Alt+R"),
         QStringLiteral("Show the selected sounds in the file manager"),
         {"actionShowInFolder"}},
        {QStringLiteral("Ctrl+Shift+C"), QStringLiteral("Copy the selected sounds' paths"), {"actionCopyPath"}},
        {QStringLiteral("Shift+drag"), QStringLiteral("On the waveform: select a region, which plays and loops alone")},
        {QStringLiteral("Ctrl+E"),
         QStringLiteral("Write the region as a new file in the first destination"),
         {"actionExportRegion"}},
        {QStringLiteral("Escape"), QStringLiteral("On the waveform: clear the region")},
        {QStringLiteral("Ctrl+B"), QStringLiteral("Show or hide the list"), {"actionShowBrowser"}},
        {QStringLiteral("Ctrl+Shift+L"), QStringLiteral("Show or hide the library"), {"actionShowLibrary"}},
        {QStringLiteral("Ctrl+O"), QStringLiteral("Open a folder"), {"actionOpen"}},
        {QStringLiteral("Ctrl+Q"), QStringLiteral("Quit"), {"actionQuit"}},
    };
    return keys;
}

void giveActionsTheirKeys(QWidget &window)
{
    for (const KeyHelp &k : keyboardShortcuts()) {
        const QStringList keys = k.keys.split(QStringLiteral(", "));
        for (std::size_t i = 0; i < k.actions.size() && i < static_cast<std::size_t>(keys.size()); ++i) {
            if (auto *action = window.findChild<QAction *>(QString::fromLatin1(k.actions[i])))
                action->setShortcut(QKeySequence(keys[static_cast<qsizetype>(i)], QKeySequence::PortableText));
        }
    }
}

QDialog *makeKeyboardShortcutsDialog(QWidget *parent)
{
    auto *dialog = new QDialog(parent);
    dialog->setWindowTitle(QStringLiteral("Keyboard Shortcuts"));
    auto *layout = new QVBoxLayout(dialog);
    const std::vector<KeyHelp> &keys = keyboardShortcuts();
    auto *table = new QTableWidget(static_cast<int>(keys.size()), 2, dialog);
    table->setAccessibleName(QStringLiteral("Keyboard shortcuts"));
    table->setHorizontalHeaderLabels({QStringLiteral("Keys"), QStringLiteral("What they do")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setShowGrid(false);
    for (int row = 0; row < static_cast<int>(keys.size()); ++row) {
        const KeyHelp &k = keys[static_cast<size_t>(row)];
        table->setItem(row, 0, new QTableWidgetItem(k.keys));
        table->setItem(row, 1, new QTableWidgetItem(k.action));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->resize(560, 520);
    return dialog;
}

} // namespace auralist
