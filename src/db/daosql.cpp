#include "daosql.h"

#include <QStringList>

namespace parvault {

QString bracketed(const QString& name) { return QLatin1Char('[') + name + QLatin1Char(']'); }

QString stripBrackets(QString s) {
    s = s.trimmed();
    if (s.startsWith(QLatin1Char('[')) && s.endsWith(QLatin1Char(']')))
        s = s.mid(1, s.size() - 2);
    return s;
}

QString bracketSort(const QString& sort) {
    QStringList terms;
    for (const QString& raw : sort.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString term = raw.trimmed();
        if (term.isEmpty())
            continue;
        if (term.startsWith(QLatin1Char('['))) {
            terms << term;
            continue;
        }
        const qsizetype space = term.indexOf(QLatin1Char(' '));
        if (space < 0)
            terms << bracketed(term);
        else
            terms << bracketed(term.left(space)) + term.mid(space);
    }
    return terms.join(QLatin1Char(','));
}

} // namespace parvault
