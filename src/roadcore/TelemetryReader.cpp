#include "roadcore/TelemetryReader.h"

#include "roadcore/AVIFile.h"
#include "roadcore/TelemetryParser.h"

#include "platform/MediaFile.h"
#include "platform/RegularFile.h"
#include "platform/Utf8.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace TelemetryReader {

namespace {

const QString trackSource = QStringLiteral("MP4 text track");
const QString aviSource = QStringLiteral("AVI text chunks");
const QString trailerSource = QStringLiteral("LP1 trailer");
const QString scanSource = QStringLiteral("raw scan");

constexpr QByteArrayView trailerMarker("ETKLP1");
constexpr std::array<QByteArrayView, 2> scanPatterns{QByteArrayView("RMC,"), QByteArrayView("gsensor")};
constexpr qint64 scanLead = 3; // bytes kept before each match
constexpr qint64 scanChunk = 1024 * 1024;

std::optional<double> finite(std::optional<double> value)
{
    if (value && !std::isfinite(*value))
        return std::nullopt;
    return value;
}

// Streams whose samples a camera may fill with its text. Timecode and hint tracks are data streams to
// libavformat but never carry it.
bool mayCarryText(const MediaStream &stream)
{
    if (stream.type == MediaStream::Type::subtitle)
        return true;
    return stream.type == MediaStream::Type::data && stream.codecTag != QLatin1String("tmcd") &&
           stream.codecTag != QLatin1String("rtp ");
}

bool hasSentences(const QList<RawRecord> &records)
{
    return std::any_of(records.begin(), records.end(), [](const RawRecord &record) {
        return !TelemetryParser::sentences(record.text).isEmpty();
    });
}

// One pass over the file collects every candidate track's samples; the video and audio are skipped.
QList<RawRecord> trackRecords(MediaFile &file)
{
    QList<int> chosen;
    for (const MediaStream &stream : file.streams()) {
        if (mayCarryText(stream))
            chosen.append(stream.index);
    }
    if (chosen.isEmpty())
        return {};
    file.selectStreams(chosen);
    QHash<int, QList<RawRecord>> byStream;
    while (std::optional<MediaPacket> packet = file.readPacket()) {
        if (packet->data.isEmpty())
            continue;
        QList<RawRecord> &records = byStream[packet->stream];
        records.append(RawRecord{int(records.size()), finite(packet->time), sampleText(packet->data)});
    }
    for (int index : chosen) {
        const QList<RawRecord> records = byStream.value(index);
        if (hasSentences(records))
            return records;
    }
    return {};
}

bool matchesAt(const char *data, qint64 size, qint64 at, QByteArrayView pattern)
{
    return at + pattern.size() <= size && std::memcmp(data + at, pattern.data(), size_t(pattern.size())) == 0;
}

// Candidates for a pattern start: its first and fourth bytes agree ("R" and "," of "RMC,", "g" and "n" of
// "gsensor"). Checking two bytes 32 or 16 positions at a time, from two loads for both patterns, leaves few
// candidates in video data, and those few are compared in full.
static_assert(scanPatterns[0].size() == 4 && scanPatterns[1].size() == 7);
static_assert(scanPatterns[0][3] == ',' && scanPatterns[1][3] == 'n');
constexpr qint64 candidateReach = 3; // the farthest byte the test looks at, after the candidate

qint64 nextCandidatePlain(const char *data, qint64 size, qint64 from, qint64 limit)
{
    for (qint64 i = from; i < limit; ++i) {
        if (i + 3 < size &&
            ((data[i] == 'R' && data[i + 3] == ',') || (data[i] == 'g' && data[i + 3] == 'n')))
            return i;
    }
    return limit;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) qint64 nextCandidateAVX2(const char *data, qint64 size, qint64 from,
                                                         qint64 limit)
{
    const __m256i rmcFirst = _mm256_set1_epi8('R'), rmcFourth = _mm256_set1_epi8(',');
    const __m256i gsFirst = _mm256_set1_epi8('g'), gsFourth = _mm256_set1_epi8('n');
    qint64 i = from;
    for (; i < limit && i + 64 + candidateReach <= size; i += 64) {
        const char *p = data + i;
        const __m256i head0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i head1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        const __m256i fourth0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 3));
        const __m256i fourth1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 35));
        const __m256i hits0 = _mm256_or_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(head0, rmcFirst), _mm256_cmpeq_epi8(fourth0, rmcFourth)),
            _mm256_and_si256(_mm256_cmpeq_epi8(head0, gsFirst), _mm256_cmpeq_epi8(fourth0, gsFourth)));
        const __m256i hits1 = _mm256_or_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(head1, rmcFirst), _mm256_cmpeq_epi8(fourth1, rmcFourth)),
            _mm256_and_si256(_mm256_cmpeq_epi8(head1, gsFirst), _mm256_cmpeq_epi8(fourth1, gsFourth)));
        const quint64 mask = quint64(unsigned(_mm256_movemask_epi8(hits0))) |
                             (quint64(unsigned(_mm256_movemask_epi8(hits1))) << 32);
        if (mask)
            return std::min(i + std::countr_zero(mask), limit);
    }
    return nextCandidatePlain(data, size, i, limit);
}
#endif

