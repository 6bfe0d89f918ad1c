// One main for every test program: a private home so that no test touches the user's settings, caches
// or pictures, and the Qt application object the code under test expects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#ifdef ROADLOOM_TEST_GUI
#include <QApplication>
#else
#include <QCoreApplication>
#endif

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/roadloom-test-home-XXXXXX"));
    if (!home.isValid())
        return 2;
    const QByteArray root = QFile::encodeName(home.path());
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    qputenv("XDG_DATA_DIRS", root + "/.local/share-system");
    qputenv("XDG_CONFIG_DIRS", root + "/.config-system");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

#ifdef ROADLOOM_TEST_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    QCoreApplication::setOrganizationName(QStringLiteral("Roadloom"));
    QCoreApplication::setApplicationName(QStringLiteral("Roadloom"));
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
