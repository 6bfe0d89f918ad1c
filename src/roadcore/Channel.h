#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// A camera channel. The declaration order is every channel order in the program.
enum class Channel { front, rear, interior };

inline constexpr std::array<Channel, 3> allChannels{Channel::front, Channel::rear, Channel::interior};

// "F", "R", "I": the letter ending the camera's file names and the key of a file in the catalog.
QString rawValue(Channel channel);
QString title(Channel channel);
// Exactly "F", "R" or "I".
std::optional<Channel> channelFromRaw(QStringView raw);
