#pragma once

#include <QObject>
#include <QString>

#include <optional>

class AppModel;

// What the main window does with the model's flags, kept apart from the window so that it runs without
// one: a change of the selected recording loads it into the player, once per turn of the event loop, with
// the autoplay flag taken (read and reset); a raised request for the device-settings window is announced
// and lowered. Lives as long as the main window.
class MainWindowReactions : public QObject {
    Q_OBJECT
public:
    // Loads the selection the model holds now, at the next turn of the event loop.
    explicit MainWindowReactions(AppModel &model, QObject *parent = nullptr);

signals:
    // Open (or bring forward) the device-settings window.
    void deviceSettingsRequested();

private:
    void scheduleLoad();
    void load();
    void configWindowRequested(bool request);

    AppModel &m_model;
    bool m_loadScheduled = false;
    bool m_loadedOnce = false;
    std::optional<QString> m_loadedID; // the selection of the last load
};
