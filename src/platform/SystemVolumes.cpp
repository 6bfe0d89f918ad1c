#include "platform/SystemVolumes.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStorageInfo>

namespace {

constexpr int debounceMs = 300;
constexpr int pollWithNoticeMs = 30000;
constexpr int pollWithoutNoticeMs = 3000;

} // namespace

SystemVolumes::SystemVolumes(QObject *parent)
    : VolumeProvider(parent), m_mounts(QStringLiteral("/proc/self/mounts"))
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(debounceMs);
    connect(&m_debounce, &QTimer::timeout, this, &SystemVolumes::check);

    // Mounting one card changes the table several times in a row (the mount, then helpers' remounts).
    if (m_mounts.open(QIODevice::ReadOnly)) {
        m_notifier = new QSocketNotifier(m_mounts.handle(), QSocketNotifier::Exception, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { m_debounce.start(); });
    }
    m_poll.setInterval(m_notifier ? pollWithNoticeMs : pollWithoutNoticeMs);
    connect(&m_poll, &QTimer::timeout, this, &SystemVolumes::check);
    m_poll.start();
    m_last = mountedVolumes();
}

SystemVolumes::~SystemVolumes() = default;

bool SystemVolumes::isUserVolume(const QString &rootPath, const QByteArray &device,
                                 const QByteArray &fileSystemType)
{
    if (rootPath.isEmpty() || rootPath == QLatin1String("/"))
        return false;
    if (!device.startsWith("/dev/") || device.startsWith("/dev/loop") || device.startsWith("/dev/ram"))
        return false;
    static const QByteArrayList images{"squashfs", "iso9660", "udf", "erofs", "cramfs", "romfs"};
    static const QByteArrayList pseudo{"tmpfs",   "devtmpfs", "proc",    "sysfs",   "overlay", "cgroup",
                                       "cgroup2", "autofs",   "debugfs", "tracefs", "devpts",  "mqueue"};
    return !images.contains(fileSystemType) && !pseudo.contains(fileSystemType);
}

QList<MountedVolume> SystemVolumes::mountedVolumes() const
{
    QList<MountedVolume> volumes;
    const QString systemRoot = QStorageInfo::root().rootPath();
    for (const QStorageInfo &storage : QStorageInfo::mountedVolumes()) {
        if (!storage.isValid() || !storage.isReady() || storage.isRoot() || storage.rootPath() == systemRoot)
            continue;
        if (!isUserVolume(storage.rootPath(), storage.device(), storage.fileSystemType()))
            continue;
        // Bind mounts of single files (as containers have) are no volumes.
        if (!QFileInfo(storage.rootPath()).isDir())
            continue;
        volumes.append({QDir::cleanPath(storage.rootPath()), storage.name(), false});
    }
    return volumes;
}

void SystemVolumes::check()
{
    QList<MountedVolume> now = mountedVolumes();
    if (now == m_last)
        return;
    m_last = std::move(now);
    emit volumesChanged();
}
