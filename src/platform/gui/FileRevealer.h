#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// Shows a file selected in the user's file manager. Returns at once; the application asks the desktop,
// tests record the request.
class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    virtual void reveal(const QString &path) = 0;
    // Several files selected together (the channel files of one recording); by default one by one.
    virtual void revealAll(const QStringList &paths)
    {
        for (const QString &path : paths)
            reveal(path);
    }
};

// Asks the desktop's file manager over D-Bus (org.freedesktop.FileManager1.ShowItems) without waiting for
// it; when no file manager answers, or there is no session bus, the file's folder opens instead.
class DesktopFileRevealer final : public FileRevealer {
public:
    using FolderOpener = std::function<void(const QUrl &folder)>;

    // An empty opener opens folders with the desktop's default application.
    explicit DesktopFileRevealer(QDBusConnection bus = QDBusConnection::sessionBus(), FolderOpener open = {});

    void reveal(const QString &path) override;
    void revealAll(const QStringList &paths) override;

    // The file as the file manager expects it: a file URL with every unsafe byte percent-encoded.
    static QString uri(const QString &path);

private:
    void openFolder(const QString &path) const;

    QDBusConnection m_bus;
    FolderOpener m_open;
};
