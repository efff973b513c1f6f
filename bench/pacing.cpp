// Fast pacing against the line: the exchange stack reads n rows from the
// simulator program without a window, once with the window's pacing and
// once with fast pacing, over UDP and over a pty that the simulator runs at
// the baud rate set on it.
//
// The line-rate bound: each row's request and answer bytes at the line's
// speed (ten bits a byte), plus the simulator's own answer delay (none here).
// Over UDP on loopback there is no line; the target there is a rate.

#include "bench.h"
#include "benchutil.h"

#include "devicemodel.h"
#include "exchangestack.h"
#include "requests.h"

#include <QFile>

namespace parvault::bench {

namespace {

constexpr int kPort = 7;

class QuietDisplay final : public ExchangeDisplay {
public:
    void setStatusText(const QString&) override {}
    void setOpticMark(const QString&) override {}
    void setPortStatusText(const QString&) override {}
    void setProgressText(const QString&) override {}
    void setProgressPos(int) override {}
};

// The seconds the line needs for every row's request and answer.
double LineSeconds(const std::vector<ParamRow>& rows, const QString& params, const ConnectionSettings& s,
                   int baud) {
    double seconds = 0;
    for (size_t bytes : RowLineBytes(rows, params, s))
        seconds += bytes * 10.0 / baud;
    return seconds;
}

struct PacedRun {
    int rowsRead = 0;
    double elapsedMs = 0;
    double lineSeconds = 0;
    QString error;
};

PacedRun RunPaced(const ExchangeRoute& route, int n, bool fast) {
    PacedRun run;
    ScratchDir dir;
    const QString params = DevsimParams(n);
    DevsimProcess sim;
    if (!StartSlowLineDevice(sim, dir, params, kPort, &run.error))
        return run;

    ConnectionSettings settings;
    settings.portNumbers[0] = kPort;
    settings.portIndex = 0;
    settings.speedIndex = route.speedIndex;
    settings.waitSeconds = 1;
    settings.useIp = route.udp ? 1 : 0;
    settings.deviceIp = 0x7F000001;
    settings.udpPort = sim.udpPort();
    MemoryRowTable rows;
    const std::vector<ParamRow> list = ExchangeRows(n);
    rows.setRows(list);
    for (int i = 0; i < n; ++i)
        rows.setSelected(i, true);
    QuietDisplay display;
    Pacing pacing;
    pacing.fast = fast;
    UdpPauses pauses;
    if (fast)
        pauses.readPauseMs = pauses.writePauseMs = 0;
    ExchangeStack stack(StackSetup{settings, rows, display, PortNaming{dir.path(), "/dev"}, 0x7F000001, {}, {},
                                   nullptr, nullptr, pauses, {}, pacing});
    // A fresh process has never signed on; no optical port here anyway.
    stack.shared().linkIdleTicks = kLinkIdleExpired + 1;
    if (!route.udp)
        run.lineSeconds = LineSeconds(list, params, settings, SpeedTable[static_cast<size_t>(route.speedIndex)]);

    const auto start = Clock::now();
    stack.controller().OnReadCommand();
    runRealTime(stack);
    run.elapsedMs = MsSince(start);
    for (int i = 0; i < n; ++i)
        if (rows.icon(i) == IconNeutral && !rows.text(i, ColValue).isEmpty())
            ++run.rowsRead;
    return run;
}

} // namespace

Figure PacingFigure(const ExchangeRoute& route, int n, bool fast) {
    const PacedRun run = RunPaced(route, n, fast);
    const double rate = run.elapsedMs > 0 ? run.rowsRead * 1000.0 / run.elapsedMs : 0;
    Figure f;
    f.name = QStringLiteral("Command line, %1 pacing, %2 rows, %3")
                 .arg(fast ? QStringLiteral("fast") : QStringLiteral("window"))
                 .arg(n)
                 .arg(route.name);
    f.value = QString::asprintf("%.1f rows/s", rate);
    if (route.udp && fast) {
        f.reference = QStringLiteral("500 rows/s");
        f.ratio = rate / 500.0;
        f.target = QStringLiteral(">= 1.00");
        f.met = run.error.isEmpty() && run.rowsRead == n && rate >= 500.0;
    } else if (fast) {
        const double bound = n / run.lineSeconds;
        f.reference = QString::asprintf("line %.1f rows/s", bound);
        f.ratio = rate / bound;
        f.target = QStringLiteral(">= 0.80");
        f.met = run.error.isEmpty() && run.rowsRead == n && f.ratio >= 0.8;
    } else {
        // The window's pacing: at most a request every other 25 ms step
        // while the line time stays under a step, as the window's cadence.
        const double perRowSteps = route.udp ? 2.0 : std::floor(run.lineSeconds / n * 1000.0 / kExchangeTimerMs) + 2;
        const double bound = 1000.0 / (perRowSteps * kExchangeTimerMs);
        f.reference = QString::asprintf("bound %.1f rows/s", bound);
        f.ratio = rate / bound;
        f.target = QStringLiteral(">= 0.95");
        f.met = run.error.isEmpty() && run.rowsRead == n && f.ratio >= 0.95;
    }
    f.note = QString::asprintf("%d of %d rows read in %.0f ms", run.rowsRead, n, run.elapsedMs);
    if (!run.error.isEmpty())
        f.note += QStringLiteral("; ") + run.error;
    return f;
}

} // namespace parvault::bench
