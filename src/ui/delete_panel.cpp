#include "ui/delete_panel.h"

#include <QKeyEvent>

#include "ui_delete_panel.h"

namespace auralist {

DeletePanel::DeletePanel(QWidget *parent) : QDialog(parent), m_ui(std::make_unique<Ui::DeletePanel>())
{
    m_ui->setupUi(this);
    // However long the names it lists, the question stays on the screen
    // with its buttons in reach: its lines wrap within a width it keeps.
    constexpr int kWidest = 640;
    for (QLabel *label : {m_ui->deletePanelMessage, m_ui->deletePanelDetail}) {
        label->setWordWrap(true);
        label->setMaximumWidth(kWidest);
    }
    m_ui->deleteButton->installEventFilter(this);
    m_ui->cancelButton->installEventFilter(this);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] {
        if (m_cancel)
            m_cancel();
    });
    connect(m_ui->deleteButton, &QPushButton::clicked, this, [this] {
        if (m_approve)
            m_approve();
    });
}

DeletePanel::~DeletePanel() = default;

QLabel *DeletePanel::deletePanelMessage() const
{
    return m_ui->deletePanelMessage;
}

QLabel *DeletePanel::deletePanelDetail() const
{
    return m_ui->deletePanelDetail;
}

QPushButton *DeletePanel::deleteButton() const
{
    return m_ui->deleteButton;
}

QPushButton *DeletePanel::cancelButton() const
{
    return m_ui->cancelButton;
}

void DeletePanel::setActions(std::function<void()> cancelDelete, std::function<void()> approveDelete)
{
    m_cancel = std::move(cancelDelete);
    m_approve = std::move(approveDelete);
}

void DeletePanel::hidePanel()
{
    QDialog::done(QDialog::Rejected);
}

bool DeletePanel::eventFilter(QObject *watched, QEvent *event)
{
    const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
    if (key && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space)
        return true;
    return QDialog::eventFilter(watched, event);
}

// Escape and the window's close button answer no.
void DeletePanel::reject()
{
    if (m_cancel && isVisible())
        m_cancel();
    else
        QDialog::reject();
}

} // namespace auralist
