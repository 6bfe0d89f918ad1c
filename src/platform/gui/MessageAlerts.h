#pragma once

#include "platform/Alerts.h"

class QWidget;

// Alerts as Qt message boxes, application-modal, over the given window, else the active one.
class MessageAlerts final : public Alerts {
public:
    explicit MessageAlerts(QWidget *parent = nullptr) : m_parent(parent) {}

    int run(const Alert &alert) override;

private:
    QWidget *m_parent; // not owned; must outlive the object
};
