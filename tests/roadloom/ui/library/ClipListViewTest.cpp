#include "roadloom/model/AppModelHarness.h"

#include "roadloom/model/Formats.h"
#include "roadloom/ui/library/CategoryChips.h"
#include "roadloom/ui/library/ClipListModel.h"
#include "roadloom/ui/library/ClipListView.h"
#include "roadloom/ui/library/ClipRowDelegate.h"
#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

using namespace AppHarness;
using TestSupport::waitFor;
using Page = ClipListView::Page;

namespace {

// Noon of a local day, so the day is the same in every zone the tests run in.
QDateTime localNoon(int day)
{
    return QDateTime(QDate(2024, 5, day), QTime(12, 0), Qt::LocalTime).toUTC();
}

DashClip clipOf(const QString &name, std::optional<QDateTime> date,
                ClipCategory category = ClipCategory::continuous)
{
    DashClip clip = recording(name, date);
    clip.category = category;
    return clip;
}

class ClipListViewTest : public ModelTest {
protected:
    std::unique_ptr<ClipListView> view;

    ClipListView &makeView(const QList<DashClip> &clips)
    {
        make(clips);
        view = std::make_unique<ClipListView>(*model);
        view->resize(320, 700);
        view->show();
        return *view;
    }
    ClipListModel &rows() const { return *view->clipModel(); }
    // The list as texts: headers as "# title", recordings by name.
    QStringList listed() const
    {
        QStringList texts;
        for (int row = 0; row < rows().rowCount(); ++row)
            texts.append(rows().isHeader(row) ? "# " + rows().headerTitle(row) : rows().clip(row)->name);
        return texts;
    }
    void click(int row) const
    {
        QListView *list = view->list();
        list->scrollTo(rows().index(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(rows().index(row)).center());
    }
    int selectedRow() const
    {
        const QModelIndexList selected = view->list()->selectionModel()->selectedIndexes();
        return selected.isEmpty() ? -1 : selected.first().row();
    }
    void TearDown() override
    {
        view.reset();
        ModelTest::TearDown();
    }
};

TEST_F(ClipListViewTest, PagesFollowTheSourceTheScanAndTheSearch)
{
    makeView({});
    EXPECT_EQ(view->page(), Page::noVideos);
    EXPECT_EQ(view->pageWidget(Page::noVideos)->title(), "No Videos");
    EXPECT_EQ(view->pageWidget(Page::noVideos)->description(), "No MP4, MOV or AVI recordings found here.");
    EXPECT_EQ(view->titleLabel()->text(), "card");
    EXPECT_EQ(view->subtitleLabel()->text(), "0 recordings");

    view->searchField()->setText("nothing");
    EXPECT_EQ(view->page(), Page::noResults);
    EXPECT_EQ(view->pageWidget(Page::noResults)->title(), ContentUnavailableWidget::searchTitle("nothing"));
    view->searchField()->clear();
    EXPECT_EQ(view->page(), Page::noVideos);

    // A scan over the empty list shows the list under the large indicator.
    scan.holdCall = scan.calls + 1;
    model->library().rescan();
    ASSERT_TRUE(waitFor([&] { return scan.holding.load(); }));
    EXPECT_EQ(view->page(), Page::list);
    EXPECT_TRUE(view->busyIndicator()->isVisible());
    EXPECT_EQ(view->busyIndicator()->indicatorSize(), BusyIndicator::Size::large);
    EXPECT_EQ(view->subtitleLabel()->text(), "Scanning\u2026");
    scan.release.release();
    ASSERT_TRUE(waitFor([&] { return !model->library().isScanning(); }));
    EXPECT_FALSE(view->busyIndicator()->isVisible());
    EXPECT_EQ(view->page(), Page::noVideos);

    // No source: "No Recordings", whose button opens the folder panel.
    model->library().setSelectedSourceID(std::nullopt);
    EXPECT_EQ(view->page(), Page::noRecordings);
    EXPECT_EQ(view->titleLabel()->text(), "Roadloom");
    ContentUnavailableWidget *page = view->pageWidget(Page::noRecordings);
    EXPECT_EQ(page->title(), "No Recordings");
    QPushButton *open = page->findChild<QPushButton *>();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->text(), "Open Folder\u2026");
    EXPECT_TRUE(open->isDefault());
    QTest::mouseClick(open, Qt::LeftButton);
    EXPECT_EQ(panels.calls, QStringList{"chooseFolder Open Dashcam Folder or SD Card | Open"});
}

TEST_F(ClipListViewTest, NoRecordingsShowsEvenWhenRecordingsWereListed)
{
    makeView({clipOf("A", localNoon(1))});
    EXPECT_EQ(view->page(), Page::list);
    model->library().setSelectedSourceID(QStringLiteral("folder:/gone"));
    EXPECT_EQ(view->page(), Page::noRecordings);
    EXPECT_EQ(view->titleLabel()->text(), "Roadloom");
}

TEST_F(ClipListViewTest, SectionsAreRunsOfOneDay)
{
    const QList<DashClip> clips{clipOf("B", localNoon(2)), clipOf("C", localNoon(1)),
                                clipOf("A", localNoon(1)), clipOf("X", std::nullopt),
                                clipOf("Y", std::nullopt)};
    makeView(clips);
    const QString day1 = "# " + Formats::dayTitle(QDate(2024, 5, 1));
    const QString day2 = "# " + Formats::dayTitle(QDate(2024, 5, 2));
    const QString unknown = "# Unknown Date";
    const struct {
        ClipSort sort;
        QStringList rows;
    } cases[] = {
        {ClipSort::newest, {day2, "B", day1, "C", "A", unknown, "Y", "X"}},
        {ClipSort::oldest, {unknown, "X", "Y", day1, "A", "C", day2, "B"}},
        {ClipSort::name, {day1, "A", day2, "B", day1, "C", unknown, "X", "Y"}},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(int(each.sort));
        model->library().setSort(each.sort);
        EXPECT_EQ(listed(), each.rows);
    }
    EXPECT_EQ(view->subtitleLabel()->text(), "5 recordings");
    for (int row = 0; row < rows().rowCount(); ++row)
        EXPECT_EQ(rows().flags(rows().index(row)).testFlag(Qt::ItemIsEnabled), !rows().isHeader(row)) << row;
}

TEST_F(ClipListViewTest, SelectionFollowsTheStoreAndOnlyAUserWritesIt)
{
    QList<DashClip> clips;
    for (int i = 0; i < 40; ++i)
        clips.append(clipOf(QString("REC%1").arg(i, 2, 10, QChar('0')), localNoon(1 + i % 3).addSecs(i)));
    makeView(clips);
    LibraryStore &library = model->library();
    const DashClip chosen = library.clips().at(3);
    click(rows().rowOf(chosen.id));
    EXPECT_EQ(library.selectedClipID(), chosen.id);
    load(chosen);

    // Hidden by a search or a filter, or a rescan: the store and the player keep the recording.
    QSignalSpy writes(&library, &LibraryStore::selectedClipIDChanged);
    QTest::keyClicks(view->searchField(), "REC1");
    EXPECT_EQ(library.searchText(), "REC1") << "every keystroke";
    EXPECT_EQ(selectedRow(), -1);
    library.setCategoryFilter(ClipCategory::event);
    library.setCategoryFilter(std::nullopt);
    QTest::keyClick(view->searchField(), Qt::Key_Backspace);
    QTest::keyClick(view->searchField(), Qt::Key_Backspace);
    QTest::keyClick(view->searchField(), Qt::Key_Backspace);
    QTest::keyClick(view->searchField(), Qt::Key_Backspace);
    EXPECT_EQ(library.searchText(), "");
    library.rescan();
    settle();
    EXPECT_EQ(writes.count(), 0);
    EXPECT_EQ(library.selectedClipID(), chosen.id);
    ASSERT_TRUE(model->player().clip().has_value());
    EXPECT_EQ(model->player().clip()->id, chosen.id);
    EXPECT_EQ(selectedRow(), rows().rowOf(chosen.id)) << "shown again once listed";

    // Clicking a header changes nothing; a selection made by the model scrolls into view.
    click(0);
    EXPECT_EQ(library.selectedClipID(), chosen.id);
    const DashClip last = library.clips().last();
    view->list()->scrollToTop();
    library.setSelectedClipID(last.id);
    EXPECT_EQ(selectedRow(), rows().rowOf(last.id));
    EXPECT_TRUE(
        view->list()->viewport()->rect().contains(view->list()->visualRect(rows().index(selectedRow()))));

    // The store's search shows in the field without being written back.
    library.setSearchText("REC2");
    EXPECT_EQ(view->searchField()->text(), "REC2");
}

// The clear button's icon comes from the desktop's icon themes, a slow look-up the window's first frame does
// without: the button is made with the first text, typed or set by the store, and clears the search.
TEST_F(ClipListViewTest, SearchClearButtonComesWithTheFirstText)
{
    makeView({clipOf("A", localNoon(1))});
    QLineEdit *field = view->searchField();
    const auto clearAction = [field] { return field->findChild<QAction *>("_q_qlineeditclearaction"); };
    EXPECT_FALSE(field->isClearButtonEnabled());
    EXPECT_EQ(clearAction(), nullptr);

    model->library().setSearchText("REC");
    EXPECT_TRUE(field->isClearButtonEnabled()) << "set by the store";
    ASSERT_NE(clearAction(), nullptr);
    QToolButton *clear = nullptr;
    for (QToolButton *button : field->findChildren<QToolButton *>())
        if (button->defaultAction() == clearAction())
            clear = button;
    ASSERT_NE(clear, nullptr);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(model->library().searchText(), "");

    view.reset();
    view = std::make_unique<ClipListView>(*model);
    EXPECT_FALSE(view->searchField()->isClearButtonEnabled());
    QTest::keyClicks(view->searchField(), "R");
    EXPECT_TRUE(view->searchField()->isClearButtonEnabled()) << "typed";

    model->library().setSearchText("A");
    view.reset();
    view = std::make_unique<ClipListView>(*model);
    EXPECT_TRUE(view->searchField()->isClearButtonEnabled()) << "already searching";
}

TEST_F(ClipListViewTest, SortMenuChoosesOneOrderAndRescans)
{
    makeView({clipOf("A", localNoon(1))});
    QStringList texts;
    QList<QAction *> sorts;
    for (QAction *action : view->sortMenu()->actions()) {
        texts.append(action->text().isEmpty() ? "-" : action->text());
        if (action->isCheckable())
            sorts.append(action);
    }
    EXPECT_EQ(texts, (QStringList{"Sort", "Newest First", "Oldest First", "Name", "Size", "-", "Rescan"}));
    ASSERT_EQ(sorts.size(), 4);
    sorts.at(3)->trigger();
    EXPECT_EQ(model->library().sort(), ClipSort::size);
    model->library().setSort(ClipSort::oldest);
    EXPECT_TRUE(sorts.at(1)->isChecked());
    EXPECT_FALSE(sorts.at(3)->isChecked());
    const int calls = scan.calls;
    view->sortMenu()->actions().last()->trigger();
    EXPECT_TRUE(waitFor([&] { return scan.calls > calls; }));
}

TEST_F(ClipListViewTest, ContextMenuOffersWhatTheStorageAllows)
{
    makeView({});
    DashClip clip = recording("REC", localNoon(1),
                              {{Channel::front, "/card/REC_F.mp4"}, {Channel::rear, "/card/REC_R.mp4"}});
    auto states = [&](StorageState state, bool cached) {
        DashClip c = clip;
        c.channelStates = {{Channel::front, state}, {Channel::rear, StorageState::original}};
        c.cachedChannels = cached ? std::set<Channel>{Channel::front, Channel::rear} : std::set<Channel>{};
        return c;
    };
    const struct {
        DashClip clip;
        const char *third;
        bool enabled;
    } cases[] = {
        {states(StorageState::original, true), "Remove Cached Copy", true},
        {states(StorageState::cached, true), "Remove Cached Copy", false},
        {states(StorageState::original, false), "Cache Now", true},
        {states(StorageState::missing, false), "Cache Now", false},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.third);
        std::unique_ptr<QMenu> menu = view->clipMenu(each.clip);
        QStringList texts;
        for (QAction *action : menu->actions())
            texts.append(action->isSeparator() ? "-" : action->text());
        EXPECT_EQ(texts, (QStringList{"Show in File Manager", "Save Original Files\u2026", each.third,
                                      "Export Telemetry", "-", "Move to Trash"}));
        EXPECT_EQ(menu->actions().at(2)->isEnabled(), each.enabled);
    }

