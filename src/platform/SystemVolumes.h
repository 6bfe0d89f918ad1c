#pragma once

#include "platform/QuestionPool.h"
#include "platform/VolumeProvider.h"

#include <QFile>
#include <QHash>
#include <QTimer>

#include <chrono>
#include <functional>

class QSocketNotifier;

// The volumes of real devices mounted on this machine (USB sticks, SD cards, disks), without the root file
// system, pseudo file systems, loop devices and read-only images. The kernel marks /proc/self/mounts for
// poll() on every mount table change; that notice, debounced, raises `volumesChanged`. A slow poll
// catches what the notice misses (or everything, when the file cannot be watched).
//
// The candidates come from the mount table, which the kernel answers from memory. What only the mounted
// file system can tell (is it ready, its label, is its root a folder) is asked of each on a thread of its
// own: a volume that stopped answering is left out until it answers (or keeps its last answer), and holds
// nothing else up.
class SystemVolumes : public VolumeProvider {
    Q_OBJECT
public:
    // How long the first listing waits for slow volumes before it counts as done without them.
    static constexpr std::chrono::milliseconds firstListingWait{1500};

    // What only the mounted file system can tell of a mount point.
    struct Answer {
        bool usable = false; // ready, and its root a folder (bind mounts of single files are no volumes)
        QString name;
    };
    using Probe = std::function<Answer(const QString &mountPoint)>;
    using TableReader = std::function<QByteArray()>; // the text of /proc/self/mountinfo

    explicit SystemVolumes(QObject *parent = nullptr);
    // With another mount table and probe (tests); nothing watches for changes, `check` reads again.
    SystemVolumes(TableReader table, Probe probe, QObject *parent = nullptr);
    ~SystemVolumes() override;

    // As last answered; never touches a disk.
    QList<MountedVolume> mountedVolumes() const override { return m_last; }
    bool isListing() const override { return m_listing; }

    // Whether a mount is one the user plugged in or keeps data on.
    static bool isUserVolume(const QString &rootPath, const QByteArray &device,
                             const QByteArray &fileSystemType);

    // Reads the mount table again and asks every candidate whose last question is not pending.
    void check();
    static Answer probe(const QString &mountPoint);

private:
    void publish();
    void endListing();

    TableReader m_table;
    Probe m_probe;
    QFile m_mounts;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_debounce;
    QTimer m_poll;
    QTimer m_listingWait;
    QStringList m_candidates;         // mount points, in the table's order
    QHash<QString, Answer> m_answers; // by mount point
    QList<MountedVolume> m_last;
    bool m_listing = true;
    QuestionPool m_questions{this}; // last: its answers reach the members above
};
