#include "failuremodes.h"

namespace parvault::devsim {

QString Unescape(const QString& s) {
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const QChar n = s[++i];
            out += n == 't' ? QChar('\t') : n == 'n' ? QChar('\n') : n == 'r' ? QChar('\r') : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

Failure Failure::over(const Failure& base) const {
    Failure f = base;
    if (silent) f.silent = silent;
    if (silentFirst) f.silentFirst = silentFirst;
    if (errorText) f.errorText = errorText;
    if (badCrc) f.badCrc = badCrc;
    if (wrongSequence) f.wrongSequence = wrongSequence;
    if (pieces) f.pieces = pieces;
    if (delayMs) f.delayMs = delayMs;
    return f;
}

bool Failure::any() const {
    return silent || silentFirst || errorText || badCrc || wrongSequence || pieces || delayMs;
}

bool Failure::parseOption(const QString& word, QString* why) {
    const qsizetype eq = word.indexOf('=');
    const QString name = eq < 0 ? word : word.left(eq);
    const QString arg = eq < 0 ? QString() : word.mid(eq + 1);
    bool ok = true;
    const auto number = [&](int min) {
        const int v = arg.toInt(&ok);
        ok = ok && v >= min;
        return v;
    };
    if (name == "silent") {
        if (eq < 0)
            silent = true;
        else
            silentFirst = number(0);
    } else if (name == "error") {
        errorText = Unescape(arg);
    } else if (name == "badcrc" && eq < 0) {
        badCrc = true;
    } else if (name == "wrongseq") {
        wrongSequence = eq < 0 ? 1 : number(1);
    } else if (name == "pieces") {
        pieces = number(1);
    } else if (name == "delay") {
        delayMs = number(0);
    } else {
        if (why)
            *why = QStringLiteral("unknown option \"%1\"").arg(word);
        return false;
    }
    if (!ok && why)
        *why = QStringLiteral("bad number in \"%1\"").arg(word);
    return ok;
}

} // namespace parvault::devsim
