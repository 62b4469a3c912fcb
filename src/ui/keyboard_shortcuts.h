#pragma once

#include <QString>

#include <vector>

class QDialog;
class QWidget;

namespace auralist {

struct KeyHelp {
    QString keys; // as a QKeySequence writes them, in portable text
    QString action;
};

// Every key the window answers to, in the order the help shows them.
const std::vector<KeyHelp> &keyboardShortcuts();

// The help window listing them; owned by parent.
QDialog *makeKeyboardShortcutsDialog(QWidget *parent);

} // namespace auralist
