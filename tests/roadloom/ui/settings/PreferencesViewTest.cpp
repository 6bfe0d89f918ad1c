// The settings on a model over scripted surroundings: panels, alerts, the file manager, the coordinator's
// cache and the ffmpeg search all answer from the test.
#include "roadloom/model/AppModelHarness.h"

#include "roadcore/FFmpeg.h"
#include "roadcore/LibraryScanner.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/LibrarySource.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/settings/MediaCacheSettings.h"
#include "roadloom/ui/settings/PreferencesView.h"
#include "roadloom/ui/settings/PreferencesWindow.h"
#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/FirstGeometry.h"
#include "roadloom/ui/widgets/SegmentedControl.h"
#include "roadloom/ui/widgets/SymbolLabel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

using namespace AppHarness;

namespace {

const QString notFound = QStringLiteral("Not found — sudo apt install ffmpeg");

// A cache whose usage answers only once the test lets it.
class GatedCache : public ScriptedCache {
public:
    QSemaphore gate;
    std::optional<MediaCacheUsage> usage() override
    {
        gate.acquire();
        return ScriptedCache::usage();
    }
};

class PreferencesViewTest : public ModelTest {
protected:
    QStringList places; // where the scripted search looks after the chosen path
    PreferencesView::FFmpegLookup lookup = [this](const QString &chosen) {
        return FFmpeg::executable(chosen, places);
    };

