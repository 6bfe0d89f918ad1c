#include "roadloom/ui/shell/AppActions.h"

#include "platform/Panels.h"
#include "roadcore/LibraryScanner.h"
#include "roadcore/TelemetryExporter.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/PlaybackRates.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/shell/RoadloomApp.h"
#include "roadloom/ui/widgets/Symbols.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>

using Shortcuts::Command;

const QString AppActions::openFolderTitle = QStringLiteral("Open Dashcam Folder or SD Card");
const QString AppActions::playbackKeysText = QStringLiteral("Space · ← → skip 5 s · , . step frame");

namespace {

// A name filter for these extensions, each in lower and upper case: cameras write upper-case names, and not
// every file dialog ignores case.
QString filterFor(const QString &title, QStringList extensions)
{
    std::sort(extensions.begin(), extensions.end());
    QStringList patterns;
    for (const QString &extension : std::as_const(extensions))
        patterns << QStringLiteral("*.") + extension;
    for (const QString &extension : std::as_const(extensions))
        patterns << QStringLiteral("*.") + extension.toUpper();
    return QStringLiteral("%1 (%2)").arg(title, patterns.join(QLatin1Char(' ')));
}

} // namespace

// Name filters rather than MIME types: the single types then stay the same without a MIME database.
const QStringList AppActions::movieTypes = {
    videoFilter(), filterFor(QStringLiteral("MPEG-4 video"), {QStringLiteral("mp4"), QStringLiteral("m4v")}),
    filterFor(QStringLiteral("QuickTime video"), {QStringLiteral("mov")}),
    filterFor(QStringLiteral("AVI video"), {QStringLiteral("avi")})};

QString AppActions::videoFilter()
{
    return filterFor(QStringLiteral("Videos"), LibraryScanner::videoExtensions().values());
}

namespace {

const QString theaterOnSymbol = QStringLiteral("rectangle.inset.filled");
const QString theaterOffSymbol = QStringLiteral("rectangle.split.3x1");

} // namespace

AppActions::AppActions(RoadloomApp &app, QMainWindow &window)
    : QObject(&window), m_app(app), m_model(app.model()), m_window(window)
{
    buildFileMenu();
    buildViewMenu();
    buildPlaybackMenu();
    buildDeviceMenu();
    buildToolBar();

    PlayerController &player = m_model.player();
    connect(&player, &PlayerController::clipChanged, this, &AppActions::followLoad);
    connect(&player, &PlayerController::hasMediaChanged, this, &AppActions::followLoad);
    connect(&player, &PlayerController::hasRearChanged, this, &AppActions::followLoad);
    connect(&player, &PlayerController::isPlayingChanged, this, &AppActions::followPlaying);
    connect(&player, &PlayerController::rateChanged, this, &AppActions::followRate);
    connect(&m_model, &AppModel::theaterModeChanged, this, &AppActions::followTheater);
    followLoad();
    followPlaying(player.isPlaying());
    followRate(player.rate());
    followTheater(m_model.theaterMode());

    // Full Screen shows the window's state however it was reached.
    m_window.installEventFilter(this);
}

AppActions::~AppActions() = default;

QMenuBar *AppActions::menuBar() const
{
    return m_window.menuBar();
}

QAction *AppActions::action(const QString &name) const
{
    for (QAction *each : m_actions)
        if (each->objectName() == name)
            return each;
    return nullptr;
}

QList<QAction *> AppActions::actions() const
{
    return m_actions;
}

QAction *AppActions::make(const QString &name, const QString &text, std::optional<Command> command)
{
    auto *made = new QAction(text, this);
    made->setObjectName(name);
    if (command) {
        made->setShortcuts(Shortcuts::keys(*command));
        // The other windows carry Quit and Settings keys of their own: one key, one action in each window.
        made->setShortcutContext(Qt::WindowShortcut);
        // Also on the window itself, so the keys act while the menu bar is hidden.
        m_window.addAction(made);
    }
    m_actions.append(made);
    return made;
}

QAction *AppActions::makeButton(const QString &name, const QString &text, const QString &symbol,
                                const QString &help, std::optional<Command> command)
{
    QAction *made = make(name, text);
    made->setIcon(Symbols::icon(symbol));
    // The button names the key the menu gives; it has none of its own.
    made->setToolTip(command ? Shortcuts::tooltip(help, *command) : help);
    return made;
}

template <typename Setter> void AppActions::bindToggle(QAction *action, bool value, Setter write)
{
    action->setCheckable(true);
    action->setChecked(value);
    connect(action, &QAction::triggered, this, write); // only the user's choice writes
}

