#include "platform/SystemVolumes.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSemaphore>
#include <QSignalSpy>

#include <atomic>
#include <memory>

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
    // The first listing announces itself once every volume answered.
    ASSERT_TRUE(TestSupport::waitFor([&] { return !volumes.isListing(); }));
    QSignalSpy changed(&volumes, &VolumeProvider::volumesChanged);
    for (const MountedVolume &volume : volumes.mountedVolumes()) {
        EXPECT_NE(volume.rootPath, "/");
        EXPECT_FALSE(volume.isRootFileSystem);
        EXPECT_TRUE(QFileInfo(volume.rootPath).isDir()) << volume.rootPath.toStdString();
    }
    changed.wait(50);
    EXPECT_EQ(changed.count(), 0);
}

// Each mount is asked on a thread of its own: one whose file system does not answer is left out until it
// does (later, it keeps its last answer) and is not asked again meanwhile; the others are listed at once.
TEST(SystemVolumes, AVolumeThatDoesNotAnswerHoldsOnlyItself)
{
    const QByteArray table = "30 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                             "36 30 8:17 / /media/a rw - vfat /dev/sdb1 rw\n"
                             "37 30 8:33 / /media/stuck rw - vfat /dev/sdc1 rw\n"
                             "38 30 0:40 / /run rw - tmpfs tmpfs rw\n";
    struct Held {
        QSemaphore release;
        std::atomic<int> asked = 0;
    };
    const auto held = std::make_shared<Held>(); // the stuck thread may outlive the test
    SystemVolumes volumes([table] { return table; },
                          [held](const QString &root) {
                              if (root == "/media/stuck") {
                                  ++held->asked;
                                  held->release.acquire();
                              }
                              return SystemVolumes::Answer{true, root.section('/', -1).toUpper()};
                          });
    QSignalSpy changed(&volumes, &VolumeProvider::volumesChanged);
    const MountedVolume a{"/media/a", "A", false}, stuck{"/media/stuck", "STUCK", false};
    ASSERT_TRUE(TestSupport::waitFor([&] { return volumes.mountedVolumes() == QList<MountedVolume>{a}; }));
    EXPECT_TRUE(volumes.isListing()) << "the first listing waits a while for the stuck one";
    ASSERT_TRUE(TestSupport::waitFor([&] { return held->asked == 1; }));
    volumes.check();
    EXPECT_FALSE(TestSupport::waitFor([&] { return held->asked > 1; }, 200)) << "asked while pending";

    held->release.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return !volumes.isListing(); }));
    EXPECT_EQ(volumes.mountedVolumes(), (QList<MountedVolume>{a, stuck}));
    EXPECT_EQ(changed.count(), 1);

    volumes.check(); // stuck again: it keeps its last answer
    ASSERT_TRUE(TestSupport::waitFor([&] { return held->asked == 2; }));
    EXPECT_EQ(volumes.mountedVolumes(), (QList<MountedVolume>{a, stuck}));
    EXPECT_EQ(changed.count(), 1);
    held->release.release();
}

} // namespace
