#include "compare.h"

#include "listexport.h"
#include "listfiletable.h"

namespace parvault::cli {

const char* verdictName(Verdict v) {
    switch (v) {
    case Verdict::Same:
        return "same";
    case Verdict::Differs:
        return "differs";
    case Verdict::NotRead:
        return "not-read";
    case Verdict::NothingStored:
        return "nothing-stored";
    }
    return "?";
}

std::optional<QString> decimalKey(const QString& text) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    QString whole, fraction;
    bool mark = false;
    for (; i < t.size(); ++i) {
        const QChar ch = t[i];
        if (ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) {
            (mark ? fraction : whole) += ch;
        } else if ((ch == QLatin1Char(',') || ch == QLatin1Char('.')) && !mark) {
            mark = true;
        } else {
            return std::nullopt;
        }
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return std::nullopt;
    // Compared digit by digit, not as doubles: long serial numbers and
    // counters must not meet through rounding.
    while (whole.size() > 1 && whole.front() == QLatin1Char('0'))
        whole.remove(0, 1);
    if (whole.isEmpty())
        whole = QStringLiteral("0");
    while (!fraction.isEmpty() && fraction.back() == QLatin1Char('0'))
        fraction.chop(1);
    QString key = whole;
    if (!fraction.isEmpty())
        key += QLatin1Char('.') + fraction;
    if (negative && key != QLatin1String("0"))
        key.prepend(QLatin1Char('-'));
    return key;
}

bool sameValue(const QString& read, const QString& stored) {
    if (read == stored)
        return true;
    const auto a = decimalKey(read);
    const auto b = decimalKey(stored);
    return a && b && *a == *b;
}

Verdict compareWithStored(const std::optional<QString>& read, const QString& stored) {
    if (!read)
        return Verdict::NotRead;
    if (stored.isEmpty())
        return Verdict::NothingStored;
    // A list keeps the first characters of a value only; what it could not
    // keep cannot differ. Lists written by other programs may hold longer
    // values, cut alike.
    return sameValue(CutText(*read, kStoredValueChars), CutText(stored, kStoredValueChars)) ? Verdict::Same
                                                                                           : Verdict::Differs;
}

} // namespace parvault::cli
