#include "rowselect.h"

#include "rowtable.h"

#include <QStringList>

#include <algorithm>
#include <set>

namespace parvault::cli {

namespace {

// Row and parameter numbers have at most this many digits.
constexpr int kMaxDigits = 9;

bool digitsOnly(const QString& text) {
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// Unsigned decimal without sign; nothing for anything else.
std::optional<int> number(const QString& text) {
    if (!digitsOnly(text) || text.size() > kMaxDigits)
        return std::nullopt;
    return text.toInt();
}

// "N" or "N-M" with N <= M. What is wrong, when something is: `what` names
// the numbers ("row numbers"), `form` the forms the item may take.
std::optional<QString> range(const QString& text, int& from, int& to, const QString& what, const QString& form) {
    const QStringList parts = text.split(QLatin1Char('-'));
    if (parts.size() > 2)
        return QStringLiteral("%1 wants %2").arg(form, what);
    for (const QString& part : parts) {
        if (!digitsOnly(part))
            return QStringLiteral("%1 wants %2").arg(form, what);
        if (!number(part))
            return QStringLiteral("%1 is too large for one of the %2").arg(part, what);
    }
    from = *number(parts[0]);
    to = parts.size() == 2 ? *number(parts[1]) : from;
    if (from > to)
        return QStringLiteral("the range runs backwards; write %1-%2").arg(to).arg(from);
    return std::nullopt;
}

} // namespace

std::optional<std::vector<RowSelector>> ParseRowSpec(const QString& text, QString* why) {
    std::vector<RowSelector> out;
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString& raw : items) {
        const QString item = raw.trimmed();
        RowSelector s;
        s.text = item;
        if (item.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
            s.kind = RowSelector::Kind::All;
        } else if (item.startsWith(QLatin1Char('p'), Qt::CaseInsensitive)) {
            s.kind = RowSelector::Kind::Params;
            if (const auto wrong = range(item.mid(1), s.from, s.to, QStringLiteral("parameter numbers"),
                                         QStringLiteral("pP or pP-Q"))) {
                *why = QStringLiteral("\"%1\": %2").arg(item, *wrong);
                return std::nullopt;
            }
        } else if (item.contains(QLatin1Char(':'))) {
            s.kind = RowSelector::Kind::Address;
            const QStringList parts = item.split(QLatin1Char(':'));
            std::optional<int> c, p, i;
            if (parts.size() >= 2) {
                c = number(parts[0]);
                p = number(parts[1]);
            }
            if (parts.size() == 3)
                i = number(parts[2]);
            if (parts.size() < 2 || parts.size() > 3 || !c || !p || (parts.size() == 3 && !i)) {
                *why = QStringLiteral("\"%1\": C:P or C:P:I wants channel, parameter and index numbers")
                           .arg(item);
                return std::nullopt;
            }
            s.channel = *c;
            s.param = *p;
            s.index = i;
        } else {
            s.kind = RowSelector::Kind::Rows;
            if (const auto wrong =
                    range(item, s.from, s.to, QStringLiteral("row numbers"), QStringLiteral("N or N-M"))) {
                *why = QStringLiteral("\"%1\": %2").arg(item, *wrong);
                return std::nullopt;
            }
            if (s.from < 1) {
                *why = QStringLiteral("\"%1\": row numbers start at 1 (N or N-M)").arg(item);
                return std::nullopt;
            }
        }
        out.push_back(s);
    }
    if (out.empty()) {
        *why = QStringLiteral("no rows given");
        return std::nullopt;
    }
    return out;
}

std::optional<std::vector<int>> MatchRows(const RowTable& rows, const std::vector<RowSelector>& selectors,
                                          QString* why) {
    std::set<int> picked;
    const int n = rows.rowCount();
    for (const RowSelector& s : selectors) {
        bool any = false;
        switch (s.kind) {
        case RowSelector::Kind::All:
            for (int r = 0; r < n; ++r)
                picked.insert(r);
            any = n > 0;
            break;
        case RowSelector::Kind::Rows:
            if (s.to > n) {
                *why = QStringLiteral("\"%1\": the list has %2 rows").arg(s.text).arg(n);
                return std::nullopt;
            }
            for (int r = s.from; r <= s.to; ++r)
                picked.insert(r - 1);
            any = true;
            break;
        case RowSelector::Kind::Params:
            for (int r = 0; r < n; ++r) {
                const int p = leadingInt(rows.text(r, ColParam));
                if (p >= s.from && p <= s.to) {
                    picked.insert(r);
                    any = true;
                }
            }
            break;
        case RowSelector::Kind::Address:
            for (int r = 0; r < n; ++r) {
                if (leadingInt(rows.text(r, ColCanal)) == s.channel &&
                    leadingInt(rows.text(r, ColParam)) == s.param &&
                    (!s.index || leadingInt(rows.text(r, ColIndex)) == *s.index)) {
                    picked.insert(r);
                    any = true;
                }
            }
            break;
        }
        if (!any) {
            *why = QStringLiteral("\"%1\" picks no row of the list").arg(s.text);
            return std::nullopt;
        }
    }
    return std::vector<int>(picked.begin(), picked.end());
}

} // namespace parvault::cli
