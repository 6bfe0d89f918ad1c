#pragma once

#include "platform/Panels.h"

class QWidget;

// The panels as Qt file dialogs, application-modal, over the given window, else the active one.
class DialogPanels final : public Panels {
public:
    explicit DialogPanels(QWidget *parent = nullptr) : m_parent(parent) {}

    std::optional<QString> chooseFolder(const QString &title, const QString &prompt) override;
    std::optional<QString> chooseFile(const QString &title, const QString &prompt) override;
    std::optional<QString> save(const QString &name, const QString &type) override;
    QStringList openFiles(const QStringList &types) override;

    // The dialog's name filter for a file type: a MIME type's own filter (none for an unknown type), a name
    // filter as it is.
    static QString nameFilter(const QString &type);

private:
    QWidget *m_parent; // not owned; must outlive the object
};
