#include "roadloom/ui/ShellHarness.h"

#include "fixtures/ModalDialogs.h"
#include "platform/gui/MessageAlerts.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/detail/TransportBar.h"
#include "roadloom/ui/library/ClipListView.h"
#include "roadloom/ui/library/SidebarView.h"
#include "roadloom/ui/shell/AppActions.h"
#include "roadloom/ui/widgets/Symbols.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QVBoxLayout>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

enum class Stage { nothing, loading, failed, loaded, twoCameras };

class AppActionsTest : public ShellTest {
protected:
    const DashClip a = recording("REC_A", at(1));
    const DashClip b = recording("REC_B", at(2));
    const DashClip c = recording("REC_C", at(3));
    const DashClip both = recording(
        "REC_D", at(4), {{Channel::front, "/card/REC_D_F.mp4"}, {Channel::rear, "/card/REC_D_R.mp4"}});
    MainWindow *window = nullptr;
    AppActions *actions = nullptr;

    void open(const QList<DashClip> &clips = {})
    {
        makeApp(clips.isEmpty() ? QList<DashClip>{a, b, c, both} : clips);
        window = &openMain();
        QApplication::setActiveWindow(window);
        actions = window->findChild<AppActions *>();
        ASSERT_NE(actions, nullptr);
        // The recording the library selects at start has gone to the player.
        ASSERT_TRUE(waitFor([&] { return !model->library().selectedClipID() || model->player().clip(); }));
    }
    // Selects the recording; the window loads it and the fake players hold it at the stage asked for.
    void reach(Stage stage, const std::optional<DashClip> &which = {})
    {
        if (stage == Stage::nothing) {
            model->library().setSelectedClipID(std::nullopt);
            ASSERT_TRUE(waitFor([&] { return !model->player().clip(); }));
            return;
        }
        const DashClip clip = which.value_or(stage == Stage::twoCameras ? both : b);
        model->library().setSelectedClipID(clip.id);
        ASSERT_TRUE(waitFor([&] {
            return model->player().clip() && model->player().clip()->id == clip.id && front().hasFile();
        }));
        if (stage == Stage::failed)
            front().fireFailure(QStringLiteral("The file is damaged."));
        if (stage == Stage::loaded || stage == Stage::twoCameras) {
            front().fireReady(facts());
            if (model->player().hasRear())
                rear().fireReady(facts());
            ASSERT_TRUE(waitFor([&] { return model->player().hasMedia(); }));
        }
    }
    QAction *act(const char *name) const
    {
        QAction *found = actions->action(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QWidget *to = nullptr)
    {
        QTest::keyClick(to ? to : window, Qt::Key(key), modifiers);
        QCoreApplication::processEvents();
    }
    // A menu as the user reads it: "Title  Keys", "-" for a divider, "Title ▸" for a submenu.
    static QStringList read(const QMenu *menu)
    {
        QStringList lines;
        for (const QAction *each : menu->actions()) {
            if (each->isSeparator())
                lines.append(each->text().isEmpty() ? QStringLiteral("-")
                                                    : QStringLiteral("# ") + each->text());
            else if (each->menu())
                lines.append(each->text() + QStringLiteral(" ▸"));
            else
                lines.append((each->text() + QStringLiteral("  ") +
                              each->shortcut().toString(QKeySequence::NativeText))
                                 .trimmed());
        }
        return lines;
    }
};

TEST_F(AppActionsTest, MenusReadInOrderWithTheirTitlesAndKeys)
{
    open();
    QStringList titles;
    for (const QAction *menu : window->menuBar()->actions())
        titles.append(menu->text());
    EXPECT_EQ(titles, QStringList({"&File", "&View", "&Playback", "&Device"}));
    const auto menu = [&](const char *name) { return window->findChild<QMenu *>(QString::fromLatin1(name)); };
    EXPECT_EQ(
        read(menu("fileMenu")),
        QStringList({"Open Folder or SD Card…  Ctrl+O", "Open Files…  Ctrl+Shift+O", "-",
                     "Save Original Files…  Ctrl+S", "Export Clip…  Ctrl+E", "Export Telemetry ▸", "-",
                     "Save Snapshot  Ctrl+Shift+S", "Copy Frame  Ctrl+Shift+C", "-", "Move to Trash  Del",
                     "-", "Print Frame…  Ctrl+P", "-", "Settings…  Ctrl+,", "-", "Quit  Ctrl+Q"}));
    EXPECT_EQ(read(act("exportTelemetry")->menu()),
              QStringList({"GPX Track…", "Google Earth KML…", "CSV Spreadsheet…", "SRT Subtitles…",
                           "Raw Data Log…"}));
    EXPECT_EQ(read(menu("viewMenu")),
              QStringList({"Swap Cameras  Ctrl+Shift+T", "Picture in Picture  Ctrl+Alt+P", "-",
                           "Zoom In  Ctrl+=", "Zoom Out  Ctrl+-", "Actual Size  Ctrl+0", "Rotate 90°  Ctrl+R",
                           "Mirror  Ctrl+Shift+R", "-", "Theater Mode  Ctrl+Shift+F",
                           "Clip Inspector  Ctrl+Alt+I", "-", "Full Screen  F11"}));
    EXPECT_EQ(
        read(menu("playbackMenu")),
        QStringList({"Play", "Space · ← → skip 5 s · , . step frame", "-", "Previous Recording  Ctrl+Up",
                     "Next Recording  Ctrl+Down", "-", "Speed ▸", "Mute  Ctrl+Shift+M"}));
    EXPECT_EQ(read(act("speed")->menu()), QStringList({"0.25×", "0.5×", "Normal", "1.5×", "2×", "4×"}));
    EXPECT_EQ(read(menu("deviceMenu")), QStringList({"Device Settings…  Ctrl+Alt+D", "Refresh SD Cards"}));
    EXPECT_EQ(read(window->findChild<QMenu *>("toolbarExportMenu")),
              QStringList({"Export Clip…", "Save Original Files…", "-", "# Telemetry", "GPX Track…",
                           "Google Earth KML…", "CSV Spreadsheet…", "SRT Subtitles…", "Raw Data Log…"}));
    EXPECT_EQ(act("zoomIn")->shortcuts().value(1), QKeySequence(Qt::CTRL | Qt::Key_Plus));
    // The other windows carry their own Quit and Settings: a key shared across windows would fire neither.
    EXPECT_EQ(act("quit")->shortcutContext(), Qt::WindowShortcut);
    EXPECT_EQ(act("settings")->shortcutContext(), Qt::WindowShortcut);
    EXPECT_EQ(act("exportClip")->shortcutContext(), Qt::WindowShortcut);
    EXPECT_EQ(act("moveToTrash")->shortcutContext(), Qt::WidgetWithChildrenShortcut);
}

TEST_F(AppActionsTest, CommandsAreEnabledByTheStageOfTheLoad)
{
    // Per stage: nothing, loading, failed, loaded (front only), two cameras.
    const QList<std::pair<const char *, QList<bool>>> table = {
        {"saveOriginals", {false, true, true, true, true}},
        {"exportTelemetry", {false, true, true, true, true}},
        {"moveToTrash", {false, true, true, true, true}},
        {"exportClip", {false, false, false, true, true}},
        {"saveSnapshot", {false, false, false, true, true}},
        {"copyFrame", {false, false, false, true, true}},
        {"printFrame", {false, false, false, true, true}},
        {"playPause", {false, false, false, true, true}},
        {"swapCameras", {false, false, false, false, true}},
        {"pictureInPicture", {true, true, true, true, true}},
        {"zoomIn", {true, true, true, true, true}},
        {"previousRecording", {true, true, true, true, true}},
        {"speed", {true, true, true, true, true}},
        {"mute", {true, true, true, true, true}},
        {"playbackKeys", {false, false, false, false, false}},
        {"toolbarSnapshot", {false, false, false, true, true}},
        {"toolbarPrint", {false, false, false, true, true}},
        {"toolbarExport", {false, true, true, true, true}},
        {"toolbarExportClip", {false, false, false, true, true}},
        {"toolbarSaveOriginals", {true, true, true, true, true}},
        {"toolbarOpen", {true, true, true, true, true}},
        {"toolbarDeviceSettings", {true, true, true, true, true}},
        {"toolbarTheater", {true, true, true, true, true}},
        {"toolbarInspector", {true, true, true, true, true}},
    };
    const Stage stages[] = {Stage::nothing, Stage::loading, Stage::failed, Stage::loaded, Stage::twoCameras};
    for (int s = 0; s < 5; ++s) {
        SCOPED_TRACE(s);
        open();
        reach(stages[s]);
        for (const auto &[name, enabled] : table) {
            EXPECT_EQ(act(name)->isEnabled(), enabled.at(s)) << name;
            // What the user sees on the toolbar.
            if (QWidget *button = actions->toolBar()->widgetForAction(act(name))) {
                EXPECT_EQ(button->isEnabled(), enabled.at(s)) << name;
            }
        }
        app.reset();
        model.reset();
    }
}

TEST_F(AppActionsTest, KeysActExactlyWhenTheirCommandIsEnabled)
{
    struct Case {
        Stage stage;
        int key;
        Qt::KeyboardModifiers modifiers;
        std::function<bool()> acted;
        bool expected;
    };
    const auto exportSheet = [&] { return model->showExportSheet(); };
    const auto asked = [&] { return !alerts.shown.isEmpty(); };
    const auto swapped = [&] { return model->player().swapped(); };
    const QList<Case> cases = {
        {Stage::nothing, Qt::Key_E, Qt::ControlModifier, exportSheet, false},
        {Stage::loading, Qt::Key_E, Qt::ControlModifier, exportSheet, false},
        {Stage::failed, Qt::Key_E, Qt::ControlModifier, exportSheet, false},
        {Stage::loaded, Qt::Key_E, Qt::ControlModifier, exportSheet, true},
        {Stage::nothing, Qt::Key_Delete, Qt::NoModifier, asked, false},
        {Stage::failed, Qt::Key_Delete, Qt::NoModifier, asked, true},
        {Stage::loading, Qt::Key_Delete, Qt::NoModifier, asked, true},
        {Stage::loaded, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, swapped, false},
        {Stage::twoCameras, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, swapped, true},
        {Stage::nothing, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier,
         [&] { return model->player().isMuted(); }, true},
        {Stage::nothing, Qt::Key_Plus, Qt::ControlModifier, [&] { return model->player().zoom() > 1; }, true},
        {Stage::nothing, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier,
         [&] { return model->theaterMode(); }, true},
        {Stage::nothing, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier,
         [&] { return app->window(RoadloomApp::deviceSettingsID) != nullptr; }, true},
        {Stage::nothing, Qt::Key_Comma, Qt::ControlModifier,
         [&] { return app->window(RoadloomApp::settingsID) != nullptr; }, true},
    };
    for (const Case &each : cases) {
        SCOPED_TRACE(QKeySequence(each.key | each.modifiers).toString().toStdString());
        alerts.shown.clear();
        open();
        reach(each.stage);
        // Delete acts where the recordings are; the rest anywhere in the window.
        QWidget *list = window->findChild<ClipListView *>()->list();
        list->setFocus();
        ASSERT_TRUE(waitFor([&] { return list->hasFocus(); }));
        press(each.key, each.modifiers, list);
        EXPECT_EQ(each.acted(), each.expected);
        app.reset();
        model.reset();
    }
}

TEST_F(AppActionsTest, DeleteInAFocusedTextFieldEditsTheTextAndAsksNothing)
{
    open();
    reach(Stage::loaded);
    auto *field = new QLineEdit(QStringLiteral("REC"), window->clipListColumn());
    window->clipListColumn()->layout()->addWidget(field);
    field->show();
    field->setFocus();
    field->setCursorPosition(0);
    ASSERT_TRUE(waitFor([&] { return field->hasFocus(); }));
    press(Qt::Key_Delete, Qt::NoModifier, field);
    EXPECT_EQ(field->text(), QStringLiteral("EC"));
    EXPECT_TRUE(alerts.shown.isEmpty());
    EXPECT_EQ(model->player().clip()->id, b.id);
}

// Delete asks about the loaded recording only where the recordings are: the list, or the player (the stage
// with its transport bar). Elsewhere in the window it does nothing, or edits text.
TEST_F(AppActionsTest, DeleteAsksOnlyWhereTheListOrThePlayerHasTheKeyboard)
{
    alerts.answer = 1; // Cancel
    open();
    reach(Stage::loaded);
    ASSERT_TRUE(waitFor([&] { return window->detailView() != nullptr; }));
    auto *clips = window->findChild<ClipListView *>();
    auto *sidebar = window->findChild<SidebarView *>();
    QWidget *player = window->detailView()->playerArea();
    QWidget *deck = window->detailView()->deckArea();
    // A click on the transport bar gives the player the keyboard.
    auto *bar = window->detailView()->findChild<TransportBar *>();
    ASSERT_NE(bar, nullptr);
    clips->list()->setFocus();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(4, bar->height() / 2));
    EXPECT_TRUE(player->hasFocus());
    struct Case {
        const char *where;
        QWidget *focus;
        bool asks;
    };
    const Case cases[] = {
        {"recording list", clips->list(), true},
        {"player", player, true},
        {"sources", sidebar->list(), false},
        {"search field", clips->searchField(), false},
        {"deck", deck, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.where);
        alerts.shown.clear();
        c.focus->setFocus();
        ASSERT_TRUE(waitFor([&] { return c.focus->hasFocus(); }));
        press(Qt::Key_Delete, Qt::NoModifier, c.focus);
        EXPECT_EQ(alerts.shown.size(), c.asks ? 1 : 0);
    }
    // The menu item works from anywhere.
    alerts.shown.clear();
    act("moveToTrash")->trigger();
    EXPECT_EQ(alerts.shown.size(), 1);
    EXPECT_TRUE(trashed.isEmpty());
}

