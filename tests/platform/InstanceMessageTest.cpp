#include "platform/InstanceMessage.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using TestSupport::ScopedEnv;

namespace {

// The message as the instance's QDataStream reads it, built with Qt.
QByteArray qtMessage(const QStringList &paths)
{
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_0);
    stream << paths;
    QByteArray message(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), message.data());
    return message + body;
}

QByteArray plainMessage(const std::vector<std::string> &paths)
{
    return QByteArray::fromStdString(InstanceMessage::encode(paths));
}

TEST(InstanceMessage, TheLaunchersEncodingIsQtsForAnyText)
{
    const std::vector<QStringList> lists = {
        {},
        {QStringLiteral("/media/card")},
        {QStringLiteral("")},
        {QStringLiteral("/home/u/Fahrt 1/ü_F.mp4"), QStringLiteral("/tmp/行车记录"),
         QStringLiteral("/x/🚗 trip"), QStringLiteral("/\u00a0\u20ac\uffff/\u007f")},
    };
    for (const QStringList &list : lists) {
        std::vector<std::string> utf8;
        for (const QString &path : list)
            utf8.push_back(path.toStdString());
        EXPECT_EQ(plainMessage(utf8), qtMessage(list)) << list.join(QLatin1Char('|')).toStdString();
    }

    // Bytes that are no UTF-8 read as Qt reads a file name made of them.
    const std::vector<std::pair<const char *, QByteArray>> malformed = {
        {"stray continuation", QByteArray("/a\x80z")},
        {"truncated at the end", QByteArray("/a\xe2\x82")},
        {"truncated before ASCII", QByteArray("/\xe2\x82z\xf0\x9f\x9a")},
        {"overlong slash", QByteArray("/\xc0\xaf/\xe0\x80\xaf")},
        {"surrogate", QByteArray("/\xed\xa0\x80x")},
        {"past U+10FFFF", QByteArray("/\xf4\x90\x80\x80\xf5\xff")},
        {"invalid lead bytes", QByteArray("/\xc1\xfe\xff")},
    };
    for (const auto &[name, bytes] : malformed)
        EXPECT_EQ(plainMessage({bytes.toStdString()}), qtMessage({QString::fromUtf8(bytes)})) << name;
}

TEST(InstanceMessage, ArgumentsBecomeTheAbsolutePathsQtMakesOfThem)
{
    const QString cwd = QStringLiteral("/home/u/work dir");
    // What the instance made of an argument with Qt before the launcher did it alone.
    const auto qtPath = [&](const QString &argument) -> QString {
        QString path = argument;
        if (argument.startsWith(QLatin1String("file:"))) {
            QUrl url(argument);
            if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
                return {};
            // Qt reads "file://localhost/x" as a share named localhost; it is this computer's /x.
            url.setHost(QString());
            path = url.toLocalFile();
        }
        if (path.isEmpty())
            return {};
        QString clean = QDir::cleanPath(QFileInfo(path).isAbsolute() ? path : cwd + QLatin1Char('/') + path);
        // Qt keeps a ".." above the root, which the system reads as the root itself.
        while (clean.startsWith(QLatin1String("/..")) &&
               (clean.size() == 3 || clean.at(3) == QLatin1Char('/')))
            clean = clean.size() == 3 ? QStringLiteral("/") : clean.mid(3);
        return clean;
    };
    const QStringList arguments = {
        QStringLiteral("card/DCIM"),
        QStringLiteral("./a//b/./c/"),
        QStringLiteral("../../../../../x"),
        QStringLiteral("/a/../b/c.mp4"),
        QStringLiteral("/../x"),
        QStringLiteral("//double//slash//"),
        QStringLiteral("/"),
        QStringLiteral("."),
        QStringLiteral(".."),
        QStringLiteral("a/.."),
        QStringLiteral("...x/..y"),
        QStringLiteral("ü/行"),
        QStringLiteral("file:///x/y%20z.mp4"),
        QStringLiteral("file:/x/%C3%BC%2Fz"),
        QStringLiteral("file://localhost/x/y"),
        QStringLiteral("file://LocalHost/x"),
        QStringLiteral("file:///x/100%zz/%4"),
        QStringLiteral("file:///a/b?c#d"),
        QStringLiteral("file:rel/a"),
        QStringLiteral("file:///a/../b/"),
        QStringLiteral("file://host.invalid/x"),
        QStringLiteral("file:"),
        QStringLiteral("file://"),
        QString(),
        QStringLiteral("FILE:x"),
    };
    std::vector<std::string> utf8;
    QStringList expected;
    for (const QString &argument : arguments) {
        utf8.push_back(argument.toStdString());
        if (const QString path = qtPath(argument); !path.isEmpty())
            expected.append(path);
    }
    QStringList paths;
    for (const std::string &path : InstanceMessage::absolutePaths(utf8, cwd.toStdString()))
        paths.append(QString::fromStdString(path));
    EXPECT_EQ(paths, expected);

    // Without a working folder a relative path names nothing for sure.
    EXPECT_EQ(InstanceMessage::absolutePaths({"rel", "/abs/./x"}, ""), std::vector<std::string>{"/abs/x"});
}

// The folder holds the socket only when it is this user's and nobody else may write to it.
bool privateFolder(const QString &folder)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(folder).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
}

