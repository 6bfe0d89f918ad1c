#include "roadloom/model/AppModelHarness.h"

#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/Formats.h"
#include "roadloom/ui/library/CacheStatusView.h"
#include "roadloom/ui/library/SidebarView.h"
#include "roadloom/ui/library/SourceListModel.h"
#include "roadloom/ui/library/ToastView.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/WrapLabel.h"

#include <QFile>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace AppHarness;
using TestSupport::waitFor;
using RowKind = SourceListModel::RowKind;

namespace {

class SidebarViewTest : public ModelTest {
protected:
    std::unique_ptr<SidebarView> sidebar;

    SidebarView &makeSidebar(const QList<DashClip> &clips = {})
    {
        make(clips);
        sidebar = std::make_unique<SidebarView>(*model);
        sidebar->resize(240, 700);
        sidebar->show();
        return *sidebar;
    }
    SourceListModel &rows() const { return *sidebar->sourceModel(); }
    // The rows' texts from one header to the next.
    QStringList section(const QString &header) const
    {
        QStringList texts;
        bool inside = false;
        for (int row = 0; row < rows().rowCount(); ++row) {
            const QString text = rows().index(row).data().toString();
            if (rows().kind(row) == RowKind::header) {
                if (inside)
                    break;
                inside = text == header;
            } else if (inside) {
                texts.append(text);
            }
        }
        return texts;
    }
    int rowNamed(const QString &text) const
    {
        for (int row = 0; row < rows().rowCount(); ++row)
            if (rows().index(row).data().toString() == text)
                return row;
        return -1;
    }
    void click(int row) const
    {
        QListView *list = sidebar->list();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(rows().index(row)).center());
    }
    QAction *menuAction(QMenu &menu, const QString &text) const
    {
        for (QAction *action : menu.actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }
    QString makeCard(const QString &name, const QString &configFile)
    {
        const QString root = dir.filePath(name);
        EXPECT_TRUE(QDir().mkpath(root + "/SETTING"));
        EXPECT_TRUE(QDir().mkpath(root + "/DCIM"));
        if (!configFile.isEmpty()) {
            QFile file(root + "/SETTING/" + configFile);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        }
        return root;
    }
    void TearDown() override
    {
        sidebar.reset();
        ModelTest::TearDown();
    }
};

TEST_F(SidebarViewTest, WithoutACardOnlyTheGreyedEntryShowsAndClicksOnItOrAHeaderKeepTheSelection)
{
    makeSidebar();
    EXPECT_EQ(section("SD Cards"), QStringList{SourceListModel::placeholderText()});
    EXPECT_EQ(section("Library"), QStringList{"All Media"});
    EXPECT_EQ(section("Folders"), (QStringList{"card", SourceListModel::addFolderText()}));
    EXPECT_EQ(section("Opened"), QStringList{});

    const std::optional<QString> selected = model->library().selectedSourceID();
    ASSERT_TRUE(selected.has_value());
    QSignalSpy changes(&model->library(), &LibraryStore::selectedSourceIDChanged);
    for (const QString &text :
         {SourceListModel::placeholderText(), QStringLiteral("SD Cards"), QStringLiteral("Library")}) {
        SCOPED_TRACE(text.toStdString());
        const int row = rowNamed(text);
        EXPECT_FALSE(rows().flags(rows().index(row)).testFlag(Qt::ItemIsEnabled));
        click(row);
        EXPECT_EQ(model->library().selectedSourceID(), selected);
    }
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(sidebar->list()->selectionModel()->selectedIndexes().value(0).row(), rowNamed("card"));

    // The keyboard passes over headers and the greyed entry: from All Media down to the folder.
    click(rowNamed("All Media"));
    EXPECT_EQ(model->library().selectedSourceID(), LibrarySource::allMedia().id());
    QTest::keyClick(sidebar->list(), Qt::Key_Down);
    EXPECT_EQ(model->library().selectedSourceID(), selected);
}

TEST_F(SidebarViewTest, AddFolderRunsThePanelOnClickOrEnterAndIsNeverSelected)
{
    makeSidebar();
    const QString other = dir.filePath("other");
    ASSERT_TRUE(QDir().mkpath(other));
    const std::optional<QString> before = model->library().selectedSourceID();

    click(rowNamed(SourceListModel::addFolderText())); // cancelled
    EXPECT_EQ(panels.calls, QStringList{"chooseFolder Open Dashcam Folder or SD Card | Open"});
    EXPECT_EQ(model->library().selectedSourceID(), before);
    EXPECT_EQ(sidebar->list()->selectionModel()->selectedIndexes().value(0).row(), rowNamed("card"));

    panels.folderAnswer = other;
    sidebar->list()->setCurrentIndex(rows().index(rowNamed(SourceListModel::addFolderText())));
    QTest::keyClick(sidebar->list(), Qt::Key_Return);
    EXPECT_EQ(panels.calls.size(), 2);
    EXPECT_EQ(section("Folders"), (QStringList{"card", "other", SourceListModel::addFolderText()}));
    EXPECT_EQ(model->library().selectedSourceID(),
              (LibrarySource{LibrarySource::Kind::folder, "other", {other}}.id()));
}

TEST_F(SidebarViewTest, ADeletedFolderTurnsOfflineOnceAvailabilityIsCheckedAgain)
{
    makeSidebar();
    const int row = rowNamed("card");
    EXPECT_FALSE(rows().index(row).data(SourceListModel::OfflineRole).toBool());
    EXPECT_EQ(rows().index(row).data(SourceListModel::SymbolRole).toString(), "folder.fill");
    EXPECT_EQ(rows().index(row).data(Qt::ToolTipRole).toString(), card());

    ASSERT_TRUE(QDir(card()).removeRecursively());
    model->library().rescan();
    ASSERT_TRUE(waitFor([&] { return rows().index(row).data(SourceListModel::OfflineRole).toBool(); }));
    EXPECT_EQ(rows().index(row).data(SourceListModel::SubtitleRole).toString(), "Offline")
        << "none of its recordings has a copy to play";
    EXPECT_EQ(rows().index(row).data(SourceListModel::SymbolRole).toString(), "folder.badge.questionmark");
    EXPECT_EQ(rows().index(row).data().toString(), "card");
}

TEST_F(SidebarViewTest, FolderMenuRevealsTheFolderAndRemovingTheSelectedFolderSelectsAllMedia)
{
    makeSidebar();
    EXPECT_EQ(sidebar->contextMenu(rowNamed("All Media")), nullptr);
    EXPECT_EQ(sidebar->contextMenu(rowNamed(SourceListModel::placeholderText())), nullptr);

    std::unique_ptr<QMenu> menu = sidebar->contextMenu(rowNamed("card"));
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction *action : menu->actions())
        texts.append(action->text());
    EXPECT_EQ(texts, (QStringList{"Show in File Manager", "Remove from Sidebar"}));
    menuAction(*menu, "Show in File Manager")->trigger();
    EXPECT_EQ(revealer.revealed, QStringList{card()});

