#include "roadcore/AVIFile.h"

#include "platform/ByteSource.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"
#include "roadcore/ByteFields.h"

#include <algorithm>

using ByteFields::fourCC;
using ByteFields::uint32LE;

namespace {

QString kindName(const QString &type)
{
    if (type == QLatin1String("vids"))
        return QStringLiteral("Video");
    if (type == QLatin1String("auds"))
        return QStringLiteral("Audio");
    if (type == QLatin1String("txts"))
        return QStringLiteral("Data (text)");
    return type;
}

QString audioFormatName(uint32_t tag)
{
    switch (tag) {
    case 0x0001:
        return QStringLiteral("pcm");
    case 0x0007:
        return QStringLiteral("ulaw");
    case 0x0055:
        return QStringLiteral("MP3");
    case 0x00FF:
        return QStringLiteral("aac");
    default:
        return QString::asprintf("0x%04X", tag);
    }
}

bool allLettersOrNumbers(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    return std::all_of(codePoints.begin(), codePoints.end(),
                       [](uint c) { return QChar::isLetterOrNumber(char32_t(c)); });
}

} // namespace

std::optional<AVIFile> AVIFile::read(const QString &path)
{
    const auto source = ByteSource::openFile(path);
    if (!source)
        return std::nullopt;
    return read(*source);
}

std::optional<AVIFile> AVIFile::read(ByteSource &source)
{
    const QByteArray header = source.read(0, 12);
    if (source.size() <= 12 || header.size() < 12 || fourCC(header, 0) != QLatin1String("RIFF") ||
        fourCC(header, 8) != QLatin1String("AVI "))
        return std::nullopt;
    AVIFile file;
    const qint64 riffEnd = qint64(uint32LE(header, 4)) + 8;
    file.walk(source, 12, std::min(riffEnd, source.size()), 0);
    return file;
}

void AVIFile::walk(ByteSource &source, qint64 from, qint64 to, int depth)
{
    const qint64 dataSize = source.size();
    qint64 offset = from;
    while (offset + 8 <= to) {
        const QByteArray header = source.read(offset, 8);
        if (header.size() < 8)
            return;
        // Compared as bytes: ASCII identifiers decode to themselves, so this is the comparison of the
        // decoded texts without decoding every chunk header of a long movie list.
        const QByteArrayView id = QByteArrayView(header).first(4);
        const qint64 size = uint32LE(header, 4);
        const qint64 body = offset + 8;
        const qint64 end = body + size; // sizes are 32-bit, offsets 64-bit: no overflow
        const bool isList = id == "LIST";
        if (end > dataSize && !isList)
            return;

        if (isList) {
            if (depth < maximumListDepth)
                walk(source, body + 4, std::min(to, end), depth + 1);
        } else if (id == "avih" && size >= 20) {
            const QByteArray main = source.read(body, 20);
            const uint32_t microseconds = uint32LE(main, 0);
            const uint32_t frames = uint32LE(main, 16);
            if (microseconds > 0 && frames != 0)
                duration = double(microseconds) * double(frames) / 1'000'000.0;
        } else if (id == "strh" && size >= 8) {
            const QByteArray streamHeader = source.read(body, 8);
            const QString type = fourCC(streamHeader, 0);
            if (type == QLatin1String("vids"))
                ++videoStreamCount;
            streams.append(Stream{kindName(type), fourCC(streamHeader, 4), {}});
        } else if (id == "strf" && !streams.isEmpty()) {
            describeLastStream(source.read(body, std::min<qint64>(size, 20)));
        } else if (id.endsWith("tx") && size > 0 && size <= maximumTextChunk) {
            const QByteArray text = source.read(body, size);
            textRecords.append(RawRecord{int(textRecords.size()), std::nullopt, Utf8::decode(text)});
        }
        if (source.failed())
            return;
        offset = end + size % 2;
    }
}

void AVIFile::describeLastStream(QByteArrayView format)
{
    Stream &stream = streams.last();
    if (stream.kind == QLatin1String("Video") && format.size() >= 20) {
        stream.details = {QString::number(uint32LE(format, 4)) + QStringLiteral(" × ") +
                          QString::number(uint32LE(format, 8))};
        const QString compression = fourCC(format, 16);
        if (allLettersOrNumbers(compression))
            stream.codec = compression;
    } else if (stream.kind == QLatin1String("Audio") && format.size() >= 8) {
        const uint32_t word = uint32LE(format, 0);
        const uint32_t channels = word >> 16;
        stream.codec = audioFormatName(word & 0xFFFF);
        stream.details = {Numbers::fixed(uint32LE(format, 4) / 1000.0, 1) + QStringLiteral(" kHz"),
                          channels == 1 ? QStringLiteral("Mono")
                                        : QStringLiteral("%1 channels").arg(channels)};
    }
}
