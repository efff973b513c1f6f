#include "paramtable.h"

#include <QFile>
#include <QStringList>

namespace parvault::devsim {

namespace {

// Splits at '|' not preceded by a backslash.
QStringList splitBars(const QString& line) {
    QStringList parts;
    QString cur;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            cur += line[i];
            cur += line[++i];
        } else if (line[i] == '|') {
            parts << cur;
            cur.clear();
        } else {
            cur += line[i];
        }
    }
    parts << cur;
    return parts;
}

// Option words, separated by blanks; "..." groups blanks into one word.
QStringList optionWords(const QString& s) {
    QStringList words;
    QString cur;
    bool quoted = false;
    for (QChar c : s) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c.isSpace() && !quoted) {
            if (!cur.isEmpty())
                words << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.isEmpty())
        words << cur;
    return words;
}

} // namespace

bool ParamTable::parse(const QString& text, std::optional<int> type, QString* error) {
    bool inSelected = true;
    const QStringList lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        const auto fail = [&](const QString& why) {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(n + 1).arg(why);
            return false;
        };
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            const QStringList words = line.mid(1, line.indexOf(']') - 1).simplified().split(' ');
            bool ok = false;
            const int t = words.size() == 2 && words[0].toLower() == "type" ? words[1].toInt(&ok) : 0;
            if (!ok || !line.endsWith(']'))
                return fail(QStringLiteral("a section reads [type N]"));
            inSelected = !type || *type == t;
            continue;
        }
        const QStringList parts = splitBars(line);
        const QStringList numbers = parts[0].simplified().split(' ', Qt::SkipEmptyParts);
        if (numbers.size() != 3 || parts.size() < 2 || parts.size() > 4)
            return fail(QStringLiteral("expected: channel param index | value | units | options"));
        ParamKey key;
        bool ok1 = false, ok2 = false, ok3 = false;
        key.channel = numbers[0].toInt(&ok1);
        key.param = numbers[1].toInt(&ok2);
        key.index = numbers[2].toInt(&ok3);
        if (!ok1 || !ok2 || !ok3 || key.channel < 0 || key.channel > 999 || key.param < 0 || key.param > 99999 ||
            key.index < 0 || key.index > 999)
            return fail(QStringLiteral("channel 0..999, param 0..99999, index 0..999"));
        ParamEntry e;
        e.value = Unescape(parts[1].trimmed());
        if (parts.size() > 2)
            e.units = Unescape(parts[2].trimmed());
        if (parts.size() > 3) {
            for (const QString& w : optionWords(parts[3])) {
                QString why;
                if (w == "ro")
                    e.readOnly = true;
                else if (!e.failure.parseOption(w, &why))
                    return fail(why);
            }
        }
        if (inSelected)
            entries_[key] = e;
    }
    return true;
}

bool ParamTable::load(const QString& path, std::optional<int> type, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open %1").arg(path);
        return false;
    }
    return parse(QString::fromUtf8(f.readAll()), type, error);
}

} // namespace parvault::devsim
