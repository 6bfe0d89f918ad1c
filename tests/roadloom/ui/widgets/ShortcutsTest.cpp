#include "roadloom/ui/widgets/Shortcuts.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QMap>
#include <QMetaEnum>

using Shortcuts::Command;

namespace {

// Every command the enumeration has, a new one included.
QList<Command> allCommands()
{
    const QMetaEnum commands = QMetaEnum::fromType<Command>();
    QList<Command> list;
    for (int i = 0; i < commands.keyCount(); ++i)
        list.append(Command(commands.value(i)));
    return list;
}

} // namespace

TEST(ShortcutsTest, CommandKeysAreTheDesktopsSpellingOfTheMenuKeys)
{
    const QList<std::pair<Command, QString>> cases = {
        {Command::openFolder, "Ctrl+O"},
        {Command::openFiles, "Ctrl+Shift+O"},
        {Command::saveOriginals, "Ctrl+S"},
        {Command::exportClip, "Ctrl+E"},
        {Command::saveSnapshot, "Ctrl+Shift+S"},
        {Command::copyFrame, "Ctrl+Shift+C"},
        {Command::moveToTrash, "Del"},
        {Command::printFrame, "Ctrl+P"},
        {Command::playPause, "Space"},
        {Command::previousRecording, "Ctrl+Up"},
        {Command::nextRecording, "Ctrl+Down"},
        {Command::mute, "Ctrl+Shift+M"},
        {Command::swapCameras, "Ctrl+Shift+T"},
        {Command::pictureInPicture, "Ctrl+Alt+P"},
        {Command::zoomIn, "Ctrl+="},
        {Command::zoomOut, "Ctrl+-"},
        {Command::actualSize, "Ctrl+0"},
        {Command::rotate, "Ctrl+R"},
        {Command::mirror, "Ctrl+Shift+R"},
        {Command::theaterMode, "Ctrl+Shift+F"},
        {Command::clipInspector, "Ctrl+Alt+I"},
        {Command::deviceSettings, "Ctrl+Alt+D"},
        {Command::settings, "Ctrl+,"},
        {Command::quit, "Ctrl+Q"},
        {Command::mainWindow, "Ctrl+1"},
        {Command::closeWindow, "Ctrl+W"},
        {Command::fullScreen, "F11"},
        {Command::previousFrame, ","},
        {Command::nextFrame, "."},
        {Command::skipBackward, "Left"},
        {Command::skipForward, "Right"},
    };
    for (const auto &[command, expected] : cases) {
        SCOPED_TRACE(expected.toStdString());
        EXPECT_EQ(Shortcuts::key(command).toString(QKeySequence::PortableText), expected);
        EXPECT_EQ(Shortcuts::keys(command).first(), Shortcuts::key(command));
    }
    EXPECT_EQ(Shortcuts::keys(Command::zoomIn).size(), 2);
    // A new command gets its key checked here too.
    for (Command command : allCommands())
        EXPECT_TRUE(
            std::any_of(cases.begin(), cases.end(), [&](const auto &c) { return c.first == command; }))
            << QMetaEnum::fromType<Command>().valueToKey(int(command)) << " has no expected key";
}

TEST(ShortcutsTest, NoTwoCommandsShareAKey)
{
    const QList<Command> commands = allCommands();
    ASSERT_GE(commands.size(), 30); // the meta-object lists them
    QMap<QString, int> seen;
    for (Command command : commands) {
        for (const QKeySequence &key : Shortcuts::keys(command)) {
            ASSERT_FALSE(key.isEmpty());
            const QString text = key.toString(QKeySequence::PortableText);
            EXPECT_FALSE(seen.contains(text)) << text.toStdString() << " is taken twice";
            seen.insert(text, int(command));
        }
    }
}

TEST(ShortcutsTest, HelpTextsNameTheKeyInTheDesktopsWords)
{
    EXPECT_EQ(Shortcuts::tooltip("Play / Pause", Command::playPause), "Play / Pause (Space)");
    EXPECT_EQ(Shortcuts::tooltip("Next recording", Command::nextRecording),
              "Next recording (" + QKeySequence(Qt::CTRL | Qt::Key_Down).toString(QKeySequence::NativeText) +
                  ")");
    EXPECT_EQ(Shortcuts::tooltip("Previous frame", Command::previousFrame), "Previous frame (,)");
    EXPECT_EQ(Shortcuts::tooltip("Theater mode", Command::theaterMode),
              "Theater mode (" + QKeySequence("Ctrl+Shift+F").toString(QKeySequence::NativeText) + ")");
}
