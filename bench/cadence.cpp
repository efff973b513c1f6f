// Exchange cadence: the window reads n selected rows from the simulator
// program with its real 25 ms timer and 100 ms tick, over UDP and over a pty
// that the simulator runs at the baud rate set on it.
//
// The bound: one request per 25 ms step; an answer is taken at the first step
// after its last byte has arrived and the next request goes out at the step
// after that. With line time T (request and answer, ten bits a byte) a row
// takes floor(T / 25 ms) + 2 steps: two steps (20 rows/s) when T < 25 ms.

#include "bench.h"
#include "benchutil.h"

#include "controller.h"
#include "exchangelogwindow.h"
#include "devicemodel.h"
#include "iconbutton.h"
#include "mainwiring.h"
#include "requests.h"

#include <QDir>
#include <QFile>
#include <QTreeView>

#include <cmath>

namespace parvault::bench {

namespace {

constexpr int kPort = 7;
constexpr double kStepMs = kExchangeTimerMs;

struct Bound {
    double rowsPerSecond = 0;
    double meanLineMs = 0;
    double minLineMs = 0;
    double maxLineMs = 0;
};

// What the line carries for each row, from the same layouts and the same
// simulated device the run uses.
Bound ComputeBound(const std::vector<ParamRow>& rows, const QString& params, const ConnectionSettings& s,
                   int baud) {
    double steps = 0;
    double lineMs = 0;
    double minMs = 1e9, maxMs = 0;
    for (size_t bytes : RowLineBytes(rows, params, s)) {
        const double t = baud > 0 ? bytes * 10.0 * 1000.0 / baud : 0.0;
        lineMs += t;
        minMs = std::min(minMs, t);
        maxMs = std::max(maxMs, t);
        steps += std::floor(t / kStepMs) + 2;
    }
    return {rows.size() / (steps * kStepMs / 1000.0), lineMs / rows.size(), minMs, maxMs};
}

} // namespace

ExchangeRun RunExchange(const ExchangeRoute& route, int n, bool probeStalls) {
    ExchangeRun run;
    ScratchDir dir;
    const QString params = DevsimParams(n);
    DevsimProcess sim;
    if (!StartSlowLineDevice(sim, dir, params, kPort, &run.error))
        return run;
    if (!CopyMainDatabase(dir.path())) {
        run.error = QStringLiteral("no demo main database");
        return run;
    }
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    {
        CMainDlg window(QuietWindowOptions(dir.path()));
        window.show();
        window.settings.portNumbers[0] = kPort;
        window.settings.portIndex = 0;
        window.settings.speedIndex = route.speedIndex;
        window.settings.waitSeconds = 1;
        window.settings.useOptoport = 0;
        window.settings.useIp = route.udp ? 1 : 0;
        window.settings.deviceIp = 0x7F000001;
        window.settings.udpPort = sim.udpPort();

        const std::vector<ParamRow> rows = ExchangeRows(n);
        window.rows().setRows(rows);
        window.list()->selectAll();
        const Bound bound = ComputeBound(rows, params, window.settings,
                                         route.udp ? 0 : SpeedTable[static_cast<size_t>(route.speedIndex)]);
        run.boundRowsPerSecond = bound.rowsPerSecond;
        run.meanLineMs = bound.meanLineMs;
        run.lineRangeMs = {bound.minLineMs, bound.maxLineMs};

        if (route.logOpen)
            window.ShowExchangeLog();
        // Let the window settle before the clock starts.
        RunUntil([] { return false; }, std::chrono::milliseconds(300));
        StallProbe probe;
        if (probeStalls)
            probe.start();
        ExchangeController& controller = window.wiring()->controller();
        const auto start = Clock::now();
        window.button(IDC_READ)->click();
        const double expectedMs = n * 1000.0 / bound.rowsPerSecond;
        const bool ended = RunUntil([&] { return !controller.busy(); },
                                    std::chrono::milliseconds(static_cast<long>(expectedMs * 3 + 10000)));
        run.elapsedMs = MsSince(start);
        probe.stop();
        run.maxStallMs = probe.maxStallMs();
        run.stallsOver = probe.stallsOver();
        if (!ended)
            run.error = QStringLiteral("the exchange did not end");
        for (int i = 0; i < n; ++i)
            if (window.rows().icon(i) == IconNeutral && !window.rows().text(i, ColValue).isEmpty())
                ++run.rowsRead;
        run.rowsPerSecond = run.rowsRead * 1000.0 / run.elapsedMs;
        if (ExchangeLogWindow* log = window.exchangeLogWindow()) {
            log->pull();
            run.logLines = static_cast<int>(log->lines().size());
        }
    }
    QDir::setCurrent(oldCwd);
    return run;
}

Figure CadenceFigure(const ExchangeRoute& route, int n) {
    const ExchangeRun run = RunExchange(route, n, false);
    Figure f;
    f.name = QStringLiteral("Exchange cadence, %1 rows, %2").arg(n).arg(route.name);
    f.value = QString::asprintf("%.2f rows/s", run.rowsPerSecond);
    f.reference = QString::asprintf("bound %.2f rows/s", run.boundRowsPerSecond);
    f.ratio = run.boundRowsPerSecond > 0 ? run.rowsPerSecond / run.boundRowsPerSecond : 0;
    f.target = QStringLiteral(">= 0.95");
    f.met = run.error.isEmpty() && run.rowsRead == n && f.ratio >= 0.95;
    f.note = QString::asprintf("%d of %d rows read in %.0f ms; line time per row %.1f ms (%.1f..%.1f)",
                               run.rowsRead, n, run.elapsedMs, run.meanLineMs, run.lineRangeMs.first,
                               run.lineRangeMs.second);
    if (route.logOpen)
        f.note += QStringLiteral("; the log window showed %1 lines").arg(run.logLines);
    if (!run.error.isEmpty())
        f.note += QStringLiteral("; ") + run.error;
    return f;
}

} // namespace parvault::bench
