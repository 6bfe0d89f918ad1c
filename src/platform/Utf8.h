#pragma once

#include <QByteArrayView>
#include <QString>

namespace Utf8 {

// Decodes UTF-8 replacing each maximal invalid subsequence by one U+FFFD. A leading byte order mark is kept
// as a character, so text written back is byte-identical to what was read.
QString decode(QByteArrayView bytes);

} // namespace Utf8
