#include "platform/SystemVolumes.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSignalSpy>

namespace {

TEST(SystemVolumes, KeepsVolumesOfRealDevicesOnly)
{
    const struct {
        const char *root;
        QByteArray device;
        QByteArray type;
        bool kept;
    } cases[] = {
        {"/media/me/CARD", "/dev/sdb1", "vfat", true},
        {"/run/media/me/DISK", "/dev/nvme0n1p3", "ext4", true},
        {"/mnt/card", "/dev/mmcblk0p1", "exfat", true},
        {"/", "/dev/sda1", "ext4", false},
        {"/snap/core/1", "/dev/loop3", "squashfs", false},
        {"/media/image", "/dev/sr0", "iso9660", false},
        {"/proc", "proc", "proc", false},
        {"/run", "tmpfs", "tmpfs", false},
        {"/dev/shm", "/dev/shm", "tmpfs", false},
        {"/var/lib/docker/x", "overlay", "overlay", false},
        {"/mnt/share", "//server/share", "cifs", false},
        {"", "/dev/sdb1", "vfat", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SystemVolumes::isUserVolume(c.root, c.device, c.type), c.kept) << c.root;
}

TEST(SystemVolumes, ListsNeitherTheRootNorFilesAndStaysQuietWithoutChanges)
{
    SystemVolumes volumes;
    QSignalSpy changed(&volumes, &VolumeProvider::volumesChanged);
    for (const MountedVolume &volume : volumes.mountedVolumes()) {
        EXPECT_NE(volume.rootPath, "/");
        EXPECT_FALSE(volume.isRootFileSystem);
        EXPECT_TRUE(QFileInfo(volume.rootPath).isDir()) << volume.rootPath.toStdString();
    }
    changed.wait(50);
    EXPECT_EQ(changed.count(), 0);
}

} // namespace
