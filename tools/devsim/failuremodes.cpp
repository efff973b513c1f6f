#include "failuremodes.h"

#include <algorithm>

namespace parvault::devsim {

namespace {

constexpr FailureMode kModes[] = {
    {.word = "silent",
     .help = "never answers",
     .apply = [](Failure& f, int, const QString&) { f.silent = true; }},
    {.word = "silent", .arg = FailureArg::Number, .argName = "N",
     .help = "ignores the first N requests for a row, then answers",
     .apply = [](Failure& f, int n, const QString&) { f.silentFirst = n; }},
    {.word = "error", .arg = FailureArg::Text, .argName = "TEXT",
     .help = "answers every request with the error answer TEXT",
     .apply = [](Failure& f, int, const QString& text) { f.errorText = text; }},
    {.word = "badcrc",
     .help = "spoils the answer's CRC (low byte inverted)",
     .apply = [](Failure& f, int, const QString&) { f.badCrc = true; }},
    // Sequence numbers run 000..999: K = 1000 would be the request's own again.
    {.word = "wrongseq", .arg = FailureArg::OptionalNumber, .argName = "K",
     .min = 1, .max = 999, .fallback = 1,
     .help = "answers with the request's sequence number + K (default 1)",
     .apply = [](Failure& f, int k, const QString&) { f.wrongSequence = k; }},
    {.word = "pieces", .arg = FailureArg::Number, .argName = "N", .min = 1,
     .help = "sends the answer in N pieces, --piece-gap apart (over UDP,\nN datagrams)",
     .apply = [](Failure& f, int n, const QString&) { f.pieces = n; }},
    {.word = "delay", .arg = FailureArg::Number, .argName = "MS",
     .help = "answers after MS milliseconds",
     .apply = [](Failure& f, int ms, const QString&) { f.delayMs = ms; }},
    {.word = "otherdevice", .arg = FailureArg::OptionalNumber, .argName = "K",
     .min = 1, .max = 255, .fallback = 1,
     .help = "answers as the device K addresses above its own\n(default 1), naming it in the address block even\nfor a request without one",
     .apply = [](Failure& f, int k, const QString&) { f.otherDevice = k; }},
    {.word = "keep", .arg = FailureArg::Text, .argName = "TEXT",
     .help = "confirms every write but then holds TEXT (a device that rounds\nor ignores what it is sent)",
     .apply = [](Failure& f, int, const QString& text) { f.keeps = text; }},
};

bool takesBareWord(const FailureMode& m) {
    return m.arg == FailureArg::None || m.arg == FailureArg::OptionalNumber;
}

} // namespace

std::span<const FailureMode> FailureModes() {
    return kModes;
}

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
    std::apply(
        [&](auto&... into) {
            std::apply([&](const auto&... mine) { ((mine ? void(into = mine) : void()), ...); },
                       fields());
        },
        f.fields());
    return f;
}

bool Failure::any() const {
    return std::apply([](const auto&... field) { return (field.has_value() || ...); }, fields());
}

bool Failure::parseOption(const QString& word, QString* why) {
    const qsizetype eq = word.indexOf('=');
    const bool hasArg = eq >= 0;
    const QString name = hasArg ? word.left(eq) : word;
    const QString arg = hasArg ? word.mid(eq + 1) : QString();
    const auto refuse = [&](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };

    // The word's row of the form given (alone or with '='); failing that,
    // any row of the word, to say what is wrong with it.
    const FailureMode* mode = nullptr;
    for (const FailureMode& m : kModes) {
        if (name != QLatin1String(m.word))
            continue;
        if (hasArg ? m.arg != FailureArg::None : takesBareWord(m)) {
            mode = &m;
            break;
        }
        if (!mode)
            mode = &m;
    }
    if (!mode)
        return refuse(QStringLiteral("unknown option \"%1\"").arg(word));
    if (hasArg && mode->arg == FailureArg::None)
        return refuse(QStringLiteral("%1 takes no value: \"%2\"").arg(name, word));

    int number = 0;
    QString text;
    if (mode->arg == FailureArg::Text) {
        text = Unescape(arg);
    } else if (mode->arg == FailureArg::OptionalNumber && !hasArg) {
        number = mode->fallback;
    } else if (mode->arg != FailureArg::None) {
        bool ok = false;
        number = arg.toInt(&ok);
        if (!ok || number < mode->min || number > mode->max) {
            const QString range = mode->max == INT_MAX
                                      ? QStringLiteral("%1 or more").arg(mode->min)
                                      : QStringLiteral("%1..%2").arg(mode->min).arg(mode->max);
            return refuse(QStringLiteral("bad number in \"%1\" (%2)").arg(word, range));
        }
    }
    mode->apply(*this, number, text);
    return true;
}

std::string FailureModeLabel(const FailureMode& mode) {
    std::string label = mode.word;
    switch (mode.arg) {
    case FailureArg::None: break;
    case FailureArg::OptionalNumber: label += std::string("[=") + mode.argName + "]"; break;
    case FailureArg::Number: label += std::string("=") + mode.argName; break;
    case FailureArg::Text: label += std::string("=\"") + mode.argName + "\""; break;
    }
    return label;
}

std::string FailureModesHelp() {
    std::string text;
    for (const FailureMode& m : kModes) {
        const std::string label = "  " + FailureModeLabel(m);
        text += label + std::string(kHelpColumn - std::min(label.size(), kHelpColumn - 1), ' ');
        for (const char* c = m.help; *c; ++c)
            text += *c == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, *c);
        text += '\n';
    }
    return text;
}

} // namespace parvault::devsim
