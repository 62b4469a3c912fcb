#pragma once

#include <QString>

#include <vector>

class QDialog;
class QWidget;

namespace auralist {

// A key of the window, in the one list that gives the menu items their
// shortcuts and makes the Keyboard Shortcuts table: the keys as a
// QKeySequence writes them (portable text, several apart by ", "), the
// window's actions they trigger, one for each key in that order (none: the
// list, the find field or the waveform answers them itself), and what the
// help says they do.
struct KeyHelp {
    QString keys;
    QString action;
    std::vector<const char *> actions = {};
};

// Every key the window answers to, in the order the help shows them.
const std::vector<KeyHelp> &keyboardShortcuts();

// Gives each action of window named in the list its key.
void giveActionsTheirKeys(QWidget &window);

// The help window listing them; owned by parent.
QDialog *makeKeyboardShortcutsDialog(QWidget *parent);

} // namespace auralist
