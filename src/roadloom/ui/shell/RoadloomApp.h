#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class AppModel;
class MainWindow;
class SingleInstance;

// Owns the application's windows: the main window ("main"), the device settings ("device-settings") and
// the settings ("settings"). Each is made once, on first opening, and brought forward when opened again.
// Every way of quitting (the last window closing, the Quit command) asks the registered guards first.
class RoadloomApp : public QObject {
    Q_OBJECT
public:
    using WindowFactory = std::function<QWidget *(RoadloomApp &app)>;
    // Answers false to keep the application running (an unsaved document, a running export).
    using QuitGuard = std::function<bool()>;

    static const QString mainID;
    static const QString deviceSettingsID;
    static const QString settingsID;

    explicit RoadloomApp(AppModel &model, QObject *parent = nullptr);
    ~RoadloomApp() override;

    AppModel &model() const { return m_model; }

    // Replaces how the window of that id is made; takes effect when it is first opened.
    void registerWindow(const QString &id, WindowFactory factory);
    // Makes the window once, shows it and brings it forward; none for an unknown id.
    QWidget *openWindow(const QString &id);
    // Closes a window from the keyboard. Device Settings asks first about unsaved edits, as a quit does, and
    // drops them when the user agrees; Cancel keeps the window and the edits.
    void closeWindow(QWidget &window);
    // The window of that id when it was made (shown or not).
    QWidget *window(const QString &id) const;
    MainWindow *mainWindow() const;

    void addQuitGuard(QuitGuard guard);
    // Asks every guard; when all agree, closes the windows and announces `quitting`. True when quitting.
    bool requestQuit();

    // Paths handed over by another launch or given on the command line: the main window comes forward and
    // the library opens them all at once, as a drop does.
    void openPaths(const QStringList &paths);
    // Opens what later launches hand to the instance until quitting; from then on the instance refuses
    // them, so that a launch waits and takes over rather than handing its paths to an application that
    // will never open them.
    void serve(SingleInstance &instance);

signals:
    // All guards agreed and the windows are closed: the event loop should end.
    void quitting();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool anotherWindowOpen(QObject *closing) const;
    // Whether the window may close.
    bool windowClosing(QObject *window);

    AppModel &m_model;
    QHash<QString, WindowFactory> m_factories;
    QHash<QString, QPointer<QWidget>> m_windows;
    QList<QuitGuard> m_guards;
    bool m_quitting = false;
};
