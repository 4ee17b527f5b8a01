#pragma once

#include <QStringView>

#include <cstdint>
#include <limits>
#include <optional>

namespace corvessa {

// A whole decimal number with an optional leading "+" or "-" and nothing else
// (no spaces, no fraction); nothing when the text is not one or does not fit.
inline std::optional<int64_t> parseDecimalInteger(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    if (i == text.size())
        return std::nullopt;
    // Accumulated as a negative number so that the int64 minimum fits.
    int64_t value = 0;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest)
            return std::nullopt;
        value = -value;
    }
    return value;
}

} // namespace corvessa