// Menus

void AppActions::buildFileMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("&File"));
    menu->setObjectName(QStringLiteral("fileMenu"));

    connect(
        make(QStringLiteral("openFolder"), QStringLiteral("Open Folder or SD Card…"), Command::openFolder),
        &QAction::triggered, this, &AppActions::openFolder);
    connect(make(QStringLiteral("openFiles"), QStringLiteral("Open Files…"), Command::openFiles),
            &QAction::triggered, this, &AppActions::openFiles);
    menu->addAction(action(QStringLiteral("openFolder")));
    menu->addAction(action(QStringLiteral("openFiles")));
    menu->addSeparator();

    QAction *originals =
        make(QStringLiteral("saveOriginals"), QStringLiteral("Save Original Files…"), Command::saveOriginals);
    connect(originals, &QAction::triggered, this, [this] { m_model.saveOriginals(); });
    menu->addAction(originals);
    m_needClip.append(originals);

    QAction *exportClip =
        make(QStringLiteral("exportClip"), QStringLiteral("Export Clip…"), Command::exportClip);
    connect(exportClip, &QAction::triggered, this, [this] { m_model.setShowExportSheet(true); });
    menu->addAction(exportClip);
    m_needMedia.append(exportClip);

    QMenu *telemetry = menu->addMenu(QStringLiteral("Export Telemetry"));
    telemetry->menuAction()->setObjectName(QStringLiteral("exportTelemetry"));
    m_actions.append(telemetry->menuAction());
    m_needClip.append(telemetry->menuAction());
    telemetryItems(telemetry, QStringLiteral("exportTelemetry-"));
    menu->addSeparator();

    QAction *snapshot =
        make(QStringLiteral("saveSnapshot"), QStringLiteral("Save Snapshot"), Command::saveSnapshot);
    connect(snapshot, &QAction::triggered, this, [this] { m_model.snapshot(); });
    QAction *copy = make(QStringLiteral("copyFrame"), QStringLiteral("Copy Frame"), Command::copyFrame);
    connect(copy, &QAction::triggered, this, [this] { m_model.copyFrame(); });
    menu->addAction(snapshot);
    menu->addAction(copy);
    m_needMedia.append({snapshot, copy});
    menu->addSeparator();

    QAction *trash =
        make(QStringLiteral("moveToTrash"), QStringLiteral("Move to Trash"), Command::moveToTrash);
    connect(trash, &QAction::triggered, this, &AppActions::moveToTrash);
    // Delete acts only on the recording in view: where the list or the player has the keyboard.
    if (auto *main = qobject_cast<MainWindow *>(&m_window)) {
        m_window.removeAction(trash);
        trash->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        main->addRecordingAction(trash);
    }
    menu->addAction(trash);
    m_needClip.append(trash);
    menu->addSeparator();

    QAction *print = make(QStringLiteral("printFrame"), QStringLiteral("Print Frame…"), Command::printFrame);
    connect(print, &QAction::triggered, this, [this] { m_model.printFrame(); });
    menu->addAction(print);
    m_needMedia.append(print);
    menu->addSeparator();

    QAction *settings = make(QStringLiteral("settings"), QStringLiteral("Settings…"), Command::settings);
    settings->setMenuRole(QAction::PreferencesRole);
    connect(settings, &QAction::triggered, this, [this] { m_app.openWindow(RoadloomApp::settingsID); });
    menu->addAction(settings);
    menu->addSeparator();

    QAction *quit = make(QStringLiteral("quit"), QStringLiteral("Quit"), Command::quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] { m_app.requestQuit(); });
    menu->addAction(quit);
}

QMenu *AppActions::telemetryItems(QMenu *menu, const QString &prefix)
{
    for (TelemetryFormat format : allTelemetryFormats) {
        QAction *item = make(prefix + rawValue(format), title(format) + QStringLiteral("…"));
        // Returns at once; the model reports by toast.
        connect(item, &QAction::triggered, this, [this, format] { m_model.exportTelemetry(format); });
        menu->addAction(item);
    }
    return menu;
}

