#include "platform/Utf8.h"

namespace Utf8 {

QString decode(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();

    char32_t codePoint = 0;
    int needed = 0;
    unsigned char lower = 0x80, upper = 0xBF;
    auto put = [&out](char32_t c) {
        if (c < 0x10000) {
            out.append(QChar(char16_t(c)));
        } else {
            out.append(QChar(char16_t(0xD800 + ((c - 0x10000) >> 10))));
            out.append(QChar(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF))));
        }
    };

    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (needed == 0) {
            ++i;
            if (b < 0x80) {
                out.append(QChar(char16_t(b)));
            } else if (b >= 0xC2 && b <= 0xDF) {
                needed = 1;
                codePoint = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                if (b == 0xE0)
                    lower = 0xA0;
                if (b == 0xED)
                    upper = 0x9F;
                needed = 2;
                codePoint = b & 0x0F;
            } else if (b >= 0xF0 && b <= 0xF4) {
                if (b == 0xF0)
                    lower = 0x90;
                if (b == 0xF4)
                    upper = 0x8F;
                needed = 3;
                codePoint = b & 0x07;
            } else {
                put(0xFFFD);
            }
            continue;
        }
        if (b < lower || b > upper) {
            // The sequence so far is one maximal invalid subpart; the byte starts afresh.
            needed = 0;
            lower = 0x80;
            upper = 0xBF;
            put(0xFFFD);
            continue;
        }
        ++i;
        lower = 0x80;
        upper = 0xBF;
        codePoint = (codePoint << 6) | (b & 0x3F);
        if (--needed == 0)
            put(codePoint);
    }
    if (needed > 0)
        put(0xFFFD);
    return out;
}

} // namespace Utf8
