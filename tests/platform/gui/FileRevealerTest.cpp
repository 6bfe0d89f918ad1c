#include "platform/gui/FileRevealer.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QTemporaryDir>

using TestSupport::waitFor;

namespace {

// Stands in for the desktop's file manager on the session bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList &uris, const QString &) { shown.append(uris); }
};

TEST(FileRevealer, UrisArePercentEncodedFileUrls)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {QStringLiteral("/media/card/REC_F.mp4"), QStringLiteral("file:///media/card/REC_F.mp4")},
        {QStringLiteral("/home/u/Fahrt 1/#2 ü%.mp4"),
         QStringLiteral("file:///home/u/Fahrt%201/%232%20%C3%BC%25.mp4")},
        {QStringLiteral("/a/../b/c?.png"), QStringLiteral("file:///b/c%3F.png")},
    };
    for (const auto &[path, uri] : cases)
        EXPECT_EQ(DesktopFileRevealer::uri(path), uri) << path.toStdString();
}

TEST(FileRevealer, WithoutABusTheParentFolderOpens)
{
    QList<QUrl> opened;
    DesktopFileRevealer revealer(QDBusConnection(QStringLiteral("no such connection")),
                                 [&](const QUrl &folder) { opened.append(folder); });
    revealer.reveal(QStringLiteral("/home/u/Fahrt 1/REC_F.mp4"));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/Fahrt 1"))});
}

// These two need a session bus of their own: ctest runs them under dbus-run-session.
TEST(FileRevealer, TheFileManagerGetsTheFileAndNothingOpens)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no session bus";
    QDBusConnection fileManagerBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake file manager"));
    FakeFileManager manager;
    ASSERT_TRUE(fileManagerBus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                                              QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(fileManagerBus.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    QList<QUrl> opened;
    DesktopFileRevealer revealer(bus, [&](const QUrl &folder) { opened.append(folder); });
    revealer.reveal(QStringLiteral("/home/u/Fahrt 1/ü.png"));
    ASSERT_TRUE(waitFor([&] { return !manager.shown.isEmpty(); }));
    EXPECT_EQ(manager.shown.constFirst(), QStringList{QStringLiteral("file:///home/u/Fahrt%201/%C3%BC.png")});
    QCoreApplication::processEvents();
    EXPECT_TRUE(opened.isEmpty());

    fileManagerBus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake file manager"));
}

TEST(FileRevealer, WithoutAFileManagerTheParentFolderOpens)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no session bus";
    ASSERT_TRUE(waitFor([&] {
        return !bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.FileManager1")).value();
    }));
    QList<QUrl> opened;
    DesktopFileRevealer revealer(bus, [&](const QUrl &folder) { opened.append(folder); });
    revealer.reveal(QStringLiteral("/srv/clips/REC_F.mp4"));
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/clips"))});
}

} // namespace

#include "FileRevealerTest.moc"
