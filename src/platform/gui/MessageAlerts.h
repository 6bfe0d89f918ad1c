#pragma once

#include "platform/Alerts.h"

class QWidget;

// Alerts as Qt message boxes, application-modal, over the window that asked, else the given one, else the
// active one; wide enough that a sentence of explanation stays on one line.
class MessageAlerts final : public Alerts {
public:
    // The widest the explanation gets before it wraps.
    static constexpr int widestText = 520;

    explicit MessageAlerts(QWidget *parent = nullptr) : m_parent(parent) {}

    using Alerts::run;
    int run(const Alert &alert, QWidget *window) override;

private:
    QWidget *m_parent; // not owned; must outlive the object
};
