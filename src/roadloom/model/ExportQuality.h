#pragma once

#include "roadcore/ExportPreset.h"

#include <QMetaType>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The video quality a clip is exported at, in the order the picker lists them.
enum class ExportQuality {
    original, // every stream copied as stored
    hevc4k,   // HEVC at the source's size
    hevc1080,
    h2641080,
    h264720,
};

inline constexpr std::array<ExportQuality, 5> allExportQualities{
    ExportQuality::original, ExportQuality::hevc4k, ExportQuality::hevc1080, ExportQuality::h2641080,
    ExportQuality::h264720};

QString rawValue(ExportQuality quality);
std::optional<ExportQuality> exportQualityFromRaw(QStringView raw);
// The picker's text: "Original (no re-encode)", "HEVC · 1080p", ...
QString label(ExportQuality quality);
// How the clip exporter writes a movie of this quality.
ExportPreset preset(ExportQuality quality);

Q_DECLARE_METATYPE(ExportQuality)
