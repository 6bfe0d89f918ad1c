#pragma once

#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

// The transient banner that reports the result of a user action: its text, the name of its symbol, and a
// file it offers to show in the file manager.
struct Toast {
    QUuid id = QUuid::createUuid(); // fresh for every message
    QString message;
    QString systemImage;
    std::optional<QString> revealURL;

    friend bool operator==(const Toast &, const Toast &) = default;
};

Q_DECLARE_METATYPE(Toast)