// The real alert after Delete: Return (and Space) answer Cancel, for a recording on the card as for one
// whose last copy is in the media cache.
TEST_F(AppActionsTest, DeleteThenReturnKeepsTheRecording)
{
    MessageAlerts realAlerts;
    adjust = [&](AppModel::Services &services) { services.alerts = &realAlerts; };
    DashClip cachedOnly = recording("REC_CACHED", at(5));
    cachedOnly.channelStates = {{Channel::front, StorageState::cached}};
    struct Case {
        DashClip clip;
        Qt::Key key;
        const char *question;
    };
    const Case cases[] = {
        {b, Qt::Key_Return, "Move \u201CREC_B\u201D to the Trash?"},
        {b, Qt::Key_Space, "Move \u201CREC_B\u201D to the Trash?"},
        {cachedOnly, Qt::Key_Return, "Remove \u201CREC_CACHED\u201D from the library?"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.question);
        services->resolved[c.clip.name] = c.clip; // as the media cache finds it
        open({a, c.clip});
        reach(Stage::loaded, c.clip);
        QWidget *list = window->findChild<ClipListView *>()->list();
        list->setFocus();
        ASSERT_TRUE(waitFor([&] { return list->hasFocus(); }));
        QString question, defaultText, focusText;
        const auto answering = ModalDialogs::whenShown<QMessageBox>([&](QMessageBox *box) {
            question = box->text();
            defaultText = box->defaultButton() ? box->defaultButton()->text() : QString();
            if (auto *focused = qobject_cast<QAbstractButton *>(box->focusWidget()))
                focusText = focused->text();
            QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, c.key);
        });
        press(Qt::Key_Delete, Qt::NoModifier, list);
        // Whether the card is back may be asked of the disk first.
        ASSERT_TRUE(waitFor([&] { return !question.isEmpty(); }));
        EXPECT_EQ(question, QString::fromUtf8(c.question));
        EXPECT_EQ(defaultText, "Cancel");
        EXPECT_EQ(focusText, "Cancel") << "the key goes to the focused button";
        EXPECT_TRUE(trashed.isEmpty());
        ASSERT_TRUE(model->player().clip());
        EXPECT_EQ(model->player().clip()->id, c.clip.id);
        app.reset();
        model.reset();
    }
}