#if defined(__SSE2__)
qint64 nextCandidateSSE2(const char *data, qint64 size, qint64 from, qint64 limit)
{
    const __m128i rmcFirst = _mm_set1_epi8('R'), rmcFourth = _mm_set1_epi8(',');
    const __m128i gsFirst = _mm_set1_epi8('g'), gsFourth = _mm_set1_epi8('n');
    qint64 i = from;
    for (; i < limit && i + 16 + candidateReach <= size; i += 16) {
        const char *p = data + i;
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i fourth = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 3));
        const __m128i hits =
            _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(head, rmcFirst), _mm_cmpeq_epi8(fourth, rmcFourth)),
                         _mm_and_si128(_mm_cmpeq_epi8(head, gsFirst), _mm_cmpeq_epi8(fourth, gsFourth)));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(hits)))
            return std::min<qint64>(i + std::countr_zero(mask), limit);
    }
    return nextCandidatePlain(data, size, i, limit);
}
#endif

using CandidateFinder = qint64 (*)(const char *, qint64, qint64, qint64);

CandidateFinder candidateFinder()
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2"))
        return nextCandidateAVX2;
#endif
#if defined(__SSE2__)
    return nextCandidateSSE2;
#else
    return nextCandidatePlain;
#endif
}

// Calls found(position, pattern) for every start of a scan pattern in [from, limit), in position order.
template <class Found>
void forEachMatch(const char *data, qint64 size, qint64 from, qint64 limit, Found &&found)
{
    static const CandidateFinder next = candidateFinder();
    for (qint64 at = next(data, size, from, limit); at < limit; at = next(data, size, at + 1, limit)) {
        for (int p = 0; p < int(scanPatterns.size()); ++p) {
            if (matchesAt(data, size, at, scanPatterns[size_t(p)]))
                found(at, p);
        }
    }
}

bool endsScanRecord(char byte)
{
    return byte < 0x20 || byte > 0x7E || byte == ';';
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return quint8(c) < 0x80; });
}

// The scan's records, their texts laid end to end in blocks that the records share as pieces: a string and a
// buffer of its own per record hold a 30 MB file of sentences at over ten times its size, a shared block
// costs each record only its bytes. A block is handed to its records once full, since appending to it after
// that would copy it.
class ScanTexts {
public:
    QList<RawRecord> records;

    void add(QByteArrayView bytes)
    {
        // Bytes that are not ASCII are kept as their decoding writes them back: invalid ones as U+FFFD.
        QByteArray decoded;
        if (!isAscii(bytes)) {
            decoded = Utf8::decode(bytes).toUtf8();
            bytes = decoded;
        }
        if (m_block.size() + bytes.size() > scanTextBlock)
            seal();
        if (m_block.capacity() == 0)
            m_block.reserve(scanTextBlock);
        m_pieces.emplace_back(m_block.size(), bytes.size());
        m_block.append(bytes);
        records.append(RawRecord{records.size(), std::nullopt, TextRef()});
    }
    void seal()
    {
        m_block.squeeze();
        const TextRef whole(m_block);
        qsizetype at = records.size() - qsizetype(m_pieces.size());
        for (const auto &[offset, length] : m_pieces)
            records[at++].text = whole.piece(offset, length);
        m_block = QByteArray();
        m_pieces.clear();
    }

private:
    QByteArray m_block;
    std::vector<std::pair<qsizetype, qsizetype>> m_pieces; // of the block's records, the last ones
};
// The record list grows in place (its realloc can remap) instead of holding the old and the new list at once.
static_assert(QTypeInfo<RawRecord>::isRelocatable);

bool isLineSeparator(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

} // namespace

Telemetry read(const std::map<Channel, QString> &files)
{
    std::optional<Telemetry> held;
    for (Channel channel : allChannels) {
        const auto file = files.find(channel);
        if (file == files.end())
            continue;
        Telemetry telemetry = read(file->second);
        telemetry.sourceChannel = channel;
        if (!telemetry.isEmpty())
            return telemetry;
        if (!held)
            held = std::move(telemetry);
    }
    return held ? *held : Telemetry::empty();
}

Telemetry read(const QString &path)
{
    std::optional<double> duration;
    if (QFileInfo(path).suffix().toLower() == QLatin1String("avi")) {
        std::optional<AVIFile> avi = AVIFile::read(path);
        if (avi && !avi->textRecords.isEmpty())
            return TelemetryParser::build(std::move(avi->textRecords), finite(avi->duration), aviSource);
        if (avi)
            duration = finite(avi->duration);
    } else {
        Result<MediaFile> movie =
            MediaFile::open(path, MediaFile::Demuxer::byExtension, MediaFile::Reading::sparse);
        if (movie) {
            QList<RawRecord> records = trackRecords(*movie);
            if (!records.isEmpty()) {
                Telemetry telemetry = TelemetryParser::build(std::move(records), std::nullopt, trackSource);
                if (!telemetry.isEmpty())
                    return telemetry;
            }
            duration = finite(movie->duration());
        }
    }
    if (std::optional<QList<RawRecord>> trailer = tailRecords(path))
        return TelemetryParser::build(std::move(*trailer), duration, trailerSource);
    return TelemetryParser::build(scanRecords(path), duration, scanSource);
}

