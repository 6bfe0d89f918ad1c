// The AVI chunk walk over hostile bytes: never crashes, never reads out of range, numbers its text records.
#include "platform/ByteSource.h"
#include "roadcore/AVIFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ByteSource source(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    const std::optional<AVIFile> file = AVIFile::read(source);
    if (!file)
        return 0;
    if (file->videoStreamCount > file->streams.size())
        std::abort();
    for (qsizetype i = 0; i < file->textRecords.size(); ++i) {
        if (file->textRecords[i].index != i || file->textRecords[i].text.isEmpty())
            std::abort();
    }
    if (file->duration && !(*file->duration > 0))
        std::abort();
    return 0;
}
