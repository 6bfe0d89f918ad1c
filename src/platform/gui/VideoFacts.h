#pragma once

#include <QSize>
#include <QSizeF>

// What a player knows about a file once it is ready to show its first frame.
struct VideoFacts {
    double duration = 0;    // seconds; 0 when the container does not say
    bool hasVideo = false;  // false for sound-only files
    QSize size;             // stored picture size in pixels, before pixel aspect and rotation
    int rotation = 0;       // clockwise degrees the picture is turned for display: 0, 90, 180 or 270
    double pixelAspect = 1; // width over height of one stored pixel
    double frameRate = 0;   // nominal frames per second; 0 when unknown

    // The upright picture size as shown: pixel aspect applied to the width, then turned.
    QSizeF displaySize() const
    {
        const QSizeF plain(size.width() * (pixelAspect > 0 ? pixelAspect : 1.0), size.height());
        return rotation % 180 == 90 ? plain.transposed() : plain;
    }
    // Display width over height; 0 without a picture.
    double aspectRatio() const
    {
        const QSizeF shown = displaySize();
        return shown.height() > 0 ? shown.width() / shown.height() : 0.0;
    }

    friend bool operator==(const VideoFacts &, const VideoFacts &) = default;
};