    QSignalSpy changes(&model->library(), &LibraryStore::selectedSourceIDChanged);
    menuAction(*menu, "Remove from Sidebar")->trigger();
    EXPECT_EQ(model->library().selectedSourceID(), LibrarySource::allMedia().id());
    EXPECT_EQ(section("Folders"), QStringList{SourceListModel::addFolderText()});
    EXPECT_EQ(sidebar->list()->selectionModel()->selectedIndexes().value(0).row(), rowNamed("All Media"));
    for (const QList<QVariant> &change : changes)
        EXPECT_TRUE(change.at(0).value<std::optional<QString>>().has_value()) << "never none";
}

TEST_F(SidebarViewTest, OpenedFilesListEveryPathAndClearRemovesThem)
{
    makeSidebar();
    QStringList files;
    for (const char *name : {"opened/A_F.mp4", "opened/A_R.mp4"}) {
        files.append(dir.filePath(name));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(files.last()).path()));
        QFile file(files.last());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    model->library().open({files.first()});
    ASSERT_TRUE(waitFor([&] { return !section("Opened").isEmpty(); }));
    const int row = rowNamed(section("Opened").first());
    EXPECT_EQ(rows().index(row).data(SourceListModel::SymbolRole).toString(), "doc.on.doc.fill");
    EXPECT_EQ(rows().index(row).data(Qt::ToolTipRole).toString(), files.join('\n'));

    std::unique_ptr<QMenu> menu = sidebar->contextMenu(row);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), "Clear");
    menu->actions().first()->trigger();
    EXPECT_FALSE(model->library().imported().has_value());
    EXPECT_EQ(rowNamed("Opened"), -1);
    menu->actions().first()->trigger(); // gone meanwhile: nothing
}

