#include "platform/message_box_alerts.h"

#include <QMessageBox>
#include <QPushButton>

namespace auralist {

int MessageBoxAlerts::runAlert(const std::string &title, const std::string &message, const std::string &defaultButton,
                               const std::string &alternateButton)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(QString::fromStdString(title));
    // Texts may come from the network: never let Qt guess rich text.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(message));
    box.setIcon(QMessageBox::Information);
    QPushButton *def = box.addButton(QString::fromStdString(defaultButton), QMessageBox::AcceptRole);
    QPushButton *alt = nullptr;
    if (!alternateButton.empty())
        alt = box.addButton(QString::fromStdString(alternateButton), QMessageBox::RejectRole);
    box.setDefaultButton(def);
    box.setEscapeButton(alt ? static_cast<QAbstractButton *>(alt) : def);
    box.exec();
    return box.clickedButton() == def ? 1 : 0;
}

} // namespace auralist
