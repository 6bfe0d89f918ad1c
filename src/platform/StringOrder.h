#pragma once

#include <QStringView>

// The standard string order: Unicode code points, case-sensitive, not locale-aware. QString's own operator<
// compares UTF-16 units, which sorts characters above U+FFFF before U+E000..U+FFFF.
namespace StringOrder {

int compare(QStringView a, QStringView b);
inline bool less(QStringView a, QStringView b) { return compare(a, b) < 0; }

} // namespace StringOrder
