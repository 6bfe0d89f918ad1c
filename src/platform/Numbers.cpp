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
    // Plain decimals of up to 15 digits ("4807.038", "-0.5"), as sensors write them: the digits and the power
    // of ten are exact doubles, so one division rounds exactly as the general path does.
    if (const qsizetype n = text.size(); n <= 17) {
        static constexpr double powers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        qsizetype i = 0;
        const bool negative = n > 0 && text[0] == u'-';
        if (n > 0 && (text[0] == u'-' || text[0] == u'+'))
            ++i;
        quint64 mantissa = 0;
        int digits = 0, fraction = 0;
        bool dot = false;
        for (; i < n; ++i) {
            const char16_t c = text[i].unicode();
            if (c >= u'0' && c <= u'9') {
                mantissa = mantissa * 10 + (c - u'0');
                ++digits;
                fraction += dot;
            } else if (c == u'.' && !dot) {
                dot = true;
            } else {
                break;
            }
        }
        if (i == n && digits > 0 && digits <= 15) {
            const double value = double(mantissa) / powers[fraction];
            return negative ? -value : value;
        }
    }
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
    // Up to 18 digits cannot overflow.
    if (const qsizetype n = text.size(); n > 0 && n <= 18) {
        qsizetype i = text[0] == u'-' || text[0] == u'+' ? 1 : 0;
        qint64 value = 0;
        const qsizetype first = i;
        for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i)
            value = value * 10 + (text[i].unicode() - u'0');
        if (i == n && i > first)
            return text[0] == u'-' ? -value : value;
    }
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
