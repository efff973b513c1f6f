#include "rowtable.h"

namespace parvault {

int leadingInt(const QString& text) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && (text[i] == QLatin1Char(' ') || (text[i] >= QChar(9) && text[i] <= QChar(13))))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    long long value = 0;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 0x7FFFFFFF)
            value = 0x7FFFFFFF; // saturate rather than wrap a silly column text
        ++i;
    }
    return static_cast<int>(negative ? -value : value);
}

} // namespace parvault