TEST_F(SidebarViewTest, DeviceSettingsShowsOnlyForASourceHoldingACameraConfiguration)
{
    const QString cardRoot = makeCard("CARD", "blackbox.cfg");
    volumes.volumes = {{cardRoot, "DASHCAM", false}};
    const QString settingsFolder = makeCard("withsetup", "setup.cfg");
    const QString plainFolder = dir.filePath("plain");
    ASSERT_TRUE(QDir().mkpath(plainFolder));
    makeSidebar();
    model->library().addFolder(settingsFolder);
    model->library().addFolder(plainFolder);
    EXPECT_EQ(section("SD Cards"), QStringList{"DASHCAM"});
    const int cardRow = rowNamed("DASHCAM");
    EXPECT_EQ(rows().index(cardRow).data(Qt::ToolTipRole).toString(), cardRoot);
    EXPECT_EQ(rows().index(cardRow).data(SourceListModel::SymbolRole).toString(), "sdcard.fill");

    const struct {
        QString row;
        bool shown;
    } cases[] = {
        {"DASHCAM", true}, {"All Media", false}, {"withsetup", true}, {"plain", false}, {"card", false},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.row.toStdString());
        click(rowNamed(each.row));
        EXPECT_EQ(model->library().selectedSourceID(),
                  rows().index(rowNamed(each.row)).data(SourceListModel::SourceIDRole).toString());
        // As the store last found the source; it asks again with each selection.
        EXPECT_TRUE(waitFor([&] { return sidebar->deviceSettingsButton()->isVisible() == each.shown; }));
    }
    EXPECT_EQ(rows().index(rowNamed("All Media")).data(Qt::ToolTipRole).toString(),
              SourceListModel::allMediaHelp());

    click(rowNamed("DASHCAM"));
    QTest::mouseClick(sidebar->deviceSettingsButton(), Qt::LeftButton);
    EXPECT_TRUE(model->requestConfigWindow());
}

// Caching status

using CacheStatusTest = SidebarViewTest;

