// UTF-8 repair of card text: never crashes, and valid UTF-8 decodes to exactly what Qt's strict decoder
// reads.
#include "platform/Utf8.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = Utf8::decode(bytes);
    if (!text.contains(QChar(0xFFFD)) && text.toUtf8() != bytes)
        std::abort();
    return 0;
}