// The keys of the Playback menu's line in the real main window: they play with the keyboard on the
// recording list or the sources, and type in the search field.
TEST_F(AppActionsTest, PlaybackKeysActFromTheListsAndTypeInTheSearchField)
{
    open();
    reach(Stage::loaded);
    auto *clips = window->findChild<ClipListView *>();
    auto *sidebar = window->findChild<SidebarView *>();
    struct Key {
        Qt::Key key;
        const char *move;
    };
    const Key keys[] = {{Qt::Key_Space, "play 1"},
                        {Qt::Key_Left, "seek 5"},
                        {Qt::Key_Right, "seek 15"},
                        {Qt::Key_Comma, "step -1"},
                        {Qt::Key_Period, "step 1"}};
    struct Case {
        const char *where;
        QWidget *focus;
        bool typing;
    };
    const Case cases[] = {{"recording list", clips->list(), false},
                          {"sources", sidebar->list(), false},
                          {"search field", clips->searchField(), true}};
    for (const Case &c : cases) {
        c.focus->setFocus();
        ASSERT_TRUE(waitFor([&] { return c.focus->hasFocus(); }));
        for (const Key &k : keys) {
            SCOPED_TRACE(std::string(c.where) + " " + QKeySequence(k.key).toString().toStdString());
            if (model->player().isPlaying())
                model->player().togglePlay();
            front().fireTick(10);
            front().calls.clear();
            QTest::keyClick(window->windowHandle(), k.key);
            const QStringList moves = front().calls.filter(QRegularExpression("^(seek|step|play)"));
            EXPECT_EQ(moves, c.typing ? QStringList() : QStringList{k.move});
        }
    }
    EXPECT_EQ(clips->searchField()->text(), " ,.");
    EXPECT_EQ(model->library().selectedClipID(), b.id) << "the list's type-ahead took none of the keys";
}