TEST_F(CacheStatusTest, TextsOfTheRunAndTheUsage)
{
    const struct {
        bool paused;
        int completed, total;
        const char *text;
    } runs[] = {
        {false, 0, 5, "Caching 1 of 5"}, {false, 4, 5, "Caching 5 of 5"}, {false, 5, 5, "Caching 5 of 5"},
        {false, 7, 5, "Caching 5 of 5"}, {true, 2, 5, "Caching paused"},
    };
    for (const auto &run : runs)
        EXPECT_EQ(CacheStatusView::runText(run.paused, run.completed, run.total), run.text);
    EXPECT_EQ(CacheStatusView::pauseHelp(true), "Resume caching");
    EXPECT_EQ(CacheStatusView::pauseHelp(false), "Pause caching");
    EXPECT_EQ(CacheStatusView::usageText({1'000'000, 1, 1}),
              Formats::byteCount(1'000'000) + " cached \u00B7 1 recordings");
    EXPECT_EQ(CacheStatusView::usageText({2'500, 4, 3}),
              Formats::byteCount(2'500) + " cached \u00B7 3 recordings");
}

TEST_F(CacheStatusTest, ARunCountsItsFilesCanBePausedAndLeavesItsErrorShown)
{
    for (int i = 1; i <= 5; ++i)
        cacheBackend.pending.append({QString("key%1").arg(i), Channel::front, QString("/card/f%1.mp4").arg(i),
                                     10, QString("f%1.mp4").arg(i)});
    cacheBackend.failures["f5.mp4"] = "f5.mp4: the card was removed";
    cacheBackend.holdCopies = true;
    makeSidebar();
    CacheStatusView &status = *sidebar->cacheStatus();
    model->cache().start();
    for (int file = 1; file <= 5; ++file) {
        ASSERT_TRUE(cacheBackend.waitForCopy()) << file;
        ASSERT_TRUE(waitFor([&] {
            return status.runLabel()->text() == QString("Caching %1 of 5").arg(file);
        })) << status.runLabel()->text().toStdString();
        EXPECT_TRUE(status.runBlock()->isVisible());
        EXPECT_FALSE(status.usageLine()->isVisible());
        EXPECT_EQ(status.currentNameLabel()->text(), QString("f%1.mp4").arg(file));
        EXPECT_EQ(status.pauseButton()->toolTip(), "Pause caching");
        cacheBackend.release();
    }
    ASSERT_TRUE(waitFor([&] { return !model->cache().isRunning(); }));
    EXPECT_FALSE(status.runBlock()->isVisible());
    EXPECT_TRUE(status.errorLine()->isVisible());
    EXPECT_TRUE(status.errorLabel()->text().contains("the card was removed"));
    EXPECT_EQ(status.progressBar()->isTextVisible(), false);

    // Paused during a run: the file in progress finishes, the block says so and offers to resume.
    cacheBackend.pending = {{"k", Channel::front, "/card/g.mp4", 10, "g.mp4"},
                            {"k2", Channel::front, "/card/h.mp4", 10, "h.mp4"}};
    cacheBackend.failures.clear();
    model->cache().start();
    ASSERT_TRUE(cacheBackend.waitForCopy());
    ASSERT_TRUE(waitFor([&] { return status.runBlock()->isVisible(); }));
    QTest::mouseClick(status.pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(model->cache().isPaused());
    EXPECT_EQ(status.runLabel()->text(), "Caching paused");
    EXPECT_EQ(status.pauseButton()->toolTip(), "Resume caching");
    cacheBackend.release(10);
    ASSERT_TRUE(waitFor([&] { return !model->cache().isRunning(); }));
    // The run has ended, caching stays paused: the block stays with its resume button, without a bar.
    EXPECT_TRUE(status.runBlock()->isVisible());
    EXPECT_EQ(status.runLabel()->text(), "Caching paused");
    EXPECT_FALSE(status.progressBar()->isVisible());
    EXPECT_FALSE(status.usageLine()->isVisible());
    model->cache().start(); // a rescan meanwhile starts nothing
    EXPECT_FALSE(model->cache().isRunning());
    QTest::mouseClick(status.pauseButton(), Qt::LeftButton);
    EXPECT_FALSE(model->cache().isPaused());
    ASSERT_TRUE(waitFor([&] { return cacheBackend.log().contains("copy h.mp4"); }));
    ASSERT_TRUE(waitFor([&] { return !model->cache().isRunning(); }));
    EXPECT_FALSE(status.runBlock()->isVisible());
}

TEST_F(CacheStatusTest, TheErrorLineKeepsItsCauseInSightAndItsTooltipNamesTheFiles)
{
    const QString cause = "couldn't be recorded: the media cache's catalog couldn't be written";
    QStringList messages;
    for (const char *name : {"REC_20240501_100000_000001_R.MP4", "REC_20240501_100100_000002_R.MP4"}) {
        cacheBackend.pending.append({name, Channel::rear, QString("/card/") + name, 10, name});
        cacheBackend.failures[name] = QString("The copy of “%1” %2.").arg(name, cause);
        cacheBackend.causes[name] = cause;
        messages.append(cacheBackend.failures[name]);
    }
    makeSidebar();
    CacheStatusView &status = *sidebar->cacheStatus();
    model->cache().start();
    ASSERT_TRUE(waitFor([&] { return !model->cache().isRunning(); }));

    WrapLabel *error = status.errorLabel();
    EXPECT_TRUE(status.errorLine()->isVisible());
    EXPECT_EQ(error->text(), "2 copies " + cause + ".");
    EXPECT_EQ(error->displayedText(), error->text()) << "nothing of it is cut off";
    EXPECT_EQ(error->toolTip(), messages.join('\n'));
}

TEST_F(CacheStatusTest, AtTheSidebarsWidthsEachErrorSaysWhatFailedAndWhyAndTheNamesAreInTheTooltip)
{
    for (int i = 0; i < 14; ++i) {
        const QString name = QString("REC_2024_05_01_10_%1_00_F.MP4").arg(i, 2, 10, QChar('0'));
        cacheBackend.pending.append({name, Channel::front, "/card/" + name, 10, name});
        cacheBackend.failures[name] =
            "The file “" + name + "” couldn't be opened: No such file or directory.";
        cacheBackend.causes[name] = "couldn't be made: No such file or directory";
    }
    cacheBackend.pending.append({"big", Channel::front, "/card/BIG_F.MP4", 1'000'000, "BIG_F.MP4"});
    makeSidebar();
    freeSpace.available = CacheCoordinator::freeSpaceReserve + 1000; // room for the small files only
    cacheBackend.catalogUnreadable = true;
    model->cache().removeCopy(recording("REC_2024_05_01_10_00_00", at(1)));
    model->cache().clear(false);
    ASSERT_TRUE(waitFor([&] { return model->cache().clearRefusal().has_value(); }));
    cacheBackend.catalogUnreadable = false;
    model->cache().start();
    ASSERT_TRUE(waitFor([&] { return !model->cache().isRunning(); }));

    const std::pair<QString, QString> told[] = {
        {"The media cache couldn't be cleared", "couldn't be read or written."},
        {"Cached copies couldn't be removed", "couldn't be read or written."},
        {"Caching paused", "not enough free disk space."},
        {"14 copies couldn't be made", "No such file or directory."},
    };
    WrapLabel *error = sidebar->cacheStatus()->errorLabel();
    for (const int width : {MainWindow::sidebarWidths.minimum, MainWindow::sidebarWidths.ideal}) {
        sidebar->resize(width, 700);
        const QStringList shown = error->displayedText().split('\n');
        ASSERT_EQ(shown.size(), 4) << width << error->displayedText().toStdString();
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(shown[i].startsWith(told[i].first) && shown[i].endsWith(told[i].second))
                << width << shown[i].toStdString();
    }
    EXPECT_FALSE(error->text().contains("REC_2024_05_01_10_00_00") || error->text().contains("BIG"));
    for (const char *name : {"“REC_2024_05_01_10_00_00”", "BIG_F.MP4", "REC_2024_05_01_10_09_00_F.MP4"})
        EXPECT_TRUE(error->toolTip().contains(name)) << name;
}

// Toast

class ToastViewTest : public ModelTest {
protected:
    std::unique_ptr<QWidget> window;
    ToastView *toast = nullptr;

    void makeToast(std::chrono::milliseconds duration = std::chrono::seconds(30))
    {
        make({}, duration);
        window = std::make_unique<QWidget>();
        window->resize(900, 600);
        toast = new ToastView(*model, window.get());
        window->show();
    }
    QList<QLabel *> leavingCopies() const
    {
        QList<QLabel *> copies;
        for (QLabel *label : window->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
            if (label->objectName() == "toastCopy")
                copies.append(label);
        return copies;
    }
    void TearDown() override
    {
        window.reset();
        ModelTest::TearDown();
    }
};

TEST_F(ToastViewTest, ALongMessageWithAFileNameShowsWholeInTwoLines)
{
    makeToast();
    const QString message = AppModel::catalogSetAsideMessage("/x/catalog.json.unreadable-20261207T151840Z");
    model->show(message, AppModel::errorSymbol, QString("/x/catalog.json.unreadable-20261207T151840Z"));
    ASSERT_TRUE(waitFor([&] { return !toast->isAnimating() && toast->isVisible(); }));
    const QLabel *label = toast->messageLabel();
    const QFontMetrics metrics = label->fontMetrics();
    EXPECT_LE(metrics.boundingRect(QRect(0, 0, label->width(), 1 << 16), Qt::TextWordWrap, message).height(),
              metrics.lineSpacing() * 2);
    EXPECT_LE(toast->width(), window->width());
}

TEST_F(ToastViewTest, ASecondToastReplacesTheFirstAndItsRevealGoesToTheRevealer)
{
    makeToast();
    EXPECT_FALSE(toast->isVisible());
    model->show("Frame copied", "doc.on.clipboard.fill");
    EXPECT_EQ(toast->messageLabel()->text(), "Frame copied");
    EXPECT_FALSE(toast->revealButton()->isVisibleTo(toast));
    EXPECT_EQ(leavingCopies().size(), 1) << "a picture of the banner slides in";
    ASSERT_TRUE(waitFor([&] { return !toast->isAnimating() && toast->isVisible(); }));
    EXPECT_TRUE(leavingCopies().isEmpty());
    EXPECT_EQ(toast->pos(), toast->restingPosition());
    // Centred, its capsule 24 px above the bottom edge.
    EXPECT_NEAR(toast->geometry().center().x(), window->width() / 2, 1);
    EXPECT_EQ(toast->geometry().bottom() + 1 - ToastView::shadowMargin,
              window->height() - ToastView::bottomSpace);

    const QString file = dir.filePath("snap.png");
    model->show("Snapshot saved", "camera.fill", file);
    EXPECT_EQ(toast->messageLabel()->text(), "Snapshot saved");
    EXPECT_TRUE(toast->revealButton()->isVisibleTo(toast));
    EXPECT_EQ(toast->revealButton()->text(), "Show in File Manager");
    EXPECT_EQ(leavingCopies().size(), 2) << "the first banner slides out while the second comes in";
    EXPECT_TRUE(toast->isAnimating());
    ASSERT_TRUE(waitFor([&] { return leavingCopies().isEmpty() && toast->isVisible(); }));

    QTest::mouseClick(toast->revealButton(), Qt::LeftButton);
    EXPECT_EQ(revealer.revealed, QStringList{file});
    ASSERT_TRUE(model->toast().has_value());
    EXPECT_EQ(model->toast()->message, "Snapshot saved") << "the reveal leaves the toast";
    EXPECT_TRUE(toast->isVisible());

    // The window grows: the banner stays at the bottom centre.
    window->resize(1200, 800);
    EXPECT_EQ(toast->pos(), toast->restingPosition());
}

TEST_F(ToastViewTest, ClearingSlidesTheBannerOut)
{
    makeToast(std::chrono::milliseconds(100));
    model->show("Saved 2 file(s)", "square.and.arrow.down");
    ASSERT_TRUE(waitFor([&] { return !model->toast().has_value(); }));
    EXPECT_FALSE(toast->isVisible());
    EXPECT_EQ(leavingCopies().size(), 1) << "it slides out";
    ASSERT_TRUE(waitFor([&] { return leavingCopies().isEmpty(); }));
    EXPECT_FALSE(toast->toast().has_value());
    EXPECT_FALSE(toast->isVisible());
}

} // namespace
