#include "platform/gui/FileRevealer.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(revealLog, "roadloom.reveal")

const QString service = QStringLiteral("org.freedesktop.FileManager1");
const QString objectPath = QStringLiteral("/org/freedesktop/FileManager1");

} // namespace

DesktopFileRevealer::DesktopFileRevealer(QDBusConnection bus, FolderOpener open)
    : m_bus(std::move(bus)), m_open(std::move(open))
{
    if (!m_open)
        m_open = [](const QUrl &folder) { QDesktopServices::openUrl(folder); };
}

QString DesktopFileRevealer::uri(const QString &path)
{
    return QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
}

void DesktopFileRevealer::reveal(const QString &path)
{
    revealAll({path});
}

void DesktopFileRevealer::revealAll(const QStringList &paths)
{
    QStringList uris;
    QString path;
    for (const QString &each : paths) {
        if (each.isEmpty())
            continue;
        uris.append(uri(each));
        if (path.isEmpty())
            path = each;
    }
    if (uris.isEmpty())
        return;
    if (!m_bus.isConnected())
        return openFolder(path);
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, objectPath, service, QStringLiteral("ShowItems"));
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [path, open = m_open](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<> reply = *finished;
                         if (!reply.isError())
                             return;
                         qCWarning(revealLog) << "no file manager showed" << path << reply.error().message();
                         open(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
                     });
}

void DesktopFileRevealer::openFolder(const QString &path) const
{
    m_open(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
