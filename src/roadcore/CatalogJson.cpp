#include "roadcore/CatalogJson.h"

#include <array>

namespace CatalogJson {

QString dateText(const QDateTime &date)
{
    static const QDateTime earliest(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    static const QDateTime latest(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
    QDateTime utc = date.isValid() ? date.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    utc = qBound(earliest, utc, latest);
    const QDate d = utc.date();
    const QTime t = utc.time();
    char16_t text[20];
    const auto put = [&](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, d.year(), 4);
    put(5, d.month(), 2);
    put(8, d.day(), 2);
    put(11, t.hour(), 2);
    put(14, t.minute(), 2);
    put(17, t.second(), 2);
    text[4] = text[7] = u'-';
    text[10] = u'T';
    text[13] = text[16] = u':';
    text[19] = u'Z';
    return QString(reinterpret_cast<const QChar *>(text), 20);
}

void appendString(QByteArray &out, QStringView text)
{
    static constexpr char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out.append('"');
    qsizetype plain = 0; // start of the run of bytes that need no escape
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (static_cast<unsigned char>(c) >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(utf8.constData() + plain, i - plain);
        plain = i + 1;
        const char *shortForm = nullptr;
        switch (c) {
        case '"':
            shortForm = "\\\"";
            break;
        case '\\':
            shortForm = "\\\\";
            break;
        case '\b':
            shortForm = "\\b";
            break;
        case '\f':
            shortForm = "\\f";
            break;
        case '\n':
            shortForm = "\\n";
            break;
        case '\r':
            shortForm = "\\r";
            break;
        case '\t':
            shortForm = "\\t";
            break;
        }
        if (shortForm) {
            out.append(shortForm);
        } else {
            const char escaped[] = {'\\', 'u', '0', '0', hex[(c >> 4) & 0xf], hex[c & 0xf]};
            out.append(escaped, 6);
        }
    }
    out.append(utf8.constData() + plain, utf8.size() - plain);
    out.append('"');
}

void appendName(QByteArray &out, const char *name)
{
    out.append('"');
    out.append(name);
    out.append("\":");
}

void appendMember(QByteArray &out, const char *name, QStringView value)
{
    appendName(out, name);
    appendString(out, value);
    out.append(',');
}

std::optional<QDateTime> parseDate(QByteArrayView text)
{
    if (text.size() != 20)
        return std::nullopt;
    static constexpr char pattern[] = "dddd-dd-ddTdd:dd:ddZ";
    for (int i = 0; i < 20; ++i) {
        const char c = text[i];
        if (pattern[i] == 'd' ? (c < '0' || c > '9') : c != pattern[i])
            return std::nullopt;
    }
    const auto number = [&](int from, int length) {
        int value = 0;
        for (int i = from; i < from + length; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

bool decodeBase64(QByteArrayView text, QByteArray &out)
{
    if (text.size() % 4 != 0)
        return false;
    // Groups of four characters of the alphabet are decoded here, through a table; the last group with its
    // "=" padding, and any text with another character, are left to Qt's decoder, whose rules stand. Every
    // bookmark of the catalog is decoded as it is read, and Qt's decoder, which goes a bit at a time, takes
    // several times as long.
    static constexpr auto values = [] {
        std::array<qint8, 256> table{};
        table.fill(-1);
        for (int i = 0; i < 26; ++i) {
            table['A' + i] = qint8(i);
            table['a' + i] = qint8(26 + i);
        }
        for (int i = 0; i < 10; ++i)
            table['0' + i] = qint8(52 + i);
        table['+'] = 62;
        table['/'] = 63;
        return table;
    }();
    const auto *in = reinterpret_cast<const uchar *>(text.data());
    out.resize(text.size() / 4 * 3); // keeps its room
    char *into = out.data();
    qsizetype at = 0;
    for (; at < text.size(); at += 4) {
        const int a = values[in[at]], b = values[in[at + 1]], c = values[in[at + 2]], d = values[in[at + 3]];
        if ((a | b | c | d) < 0)
            break;
        const quint32 group = quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
        *into++ = char(group >> 16);
        *into++ = char(group >> 8);
        *into++ = char(group);
    }
    if (at == text.size())
        return true;
    // Qt's decoder holds nothing over from one group to the next: the last group alone reads as it does at
    // the end of the text.
    const bool last = at + 4 == text.size();
    auto decoded =
        QByteArray::fromBase64Encoding((last ? text.sliced(at) : text).toByteArray(),
                                       QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok)
        return false;
    if (!last) {
        out = std::move(decoded.decoded);
        return true;
    }
    out.resize(at / 4 * 3);
    out.append(decoded.decoded);
    return true;
}

QString channelLetter(QByteArrayView name)
{
    static const QString letters[] = {QStringLiteral("F"), QStringLiteral("R"), QStringLiteral("I")};
    for (const QString &letter : letters)
        if (name.size() == 1 && name[0] == char(letter[0].unicode()))
            return letter;
    return QString::fromUtf8(name);
}

} // namespace CatalogJson
