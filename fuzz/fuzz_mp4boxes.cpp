// The MP4 box walk over hostile bytes: never crashes, never reads out of range, keeps previews short.
#include "platform/ByteSource.h"
#include "roadcore/MP4Boxes.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ByteSource source(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    const MP4Boxes boxes = MP4Boxes::read(source);
    for (const MediaInfo::VendorBox &box : boxes.vendorBoxes) {
        if (box.hexPreview.size() > 143 || box.size < 8 || box.size > qint64(size))
            std::abort();
    }
    if (boxes.creationTime && !boxes.creationTime->isValid())
        std::abort();
    if (boxes.tracks.size() > boxes.handlerNames.size() + qsizetype(size) / 8)
        std::abort();
    return 0;
}