TEST(InstanceMessage, TheSocketLivesInAFolderOnlyTheUserCanWriteTo)
{
    QTemporaryDir dir;
    ScopedEnv tmp("TMPDIR", QFile::encodeName(dir.path()));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    {
        // The desktop's runtime folder, made when missing.
        ScopedEnv xdg("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        EXPECT_EQ(QString::fromStdString(InstanceMessage::runtimeFolder()), runtime);
        EXPECT_TRUE(privateFolder(runtime));
        // A socket for each data folder's lock, in that folder.
        const std::string first =
            InstanceMessage::socketPathFor("/home/a/.local/share/Roadloom/roadloom.lock");
        const std::string second =
            InstanceMessage::socketPathFor("/home/b/.local/share/Roadloom/roadloom.lock");
        EXPECT_EQ(QFileInfo(QString::fromStdString(first)).path(), runtime);
        EXPECT_TRUE(QString::fromStdString(first).endsWith(QStringLiteral(".socket")));
        EXPECT_NE(first, second);
        EXPECT_EQ(first, InstanceMessage::socketPathFor("/home/a/.local/share/Roadloom/roadloom.lock"));
    }
    const QString perUser = QStringLiteral("/run/user/%1").arg(::geteuid());
    const QString own = dir.filePath(QStringLiteral("roadloom-runtime-%1").arg(::geteuid()));
    const QString fallback = privateFolder(perUser) ? perUser : own;
    // One others may write to, a relative one or none at all is passed over.
    ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0777), 0);
    for (const QByteArray &value : {QFile::encodeName(runtime), QByteArray("relative"), QByteArray()}) {
        ScopedEnv xdg("XDG_RUNTIME_DIR", value);
        EXPECT_EQ(QString::fromStdString(InstanceMessage::runtimeFolder()), fallback) << value.data();
        EXPECT_TRUE(privateFolder(fallback));
    }
    if (privateFolder(perUser))
        return;
    // A link planted where our own folder goes leads nowhere.
    ScopedEnv xdg("XDG_RUNTIME_DIR", QByteArray());
    ASSERT_TRUE(QDir(own).removeRecursively());
    ASSERT_TRUE(QFile::link(runtime, own));
    EXPECT_EQ(InstanceMessage::runtimeFolder(), "");
    EXPECT_EQ(InstanceMessage::socketPathFor("/home/a/.local/share/Roadloom/roadloom.lock"), "");
}

// A runtime folder reached through a link is passed over, whoever owns the link's target: a link can be
// re-pointed after the check, and launches would then hand their paths to someone else's socket. So is one
// inside a folder others may write to, where the folder itself can be swapped for a link.
TEST(InstanceMessage, ARuntimeFolderReachedThroughALinkIsPassedOver)
{
    QTemporaryDir dir;
    ScopedEnv tmp("TMPDIR", QFile::encodeName(dir.path()));
    const auto folder = [&](const QString &name, mode_t mode) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(QDir().mkpath(path));
        EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
        return path;
    };
    const auto link = [&](const QString &target, const QString &name) {
        const QString path = dir.filePath(name);
        QFile::remove(path);
        EXPECT_TRUE(QFile::link(target, path));
        return path;
    };
    const QString mine = folder("mine", 0700), decoy = folder("decoy", 0700);
    const QString theirs = folder("theirs", 0700);
    // Another user's, where the test may give it away.
    if (::geteuid() == 0) {
        EXPECT_EQ(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    }
    folder("parent/runtime", 0700);
    folder("open/runtime", 0700);
    ::chmod(QFile::encodeName(dir.filePath("open")).constData(), 0777);

    const QString perUser = QStringLiteral("/run/user/%1").arg(::geteuid());
    const QString fallback = privateFolder(perUser)
                                 ? perUser
                                 : dir.filePath(QStringLiteral("roadloom-runtime-%1").arg(::geteuid()));
    const QString passedOver[] = {
        link(mine, "to-mine"),
        link(theirs, "to-theirs"),
        link(dir.filePath("parent"), "to-parent") + "/runtime", // a link higher up
        dir.filePath("open/runtime"),
    };
    const std::string lock = "/home/a/.local/share/Roadloom/roadloom.lock";
    for (const QString &runtime : passedOver) {
        ScopedEnv xdg("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        EXPECT_EQ(QString::fromStdString(InstanceMessage::runtimeFolder()), fallback)
            << runtime.toStdString();
        EXPECT_EQ(QFileInfo(QString::fromStdString(InstanceMessage::socketPathFor(lock))).path(), fallback);
    }

    // A link re-pointed at someone else's socket after the instance listens takes no launch there.
    ScopedEnv xdg("XDG_RUNTIME_DIR", QFile::encodeName(link(mine, "moving")));
    const std::string socket = InstanceMessage::socketPathFor(lock);
    const UniqueFd listening = InstanceMessage::listen(socket);
    ASSERT_TRUE(listening);
    link(decoy, "moving");
    const std::string name = socket.substr(socket.rfind('/'));
    const UniqueFd other = InstanceMessage::listen(QFile::encodeName(decoy).toStdString() + name);
    ASSERT_TRUE(other);
    EXPECT_EQ(InstanceMessage::send(InstanceMessage::socketPathFor(lock), "paths", 100),
              InstanceMessage::Delivery::unanswered); // nobody answers
    EXPECT_GE(UniqueFd(::accept(listening.get(), nullptr, nullptr)).get(), 0);
    EXPECT_LT(UniqueFd(::accept(other.get(), nullptr, nullptr)).get(), 0);
    InstanceMessage::remove(socket);
}

} // namespace
