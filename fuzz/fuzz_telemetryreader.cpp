// The telemetry reader's byte-level pieces: the scan read in small pieces finds exactly what a search over
// the whole buffer finds, and the trailer and text-sample readers never crash.
#include "roadcore/TelemetryReader.h"

#include "platform/Utf8.h"

#include <QBuffer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <vector>

namespace {

// The scan as a search over the whole file in memory.
std::vector<QString> referenceScan(QByteArrayView data)
{
    const QByteArrayView patterns[] = {"RMC,", "gsensor"};
    std::vector<std::tuple<qsizetype, int, qsizetype>> pairs; // start, pattern, end
    for (int p = 0; p < 2; ++p) {
        qsizetype from = 0;
        qsizetype match;
        while ((match = data.indexOf(patterns[p], from)) >= 0) {
            const qsizetype start = std::max<qsizetype>(match - 3, 0);
            qsizetype end = match + patterns[p].size();
            while (end < data.size() && end - start < 160) {
                const char c = data[end];
                if (c < 0x20 || c > 0x7E || c == ';')
                    break;
                ++end;
            }
            pairs.emplace_back(start, p, end);
            from = end;
        }
    }
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto &a, const auto &b) { return std::get<0>(a) < std::get<0>(b); });
    std::vector<QString> texts;
    for (const auto &[start, pattern, end] : pairs)
        texts.push_back(Utf8::decode(data.sliced(start, end - start)));
    return texts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qint64 chunk = 1 + data[0] % 200;
    QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    const QList<RawRecord> records = TelemetryReader::scanRecords(device, chunk);
    const std::vector<QString> expected = referenceScan(bytes);
    if (size_t(records.size()) != expected.size())
        std::abort();
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (records[i].index != i || records[i].time || records[i].text != expected[size_t(i)])
            std::abort();
    }

    if (const auto trailer = TelemetryReader::trailerRecords(bytes)) {
        for (const RawRecord &record : *trailer) {
            if (record.text.isEmpty() || record.text.toString().contains(QLatin1Char('\n')))
                std::abort();
        }
    }
    const QString text = TelemetryReader::sampleText(bytes);
    if (text.size() > bytes.size())
        std::abort();
    return 0;
}
