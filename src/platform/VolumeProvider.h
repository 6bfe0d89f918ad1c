#pragma once

#include "platform/MountedVolume.h"

#include <QList>
#include <QObject>

// The mounted volumes and notice of mounts and unmounts. The application passes `SystemVolumes`; tests
// pass a scripted list.
class VolumeProvider : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~VolumeProvider() override = default;

    // In the system's order; may be empty.
    virtual QList<MountedVolume> mountedVolumes() const = 0;
    // True while the first listing is still being asked for; `volumesChanged` follows once it is done.
    virtual bool isListing() const { return false; }

signals:
    // A volume was mounted or unmounted; the listing says which.
    void volumesChanged();
};
