#pragma once

#include "platform/Panels.h"

class QWidget;

// The panels as Qt file dialogs, application-modal, over the given window, else the active one.
class DialogPanels final : public Panels {
public:
    explicit DialogPanels(QWidget *parent = nullptr) : m_parent(parent) {}

    std::optional<QString> chooseFolder(const QString &title, const QString &prompt) override;
    std::optional<QString> save(const QString &name, const QString &mimeType) override;
    QStringList openFiles(const QStringList &mimeTypes) override;

private:
    QWidget *m_parent; // not owned; must outlive the object
};