void AppActions::buildViewMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("&View"));
    menu->setObjectName(QStringLiteral("viewMenu"));
    PlayerController &player = m_model.player();

    QAction *swap = make(QStringLiteral("swapCameras"), QStringLiteral("Swap Cameras"), Command::swapCameras);
    connect(swap, &QAction::triggered, this, [&player] { player.setSwapped(!player.swapped()); });
    menu->addAction(swap);
    m_needRear.append(swap);

    QAction *pip = make(QStringLiteral("pictureInPicture"), QStringLiteral("Picture in Picture"),
                        Command::pictureInPicture);
    bindToggle(pip, player.showPiP(), [&player](bool on) { player.setShowPiP(on); });
    connect(&player, &PlayerController::showPiPChanged, pip, [pip](bool on) {
        const QSignalBlocker block(pip);
        pip->setChecked(on);
    });
    menu->addAction(pip);
    menu->addSeparator();

    QAction *zoomIn = make(QStringLiteral("zoomIn"), QStringLiteral("Zoom In"), Command::zoomIn);
    connect(zoomIn, &QAction::triggered, &player, &PlayerController::zoomIn);
    QAction *zoomOut = make(QStringLiteral("zoomOut"), QStringLiteral("Zoom Out"), Command::zoomOut);
    connect(zoomOut, &QAction::triggered, &player, &PlayerController::zoomOut);
    QAction *actual = make(QStringLiteral("actualSize"), QStringLiteral("Actual Size"), Command::actualSize);
    connect(actual, &QAction::triggered, &player, &PlayerController::resetView);
    QAction *rotate = make(QStringLiteral("rotate"), QStringLiteral("Rotate 90°"), Command::rotate);
    connect(rotate, &QAction::triggered, this, &AppActions::rotate);
    QAction *mirror = make(QStringLiteral("mirror"), QStringLiteral("Mirror"), Command::mirror);
    connect(mirror, &QAction::triggered, this, [&player] { player.setMirrored(!player.mirrored()); });
    menu->addActions({zoomIn, zoomOut, actual, rotate, mirror});
    menu->addSeparator();

    QAction *theater =
        make(QStringLiteral("theaterMode"), QStringLiteral("Theater Mode"), Command::theaterMode);
    bindToggle(theater, m_model.theaterMode(), [this](bool on) { m_model.setTheaterMode(on); });
    m_theater.append(theater);
    QAction *inspector =
        make(QStringLiteral("clipInspector"), QStringLiteral("Clip Inspector"), Command::clipInspector);
    bindToggle(inspector, m_model.showInspector(), [this](bool on) { m_model.setShowInspector(on); });
    connect(&m_model, &AppModel::showInspectorChanged, this, [this](bool on) {
        for (const QString &name : {QStringLiteral("clipInspector"), QStringLiteral("toolbarInspector")})
            if (QAction *each = action(name)) {
                const QSignalBlocker block(each);
                each->setChecked(on);
            }
    });
    menu->addActions({theater, inspector});
    menu->addSeparator();

    QAction *fullScreen =
        make(QStringLiteral("fullScreen"), QStringLiteral("Full Screen"), Command::fullScreen);
    fullScreen->setCheckable(true);
    fullScreen->setChecked(m_window.isFullScreen());
    connect(fullScreen, &QAction::triggered, this, &AppActions::toggleFullScreen);
    menu->addAction(fullScreen);
}

void AppActions::buildPlaybackMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("&Playback"));
    menu->setObjectName(QStringLiteral("playbackMenu"));
    PlayerController &player = m_model.player();

    // Space and the arrow keys belong to the model's key handling; this item has no key of its own.
    QAction *playPause = make(QStringLiteral("playPause"), QStringLiteral("Play"));
    connect(playPause, &QAction::triggered, &player, &PlayerController::togglePlay);
    menu->addAction(playPause);
    m_needMedia.append(playPause);
    QAction *keys = make(QStringLiteral("playbackKeys"), playbackKeysText);
    keys->setEnabled(false);
    menu->addAction(keys);
    menu->addSeparator();

    QAction *previous = make(QStringLiteral("previousRecording"), QStringLiteral("Previous Recording"),
                             Command::previousRecording);
    connect(previous, &QAction::triggered, this, [this] { m_model.goToClip(-1); });
    QAction *next =
        make(QStringLiteral("nextRecording"), QStringLiteral("Next Recording"), Command::nextRecording);
    connect(next, &QAction::triggered, this, [this] { m_model.goToClip(1); });
    menu->addActions({previous, next});
    menu->addSeparator();

    QMenu *speed = menu->addMenu(QStringLiteral("Speed"));
    speed->menuAction()->setObjectName(QStringLiteral("speed"));
    m_actions.append(speed->menuAction());
    m_speed = new QActionGroup(this);
    // A rate set elsewhere that is not offered checks nothing.
    m_speed->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (float rate : PlaybackRates::all) {
        QAction *item = make(QStringLiteral("speed-") + QString::number(rate), PlaybackRates::label(rate));
        item->setCheckable(true);
        item->setData(rate);
        m_speed->addAction(item);
        speed->addAction(item);
        connect(item, &QAction::triggered, this, [this, rate] {
            m_model.player().setRate(rate);
            // Choosing the checked item again keeps it checked.
            followRate(m_model.player().rate());
        });
    }

    QAction *mute = make(QStringLiteral("mute"), QStringLiteral("Mute"), Command::mute);
    bindToggle(mute, player.isMuted(), [&player](bool on) { player.setMuted(on); });
    connect(&player, &PlayerController::isMutedChanged, mute, [mute](bool on) {
        const QSignalBlocker block(mute);
        mute->setChecked(on);
    });
    menu->addAction(mute);
}

