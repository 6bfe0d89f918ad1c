#include "platform/SystemVolumes.h"

#include "platform/MountTable.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStorageInfo>

namespace {

constexpr int debounceMs = 300;
constexpr int pollWithNoticeMs = 30000;
constexpr int pollWithoutNoticeMs = 3000;

} // namespace

namespace {

QByteArray mountInfo()
{
    // Answered by the kernel from memory: reading it never waits on a mounted file system.
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    return table.open(QIODevice::ReadOnly) ? table.readAll() : QByteArray();
}

} // namespace

SystemVolumes::SystemVolumes(TableReader table, Probe probe, QObject *parent)
    : VolumeProvider(parent), m_table(std::move(table)), m_probe(std::move(probe))
{
    m_listingWait.setSingleShot(true);
    connect(&m_listingWait, &QTimer::timeout, this, &SystemVolumes::endListing);
    m_listingWait.start(firstListingWait);
    check();
}

SystemVolumes::SystemVolumes(QObject *parent)
    : VolumeProvider(parent), m_table(&mountInfo), m_probe(&SystemVolumes::probe),
      m_mounts(QStringLiteral("/proc/self/mounts"))
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
    m_listingWait.setSingleShot(true);
    connect(&m_listingWait, &QTimer::timeout, this, &SystemVolumes::endListing);
    m_listingWait.start(firstListingWait);
    check();
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

SystemVolumes::Answer SystemVolumes::probe(const QString &mountPoint)
{
    const QStorageInfo storage(mountPoint);
    Answer answer;
    answer.usable =
        storage.isValid() && storage.isReady() && !storage.isRoot() && QFileInfo(mountPoint).isDir();
    answer.name = storage.name();
    return answer;
}

void SystemVolumes::check()
{
    const QList<MountEntry> mounts = MountTable::parse(m_table());
    QStringList candidates;
    for (const MountEntry &mount : mounts) {
        const QString root = QDir::cleanPath(mount.mountPoint);
        // A mount point mounted over twice is one volume: the last mount, which is the one seen there.
        candidates.removeAll(root);
        if (isUserVolume(root, mount.source.toLocal8Bit(), mount.fsType.toLocal8Bit()))
            candidates.append(root);
    }
    m_candidates = candidates;
    for (auto answer = m_answers.begin(); answer != m_answers.end();)
        answer = candidates.contains(answer.key()) ? std::next(answer) : m_answers.erase(answer);
    // Unmounted volumes leave at once; the others are asked again, each unless its last question is pending.
    publish();
    for (const QString &root : std::as_const(candidates)) {
        m_questions.ask(
            root, [probe = m_probe, root] { return probe(root); },
            [this, root](Answer answer) {
                if (m_candidates.contains(root))
                    m_answers.insert(root, std::move(answer));
                publish();
                if (m_listing && std::all_of(m_candidates.cbegin(), m_candidates.cend(),
                                             [this](const QString &c) { return m_answers.contains(c); }))
                    endListing();
            });
    }
    if (m_listing && candidates.isEmpty())
        endListing();
}

void SystemVolumes::publish()
{
    QList<MountedVolume> now;
    for (const QString &root : std::as_const(m_candidates)) {
        const auto answer = m_answers.constFind(root);
        if (answer != m_answers.cend() && answer->usable)
            now.append({root, answer->name, false});
    }
    if (now == m_last)
        return;
    m_last = std::move(now);
    if (!m_listing)
        emit volumesChanged();
}

void SystemVolumes::endListing()
{
    if (!m_listing)
        return;
    m_listing = false;
    m_listingWait.stop();
    emit volumesChanged();
}