    std::unique_ptr<QMenu> menu = view->clipMenu(clip);
    menu->actions().at(0)->trigger();
    EXPECT_EQ(revealer.revealedTogether, QList<QStringList>{clip.allURLs()}) << "all files together";
    QStringList formats;
    for (QAction *action : menu->actions().at(3)->menu()->actions())
        formats.append(action->text());
    EXPECT_EQ(formats.size(), 5);
    EXPECT_EQ(formats.first(), title(TelemetryFormat::gpx) + "\u2026");
    alerts.answer = 1; // Cancel
    menu->actions().last()->trigger();
    EXPECT_EQ(alerts.shown.size(), 1) << "Move to Trash asks first";
}

TEST_F(ClipListViewTest, RowsShowTimeOrNameSizeAVIAndTheBadgeOfTheirStorage)
{
    DashClip avi = recording("REC_AVI", std::nullopt, {{Channel::front, "/card/REC_AVI_F.AVI"}});
    avi.category = ClipCategory::event;
    avi.byteSize = 12'000'000;
    EXPECT_EQ(ClipRowDelegate::firstLine(avi), "REC_AVI");
    EXPECT_EQ(ClipRowDelegate::secondLine(avi),
              "Incident" + Formats::separator + Formats::byteCount(12'000'000) + " \u00B7 AVI");
    DashClip mp4 = recording("REC", localNoon(1));
    EXPECT_EQ(ClipRowDelegate::firstLine(mp4), Formats::time(localNoon(1)));
    EXPECT_FALSE(ClipRowDelegate::secondLine(mp4).contains("AVI"));

    auto stored = [](StorageState state, bool cached) {
        DashClip c = recording("S", localNoon(1));
        c.channelStates = {{Channel::front, state}};
        if (cached)
            c.cachedChannels = {Channel::front};
        return c;
    };
    const struct {
        DashClip clip;
        const char *symbol;
        const char *help;
    } badges[] = {
        {stored(StorageState::original, true), "checkmark.shield.fill", "Backup copy stored in Roadloom"},
        {stored(StorageState::moved, true), "checkmark.shield.fill", "Backup copy stored in Roadloom"},
        {stored(StorageState::original, false), "", ""},
        {stored(StorageState::cached, true), "externaldrive.fill.badge.checkmark",
         "Original is no longer available \u2014 playing the cached copy"},
        {stored(StorageState::missing, false), "exclamationmark.triangle.fill",
         "Original moved or deleted and no cached copy exists"},
    };
    for (const auto &badge : badges) {
        SCOPED_TRACE(badge.symbol);
        EXPECT_EQ(ClipRowDelegate::badgeSymbol(badge.clip), badge.symbol);
        EXPECT_EQ(ClipRowDelegate::badgeHelp(badge.clip), badge.help);
    }
}

