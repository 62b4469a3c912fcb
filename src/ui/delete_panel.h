#pragma once

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class DeletePanel;
}
class QLabel;
class QPushButton;

namespace auralist {

// The confirmation panel, shown window-modal on the browser window. Return
// (or a click on Delete) deletes; Escape (or Cancel) does not. Space, which
// starts and stops sound all day long in the browser, presses neither.
class DeletePanel : public QDialog {
    Q_OBJECT
public:
    explicit DeletePanel(QWidget *parent = nullptr);
    ~DeletePanel() override;

    QLabel *deletePanelMessage() const;
    QLabel *deletePanelDetail() const;
    QPushButton *deleteButton() const;
    QPushButton *cancelButton() const;

    // The panel's two answers.
    void setActions(std::function<void()> cancelDelete, std::function<void()> approveDelete);
    // Closes the panel without answering.
    void hidePanel();

    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::DeletePanel> m_ui;
    std::function<void()> m_cancel;
    std::function<void()> m_approve;
};

} // namespace auralist
