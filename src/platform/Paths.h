#pragma once

#include <QString>
#include <QStringView>

// Path tests on absolute paths, comparing whole components: "/a/b 2" is not inside "/a/b".
namespace Paths {

// Whether `path` is `folder` itself or lies below it. A trailing "/" on `folder` does not matter.
bool isInside(QStringView path, QStringView folder);
// Whether `path` lies strictly below `folder`.
bool isBelow(QStringView path, QStringView folder);
// Whether one of the path's components is exactly `name`.
bool hasComponent(QStringView path, QStringView name);

} // namespace Paths