void AppActions::buildDeviceMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("&Device"));
    menu->setObjectName(QStringLiteral("deviceMenu"));
    QAction *settings =
        make(QStringLiteral("deviceSettings"), QStringLiteral("Device Settings…"), Command::deviceSettings);
    connect(settings, &QAction::triggered, this, &AppActions::openDeviceSettings);
    QAction *refresh = make(QStringLiteral("refreshCards"), QStringLiteral("Refresh SD Cards"));
    connect(refresh, &QAction::triggered, &m_model.library(), &LibraryStore::refreshDevices);
    menu->addActions({settings, refresh});
}

// Toolbar

void AppActions::buildToolBar()
{
    m_toolBar = new QToolBar(QStringLiteral("Toolbar"), &m_window);
    m_toolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_window.addToolBar(Qt::TopToolBarArea, m_toolBar);

    QAction *open = makeButton(QStringLiteral("toolbarOpen"), QStringLiteral("Open"), QStringLiteral("plus"),
                               QStringLiteral("Open a folder, SD card or video files"));
    auto *openMenu = new QMenu(&m_window);
    openMenu->setObjectName(QStringLiteral("toolbarOpenMenu"));
    QAction *folder = make(QStringLiteral("toolbarOpenFolder"), QStringLiteral("Open Folder or SD Card…"));
    folder->setIcon(Symbols::icon(QStringLiteral("folder")));
    connect(folder, &QAction::triggered, this, &AppActions::openFolder);
    QAction *files = make(QStringLiteral("toolbarOpenFiles"), QStringLiteral("Open Files…"));
    files->setIcon(Symbols::icon(QStringLiteral("film.stack")));
    connect(files, &QAction::triggered, this, &AppActions::openFiles);
    openMenu->addActions({folder, files});
    open->setMenu(openMenu);
    m_toolBar->addAction(open);

    auto *stretch = new QWidget(m_toolBar);
    stretch->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(stretch);

    QAction *snapshot =
        makeButton(QStringLiteral("toolbarSnapshot"), QStringLiteral("Snapshot"), QStringLiteral("camera"),
                   QStringLiteral("Save the current frame as PNG"), Command::saveSnapshot);
    connect(snapshot, &QAction::triggered, this, [this] { m_model.snapshot(); });
    QAction *print = makeButton(
        QStringLiteral("toolbarPrint"), QStringLiteral("Print"), QStringLiteral("printer"),
        QStringLiteral("Print the current frame with GPS and G-sensor details"), Command::printFrame);
    connect(print, &QAction::triggered, this, [this] { m_model.printFrame(); });
    m_needMedia.append({snapshot, print});

    QAction *exportButton = makeButton(QStringLiteral("toolbarExport"), QStringLiteral("Export"),
                                       QStringLiteral("square.and.arrow.up"),
                                       QStringLiteral("Export video or GPS / G-sensor data"));
    auto *exportMenu = new QMenu(&m_window);
    exportMenu->setObjectName(QStringLiteral("toolbarExportMenu"));
    QAction *exportClip = make(QStringLiteral("toolbarExportClip"), QStringLiteral("Export Clip…"));
    exportClip->setIcon(Symbols::icon(QStringLiteral("scissors")));
    connect(exportClip, &QAction::triggered, this, [this] { m_model.setShowExportSheet(true); });
    QAction *originals = make(QStringLiteral("toolbarSaveOriginals"), QStringLiteral("Save Original Files…"));
    originals->setIcon(Symbols::icon(QStringLiteral("square.and.arrow.down")));
    connect(originals, &QAction::triggered, this, [this] { m_model.saveOriginals(); });
    exportMenu->addActions({exportClip, originals});
    exportMenu->addSeparator();
    exportMenu->addSection(QStringLiteral("Telemetry"));
    telemetryItems(exportMenu, QStringLiteral("toolbarTelemetry-"));
    exportButton->setMenu(exportMenu);
    // The whole menu waits for a recording; Export Clip also for its media.
    m_needClip.append(exportButton);
    m_needMedia.append(exportClip);

    QAction *device = makeButton(QStringLiteral("toolbarDeviceSettings"), QStringLiteral("Device Settings"),
                                 QStringLiteral("gearshape.2"),
                                 QStringLiteral("Edit the dashcam's configuration on the SD card"),
                                 Command::deviceSettings);
    connect(device, &QAction::triggered, this, &AppActions::openDeviceSettings);

    QAction *theater = makeButton(QStringLiteral("toolbarTheater"), QStringLiteral("Theater"),
                                  theaterOffSymbol, QStringLiteral("Theater mode"), Command::theaterMode);
    bindToggle(theater, m_model.theaterMode(), [this](bool on) { m_model.setTheaterMode(on); });
    m_theater.append(theater);
    QAction *inspector =
        makeButton(QStringLiteral("toolbarInspector"), QStringLiteral("Inspector"),
                   QStringLiteral("info.circle"), QStringLiteral("Clip details"), Command::clipInspector);
    bindToggle(inspector, m_model.showInspector(), [this](bool on) { m_model.setShowInspector(on); });

    m_toolBar->addActions({snapshot, print, exportButton, device, theater, inspector});
    for (QAction *each : {open, snapshot, print, exportButton, device, theater, inspector}) {
        QWidget *button = m_toolBar->widgetForAction(each);
        button->setAccessibleName(each->text());
        button->setObjectName(each->objectName() + QStringLiteral("Button"));
        if (each->menu())
            static_cast<QToolButton *>(button)->setPopupMode(QToolButton::InstantPopup);
    }
}