TEST_F(ClipListViewTest, HelpOverTheBadgeExplainsItElsewhereNamesTheFiles)
{
    ASSERT_TRUE(QDir().mkpath(card()));
    ChannelFiles files;
    for (Channel channel : {Channel::front, Channel::rear}) {
        files[channel] = card() + "/REC_" + rawValue(channel) + ".mp4";
        QFile(files[channel]).open(QIODevice::WriteOnly);
    }
    makeView({recording("REC", localNoon(1), files)});
    const DashClip listedClip = model->library().clips().first();
    const int row = rows().rowOf(listedClip.id);
    ASSERT_GE(row, 0);
    EXPECT_EQ(ClipRowDelegate::badgeSymbol(*rows().clip(row)), "") << "not cached yet";
    // Copies stored: the row changes in place to the green shield.
    QSignalSpy changed(&rows(), &QAbstractItemModel::dataChanged);
    model->library().markCached(listedClip.catalogKey(), Channel::front);
    model->library().markCached(listedClip.catalogKey(), Channel::rear);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.last().at(0).toModelIndex().row(), row);
    const DashClip shown = *rows().clip(row);
    EXPECT_EQ(ClipRowDelegate::badgeSymbol(shown), "checkmark.shield.fill");
    auto *delegate = static_cast<ClipRowDelegate *>(view->list()->itemDelegate());
    const QRect rect = view->list()->visualRect(rows().index(row));
    QStyleOptionViewItem option;
    option.rect = rect;
    const QRect badge = delegate->badgeRect(rect, shown);
    ASSERT_FALSE(badge.isEmpty());
    EXPECT_TRUE(rect.contains(badge));
    const struct {
        QPoint at;
        QString help;
    } cases[] = {
        {badge.center(), ClipRowDelegate::badgeHelp(shown)},
        {QPoint(rect.left() + 60, rect.center().y()), "REC_F.mp4\nREC_R.mp4"},
    };
    for (const auto &each : cases) {
        QHelpEvent event(QEvent::ToolTip, each.at, view->list()->viewport()->mapToGlobal(each.at));
        EXPECT_TRUE(delegate->helpEvent(&event, view->list(), option, rows().index(row)));
        EXPECT_EQ(QToolTip::text(), each.help);
        QToolTip::hideText();
    }
}

