#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <system_error>

#include <unistd.h>

namespace {

class SystemTrash final : public Trash {
public:
    Result<void> moveToTrash(const QStringList &paths) override
    {
        // Qt moves files into "files" under the working folder when the user's Trash folder is missing:
        // make it first, and take back any file that lands anywhere but in a Trash.
        const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (!home.isEmpty()) {
            for (const char *part : {"/Trash/files", "/Trash/info"}) {
                const QString folder = home + QLatin1String(part);
                if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
                    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            }
        }
        for (const QString &path : paths) {
            QString inTrash;
            if (!QFile::moveToTrash(path, &inTrash))
                return Failure{failureText(path)};
            if (!QFileInfo(inTrash).isAbsolute()) {
                QFile::rename(inTrash, path);
                // Also what Qt made beside it: the record of the deletion and, when empty, its folders.
                const QFileInfo misplaced(inTrash);
                const QString folder = misplaced.dir().path();
                QFile::remove(QFileInfo(folder).dir().filePath(
                    QStringLiteral("info/%1.trashinfo").arg(misplaced.fileName())));
                QDir().rmdir(folder);
                QDir().rmdir(QFileInfo(folder).dir().filePath(QStringLiteral("info")));
                return Failure{QStringLiteral("“%1” couldn't be moved to the Trash because the Trash folder "
                                              "couldn't be made.")
                                   .arg(QFileInfo(path).fileName())};
            }
        }
        return {};
    }
};

} // namespace

Trash &Trash::system()
{
    static SystemTrash instance;
    return instance;
}

QString Trash::failureText(const QString &path)
{
    const QFileInfo info(path);
    const QString start = QStringLiteral("“%1” couldn't be moved to the Trash").arg(info.fileName());
    if (!info.exists() && !info.isSymLink())
        return start + QStringLiteral(" because it no longer exists.");
    // Moving a file changes its folder: that is where a card or a share refuses.
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    if (::access(folder.constData(), W_OK) != 0) {
        if (errno == EROFS)
            return start + QStringLiteral(" because its volume is read-only.");
        if (errno == EACCES || errno == EPERM)
            return start + QStringLiteral(" because you don't have permission to change its folder.");
        return start + QStringLiteral(": ") + QString::fromStdString(std::system_category().message(errno)) +
               QLatin1Char('.');
    }
    return start + QStringLiteral(" because its volume has no Trash that can take it.");
}
