#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The map card's style, stored by raw value under "mapStyle".
enum class MapStyleChoice { standard, hybrid, satellite };

inline constexpr std::array<MapStyleChoice, 3> allMapStyleChoices{
    MapStyleChoice::standard, MapStyleChoice::hybrid, MapStyleChoice::satellite};

QString rawValue(MapStyleChoice style); // also the style's id
// The raw value capitalised: "Standard", "Hybrid", "Satellite".
QString title(MapStyleChoice style);
std::optional<MapStyleChoice> mapStyleChoiceFromRaw(QStringView raw);
