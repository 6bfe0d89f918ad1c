#include "roadcore/MP4Boxes.h"

#include "platform/ByteSource.h"
#include "platform/TextTrim.h"
#include "platform/Utf8.h"
#include "roadcore/ByteFields.h"

#include <QTimeZone>

#include <algorithm>

using ByteFields::fourCC;
using ByteFields::uint32BE;
using ByteFields::uint64BE;

namespace {

// Movie times count seconds from 1 January 1904.
constexpr qint64 secondsFrom1904To1970 = 2'082'844'800;
// Beyond this a creation time is damage; QDateTime could not hold it in milliseconds anyway.
constexpr qint64 latestCreationSecond = qint64(1) << 45;

bool isBlankOrControl(QChar c)
{
    const QChar::Category category = c.category();
    return c.isSpace() || category == QChar::Other_Control || category == QChar::Other_Format;
}

QString trimmedOfBlanksAndControls(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && isBlankOrControl(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

std::optional<QDateTime> movieTime(uint64_t secondsFrom1904)
{
    if (secondsFrom1904 == 0 || secondsFrom1904 > uint64_t(latestCreationSecond))
        return std::nullopt;
    const qint64 secondsFrom1970 = qint64(secondsFrom1904) - secondsFrom1904To1970;
    const QDateTime time = QDateTime::fromSecsSinceEpoch(secondsFrom1970, QTimeZone::utc());
    if (!time.isValid())
        return std::nullopt;
    return time;
}

bool looksLikeText(QByteArrayView payload)
{
    return std::all_of(payload.begin(), payload.end(), [](char c) {
        const auto byte = uint8_t(c);
        return byte == 0x00 || byte == 0x0A || (byte >= 0x20 && byte <= 0x7E);
    });
}

bool isContainer(const QString &type)
{
    return type == QLatin1String("trak") || type == QLatin1String("mdia") || type == QLatin1String("minf") ||
           type == QLatin1String("stbl");
}

} // namespace

std::optional<MP4Boxes> MP4Boxes::read(const QString &path)
{
    const auto source = ByteSource::openFile(path);
    if (!source)
        return std::nullopt;
    return read(*source);
}

MP4Boxes MP4Boxes::read(ByteSource &source)
{
    MP4Boxes boxes;
    const qint64 fileSize = source.size();
    std::optional<QByteArray> movie;
    qint64 offset = 0;
    while (fileSize - offset >= 8) {
        const QByteArray header = source.read(offset, 16);
        if (header.size() < 8)
            break;
        const uint32_t size32 = uint32BE(header, 0);
        const QString type = fourCC(header, 4);
        const uint64_t rest = uint64_t(fileSize - offset);
        uint64_t size = 0;
        qint64 headerLength = 8;
        if (size32 == 0) {
            size = rest;
        } else if (size32 == 1) {
            if (header.size() < 16)
                break;
            headerLength = 16;
            const uint64_t size64 = uint64BE(header, 8);
            if (size64 == 0)
                size = rest;
            else if (size64 < 16)
                break;
            else
                size = size64;
        } else if (size32 < 8) {
            break;
        } else {
            size = size32;
        }
        if (size < uint64_t(headerLength))
            break;

        if (type == QLatin1String("ftyp")) {
            boxes.majorBrand =
                header.size() >= 12 ? std::optional(trimmedOfSpacesAndTabs(fourCC(header, 8))) : std::nullopt;
        } else if (type == QLatin1String("moov") && size < uint64_t(maximumMovieSize)) {
            // A movie box cut off by the end of the file is read as far as it goes.
            const qint64 wanted =
                std::min<qint64>(qint64(size) - headerLength, fileSize - offset - headerLength);
            QByteArray body = source.read(offset + headerLength, wanted);
            movie = source.failed() || body.isEmpty() ? std::nullopt : std::optional(std::move(body));
        }
        if (source.failed() || size > rest)
            break; // the box runs past the end of the file, whatever its size field claims
        offset += qint64(size);
    }
    if (movie)
        boxes.parse(*movie, QStringLiteral("moov"), 1, -1);
    return boxes;
}

void MP4Boxes::parse(QByteArrayView body, const QString &path, int depth, qsizetype track)
{
    qsizetype offset = 0;
    while (body.size() - offset >= 8) {
        const uint32_t size = uint32BE(body, offset);
        const QString type = fourCC(body, offset + 4);
        if (size < 8 || size > uint64_t(body.size() - offset))
            return;
        const QByteArrayView child = body.sliced(offset + 8, qsizetype(size) - 8);

        if (isContainer(type)) {
            if (depth < maximumDepth) {
                qsizetype childTrack = track;
                if (type == QLatin1String("trak")) {
                    tracks.append(Track{});
                    childTrack = tracks.size() - 1;
                }
                parse(child, path + QLatin1Char('/') + type, depth + 1, childTrack);
            }
        } else if (type == QLatin1String("mvhd") && child.size() >= 8) {
            const bool wide = uint8_t(child[0]) == 1 && child.size() >= 16;
            const uint64_t seconds = wide ? uint64BE(child, 4) : uint32BE(child, 4);
            if (const auto time = movieTime(seconds))
                creationTime = time;
        } else if (type == QLatin1String("tkhd") && child.size() >= 16 && track >= 0 &&
                   path.endsWith(QLatin1String("/trak"))) {
            const bool wide = uint8_t(child[0]) == 1;
            if (!wide || child.size() >= 24)
                tracks[track].trackID = uint32BE(child, wide ? 20 : 12);
        } else if (type == QLatin1String("hdlr") && child.size() >= 25) {
            const QString name = trimmedOfBlanksAndControls(Utf8::decode(child.sliced(24)));
            handlerNames.append(name);
            // Movies also carry a data handler in "minf"; only the media's own handler names the track.
            if (track >= 0 && path.endsWith(QLatin1String("trak/mdia")) && !tracks[track].handlerName)
                tracks[track].handlerName = name;
        } else if (type == QLatin1String("stsz") && child.size() >= 12) {
            const qint64 count = uint32BE(child, 8);
            sampleCounts.append(count);
            if (track >= 0 && path.endsWith(QLatin1String("trak/mdia/minf/stbl")) &&
                !tracks[track].sampleCount)
                tracks[track].sampleCount = count;
        } else if (type == QLatin1String("udta")) {
            listVendorBoxes(child, path);
        }
        offset += qsizetype(size);
    }
}

void MP4Boxes::listVendorBoxes(QByteArrayView body, const QString &containerPath)
{
    qsizetype offset = 0;
    while (body.size() - offset >= 8) {
        const uint32_t size = uint32BE(body, offset);
        const QString type = fourCC(body, offset + 4);
        if (size < 8 || size > uint64_t(body.size() - offset))
            return;
        const QByteArrayView payload = body.sliced(offset + 8, qsizetype(size) - 8);
        MediaInfo::VendorBox box;
        box.path = containerPath + QLatin1String("/udta/") + type;
        box.size = size;
        box.hexPreview = QString::fromLatin1(
            payload.first(std::min<qsizetype>(payload.size(), 48)).toByteArray().toHex(' ').toUpper());
        if (!payload.isEmpty() && looksLikeText(payload)) {
            QByteArray bytes = payload.toByteArray();
            bytes.removeIf([](char c) { return c == '\0'; });
            box.text = Utf8::decode(bytes);
        }
        vendorBoxes.append(box);
        offset += qsizetype(size);
    }
}
