#include "platform/gui/StageGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void expectNear(QPointF actual, QPointF expected, const char *what)
{
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9) << what;
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9) << what;
}

} // namespace

TEST(StageGeometry, PlacesTheInsetTopRightAtItsWidthAndLabelsIt)
{
    struct Case {
        QSizeF stage;
        double aspect;
        QRectF inset;
    };
    const Case cases[] = {
        // 0.26 x 400 = 104 is below the minimum of 160.
        {{400, 300}, 16.0 / 9.0, {226, 14, 160, 90}},
        {{1000, 600}, 4.0 / 3.0, {726, 14, 260, 195}},
        // An unusable ratio draws a 16:9 inset.
        {{400, 300}, std::numeric_limits<double>::quiet_NaN(), {226, 14, 160, 90}},
        {{400, 300}, 0, {226, 14, 160, 90}},
    };
    for (const Case &c : cases) {
        StageView view;
        view.showInset = true;
        view.aspectRatio = c.aspect;
        const StageLayout layout = StageGeometry::layout(c.stage, view);
        ASSERT_TRUE(layout.inset) << c.stage.width();
        EXPECT_EQ(*layout.inset, c.inset) << c.stage.width() << " " << c.aspect;
        // The right and top margins are equal.
        EXPECT_DOUBLE_EQ(c.stage.width() - layout.inset->right(), layout.inset->top());
    }

    StageView plain;
    EXPECT_FALSE(StageGeometry::layout({400, 300}, plain).inset);
    EXPECT_EQ(StageGeometry::layout({400, 300}, plain).insetLabel, QStringLiteral("REAR"));
    plain.swapped = true;
    EXPECT_EQ(StageGeometry::layout({400, 300}, plain).insetLabel, QStringLiteral("FRONT"));
}

TEST(StageGeometry, MovesPointsOfTheMainPictureByZoomPanRotationAndMirror)
{
    // Stage 400 x 300, centre (200, 150).
    struct Case {
        const char *what;
        StageView view;
        QPointF from;
        QPointF to;
    };
    StageView mirroredZoom;
    mirroredZoom.mirrored = true;
    mirroredZoom.zoom = 2;
    StageView turnedPanned;
    turnedPanned.rotation = 90;
    turnedPanned.pan = {30, 10};
    StageView all = turnedPanned;
    all.zoom = 2;
    all.mirrored = true;
    const Case cases[] = {
        {"identity keeps a corner", StageView{}, {0, 0}, {0, 0}},
        {"zoom 2 doubles the distance from the centre",
         [] {
             StageView v;
             v.zoom = 2;
             return v;
         }(),
         {250, 100},
         {300, 50}},
        // (50, -50) from the centre, x flipped and doubled: (-100, -100).
        {"mirror with zoom 2", mirroredZoom, {250, 100}, {100, 50}},
        {"mirror keeps the centre", mirroredZoom, {200, 150}, {200, 150}},
        // (100, 0) + pan (30, 10) = (130, 10), turned clockwise: (-10, 130).
        {"rotation 90 turns the pan with the picture", turnedPanned, {300, 150}, {190, 280}},
        // The centre moves by the pan turned: (30, 10) -> (-10, 30).
        {"rotation 90 moves the centre by the turned pan", turnedPanned, {200, 150}, {190, 180}},
        // (100, 0) -> (-200, 0) + (30, 10) = (-170, 10) -> (-10, -170).
        {"mirror, zoom 2, pan and rotation 90", all, {300, 150}, {190, -20}},
    };
    for (const Case &c : cases)
        expectNear(StageGeometry::layout({400, 300}, c.view).main.map(c.from), c.to, c.what);
}

TEST(StageGeometry, RendersTheMainPictureNoFinerThanTheVideo)
{
    struct Case {
        QSizeF stage;
        double zoom;
        QSizeF video;
        double scale;
    };
    // 1920 x 1080 fitted into 1000 x 500 shows 888.9 pixels across: 2.16 times finer than the stage.
    const double fullHd = 1920.0 / (500.0 * 16.0 / 9.0);
    const Case cases[] = {
        {{1000, 500}, 1, {1920, 1080}, 1},
        {{1000, 500}, 2, {1920, 1080}, 2},
        {{1000, 500}, 4, {1920, 1080}, fullHd},
        // A video smaller than the stage never renders beyond the stage's pixels.
        {{480, 270}, 3, {320, 240}, 1},
        {{1000, 500}, 0.5, {1920, 1080}, 1},
        // Unknown size: the zoom alone.
        {{1000, 500}, 3, {}, 3},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(StageGeometry::renderScale(c.stage, c.zoom, c.video), c.scale, 1e-9)
            << c.stage.width() << " zoom " << c.zoom;

    EXPECT_EQ(StageGeometry::fitted({480, 270}, 4.0 / 3.0), QRectF(60, 0, 360, 270));
    EXPECT_EQ(StageGeometry::fitted({400, 400}, 2.0), QRectF(0, 100, 400, 200));
}