TEST_F(ClipListViewTest, ChipsCountTheWholeSourceAndTheSelectedChipStays)
{
    makeView({clipOf("A", localNoon(1), ClipCategory::event), clipOf("B", localNoon(1), ClipCategory::event),
              clipOf("C", localNoon(2), ClipCategory::parking), clipOf("D", localNoon(2))});
    auto counts = [&] {
        QStringList texts;
        for (CategoryChip *chip : view->chips()->chips())
            texts.append(chip->title() + " " + QString::number(chip->count()));
        return texts;
    };
    const QStringList whole{"All 4", "Continuous 1", "Incident 2", "Parking 1"};
    EXPECT_EQ(counts(), whole);
    LibraryStore &library = model->library();
    library.setSearchText("A");
    library.setCategoryFilter(ClipCategory::parking);
    EXPECT_EQ(counts(), whole) << "search and filter do not change the counts";
    library.setSearchText("");

    CategoryChip *event = view->chips()->chips().at(2);
    QTest::mouseClick(event, Qt::LeftButton);
    EXPECT_EQ(library.categoryFilter(), ClipCategory::event);
    EXPECT_TRUE(event->isChecked());
    QTest::mouseClick(event, Qt::LeftButton);
    EXPECT_EQ(library.categoryFilter(), ClipCategory::event) << "tapping the selected chip changes nothing";
    EXPECT_TRUE(event->isChecked());
    QStringList shown = listed().filter(QRegularExpression("^[A-D]$"));
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"A", "B"}));
    QTest::mouseClick(view->chips()->chips().at(0), Qt::LeftButton);
    EXPECT_EQ(library.categoryFilter(), std::nullopt);
    EXPECT_TRUE(view->chips()->chips().at(0)->isChecked());
}

