#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the library asks of a source's folder or a volume's root. Each answer touches the disk and may never
// come (a network share that stopped answering): the library store asks on threads of their own, never on
// the GUI thread.
namespace SourceCheck {

struct Folder {
    bool there = false;               // something is at the path (links followed)
    QStringList watchedPlaces;        // the folders above it that are there, below the root
    std::optional<QString> configURL; // the camera's configuration file in it

    friend bool operator==(const Folder &, const Folder &) = default;
};

struct Card {
    bool isCard = false; // its top level holds a camera's folders
    std::optional<QString> configURL;

    friend bool operator==(const Card &, const Card &) = default;
};

Folder folder(const QString &path);
Card card(const QString &root);

} // namespace SourceCheck