    QString program(const QString &name, bool executable)
    {
        const QString path = dir.filePath(QStringLiteral("bin/") + name);
        TestSupport::writeFile(path, "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(path, executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                               : QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }
    static void type(QLineEdit *field, const QString &text)
    {
        // As a paste over the whole text: one edit.
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            field->insert(text);
    }
    // The ffmpeg status once the newest look for it has answered.
    static QString statusOf(PreferencesView &view)
    {
        EXPECT_TRUE(TestSupport::waitFor([&] { return !view.isLookingForFFmpeg(); }));
        return view.ffmpegStatusText()->text();
    }
    int plans() const { return int(cacheBackend.log().count(QStringLiteral("plan"))); }
    // Until the coordinator is idle and its cache sees no more calls.
    void quiet(const ScriptedCache &backend)
    {
        qsizetype seen = -1;
        for (int round = 0; round < 50 && seen != backend.log().size(); ++round) {
            seen = backend.log().size();
            ASSERT_TRUE(TestSupport::waitFor([&] { return !model->cache().isRunning(); }));
            QTest::qWait(50);
        }
    }
};

TEST_F(PreferencesViewTest, EmptyDefaultsShowTheRegisteredValues)
{
    make({});
    places = {program(QStringLiteral("ffmpeg"), true)};
    PreferencesView view(*model, lookup);
    EXPECT_EQ(view.unitPicker()->currentIndex(), 0);
    EXPECT_EQ(view.unitPicker()->title(0), QStringLiteral("km/h"));
    EXPECT_TRUE(view.autoPlayToggle()->isChecked());
    EXPECT_EQ(view.mapStylePicker()->currentText(), QStringLiteral("Standard"));
    EXPECT_TRUE(view.snapshotFolderLabel()->text().endsWith(QStringLiteral("/Roadloom")));
    EXPECT_EQ(view.snapshotFolderLabel()->text(), model->preferences().snapshotFolder());
    EXPECT_TRUE(view.ffmpegField()->text().isEmpty());
    EXPECT_EQ(view.ffmpegField()->placeholderText(), QStringLiteral("Auto-detect"));
    EXPECT_EQ(statusOf(view), places.first());
    EXPECT_EQ(view.ffmpegStatusSymbol()->symbol(), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(view.tileField(0)->placeholderText(), Preferences::defaultMapTileURL);
    EXPECT_EQ(view.tileField(1)->placeholderText(), QStringLiteral("None"));
    EXPECT_EQ(view.tileField(2)->placeholderText(), QStringLiteral("None"));
    EXPECT_EQ(view.mediaCache()->locationLabel()->text(), cacheBackend.root());
}

TEST_F(PreferencesViewTest, StatusFollowsTheTypedPath)
{
    make({});
    const QString chosen = program(QStringLiteral("chosen-ffmpeg"), true);
    const QString plain = program(QStringLiteral("not-a-program"), false);
    const QString fallback = program(QStringLiteral("ffmpeg"), true);
    struct Case {
        const char *what;
        QString typed;
        QStringList places;
        std::optional<QString> shown; // none: not found
    };
    const Case cases[] = {
        {"an executable script", chosen, {fallback}, chosen},
        {"a file that is not executable falls back", plain, {fallback}, fallback},
        {"nothing executable anywhere", plain, {plain}, std::nullopt},
        {"a missing file, nothing else", dir.filePath("missing"), {}, std::nullopt},
        {"cleared: automatic search", QString(), {fallback}, fallback},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        places = c.places;
        PreferencesView view(*model, lookup);
        type(view.ffmpegField(), c.typed);
        EXPECT_EQ(model->preferences().ffmpegPath(), c.typed);
        EXPECT_EQ(statusOf(view), c.shown.value_or(notFound));
        EXPECT_EQ(view.ffmpegStatusSymbol()->symbol(),
                  c.shown ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.octagon.fill"));
    }
}

TEST_F(PreferencesViewTest, ChoosePanelsStoreOnlyWhatWasChosen)
{
    make({});
    places = {};
    PreferencesView view(*model, lookup);
    view.resize(PreferencesView::width, view.sizeHint().height());
    const QString folderBefore = model->preferences().snapshotFolder();

    view.snapshotChooseButton()->click();
    view.ffmpegChooseButton()->click();
    EXPECT_EQ(panels.calls, (QStringList{QStringLiteral("chooseFolder Snapshot Folder | Choose"),
                                         QStringLiteral("chooseFile ffmpeg | Choose")}));
    EXPECT_EQ(model->preferences().snapshotFolder(), folderBefore);
    EXPECT_EQ(model->preferences().ffmpegPath(), QString());

    const QString deep =
        dir.filePath(QStringLiteral("a very long folder name that goes on/") +
                     QString(QStringLiteral("deeper/")).repeated(12) + QStringLiteral("Shots"));
    const QString chosen = program(QStringLiteral("chosen-ffmpeg"), true);
    panels.folderAnswer = deep;
    panels.fileAnswer = chosen;
    view.snapshotChooseButton()->click();
    view.ffmpegChooseButton()->click();
    EXPECT_EQ(model->preferences().snapshotFolder(), deep);
    EXPECT_EQ(model->preferences().ffmpegPath(), chosen);
    EXPECT_EQ(view.ffmpegField()->text(), chosen);
    EXPECT_EQ(statusOf(view), chosen);
    // A long path shows its end.
    const QString shown = view.snapshotFolderLabel()->displayedText();
    EXPECT_TRUE(view.snapshotFolderLabel()->isElided());
    EXPECT_TRUE(shown.startsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/Shots"))) << shown.toStdString();
}

TEST_F(PreferencesViewTest, ChangesElsewhereAreShownWithoutWritingBack)
{
    make({});
    PreferencesView view(*model, lookup);
    PreferencesView other(*model, lookup);
    QSignalSpy writes(&defaults, &Defaults::changed);

    // Written elsewhere, as the speed panel and the map card do: one write each, the controls follow.
    model->preferences().setSpeedUnit(SpeedUnit::mph);
    model->preferences().setMapStyle(MapStyleChoice::satellite);
    model->preferences().setAutoPlayNext(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(writes.size(), 3);
    EXPECT_EQ(view.unitPicker()->currentIndex(), 1);
    EXPECT_EQ(view.mapStylePicker()->currentText(), QStringLiteral("Satellite"));
    EXPECT_FALSE(view.autoPlayToggle()->isChecked());

    // Chosen here: the other listener sees it at once.
    writes.clear();
    QTest::mouseClick(view.unitPicker(), Qt::LeftButton, {}, view.unitPicker()->segmentRect(0).center());
    emit view.mapStylePicker()->activated(1);
    view.autoPlayToggle()->click();
    EXPECT_EQ(writes.size(), 3);
    EXPECT_EQ(model->preferences().speedUnit(), SpeedUnit::kmh);
    EXPECT_EQ(other.unitPicker()->currentIndex(), 0);
    EXPECT_EQ(other.mapStylePicker()->currentText(), QStringLiteral("Hybrid"));
    EXPECT_TRUE(other.autoPlayToggle()->isChecked());
}

TEST_F(PreferencesViewTest, TileAddressesWarnWhenTheMapWouldIgnoreThem)
{
    make({});
    PreferencesView view(*model, lookup);
    struct Case {
        QString typed;
        bool warns;
    };
    const Case cases[] = {
        {QStringLiteral("https://tiles.example/{z}/{x}/{y}.png"), false},
        {QStringLiteral("http://tiles.example/{z}/{x}/{y}.png"), false},
        {QStringLiteral("ftp://tiles.example/{z}/{x}/{y}.png"), true},
        {QStringLiteral("https://tiles.example/{z}/{x}.png"), true},
        {QStringLiteral("file:///tmp/{z}/{x}/{y}.png"), true},
        {QStringLiteral("not an address"), true},
        {QString(), false},
    };
    for (int field = 0; field < 3; ++field) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.typed.toStdString() + " in field " + std::to_string(field));
            type(view.tileField(field), c.typed);
            EXPECT_EQ(view.tileWarning(field)->isVisibleTo(&view), c.warns);
        }
    }
    // Stored verbatim; a value written elsewhere is shown with its warning.
    type(view.tileField(1), QStringLiteral("https://sat.example/{z}/{y}/{x}"));
    EXPECT_EQ(model->preferences().mapSatelliteTileURL(), QStringLiteral("https://sat.example/{z}/{y}/{x}"));
    model->preferences().setMapLabelsTileURL(QStringLiteral("labels"));
    EXPECT_EQ(view.tileField(2)->text(), QStringLiteral("labels"));
    EXPECT_TRUE(view.tileWarning(2)->isVisibleTo(&view));
    EXPECT_EQ(view.tileWarning(2)->text(),
              QStringLiteral("Needs an http or https address with {z}, {x} and {y}."));
}

TEST_F(PreferencesViewTest, PolicyPlansOnceForEachRealChange)
{
    make({});
    MediaCacheSettings section(*model);
    section.show();
    quiet(cacheBackend);
    const int before = plans();

    emit section.policyPicker()->activated(0); // the same policy again
    QCoreApplication::processEvents();
    EXPECT_EQ(plans(), before);
    emit section.policyPicker()->activated(1);
    quiet(cacheBackend);
    EXPECT_EQ(plans(), before + 1);
    EXPECT_EQ(model->preferences().cachePolicy(), CachePolicy::important);
    emit section.policyPicker()->activated(2);
    quiet(cacheBackend);
    EXPECT_EQ(plans(), before + 2);
    EXPECT_EQ(cacheBackend.plans().last().policy, CachePolicy::off);

    // Written elsewhere: the picker follows; showing again plans nothing.
    model->preferences().setCachePolicy(CachePolicy::all);
    quiet(cacheBackend);
    EXPECT_EQ(section.policyPicker()->currentIndex(), 0);
    const int shown = plans();
    section.hide();
    section.show();
    quiet(cacheBackend);
    EXPECT_EQ(plans(), shown);
}

TEST_F(PreferencesViewTest, StoredShowsTheIndicatorUntilTheFiguresCome)
{
    GatedCache gated;
    const auto ended = qScopeGuard([&] {
        gated.gate.release(100);
        TearDown(); // the model goes before the cache it uses
    });
    adjust = [&](AppModel::Services &s) { s.cacheBackend = &gated; };
    make({});
    MediaCacheSettings section(*model);
    section.show();
    EXPECT_EQ(section.storedValue()->currentIndex(), 0);
    EXPECT_TRUE(section.storedValue()->currentWidget()->findChild<BusyIndicator *>()->isVisible());
    gated.gate.release(100);
    ASSERT_TRUE(TestSupport::waitFor([&] { return section.storedValue()->currentIndex() == 1; }));
    EXPECT_EQ(section.storedText()->text(), MediaCacheSettings::storedDescription(*model->cache().usage()));
    EXPECT_EQ(MediaCacheSettings::storedDescription({1'200'000'000, 14, 5}),
              QStringLiteral("1.2 GB · 14 files · 5 recordings in library"));
}

TEST_F(PreferencesViewTest, ClearingRunsClearThenRefreshThenUsage)
{
    // A listed recording whose file comes and goes before each clearing, so that each refresh of the
    // storage states changes it and the library announces it.
    const QString file = card() + QStringLiteral("/a_F.mp4");
    TestSupport::writeFile(file, "movie");
    make({recording(QStringLiteral("a"), at(1), {{Channel::front, file}})});
    quiet(cacheBackend);
    MediaCacheSettings section(*model);
    QStringList refreshed; // the cache's last call when the library announced the new states
    QObject::connect(&model->library(), &LibraryStore::clipsUpdated, &section,
                     [&] { refreshed.append(cacheBackend.log().constLast()); });
    struct Case {
        const char *what;
        QPushButton *button;
        int answer;
        std::optional<QString> clear; // none: nothing cleared
    };
    const Case cases[] = {
        {"remove available copies", section.removeAvailableButton(), -1, QStringLiteral("clear keeping")},
        {"confirmation cancelled", section.clearButton(), 1, std::nullopt},
        {"confirmation closed", section.clearButton(), -1, std::nullopt},
        {"clear confirmed", section.clearButton(), 0, QStringLiteral("clear all")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        alerts.shown.clear();
        alerts.answer = c.answer;
        const qsizetype logged = cacheBackend.log().size();
        QSignalSpy usage(&model->cache(), &CacheCoordinator::usageChanged);
        if (QFile::exists(file))
            QFile::remove(file);
        else
            TestSupport::writeFile(file, "movie");
        c.button->click();
        EXPECT_TRUE(section.removeAvailableButton()->isEnabled() && section.clearButton()->isEnabled());
        if (c.clear) {
            ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 1; }));
            quiet(cacheBackend);
            EXPECT_EQ(cacheBackend.log().mid(logged), (QStringList{*c.clear, QStringLiteral("usage")}));
        } else {
            QTest::qWait(50);
            EXPECT_EQ(cacheBackend.log().size(), logged);
        }
        if (c.button == section.clearButton()) {
            ASSERT_EQ(alerts.shown.size(), 1);
            const Alert &alert = alerts.shown.first();
            EXPECT_EQ(alert.messageText, QStringLiteral("Clear the entire media cache?"));
            EXPECT_EQ(
                alert.informativeText,
                QStringLiteral("Recordings whose originals are no longer available will be removed from "
                               "the library and can't be played again."));
            EXPECT_EQ(alert.buttons, (QStringList{QStringLiteral("Clear Cache"), QStringLiteral("Cancel")}));
            EXPECT_EQ(alert.defaultButton, 1);
        } else {
            EXPECT_TRUE(alerts.shown.isEmpty());
        }
    }
    // Each refresh came after its clear and before its usage figures.
    EXPECT_EQ(refreshed, (QStringList{QStringLiteral("clear keeping"), QStringLiteral("clear all")}));
}

// Where the user pressed the button, whether or not the main window's sidebar is in sight.
TEST_F(PreferencesViewTest, ARefusedClearSaysWhyUnderTheButtonsUntilAClearGoesThrough)
{
    make({});
    MediaCacheSettings section(*model);
    section.show();
    cacheBackend.catalogUnreadable = true;
    alerts.answer = 0;
    for (const auto &[button, text] :
         {std::pair{section.removeAvailableButton(), "Copies of available originals couldn't be removed: the "
                                                     "media cache's catalog couldn't be read or written."},
          std::pair{section.clearButton(),
                    "The media cache couldn't be cleared: the media cache's catalog couldn't be "
                    "read or written."}}) {
        EXPECT_EQ(section.refusalLine()->isVisible(), button == section.clearButton());
        button->click();
        ASSERT_TRUE(TestSupport::waitFor([&, text = text] { return section.refusalText()->text() == text; }));
        EXPECT_TRUE(section.refusalLine()->isVisible());
        EXPECT_GT(section.refusalLine()->mapTo(&section, QPoint()).y(),
                  button->mapTo(&section, QPoint()).y());
    }
    cacheBackend.catalogUnreadable = false;
    section.removeAvailableButton()->click();
    ASSERT_TRUE(TestSupport::waitFor([&] { return !section.refusalLine()->isVisible(); }));
}

TEST_F(PreferencesViewTest, ShowRevealsTheCacheFolder)
{
    make({});
    MediaCacheSettings section(*model);
    section.resize(PreferencesView::width, section.sizeHint().height());
    section.showButton()->click();
    EXPECT_EQ(revealer.revealed, QStringList{cacheBackend.root()});
}

TEST_F(PreferencesViewTest, WindowFitsASmallScreen)
{
    make({});
    PreferencesWindow window(*model, lookup);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Settings"));
    const QRect available = window.screen()->availableGeometry();
    EXPECT_TRUE(available.contains(QRect(window.pos(), window.size().grownBy(FirstGeometry::typicalFrame))));
    EXPECT_GE(window.width(), PreferencesView::width);
}

// The confirmation of Clear Cache belongs to the settings window, not to whichever window is active.
TEST_F(PreferencesViewTest, TheClearCacheAlertBelongsToTheSettingsWindow)
{
    make({});
    PreferencesWindow window(*model, lookup);
    auto *section = window.findChild<MediaCacheSettings *>();
    ASSERT_NE(section, nullptr);
    alerts.answer = 1;
    section->clearButton()->click();
    ASSERT_EQ(alerts.windows.size(), 1);
    EXPECT_EQ(alerts.windows.first(), &window);
}

// A chosen ffmpeg on a share that stopped answering: Settings opens and works, and the status comes with the
// answer.
TEST_F(PreferencesViewTest, AChosenProgramThatDoesNotAnswerHoldsOnlyItsStatus)
{
    make({});
    const QString chosen = program(QStringLiteral("chosen-ffmpeg"), true);
    model->preferences().setFfmpegPath(chosen);
    files.close(chosen);
    std::unique_ptr<PreferencesWindow> window;
    {
        TestSupport::Deadline deadline(10000, "Settings with a chosen ffmpeg that does not answer");
        window =
            std::make_unique<PreferencesWindow>(*model, [this, pass = files.function()](const QString &path) {
                pass(path);
                return lookup(path);
            });
        window->show();
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(window->view()->isLookingForFFmpeg());
    window->view()->autoPlayToggle()->click();
    EXPECT_FALSE(model->preferences().autoPlayNext());
    files.open();
    EXPECT_EQ(statusOf(*window->view()), chosen);
}

// ffmpeg installed while the window stands open shows once the user comes back to the window.
TEST_F(PreferencesViewTest, StatusIsCheckedAgainWhenTheWindowIsActivated)
{
    make({});
    const QString installed = dir.filePath(QStringLiteral("bin/ffmpeg"));
    places = {installed};
    PreferencesWindow window(*model, lookup);
    QWidget elsewhere;
    const auto activate = [](QWidget &which) {
        which.show();
        which.activateWindow();
        QApplication::setActiveWindow(&which);
        return QTest::qWaitForWindowActive(&which);
    };
    ASSERT_TRUE(activate(window));
    EXPECT_EQ(statusOf(*window.view()), notFound);
    ASSERT_TRUE(activate(elsewhere));

    program(QStringLiteral("ffmpeg"), true);
    EXPECT_EQ(statusOf(*window.view()), notFound) << "not looked for in the background";
    ASSERT_TRUE(activate(window));
    EXPECT_EQ(statusOf(*window.view()), installed);
    EXPECT_EQ(window.view()->ffmpegStatusSymbol()->symbol(), QStringLiteral("checkmark.circle.fill"));

    // And gone again while away.
    ASSERT_TRUE(activate(elsewhere));
    ASSERT_TRUE(QFile::remove(installed));
    ASSERT_TRUE(activate(window));
    EXPECT_EQ(statusOf(*window.view()), notFound);
}

QByteArray content(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2654435761u * quint32(seed + 1);
    for (char &b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = char(x >> 24);
    }
    return bytes;
}

// The real media cache: the copies of a deleted card survive "Remove Copies…" and go with "Clear Cache".
TEST_F(PreferencesViewTest, ClearingARealCacheAfterTheCardIsGone)
{
    const std::unique_ptr<CacheBackend> real = CacheBackend::over(cache);
    const auto ended = qScopeGuard([this] { TearDown(); }); // the model goes before the cache it uses
    adjust = [&](AppModel::Services &s) {
        s.cacheBackend = real.get();
        s.library.scan = &LibraryScanner::scan;
    };
    const QString stem = QStringLiteral("REC_20240501_080000");
    for (const char *channel : {"F", "R"})
        TestSupport::writeFile(card() + "/DCIM/" + stem + "_" + channel + ".MP4",
                               content(150000, channel[0]));
    make({});
    ASSERT_TRUE(TestSupport::waitFor([&] { return model->library().clips().size() == 1; }));
    ASSERT_TRUE(TestSupport::waitFor(
        [&] {
            return !model->cache().isRunning() && model->cache().usage() &&
                   model->cache().usage()->cachedFiles == 2;
        },
        30000));
    const DashClip listed = model->library().clips().first();

    ASSERT_TRUE(QDir(card()).removeRecursively());
    MediaCacheSettings section(*model);
    QSignalSpy usage(&model->cache(), &CacheCoordinator::usageChanged);
    section.removeAvailableButton()->click();
    ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 1; }));
    EXPECT_EQ(model->cache().usage()->cachedFiles, 2);
    const DashClip kept = cache.resolveForPlayback(listed);
    EXPECT_EQ(kept.storage(), StorageState::cached);
    for (const auto &[channel, path] : kept.files)
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();

    alerts.answer = 0;
    section.clearButton()->click();
    ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 2; }));
    EXPECT_NE(cache.resolveForPlayback(listed).storage(), StorageState::cached);
    EXPECT_EQ(model->cache().usage()->cachedFiles, 0);
    EXPECT_EQ(model->cache().usage()->recordings, 0);
    model->library().setSelectedSourceID(LibrarySource::allMedia().id());
    settle();
    EXPECT_TRUE(TestSupport::waitFor([&] {
        return std::none_of(model->library().clips().begin(), model->library().clips().end(),
                            [&](const DashClip &clip) { return clip.name == listed.name; });
    }));
}

} // namespace
