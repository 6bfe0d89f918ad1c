#pragma once

#include "roadcore/Telemetry.h"

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The file formats of a telemetry export, in menu order; the raw value is also the file name extension.
enum class TelemetryFormat { gpx, kml, csv, srt, txt };

inline constexpr std::array<TelemetryFormat, 5> allTelemetryFormats{
    TelemetryFormat::gpx, TelemetryFormat::kml, TelemetryFormat::csv, TelemetryFormat::srt,
    TelemetryFormat::txt};

QString rawValue(TelemetryFormat format); // also the format's id
QString title(TelemetryFormat format);
std::optional<TelemetryFormat> telemetryFormatFromRaw(QStringView raw);

// Renders telemetry as the complete text of one file. Numbers never follow the user's locale.
namespace TelemetryExporter {

// `name` is the track or log name, `start` the recording's start, used where a fix has no receiver time.
QString exportText(const Telemetry &telemetry, TelemetryFormat format, const QString &name,
                   const std::optional<QDateTime> &start, SpeedUnit unit);

QString gpx(const Telemetry &telemetry, const QString &name, const std::optional<QDateTime> &start);
QString kml(const Telemetry &telemetry, const QString &name);
QString csv(const Telemetry &telemetry, const std::optional<QDateTime> &start, SpeedUnit unit);
// One cue per second of the recording, at most a day of them.
QString srt(const Telemetry &telemetry, SpeedUnit unit);
QString rawLog(const Telemetry &telemetry, const QString &name);

// "HH:MM:SS,mmm"
QString srtTime(double seconds);
// "2024-05-01T12:34:56.789Z"
QString isoTime(const QDateTime &date);

} // namespace TelemetryExporter