TEST_F(AppActionsTest, NextRecordingFollowsTheDatesWhateverTheSortAndKeepsPlaying)
{
    for (ClipSort sort : {ClipSort::newest, ClipSort::name, ClipSort::size}) {
        open({c, a, b});
        model->library().setSort(sort);
        reach(Stage::loaded, b);
        model->player().togglePlay();
        ASSERT_TRUE(model->player().isPlaying());
        press(Qt::Key_Down, Qt::ControlModifier);
        EXPECT_EQ(model->library().selectedClipID(), c.id);
        ASSERT_TRUE(waitFor([&] { return model->player().clip()->id == c.id && front().hasFile(); }));
        front().fireReady(facts());
        EXPECT_TRUE(waitFor([&] { return model->player().isPlaying(); })) << "the next recording plays on";
        press(Qt::Key_Up, Qt::ControlModifier);
        press(Qt::Key_Up, Qt::ControlModifier);
        EXPECT_EQ(model->library().selectedClipID(), a.id);
        app.reset();
        model.reset();
    }
}

TEST_F(AppActionsTest, TitlesAndChecksFollowTheModel)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    open();
    QLocale::setDefault(QLocale::c());
    QStringList speeds;
    for (const QAction *each : act("speed")->menu()->actions())
        speeds.append(each->text());
    EXPECT_EQ(speeds, QStringList({"0,25×", "0,5×", "Normal", "1,5×", "2×", "4×"}));

    reach(Stage::loaded);
    model->player().togglePlay();
    EXPECT_EQ(act("playPause")->text(), QStringLiteral("Pause"));
    front().fireEnd();
    EXPECT_TRUE(waitFor([&] { return act("playPause")->text() == QStringLiteral("Play"); }));

    const auto checkedSpeed = [&]() -> QString {
        for (const QAction *each : act("speed")->menu()->actions())
            if (each->isChecked())
                return each->objectName();
        return {};
    };
    EXPECT_EQ(checkedSpeed(), QStringLiteral("speed-1"));
    for (const auto &[rate, checked] : QList<std::pair<double, QString>>{
             {1.5, "speed-1.5"}, {0.75, ""}, {0.25, "speed-0.25"}, {3.0, ""}, {4.0, "speed-4"}}) {
        model->player().setRate(rate); // as the transport bar would
        EXPECT_EQ(checkedSpeed(), checked) << rate;
    }
    act("speed-2")->trigger();
    act("speed-2")->trigger(); // chosen again: stays
    EXPECT_EQ(model->player().rate(), 2.0);
    EXPECT_EQ(checkedSpeed(), QStringLiteral("speed-2"));

    QList<double> rotations;
    for (int i = 0; i < 4; ++i) {
        act("rotate")->trigger();
        rotations.append(model->player().rotation());
    }
    EXPECT_EQ(rotations, QList<double>({90, 180, 270, 0}));
    for (int i = 0; i < 12; ++i)
        act("zoomIn")->trigger();
    EXPECT_EQ(model->player().zoom(), 6.0);
    for (int i = 0; i < 12; ++i)
        act("zoomOut")->trigger();
    EXPECT_EQ(model->player().zoom(), 1.0);

    // The menu toggles and the toolbar buttons write the same properties.
    act("theaterMode")->trigger();
    EXPECT_TRUE(model->theaterMode());
    EXPECT_TRUE(act("toolbarTheater")->isChecked());
    const auto image = [](const QIcon &icon) { return icon.pixmap(QSize(16, 16)).toImage(); };
    EXPECT_EQ(image(act("toolbarTheater")->icon()), image(Symbols::icon("rectangle.inset.filled")));
    act("toolbarTheater")->trigger();
    EXPECT_FALSE(act("theaterMode")->isChecked());
    EXPECT_EQ(image(act("toolbarTheater")->icon()), image(Symbols::icon("rectangle.split.3x1")));
    model->setShowInspector(true);
    EXPECT_TRUE(act("clipInspector")->isChecked() && act("toolbarInspector")->isChecked());
    act("toolbarInspector")->trigger();
    EXPECT_FALSE(model->showInspector() || act("clipInspector")->isChecked());
}

