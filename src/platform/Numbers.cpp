#include "platform/Numbers.h"

#include <charconv>
#include <cmath>

namespace Numbers {

QString fixed(double value, int decimals)
{
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals < 0 ? 0 : decimals);
    if (result.ec != std::errc())
        return QString();
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString shortest(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec != std::errc())
        return QString();
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

namespace {
// Copies text that has the shape of a decimal number into ASCII; anything else gives false.
bool asciiDecimal(QStringView text, bool allowFraction, std::string &out)
{
    out.clear();
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            out.push_back('-');
        ++i;
    }
    qsizetype digits = 0;
    auto takeDigits = [&] {
        qsizetype count = 0;
        while (i < n && text[i] >= u'0' && text[i] <= u'9') {
            out.push_back(char(text[i].unicode()));
            ++i;
            ++count;
        }
        return count;
    };
    digits += takeDigits();
    if (allowFraction && i < n && text[i] == u'.') {
        out.push_back('.');
        ++i;
        digits += takeDigits();
    }
    if (digits == 0)
        return false;
    if (allowFraction && i < n && (text[i] == u'e' || text[i] == u'E')) {
        out.push_back('e');
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-')) {
            out.push_back(char(text[i].unicode()));
            ++i;
        }
        if (takeDigits() == 0)
            return false;
    }
    return i == n;
}
} // namespace

std::optional<double> parseDouble(QStringView text)
{
    std::string ascii;
    if (!asciiDecimal(text, true, ascii))
        return std::nullopt;
    double value = 0;
    const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint64> parseInt(QStringView text)
{
    std::string ascii;
    if (!asciiDecimal(text, false, ascii))
        return std::nullopt;
    qint64 value = 0;
    const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size())
        return std::nullopt;
    return value;
}

} // namespace Numbers
