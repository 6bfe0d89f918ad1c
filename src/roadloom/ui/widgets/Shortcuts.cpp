#include "roadloom/ui/widgets/Shortcuts.h"

QKeySequence Shortcuts::key(Command command)
{
    // Standard keys are not used: some desktops leave Quit and Preferences without one.
    switch (command) {
    case Command::openFolder:
        return QKeySequence(Qt::CTRL | Qt::Key_O);
    case Command::openFiles:
        return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O);
    case Command::saveOriginals:
        return QKeySequence(Qt::CTRL | Qt::Key_S);
    case Command::exportClip:
        return QKeySequence(Qt::CTRL | Qt::Key_E);
    case Command::saveSnapshot:
        return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    case Command::copyFrame:
        return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C);
    case Command::moveToTrash:
        return QKeySequence(Qt::Key_Delete);
    case Command::printFrame:
        return QKeySequence(Qt::CTRL | Qt::Key_P);
    case Command::playPause:
        return QKeySequence(Qt::Key_Space);
    case Command::skipBackward:
        return QKeySequence(Qt::Key_Left);
    case Command::skipForward:
        return QKeySequence(Qt::Key_Right);
    case Command::previousFrame:
        return QKeySequence(Qt::Key_Comma);
    case Command::nextFrame:
        return QKeySequence(Qt::Key_Period);
    case Command::previousRecording:
        return QKeySequence(Qt::CTRL | Qt::Key_Up);
    case Command::nextRecording:
        return QKeySequence(Qt::CTRL | Qt::Key_Down);
    case Command::mute:
        return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M);
    case Command::swapCameras:
        // Desktops open a terminal on Ctrl+Alt+T.
        return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T);
    case Command::pictureInPicture:
        return QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P);
    case Command::zoomIn:
        return QKeySequence(Qt::CTRL | Qt::Key_Equal);
    case Command::zoomOut:
        return QKeySequence(Qt::CTRL | Qt::Key_Minus);
    case Command::actualSize:
        return QKeySequence(Qt::CTRL | Qt::Key_0);
    case Command::rotate:
        return QKeySequence(Qt::CTRL | Qt::Key_R);
    case Command::mirror:
        return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R);
    case Command::theaterMode:
        return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F);
    case Command::clipInspector:
        return QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_I);
    case Command::fullScreen:
        return QKeySequence(Qt::Key_F11);
    case Command::deviceSettings:
        return QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D);
    case Command::settings:
        return QKeySequence(Qt::CTRL | Qt::Key_Comma);
    case Command::quit:
        return QKeySequence(Qt::CTRL | Qt::Key_Q);
    case Command::mainWindow:
        return QKeySequence(Qt::CTRL | Qt::Key_1);
    case Command::closeWindow:
        return QKeySequence(Qt::CTRL | Qt::Key_W);
    }
    return QKeySequence();
}

QList<QKeySequence> Shortcuts::keys(Command command)
{
    QList<QKeySequence> list{key(command)};
    if (command == Command::zoomIn)
        list.append(QKeySequence(Qt::CTRL | Qt::Key_Plus));
    return list;
}

QString Shortcuts::tooltip(const QString &text, Command command)
{
    const QKeySequence sequence = key(command);
    if (sequence.isEmpty())
        return text;
    return text + QStringLiteral(" (") + sequence.toString(QKeySequence::NativeText) + QLatin1Char(')');
}
