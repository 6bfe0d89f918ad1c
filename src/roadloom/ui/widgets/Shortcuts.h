#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>

// The keys of the menu commands and of the playback keys, in one place, so that menus, key handling and the
// help texts of buttons name the same keys.
namespace Shortcuts {
// The meta-object lists every command, so checks over all of them cannot miss a new one.
Q_NAMESPACE

enum class Command {
    openFolder,
    openFiles,
    saveOriginals,
    exportClip,
    saveSnapshot,
    copyFrame,
    moveToTrash,
    printFrame,
    playPause,
    skipBackward,
    skipForward,
    previousFrame,
    nextFrame,
    previousRecording,
    nextRecording,
    mute,
    swapCameras,
    pictureInPicture,
    zoomIn,
    zoomOut,
    actualSize,
    rotate,
    mirror,
    theaterMode,
    clipInspector,
    fullScreen,
    deviceSettings,
    settings,
    quit,
    mainWindow,
    closeWindow,
};
Q_ENUM_NS(Command)

// The command's key; empty for none.
QKeySequence key(Command command);
// The key and the others that do the same (Ctrl++ beside Ctrl+= for Zoom In); the first is the one shown.
QList<QKeySequence> keys(Command command);
// A help text naming the key as the desktop writes it: "Play / Pause (Space)", "Next recording (Ctrl+Down)";
// the text alone for a command without a key.
QString tooltip(const QString &text, Command command);

} // namespace Shortcuts
