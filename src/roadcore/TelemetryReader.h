#pragma once

#include "roadcore/Channel.h"
#include "roadcore/Telemetry.h"

#include "platform/Result.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <map>
#include <optional>

class QIODevice;

// Finds the GPS, G-sensor and vehicle text a camera hid in its video files and builds the recording's
// telemetry from it. Sources of one file, in the order they are trusted: a text, subtitle, closed-caption
// or metadata track of a movie; the text chunks of an AVI file; the text after the last "ETKLP1" near the
// end of the file; any "RMC," or "gsensor" text found by scanning the whole file. Stateless; reads block, so
// call them off the GUI thread. Files are read in pieces, never mapped: a card pulled mid-read is only a
// read error.
namespace TelemetryReader {

// The telemetry of one recording: the first of front, rear, interior whose file holds data.
Telemetry read(const std::map<Channel, QString> &files);
// The telemetry of one file; never fails (an unreadable file reads as no data).
Telemetry read(const QString &path);

// The records of the first track that carries at least one sentence; empty when none does.
Result<QList<RawRecord>> textTrackRecords(const QString &path);
// The lines after the last "ETKLP1" within the file's last 4 MiB; nothing when there is no such line.
std::optional<QList<RawRecord>> tailRecords(const QString &path);
// The texts around every "RMC," and "gsensor" of the file, in file order.
QList<RawRecord> scanRecords(const QString &path);

// The pieces above, on bytes already read.
QString sampleText(QByteArrayView sample);
std::optional<QList<RawRecord>> trailerRecords(QByteArrayView window);
// Reads the device to its end in pieces of `chunkBytes`; a read error gives no records.
QList<RawRecord> scanRecords(QIODevice &device, qint64 chunkBytes);

inline constexpr qint64 trailerWindow = 4 * 1024 * 1024;
inline constexpr qint64 scanRecordLimit = 160;
// The scan's record texts are kept in shared blocks of this size.
inline constexpr qint64 scanTextBlock = 1024 * 1024;

} // namespace TelemetryReader
