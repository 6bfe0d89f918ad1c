#pragma once

// What the journey's steps share: the real program built once in a private home, the generated camera card
// copied there, and the ways a user reaches the windows (clicks, keys, the file dialogs, message boxes).
#include "fixtures/TileServer.h"
#include "roadcore/DashClip.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class AppActions;
class AppModel;
class AppServices;
class ClipListView;
class DetailView;
class MainWindow;
class QAction;
class QWidget;
class RoadloomApp;
class SidebarView;

namespace Journey {

struct Program {
    QString home;
    QString card;     // the card's folder as the user has it
    QString original; // the generated card, never changed
    TileServer tiles;
    std::unique_ptr<AppServices> services;
    AppModel *model = nullptr; // kept for the whole run, as the program keeps it
    std::unique_ptr<RoadloomApp> app;
    QPointer<MainWindow> window;
};

// The program, once built by the first step; none before.
Program *program();
// Builds the object graph as the executable's main does, then opens `paths` once the window shows.
Program &start(const QStringList &paths);

AppActions *actions();
QAction *action(const QString &name);
SidebarView *sidebar();
ClipListView *clipList();
DetailView *detail();

// The listed recording whose name holds `name`; none when not listed.
std::optional<DashClip> listed(const QString &name);
// Clicks the source's row in the sidebar.
bool clickSource(const QString &name);
// Clicks the recording's row in the clip list.
bool clickRecording(const QString &name);
// The recording's name in the clip list's rows, top to bottom (day headers as "# TITLE").
QStringList listedRows();

// Answers the next file dialog with `path` (typed into its name field) once it shows; false when none
// showed within the time.
void answerFileDialog(const QString &path);
// Clicks the button of that text in the next message box.
void answerMessageBox(const QString &button);
// Whether every answer given was taken.
bool answersTaken();

// The main window at 1440 x 900 as the screen shows it, with any window above it (sheets, the device
// settings); written into the build tree's screenshot folder as NAME.png.
QImage screenshot(const QString &name);
// The screen's pixels under a widget, in the widget's coordinates.
QImage grab(QWidget *widget);

// Frame numbers burnt into the card's pictures: eight bars along the top left, bit 7 at the left. `picture`
// is where the video's picture lies on the image; none when the bars are unreadable.
std::optional<int> frameNumber(const QImage &image, const QRectF &picture);

// Copies a folder tree.
bool copyTree(const QString &from, const QString &to);
// Bytes of a whole file.
QByteArray bytes(const QString &path);
// Waits for `ms` of the event loop.
void pass(int ms);
// Spins the event loop until the predicate holds; false after the time.
bool until(const std::function<bool()> &predicate, int timeoutMs = 20000);

} // namespace Journey
