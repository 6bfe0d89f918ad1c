#include "roadloom/model/MapStyleChoice.h"

QString rawValue(MapStyleChoice style)
{
    switch (style) {
    case MapStyleChoice::standard:
        return QStringLiteral("standard");
    case MapStyleChoice::hybrid:
        return QStringLiteral("hybrid");
    case MapStyleChoice::satellite:
        return QStringLiteral("satellite");
    }
    return {};
}

QString title(MapStyleChoice style)
{
    const QString raw = rawValue(style);
    return raw.left(1).toUpper() + raw.mid(1);
}

std::optional<MapStyleChoice> mapStyleChoiceFromRaw(QStringView raw)
{
    for (MapStyleChoice style : allMapStyleChoices) {
        if (raw == rawValue(style))
            return style;
    }
    return std::nullopt;
}
