#include "platform/Utf8.h"

#include "platform/TextCodes.h"

namespace Utf8 {

QString decode(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto put = [&out](char32_t c) {
        if (c < 0x10000) {
            out.append(QChar(char16_t(c)));
        } else {
            out.append(QChar(char16_t(0xD800 + ((c - 0x10000) >> 10))));
            out.append(QChar(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF))));
        }
    };
    // One replacement for each maximal invalid subpart, however many bytes it holds.
    TextCodes::forEachUtf8(reinterpret_cast<const unsigned char *>(bytes.data()), size_t(bytes.size()), put,
                           [&put](size_t) { put(0xFFFD); });
    return out;
}

} // namespace Utf8
