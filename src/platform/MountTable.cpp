#include "platform/MountTable.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace MountTable {

namespace {

// mountinfo writes space, tab, newline and backslash in paths as "\ooo".
QString unescape(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        const auto digit = [&](qsizetype at) {
            return at < field.size() && field[at] >= '0' && field[at] <= '7';
        };
        if (c == '\\' && digit(i + 1) && digit(i + 2) && digit(i + 3)) {
            out.append(
                char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.append(c);
    }
    return QFile::decodeName(out);
}

std::optional<quint64> deviceNumber(QByteArrayView field)
{
    const qsizetype colon = field.indexOf(':');
    if (colon <= 0)
        return std::nullopt;
    bool okMajor = false, okMinor = false;
    const uint major = field.first(colon).toUInt(&okMajor);
    const uint minor = field.sliced(colon + 1).toUInt(&okMinor);
    if (!okMajor || !okMinor)
        return std::nullopt;
    return quint64(makedev(major, minor));
}

} // namespace

QList<MountEntry> parse(QByteArrayView mountinfo, const QHash<quint64, QString> &uuidByDevice,
                        const QHash<QString, QString> &uuidBySource)
{
    QList<MountEntry> mounts;
    const QByteArray text = mountinfo.toByteArray();
    for (const QByteArray &line : text.split('\n')) {
        QList<QByteArray> fields = line.split(' ');
        fields.removeAll(QByteArray());
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const qsizetype separator = fields.indexOf(QByteArray("-"));
        if (separator < 6 || separator + 2 >= fields.size())
            continue;
        const auto device = deviceNumber(fields[2]);
        if (!device)
            continue;
        MountEntry entry;
        entry.device = *device;
        entry.root = unescape(fields[3]);
        entry.mountPoint = unescape(fields[4]);
        entry.fsType = unescape(fields[separator + 1]);
        entry.source = unescape(fields[separator + 2]);
        if (!entry.mountPoint.startsWith(QLatin1Char('/')))
            continue;
        entry.uuid = uuidByDevice.value(entry.device);
        if (entry.uuid.isEmpty())
            entry.uuid = uuidBySource.value(entry.source);
        mounts.append(entry);
    }
    return mounts;
}

QList<MountEntry> current()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();

    QHash<quint64, QString> uuidByDevice;
    QHash<QString, QString> uuidBySource;
    const QDir byUuid(QStringLiteral("/dev/disk/by-uuid"));
    for (const QString &uuid :
         byUuid.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString link = byUuid.filePath(uuid);
        struct stat st {};
        if (::stat(QFile::encodeName(link).constData(), &st) == 0 && S_ISBLK(st.st_mode))
            uuidByDevice.insert(quint64(st.st_rdev), uuid);
        const QString target = QFileInfo(link).canonicalFilePath();
        if (!target.isEmpty())
            uuidBySource.insert(target, uuid);
    }
    return parse(text, uuidByDevice, uuidBySource);
}

const MountEntry *containing(const QList<MountEntry> &mounts, const QString &path, quint64 device)
{
    const MountEntry *best = nullptr;
    bool bestOnDevice = false;
    for (const MountEntry &mount : mounts) {
        if (!Paths::isInside(path, mount.mountPoint))
            continue;
        const bool onDevice = device != 0 && mount.device == device;
        // A mount on the file's own device beats a longer one that is not (a stale or injected entry).
        if (!best || (onDevice && !bestOnDevice) ||
            (onDevice == bestOnDevice && mount.mountPoint.size() >= best->mountPoint.size())) {
            best = &mount;
            bestOnDevice = onDevice;
        }
    }
    return best;
}

} // namespace MountTable
