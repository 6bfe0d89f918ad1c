#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// Which recordings get a backup copy in the media cache.
enum class CachePolicy { all, important, off };

inline constexpr std::array<CachePolicy, 3> allCachePolicies{CachePolicy::all, CachePolicy::important,
                                                             CachePolicy::off};

QString rawValue(CachePolicy policy); // also the policy's id
QString title(CachePolicy policy);
std::optional<CachePolicy> cachePolicyFromRaw(QStringView raw);

namespace CachePolicies {
inline const QString defaultsKey = QStringLiteral("cachePolicy");
// Read from the user defaults on every call: "important" and "off" exactly, anything else is all.
CachePolicy current();
} // namespace CachePolicies