TEST_F(AppActionsTest, ToolbarButtonsNameTheMenuKeysAndCarryNone)
{
    open();
    const QList<std::pair<const char *, QString>> table = {
        {"toolbarOpen", "Open a folder, SD card or video files"},
        {"toolbarSnapshot", "Save the current frame as PNG (Ctrl+Shift+S)"},
        {"toolbarPrint", "Print the current frame with GPS and G-sensor details (Ctrl+P)"},
        {"toolbarExport", "Export video or GPS / G-sensor data"},
        {"toolbarDeviceSettings", "Edit the dashcam's configuration on the SD card (Ctrl+Alt+D)"},
        {"toolbarTheater", "Theater mode (Ctrl+Shift+F)"},
        {"toolbarInspector", "Clip details (Ctrl+Alt+I)"},
    };
    for (const auto &[name, tip] : table) {
        QWidget *button = actions->toolBar()->widgetForAction(act(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->toolTip(), tip);
        EXPECT_EQ(button->accessibleName(), act(name)->text());
        EXPECT_TRUE(act(name)->shortcuts().isEmpty()) << name;
    }
    EXPECT_FALSE(actions->toolBar()->isMovable());
    EXPECT_EQ(actions->toolBar()->toolButtonStyle(), Qt::ToolButtonIconOnly);
}

TEST_F(AppActionsTest, FolderAndFilePanelsChangeSourcesOnlyWhenSomethingWasChosen)
{
    const QString cardRoot = dir.filePath("SDCARD");
    ASSERT_TRUE(QDir().mkpath(cardRoot + "/DCIM"));
    const QString other = dir.filePath("trips");
    ASSERT_TRUE(QDir().mkpath(other));
    volumes.volumes = {{cardRoot, QStringLiteral("SDCARD"), false}};
    struct Case {
        const char *action;
        std::optional<QString> folder;
        QStringList files;
        QString call;
        std::optional<QString> selects; // the source's path; none: nothing changes
    };
    const QList<Case> cases = {
        {"openFolder", std::nullopt, {}, "chooseFolder Open Dashcam Folder or SD Card | Open", std::nullopt},
        {"toolbarOpenFolder",
         std::nullopt,
         {},
         "chooseFolder Open Dashcam Folder or SD Card | Open",
         std::nullopt},
        {"openFiles",
         std::nullopt,
         {},
         "openFiles Videos (*.avi *.m4v *.mov *.mp4 *.AVI *.M4V *.MOV *.MP4), MPEG-4 video (*.m4v *.mp4 "
         "*.M4V "
         "*.MP4), QuickTime video (*.mov *.MOV), AVI video (*.avi *.AVI)",
         std::nullopt},
        {"toolbarOpenFiles",
         std::nullopt,
         {},
         "openFiles Videos (*.avi *.m4v *.mov *.mp4 *.AVI *.M4V *.MOV *.MP4), MPEG-4 video (*.m4v *.mp4 "
         "*.M4V "
         "*.MP4), QuickTime video (*.mov *.MOV), AVI video (*.avi *.AVI)",
         std::nullopt},
        {"openFolder", other, {}, "chooseFolder Open Dashcam Folder or SD Card | Open", other},
        {"toolbarOpenFolder", cardRoot, {}, "chooseFolder Open Dashcam Folder or SD Card | Open", cardRoot},
    };
    for (const Case &each : cases) {
        SCOPED_TRACE(each.action);
        open();
        const QList<LibrarySource> before = model->library().sources();
        const auto selectedBefore = model->library().selectedSourceID();
        panels.calls.clear();
        panels.folderAnswer = each.folder;
        panels.openAnswer = each.files;
        act(each.action)->trigger();
        EXPECT_EQ(panels.calls, QStringList{each.call});
        if (!each.selects) {
            EXPECT_EQ(model->library().sources(), before);
            EXPECT_EQ(model->library().selectedSourceID(), selectedBefore);
        } else {
            std::optional<LibrarySource> selected;
            for (const LibrarySource &source : model->library().sources())
                if (source.id() == model->library().selectedSourceID())
                    selected = source;
            ASSERT_TRUE(selected.has_value());
            EXPECT_EQ(selected->urls, QStringList{*each.selects});
            // A card's root selects the card rather than adding a folder.
            EXPECT_EQ(selected->kind,
                      *each.selects == cardRoot ? LibrarySource::Kind::device : LibrarySource::Kind::folder);
        }
        app.reset();
        model.reset();
    }
}

TEST_F(AppActionsTest, DeviceSettingsOpensItsWindowWithoutAConfigurationFile)
{
    for (const char *name : {"deviceSettings", "toolbarDeviceSettings"}) {
        open();
        act(name)->trigger();
        QWidget *settings = app->window(RoadloomApp::deviceSettingsID);
        ASSERT_NE(settings, nullptr) << name;
        EXPECT_TRUE(settings->isVisible());
        app.reset();
        model.reset();
    }
}

TEST_F(AppActionsTest, PlayheadTicksChangeNoAction)
{
    open();
    reach(Stage::twoCameras);
    model->player().togglePlay();
    QList<std::shared_ptr<QSignalSpy>> spies;
    for (QAction *each : actions->actions())
        spies.append(std::make_shared<QSignalSpy>(each, &QAction::changed));
    QSignalSpy ticks(&model->player(), &PlayerController::currentTimeChanged);
    for (int i = 1; i <= 300; ++i) {
        front().fireTick(i / 30.0);
        rear().setCurrentTime(i / 30.0);
        QCoreApplication::processEvents();
    }
    EXPECT_GE(ticks.count(), 300);
    for (qsizetype i = 0; i < spies.size(); ++i)
        EXPECT_EQ(spies.at(i)->count(), 0) << actions->actions().at(i)->objectName().toStdString();
}

} // namespace
