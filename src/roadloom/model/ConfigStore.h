#pragma once

#include "platform/Alerts.h"
#include "platform/Result.h"
#include "roadcore/ConfigFile.h"
#include "platform/LoneThreads.h"

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// The one open camera configuration document: the file being edited, the same document as last opened or
// saved (to tell unsaved changes), and a message for the editor's alert. Lives on the GUI thread; its files
// are read and written on threads of their own, since a card or a share may stop answering, and each result
// is applied when it comes (the returned futures finish then, or are cancelled when the store went first).
class ConfigStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(std::optional<ConfigFile> file READ file WRITE setFile NOTIFY fileChanged)
    Q_PROPERTY(std::optional<ConfigFile> saved READ saved WRITE setSaved NOTIFY savedChanged)
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(bool isDirty READ isDirty NOTIFY isDirtyChanged)

public:
    using Clock = std::function<QDateTime()>;
    // Asked before another file replaces a document with unsaved edits; false keeps the edits.
    using DiscardGuard = std::function<bool()>;
    // Called off the GUI thread before a file is read or written; tests hold it at a gate.
    using FileAccess = std::function<void(const QString &path)>;

    explicit ConfigStore(QObject *parent = nullptr);

    // The file being edited; empty when no document is open.
    QString url() const { return m_url; }
    void setUrl(const QString &url);
    // The document with the user's edits.
    const std::optional<ConfigFile> &file() const { return m_file; }
    void setFile(const std::optional<ConfigFile> &file);
    // The document as last opened or saved.
    const std::optional<ConfigFile> &saved() const { return m_saved; }
    void setSaved(const std::optional<ConfigFile> &saved);
    // Text for the editor's alert; empty when there is nothing to say. A failure's alert is a warning.
    QString message() const { return m_message; }
    void setMessage(const QString &message, Alert::Style style = Alert::Style::informational);
    Alert::Style messageStyle() const { return m_messageStyle; }

    bool isDirty() const;

    // Loads a file; a failure goes to `message` and leaves an open document as it was. Unsaved edits are
    // replaced only when the discard guard (if any) agrees. Files far larger than a camera's are refused.
    // Temporary files that interrupted saves left beside the file are removed. Only the newest open applies.
    QFuture<void> open(const QString &path);
    // The same with the file read already (`readForOpen`), on the GUI thread.
    void openRead(const QString &path, const Result<ConfigFile> &read);
    // Opens the camera's file on the card or folder at `root`, when there is one and no document is open.
    QFuture<void> openCameraFile(const QString &root);
    // Reads a file for `openRead`, and removes what interrupted saves left beside it; touches the disk.
    static Result<ConfigFile> readForOpen(const QString &path);
    // A camera's file holds a few hundred entries; the editor makes a row of each, so a file far beyond that
    // would hold the window for minutes.
    static constexpr qint64 maximumFileSize = 256 * 1024;
    static constexpr qsizetype maximumLines = 2'000;
    // Reads a file for editing, refusing one over the limits with the reason.
    static Result<ConfigFile> readEditable(const QString &path);
    void setDiscardGuard(DiscardGuard guard) { m_discardGuard = std::move(guard); }
    void setBeforeFileAccess(FileAccess access) { m_beforeFileAccess = std::move(access); }
    // True without unsaved edits, else what the discard guard answers (true when there is none). Quitting
    // asks this too.
    bool mayDiscardEdits() const;
    // The question asked before unsaved edits are lost: "Discard Changes" (0) or "Cancel" (1, the default).
    static Alert discardAlert();

    // The two halves of an entry's value binding. Reading answers the open document's value for the entry's
    // section and key, else the entry's own value; writing sets it in the open document (dropped when none).
    QString value(const ConfigFile::Entry &entry) const;
    void setValue(const ConfigFile::Entry &entry, const QString &text);

    // Copies the card's current file to the backup folder, then replaces it with the edited text. Does
    // nothing without an open document, or while a save is under way. A backup folder that cannot be
    // created stops before any write. The outcome goes to `message`; edits made meanwhile stay unsaved.
    QFuture<void> save();
    bool isSaving() const { return m_saving; }
    // Takes over the values of another file for keys both have; `message` says how many changed, or why
    // none could.
    QFuture<void> importProfile(const QString &path);
    // Writes the edited text to another file; the card and the backups are not involved. A failure goes to
    // `message`.
    QFuture<void> exportProfile(const QString &path);

    // The time stamp of backup names comes from here (the current time unless replaced).
    void setClock(Clock clock);
    // "CARD-2024-03-01T10-20-30Z-blackbox.cfg": the card holding the file (else "local"), the UTC time with
    // "-" for ":", and the file's name.
    static QString backupFileName(const QString &path, const QDateTime &time);
    // The folder under a removable-media mount root that holds the file, else "local".
    static QString volumeName(const QString &path);

    // What the editor reports after an import, and after a successful save.
    static QString importMessage(int changed, const QString &fileName);
    static QString savedMessage();

signals:
    void urlChanged(const QString &url);
    void fileChanged(const std::optional<ConfigFile> &file);
    void savedChanged(const std::optional<ConfigFile> &saved);
    void messageChanged(const QString &message);
    void isDirtyChanged(bool isDirty);
    void isSavingChanged(bool isSaving);

private:
    // Runs a change of the documents and reports a change of `isDirty`.
    template <class Change> void changingDirty(Change change);

    QString m_url;
    std::optional<ConfigFile> m_file;
    std::optional<ConfigFile> m_saved;
    QString m_message;
    Alert::Style m_messageStyle = Alert::Style::informational;
    Clock m_clock;
    DiscardGuard m_discardGuard;
    FileAccess m_beforeFileAccess;
    quint64 m_openGeneration = 0;
    bool m_saving = false;
    LoneThreads m_files{this}; // last: no result arrives once the rest is gone
};
