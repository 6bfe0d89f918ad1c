#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>

class PlayerController;
class QKeyEvent;

// The playback keys of the main window: arrows seek 5 s (1 s with Shift), Space plays or pauses, comma and
// period step a frame. They act only while the main window is active, a recording is loaded and the focused
// object takes no text; then the key is consumed.
class PlaybackKeys : public QObject {
    Q_OBJECT
public:
    // Watches every key the application receives.
    explicit PlaybackKeys(PlayerController &player);
    ~PlaybackKeys() override;

    // None registered: the keys never act.
    void setMainWindow(QWindow *window) { m_mainWindow = window; }
    QWindow *mainWindow() const { return m_mainWindow; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool handleKey(QObject *receiver, QKeyEvent *event);

    PlayerController &m_player;
    QPointer<QWindow> m_mainWindow;
};
