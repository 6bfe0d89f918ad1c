#include "roadloom/model/ExportQuality.h"

QString rawValue(ExportQuality quality)
{
    switch (quality) {
    case ExportQuality::original:
        return QStringLiteral("original");
    case ExportQuality::hevc4k:
        return QStringLiteral("hevc4k");
    case ExportQuality::hevc1080:
        return QStringLiteral("hevc1080");
    case ExportQuality::h2641080:
        return QStringLiteral("h2641080");
    case ExportQuality::h264720:
        return QStringLiteral("h264720");
    }
    return {};
}

std::optional<ExportQuality> exportQualityFromRaw(QStringView raw)
{
    for (ExportQuality quality : allExportQualities)
        if (raw == rawValue(quality))
            return quality;
    return std::nullopt;
}

QString label(ExportQuality quality)
{
    switch (quality) {
    case ExportQuality::original:
        return QStringLiteral("Original (no re-encode)");
    case ExportQuality::hevc4k:
        return QStringLiteral("HEVC \u00B7 Highest quality");
    case ExportQuality::hevc1080:
        return QStringLiteral("HEVC \u00B7 1080p");
    case ExportQuality::h2641080:
        return QStringLiteral("H.264 \u00B7 1080p (most compatible)");
    case ExportQuality::h264720:
        return QStringLiteral("H.264 \u00B7 720p (small)");
    }
    return {};
}

ExportPreset preset(ExportQuality quality)
{
    const QString hvc1 = QStringLiteral("hvc1");
    switch (quality) {
    case ExportQuality::original:
        return ExportPreset::passthrough();
    case ExportQuality::hevc4k:
        return ExportPreset::encode(QStringLiteral("libx265"), std::nullopt, 18, hvc1);
    case ExportQuality::hevc1080:
        return ExportPreset::encode(QStringLiteral("libx265"), QSize(1920, 1080), 24, hvc1);
    case ExportQuality::h2641080:
        return ExportPreset::encode(QStringLiteral("libx264"), QSize(1920, 1080), 20);
    case ExportQuality::h264720:
        return ExportPreset::encode(QStringLiteral("libx264"), QSize(1280, 720), 23);
    }
    return ExportPreset::passthrough();
}