Result<QList<RawRecord>> textTrackRecords(const QString &path)
{
    Result<MediaFile> movie =
        MediaFile::open(path, MediaFile::Demuxer::byExtension, MediaFile::Reading::sparse);
    if (!movie)
        return movie.failure();
    return trackRecords(*movie);
}

QString sampleText(QByteArrayView sample)
{
    if (sample.size() < 2)
        return QString();
    const qsizetype length = (qsizetype(quint8(sample[0])) << 8) | quint8(sample[1]);
    const QByteArrayView body = sample.sliced(2);
    if (length >= 1 && length <= body.size())
        return Utf8::decode(body.first(length));
    return Utf8::decode(body);
}

std::optional<QList<RawRecord>> tailRecords(const QString &path)
{
    Result<std::unique_ptr<QFile>> file = RegularFile::openFile(path);
    if (!file)
        return std::nullopt;
    const qint64 size = std::max<qint64>((*file)->size(), 0);
    const qint64 window = std::min(size, trailerWindow);
    (*file)->seek(size - window);
    const QByteArray bytes = (*file)->read(window);
    if (bytes.isEmpty())
        return std::nullopt;
    return trailerRecords(bytes);
}

std::optional<QList<RawRecord>> trailerRecords(QByteArrayView window)
{
    const qsizetype marker = window.lastIndexOf(trailerMarker);
    if (marker < 0)
        return std::nullopt;
    const QString text = Utf8::decode(window.sliced(marker + trailerMarker.size()));
    QList<RawRecord> records;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineSeparator(text[i]))
            continue;
        if (i > lineStart)
            records.append(RawRecord{int(records.size()), std::nullopt, text.mid(lineStart, i - lineStart)});
        lineStart = i + 1;
    }
    if (records.isEmpty())
        return std::nullopt;
    return records;
}

QList<RawRecord> scanRecords(const QString &path)
{
    Result<std::unique_ptr<QFile>> file = RegularFile::openFile(path);
    if (!file)
        return {};
    return scanRecords(**file, scanChunk);
}

QList<RawRecord> scanRecords(QIODevice &device, qint64 chunkBytes)
{
    // A match is cut out once the bytes up to its longest possible record are in hand; the bytes after the
    // last point searched, and the few before it, are carried into the next piece, in front of which each
    // read leaves room for them.
    constexpr qint64 reach = scanRecordLimit + 8;
    constexpr qint64 carryCapacity = reach + scanLead;
    chunkBytes = std::max<qint64>(chunkBytes, 1);
    const std::unique_ptr<char[]> buffer(new char[size_t(carryCapacity + chunkBytes)]); // no need to clear it
    char *const piece = buffer.get() + carryCapacity;
    std::array<char, size_t(carryCapacity)> carried{};
    qint64 carriedSize = 0;
    qint64 bufferStart = 0; // file offset of the first byte held
    std::array<qint64, scanPatterns.size()> next{};
    // Matches come in file order: each piece is searched only past the previous piece's frontier.
    ScanTexts texts;
    for (bool atEnd = false; !atEnd;) {
        const qint64 got = device.read(piece, chunkBytes);
        if (got < 0)
            return {};
        atEnd = got == 0;
        char *data = piece - carriedSize;
        std::memcpy(data, carried.data(), size_t(carriedSize));
        const qint64 size = carriedSize + got;
        const qint64 bufferEnd = bufferStart + size;
        const qint64 frontier = atEnd ? bufferEnd : bufferEnd - reach;
        qint64 keepFrom = 0;
        if (frontier > bufferStart) {
            std::array<qint64, scanPatterns.size()> from{};
            for (size_t p = 0; p < scanPatterns.size(); ++p)
                from[p] = std::max(next[p], bufferStart) - bufferStart;
            forEachMatch(data, size, std::min(from[0], from[1]), frontier - bufferStart,
                         [&](qint64 match, int p) {
                             // Each pattern's search goes on after the end of its previous record.
                             if (match < from[size_t(p)])
                                 return;
                             const qint64 start = std::max<qint64>(match - scanLead, 0);
                             qint64 end = match + scanPatterns[size_t(p)].size();
                             while (end < size && end - start < scanRecordLimit && !endsScanRecord(data[end]))
                                 ++end;
                             texts.add(QByteArrayView(data + start, end - start));
                             from[size_t(p)] = end;
                         });
            for (size_t p = 0; p < scanPatterns.size(); ++p)
                next[p] = std::max(from[p] + bufferStart, frontier);
            keepFrom = std::max(frontier - scanLead, bufferStart) - bufferStart;
        }
        carriedSize = size - keepFrom;
        std::memcpy(carried.data(), data + keepFrom, size_t(carriedSize));
        bufferStart += keepFrom;
    }
    texts.seal();
    return std::move(texts.records);
}

} // namespace TelemetryReader
