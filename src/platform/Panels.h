#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The modal open and save panels: every place that asks the user for a folder, for files to open or for a
// file name to save under goes through one of these. Each call blocks until the panel is dismissed; a
// cancelled panel answers none (or an empty list), never an error. File types are MIME type names, or name
// filters ("Camera settings (*.cfg *.CFG)") for files the MIME database does not know.
class Panels {
public:
    virtual ~Panels() = default;

    // A folder the user chose (files cannot be chosen); new folders can be made in the panel.
    virtual std::optional<QString> chooseFolder(const QString &title, const QString &prompt) = 0;
    // A file the user chose, of any kind.
    virtual std::optional<QString> chooseFile(const QString &title, const QString &prompt) = 0;
    // Where to write a file of that type, proposing the name.
    virtual std::optional<QString> save(const QString &name, const QString &type) = 0;
    // The files of those types the user chose, in the panel's order.
    virtual QStringList openFiles(const QStringList &types) = 0;
};