TEST_F(ClipListViewTest, AnEmptySourceHasOnlyTheAllChipAndTheWheelScrollsTheStripSideways)
{
    makeView({});
    ASSERT_EQ(view->chips()->chips().size(), 1);
    EXPECT_EQ(view->chips()->chips().first()->count(), 0);

    view.reset();
    QList<DashClip> clips;
    for (ClipCategory category : allClipCategories)
        clips.append(clipOf(rawValue(category), localNoon(1), category));
    scan.byRoot[card()] = clips;
    model->library().rescan();
    settle();
    view = std::make_unique<ClipListView>(*model);
    view->resize(280, 600);
    view->show();
    QScrollBar *bar = view->chips()->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    QWidget *viewport = view->chips()->viewport();
    QWheelEvent wheel(QPointF(10, 10), viewport->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(viewport, &wheel);
    EXPECT_GT(bar->value(), 0);
}

// Six categories in a narrow column: every chip is reached by the sideways wheel, a drag, a click on its cut
// part and the keyboard, each time whole and clear of the fades.
TEST_F(ClipListViewTest, EveryChipIsReachedByWheelDragClickAndKeys)
{
    QList<DashClip> clips;
    for (ClipCategory category : allClipCategories)
        if (category != ClipCategory::other)
            clips.append(clipOf(rawValue(category), localNoon(1), category));
    // The chips come with a scan after the view was built, as in the program.
    makeView({});
    scan.byRoot[card()] = clips;
    model->library().rescan();
    settle();
    CategoryChips *strip = view->chips();
    QScrollBar *bar = strip->horizontalScrollBar();
    QWidget *viewport = strip->viewport();
    ASSERT_TRUE(waitFor([&] { return strip->chips().size() == 7 && bar->maximum() > 200; }));
    const QList<CategoryChip *> chips = strip->chips();
    LibraryStore &library = model->library();
    const int fade = CategoryChips::fadeWidth;
    const auto inView = [&](CategoryChip *chip) {
        return QRect(chip->mapTo(viewport, QPoint()), chip->size());
    };
    const auto clearInView = [&](CategoryChip *chip) {
        const QRect clear = viewport->rect().adjusted(strip->showsFade(Qt::LeftEdge) ? fade : 0, 0,
                                                      strip->showsFade(Qt::RightEdge) ? -fade : 0, 0);
        return clear.contains(inView(chip));
    };
    const auto fades = [&] {
        return std::pair{strip->showsFade(Qt::LeftEdge), strip->showsFade(Qt::RightEdge)};
    };
    EXPECT_EQ(fades(), std::pair(false, true));

    // A sideways wheel over a chip scrolls too, as the vertical one does.
    const auto wheel = [&](QWidget *over, QPoint angle) {
        QWheelEvent event(QPointF(5, 5), over->mapToGlobal(QPointF(5, 5)), QPoint(), angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        // As from the window system, so that it passes on to the parents (sendEvent would not).
        QSpontaneKeyEvent::setSpontaneous(&event);
        qApp->notify(over, &event);
    };
    wheel(chips[1], QPoint(-120, 0));
    EXPECT_EQ(bar->value(), 30);
    EXPECT_EQ(fades(), std::pair(true, true));
    wheel(chips[1], QPoint(0, 120));
    EXPECT_EQ(bar->value(), 0);

    // A drag that starts on a chip moves the strip with the pointer and chooses nothing; so does one that
    // starts between chips.
    QPoint from = chips[1]->rect().center();
    QTest::mousePress(chips[1], Qt::LeftButton, {}, from);
    QTest::mouseMove(chips[1], from - QPoint(90, 0));
    EXPECT_EQ(bar->value(), 90);
    QTest::mouseRelease(chips[1], Qt::LeftButton, {}, from - QPoint(90, 0));
    EXPECT_EQ(library.categoryFilter(), std::nullopt);
    EXPECT_FALSE(chips[1]->isDown());
    QWidget *ground = chips[0]->parentWidget();
    from = QPoint(chips[2]->geometry().right() + 3, 10);
    QTest::mousePress(ground, Qt::LeftButton, {}, from);
    QTest::mouseMove(ground, from + QPoint(50, 0));
    QTest::mouseRelease(ground, Qt::LeftButton, {}, from + QPoint(50, 0));
    EXPECT_EQ(bar->value(), 40);
    // A slip of the hand while clicking is still a click.
    QTest::mousePress(chips[2], Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseMove(chips[2], QPoint(23, 10));
    QTest::mouseRelease(chips[2], Qt::LeftButton, {}, QPoint(23, 10));
    EXPECT_EQ(library.categoryFilter(), chips[2]->category());

    // A chip cut at the right edge: the pointer over its cut part, also under the fade, reaches it, and the
    // click brings it whole into view.
    CategoryChip *cut = chips[4];
    bar->setValue(cut->x() - (viewport->width() - 40));
    ASSERT_EQ(inView(cut).left(), viewport->width() - 40);
    const QPoint underFade(viewport->width() - fade / 2, viewport->height() / 2);
    EXPECT_EQ(viewport->childAt(underFade), cut);
    QTest::mouseClick(cut, Qt::LeftButton, {}, cut->mapFrom(viewport, underFade));
    EXPECT_EQ(library.categoryFilter(), cut->category());
    EXPECT_TRUE(clearInView(cut));

    // The keyboard: Tab and the arrows go along every chip, each brought into view; the window's keys for
    // Space and the arrows wait meanwhile. Enter and Space choose.
    QAction windowKey(QStringLiteral("Play"));
    windowKey.setShortcuts(
        {QKeySequence(Qt::Key_Space), QKeySequence(Qt::Key_Right), QKeySequence(Qt::Key_Left)});
    view->addAction(&windowKey);
    QSignalSpy stolen(&windowKey, &QAction::triggered);
    // As the player's keys do, on the whole application.
    struct PlayerKeys : QObject {
        int taken = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            const bool take = event->type() == QEvent::KeyPress &&
                              QList{Qt::Key_Space, Qt::Key_Left, Qt::Key_Right}.contains(
                                  static_cast<QKeyEvent *>(event)->key());
            taken += take;
            return take;
        }
    } playerKeys;
    qApp->installEventFilter(&playerKeys);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    library.setCategoryFilter(std::nullopt);
    ASSERT_EQ(bar->value(), 0);
    view->searchField()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view->searchField(), Qt::Key_Tab);
    if (!chips[0]->hasFocus())
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // past the sort menu
    ASSERT_TRUE(chips[0]->hasFocus()) << "the chips come after the search field";
    QTest::keyClick(chips[0], Qt::Key_Tab);
    EXPECT_TRUE(chips[1]->hasFocus());
    for (int i = 2; i < chips.size(); ++i) {
        const int before = bar->value();
        QTest::keyClick(chips[i - 1], Qt::Key_Right);
        ASSERT_TRUE(chips[i]->hasFocus()) << i;
        EXPECT_TRUE(clearInView(chips[i])) << i;
        // Just as far as it takes.
        if (bar->value() != before && bar->value() != bar->maximum()) {
            EXPECT_EQ(inView(chips[i]).right() + 1, viewport->width() - fade) << i;
        }
    }
    QTest::keyClick(chips.last(), Qt::Key_Right);
    EXPECT_TRUE(chips.last()->hasFocus()) << "the last chip keeps the keyboard";
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(fades(), std::pair(true, false));
    QTest::keyClick(chips.last(), Qt::Key_Return);
    EXPECT_EQ(library.categoryFilter(), chips.last()->category());
    for (int i = chips.size() - 2; i >= 0; --i) {
        QTest::keyClick(chips[i + 1], Qt::Key_Left);
        ASSERT_TRUE(chips[i]->hasFocus()) << i;
        EXPECT_TRUE(clearInView(chips[i])) << i;
    }
    EXPECT_EQ(fades(), std::pair(false, true));
    QTest::keyClick(chips[0], Qt::Key_Space);
    EXPECT_EQ(library.categoryFilter(), std::nullopt);
    chips.last()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(chips.last(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->list()) << "the list comes after the chips";
    EXPECT_EQ(stolen.count(), 0);
    EXPECT_EQ(playerKeys.taken, 0);
    view->removeAction(&windowKey);
    QTest::keyClick(view->list(), Qt::Key_Space);
    EXPECT_EQ(playerKeys.taken, 1) << "away from the chips the keys are the player's again";
}

TEST_F(ClipListViewTest, ATrashedRecordingLeavesItsRowAndEmptiedDay)
{
    adjust = [](AppModel::Services &s) { s.trash = nullptr; };
    QList<DashClip> clips;
    ASSERT_TRUE(QDir().mkpath(card()));
    for (const auto &[name, day] : {std::pair{"A", 2}, std::pair{"B", 1}}) {
        const QString file = card() + "/" + name + "_F.mp4";
        QFile(file).open(QIODevice::WriteOnly);
        DashClip clip = recording(name, localNoon(day), {{Channel::front, file}});
        clip.id = file;
        clips.append(clip);
    }
    makeView(clips);
    ASSERT_EQ(rows().sectionCount(), 2);
    const DashClip a = model->library().clips().first();
    alerts.answer = 0;
    model->trash(a);
    ASSERT_TRUE(waitFor([&] { return rows().sectionCount() == 1; }));
    EXPECT_EQ(listed(), (QStringList{"# " + Formats::dayTitle(QDate(2024, 5, 1)), "B"}));
}

} // namespace
