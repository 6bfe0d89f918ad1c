#pragma once

#include "roadcore/DashClip.h"
#include "roadcore/Telemetry.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QLocale>
#include <QString>

#include <optional>

// The one-page report that Print Frame produces: the frame at the playhead (and the rear frame), the
// recording's name and category, and what the embedded data says at that moment. Never shown on screen:
// it is painted into an image and that image is printed.
struct PrintReport {
    DashClip clip;
    double time = 0; // the playhead, seconds into the recording
    QImage front;
    std::optional<QImage> rear;
    std::optional<GPSFix> fix;
    std::optional<SensorSample> g;
    SpeedUnit unit = SpeedUnit::kmh;

    struct Row {
        QString label;
        QString value; // "—" when the value is absent
        friend bool operator==(const Row &, const Row &) = default;
    };

    static constexpr double pageWidth = 760; // points; the image is this times the scale wide
    static constexpr double padding = 28;
    static constexpr double spacing = 14;
    static constexpr double rearMaxHeight = 300;

    // The seven label and value rows of the table, with dates in the locale's words.
    QList<Row> rows(const QLocale &locale = QLocale()) const;
    // The moment shown as "Recorded": the fix's receiver time, else the recording's start plus the playhead.
    std::optional<QDateTime> recorded() const;
    // "Printed <date and time> · Roadloom".
    static QString footer(const QDateTime &printedAt, const QLocale &locale = QLocale());

    // The page painted at `scale` pixels per point on white, whatever the desktop's colours.
    QImage render(double scale = 2.0, const QDateTime &printedAt = QDateTime::currentDateTime(),
                  const QLocale &locale = QLocale()) const;
};
