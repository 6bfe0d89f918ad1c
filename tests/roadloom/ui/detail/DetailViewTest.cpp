#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/ViewHarness.h"

#include "roadloom/model/Preferences.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"
#include "roadloom/ui/detail/DeckResizeHandle.h"
#include "roadloom/ui/detail/VideoStage.h"

#include <QSignalSpy>
#include <QTest>

using namespace AppHarness;

namespace {

class DetailViewTest : public ModelTest {
protected:
    const DashClip trip = ViewHarness::twoCameras(QStringLiteral("Trip"));

    // The detail view alone in a window of that size, with a transport bar and a deck that would like
    // more room than there is.
    DetailView &show(QSize size = {1000, 640})
    {
        make({trip});
        view = std::make_unique<DetailView>(*model);
        auto *bar = new QWidget;
        bar->setFixedHeight(44);
        view->setTransportBar(bar);
        deck = new QWidget;
        deck->setMinimumHeight(400);
        view->setDeck(deck);
        view->resize(size);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        return *view;
    }
    void settleLayout()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    std::optional<double> storedHeight() const
    {
        if (!defaults.contains(Preferences::Keys::deckHeight))
            return std::nullopt;
        return defaults.value(Preferences::Keys::deckHeight).toDouble();
    }
    // A drag on the handle by these vertical steps (from its middle).
    void dragHandle(const QList<double> &steps)
    {
        QList<QPointF> offsets;
        for (double dy : steps)
            offsets.append(QPointF(0, dy));
        ViewHarness::drag(view->resizeHandle(), QPointF(100, 3), offsets);
        settleLayout();
    }

    void TearDown() override
    {
        view.reset();
        ModelTest::TearDown();
    }

    std::unique_ptr<DetailView> view;
    QWidget *deck = nullptr;
};

} // namespace

TEST_F(DetailViewTest, ShowsThePlaceholderUntilARecordingIsLoadedAndTitlesTheWindow)
{
    DetailView &detail = show();
    EXPECT_FALSE(detail.showsPlayer());
    EXPECT_TRUE(detail.placeholder()->isVisible());
    EXPECT_EQ(detail.placeholder()->title(), "Select a Recording");
    EXPECT_EQ(detail.placeholder()->symbol(), "play.rectangle");
    EXPECT_EQ(detail.placeholder()->description(),
              "Choose a clip from the list to play it with its map and G-sensor data.");
    EXPECT_EQ(detail.title(), "Roadloom");

    // The player shows as soon as the load starts, before the video is ready.
    model->player().load(trip, false);
    EXPECT_TRUE(detail.showsPlayer());
    EXPECT_TRUE(detail.stage()->isVisible());
    EXPECT_EQ(detail.title(), "Trip");
    load(trip);

    // Put into a window, the window takes the title.
    QWidget window;
    auto *inWindow = new DetailView(*model, &window);
    EXPECT_EQ(window.windowTitle(), "Trip");
    EXPECT_TRUE(inWindow->showsPlayer());

    model->player().load(std::nullopt, false);
    EXPECT_FALSE(detail.showsPlayer());
    EXPECT_EQ(detail.title(), "Roadloom");
    EXPECT_EQ(window.windowTitle(), "Roadloom");
}

TEST_F(DetailViewTest, TheHandleSetsTheDeckHeightWithinItsLimitsOnEveryMove)
{
    show({1000, 900});
    load(trip);
    settleLayout();
    ASSERT_TRUE(view->resizeHandle()->isVisible());

    // Less than 10 pixels is no drag.
    dragHandle({4, 9});
    EXPECT_FALSE(storedHeight());
    EXPECT_EQ(view->deckArea()->height(), 260);

    // Down shrinks the deck; every move is written at once.
    QList<double> written;
    QObject::connect(&model->preferences(), &Preferences::deckHeightChanged, view.get(),
                     [&](double) { written.append(*storedHeight()); });
    dragHandle({12, 20, 30});
    EXPECT_EQ(written, (QList<double>{248, 240, 230}));
    EXPECT_EQ(view->deckArea()->height(), 230);

    // A second drag starts from where the first left the height.
    dragHandle({-10, -40});
    EXPECT_EQ(storedHeight(), 270);
    EXPECT_EQ(view->deckArea()->height(), 270);

    dragHandle({-300, -1000});
    EXPECT_EQ(storedHeight(), 520);
    dragHandle({300, 1000});
    EXPECT_EQ(storedHeight(), 200);
    EXPECT_EQ(view->deckArea()->height(), 200);
    EXPECT_EQ(view->resizeHandle()->cursor().shape(), Qt::SizeVerCursor);
    EXPECT_EQ(view->resizeHandle()->height(), 7);
}

TEST_F(DetailViewTest, KeepsThePlayerAtLeast320AndSqueezesTheDeck)
{
    // A stored height beyond the handle's range is used as stored.
    defaults.setValue(Preferences::Keys::deckHeight, 900);
    show({1000, 640});
    load(trip);
    settleLayout();
    EXPECT_GE(view->playerArea()->height(), 320);
    EXPECT_EQ(view->playerArea()->height() + 7 + view->deckArea()->height(), 640);
    EXPECT_EQ(view->deckArea()->maximumHeight(), 900);
    // The deck keeps its own minimum and is cut, rather than pushing the window larger.
    EXPECT_EQ(deck->height(), 400);
    EXPECT_LE(view->minimumSizeHint().height(), 320 + 7 + 10);

    view->resize(1000, 1400);
    settleLayout();
    EXPECT_EQ(view->deckArea()->height(), 900);
    EXPECT_EQ(storedHeight(), 900);
}

TEST_F(DetailViewTest, TheaterModeHidesTheDeckWithoutTouchingItsHeight)
{
    show({1000, 900});
    load(trip);
    settleLayout();
    const int withDeck = view->playerArea()->height();

    model->setTheaterMode(true);
    settleLayout();
    EXPECT_FALSE(view->resizeHandle()->isVisible());
    EXPECT_FALSE(view->deckArea()->isVisible());
    EXPECT_EQ(view->playerArea()->height(), 900);
    EXPECT_GT(view->playerArea()->height(), withDeck);

    model->setTheaterMode(false);
    settleLayout();
    EXPECT_TRUE(view->deckArea()->isVisible());
    EXPECT_EQ(view->deckArea()->height(), 260);
    EXPECT_FALSE(storedHeight());
}
