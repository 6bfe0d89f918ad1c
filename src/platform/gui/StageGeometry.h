#pragma once

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTransform>

#include <optional>

// What the video stage shows: the view settings of the player, and whether the picture-in-picture inset
// is drawn. Sizes and offsets are in device-independent pixels.
struct StageView {
    double zoom = 1;
    QSizeF pan{0, 0};
    double rotation = 0; // degrees, clockwise on screen
    bool mirrored = false;
    bool swapped = false;   // the second camera is the large picture
    bool showInset = false; // a second camera is loaded and the inset is wanted
    double aspectRatio = 16.0 / 9.0;

    friend bool operator==(const StageView &, const StageView &) = default;
};

// Where the stage draws its pictures, for a stage of a given size.
struct StageLayout {
    // Maps a point of the unzoomed stage (the main picture's layer, fitted on black) to where it is drawn:
    // p -> c + R(rotation) * (S(+-zoom, zoom) * (p - c) + pan), c the stage's centre, x mirrored.
    QTransform main;
    std::optional<QRectF> inset; // the inset's rectangle, none without an inset
    QString insetLabel;          // "FRONT" when swapped, else "REAR"
};

namespace StageGeometry {

constexpr double insetShare = 0.26; // of the stage's width
constexpr double minimumInsetWidth = 160;
constexpr double insetMargin = 14; // from the stage's top and right edges
constexpr double insetCornerRadius = 10;
constexpr double labelMargin = 6; // from the inset's bottom-left corner

StageLayout layout(QSizeF stage, const StageView &view);
QTransform mainTransform(QSizeF stage, const StageView &view);
// The inset's rectangle at the top right; its height follows from the aspect ratio (16:9 when unusable).
QRectF insetRect(QSizeF stage, double aspectRatio);
QString insetLabel(bool swapped);
// The largest rectangle of that aspect ratio centred in the area.
QRectF fitted(QSizeF area, double aspectRatio);
// How many times the stage's pixels the main picture is rendered at: the zoom, but never beyond the point
// where the fitted picture shows the video's own pixels one to one (and never below 1), so a zoomed
// picture shows the video's detail without rendering more than the video holds.
double renderScale(QSizeF stagePixels, double zoom, QSizeF videoPixels);

} // namespace StageGeometry
