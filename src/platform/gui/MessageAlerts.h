#pragma once

#include "platform/Alerts.h"

#include <QPointer>
#include <QWidget>

// Alerts as Qt message boxes, application-modal, over the given window when there is one.
class MessageAlerts final : public Alerts {
public:
    explicit MessageAlerts(QWidget *parent = nullptr) : m_parent(parent) {}

    int run(const Alert &alert) override;

private:
    QPointer<QWidget> m_parent;
};
