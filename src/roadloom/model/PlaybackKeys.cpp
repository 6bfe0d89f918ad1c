#include "roadloom/model/PlaybackKeys.h"

#include "roadloom/model/PlayerController.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>

namespace {

// Classes whose instances edit text: typed keys belong to them. Asked by name, since the model links no
// widgets. Item views are left out on purpose although they take input methods for their type-ahead search:
// the list keeps letters and digits for that search and gives up Space, comma, period and the side arrows.
constexpr const char *textEditors[] = {"QLineEdit", "QTextEdit", "QPlainTextEdit", "QAbstractSpinBox"};

// A text field, text view, spin box or editable combo box has the keyboard.
bool takesText(QObject *object)
{
    if (!object)
        return false;
    // A read-only field shows text; the keys still play.
    if (object->property("readOnly").toBool())
        return false;
    if (object->inherits("QComboBox"))
        return object->property("editable").toBool();
    for (const char *name : textEditors)
        if (object->inherits(name))
            return true;
    return false;
}

} // namespace

PlaybackKeys::PlaybackKeys(PlayerController &player) : m_player(player)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

PlaybackKeys::~PlaybackKeys()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool PlaybackKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress)
        return handleKey(watched, static_cast<QKeyEvent *>(event));
    return QObject::eventFilter(watched, event);
}

bool PlaybackKeys::handleKey(QObject *receiver, QKeyEvent *event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    // The main window's title follows the loaded recording, so the window itself is what counts.
    if (!m_mainWindow || QGuiApplication::focusWindow() != m_mainWindow)
        return false;
    // Act once, where the key reaches the focused object: not on its way through the window, and not
    // in a popup menu that took the keyboard.
    QObject *focus = QGuiApplication::focusObject();
    if (receiver != focus || takesText(focus))
        return false;
    if (!m_player.hasMedia())
        return false;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Right:
        m_player.seek(m_player.currentTime() + (shift ? 1 : 5));
        return true;
    case Qt::Key_Left:
        m_player.seek(m_player.currentTime() - (shift ? 1 : 5));
        return true;
    case Qt::Key_Space:
        m_player.togglePlay();
        return true;
    default:
        break;
    }
    if (event->key() == Qt::Key_Comma || event->text() == QLatin1String(",")) {
        m_player.step(-1);
        return true;
    }
    if (event->key() == Qt::Key_Period || event->text() == QLatin1String(".")) {
        m_player.step(1);
        return true;
    }
    return false;
}