// Operations

void AppActions::openFolder()
{
    if (const std::optional<QString> folder =
            m_model.panels().chooseFolder(openFolderTitle, QStringLiteral("Open")))
        m_model.library().addFolder(*folder);
}

void AppActions::openFiles()
{
    const QStringList files = m_model.panels().openFiles(movieTypes);
    if (!files.isEmpty())
        m_model.library().open(files);
}

void AppActions::moveToTrash()
{
    // The model asks before anything moves.
    if (const std::optional<DashClip> clip = m_model.player().clip())
        m_model.trash(*clip);
}

void AppActions::rotate()
{
    PlayerController &player = m_model.player();
    const double turned = std::fmod(player.rotation() + 90, 360);
    if (turned != player.rotation())
        player.setRotation(turned);
}

void AppActions::openDeviceSettings()
{
    // The window opens also when no configuration file was found: it then says so.
    m_model.openDeviceSettings();
    m_app.openWindow(RoadloomApp::deviceSettingsID);
}

void AppActions::toggleFullScreen()
{
    m_window.setWindowState(m_window.windowState() ^ Qt::WindowFullScreen);
}

// Following the model

void AppActions::followLoad()
{
    const PlayerController &player = m_model.player();
    const bool clip = player.clip().has_value();
    const bool media = player.hasMedia();
    for (QAction *each : std::as_const(m_needClip))
        each->setEnabled(clip);
    for (QAction *each : std::as_const(m_needMedia))
        each->setEnabled(media);
    for (QAction *each : std::as_const(m_needRear))
        each->setEnabled(player.hasRear());
}

void AppActions::followPlaying(bool playing)
{
    action(QStringLiteral("playPause"))->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void AppActions::followRate(double rate)
{
    // The offered rates are 32-bit values: compare as such, so 1.5 set as a double still matches.
    for (QAction *item : m_speed->actions()) {
        const QSignalBlocker block(item);
        item->setChecked(float(rate) == item->data().toFloat());
    }
}

void AppActions::followTheater(bool on)
{
    for (QAction *each : std::as_const(m_theater)) {
        const QSignalBlocker block(each);
        each->setChecked(on);
    }
    if (QAction *button = action(QStringLiteral("toolbarTheater")))
        button->setIcon(Symbols::icon(on ? theaterOnSymbol : theaterOffSymbol));
}

bool AppActions::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_window && event->type() == QEvent::WindowStateChange)
        if (QAction *fullScreen = action(QStringLiteral("fullScreen"))) {
            const QSignalBlocker block(fullScreen);
            fullScreen->setChecked(m_window.isFullScreen());
        }
    return QObject::eventFilter(watched, event);
}
