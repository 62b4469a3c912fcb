#pragma once

#include "core/services.h"

class QWidget;

namespace auralist {

// Alerts as modal message boxes; the alert's title is the window title.
class MessageBoxAlerts : public Alerts {
public:
    void setParent(QWidget *parent) { m_parent = parent; }
    int runAlert(const std::string &title, const std::string &message, const std::string &defaultButton,
                 const std::string &alternateButton) override;

private:
    QWidget *m_parent = nullptr;
};

} // namespace auralist
