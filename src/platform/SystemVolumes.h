#pragma once

#include "platform/VolumeProvider.h"

#include <QFile>
#include <QTimer>

class QSocketNotifier;

// The volumes of real devices mounted on this machine (USB sticks, SD cards, disks), without the root file
// system, pseudo file systems, loop devices and read-only images. The kernel marks /proc/self/mounts for
// poll() on every mount table change; that notice, debounced, raises `volumesChanged`. A slow poll
// catches what the notice misses (or everything, when the file cannot be watched).
class SystemVolumes : public VolumeProvider {
    Q_OBJECT
public:
    explicit SystemVolumes(QObject *parent = nullptr);
    ~SystemVolumes() override;

    QList<MountedVolume> mountedVolumes() const override;

    // Whether a mount is one the user plugged in or keeps data on.
    static bool isUserVolume(const QString &rootPath, const QByteArray &device,
                             const QByteArray &fileSystemType);

private:
    void check();

    QFile m_mounts;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_debounce;
    QTimer m_poll;
    QList<MountedVolume> m_last;
};
