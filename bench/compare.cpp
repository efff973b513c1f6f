// The window's compare of a large list with the device: the longest stall of
// the window while the results arrive, when a Stop marks every row not yet
// read at once, and when the filter hides the rows that need no look.

#include "bench.h"
#include "benchutil.h"

#include "mainwiring.h"

#include <QDir>
#include <QTreeView>

namespace parvault::bench {

namespace {

constexpr int kComparePort = 8;
constexpr double kCompareStallBoundMs = 16;
// Reading 10,000 rows at the window's pace takes minutes; the stall while
// results arrive is measured over this long a stretch of it.
constexpr auto kArrivalWindow = std::chrono::seconds(10);

Figure StallFigure(const QString& name, double ms, double bound, const QString& note, bool ok) {
    Figure f;
    f.name = name;
    f.value = QString::asprintf("%.1f ms", ms);
    f.reference = QString::asprintf("bound %.0f ms", bound);
    f.ratio = ms / bound;
    f.target = QStringLiteral("<= 1");
    f.met = ok && f.ratio <= 1;
    f.note = note;
    return f;
}

} // namespace

std::vector<Figure> CompareFigures(int listRows) {
    std::vector<Figure> figures;
    ScratchDir dir;
    const QString params = DevsimParams(listRows);
    DevsimProcess sim;
    QString error;
    if (!StartSlowLineDevice(sim, dir, params, kComparePort, &error) || !CopyMainDatabase(dir.path())) {
        figures.push_back(StallFigure(QStringLiteral("Compare"), 0, 1, error, false));
        return figures;
    }
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    {
        CMainDlg window(QuietWindowOptions(dir.path()));
        window.show();
        window.settings.useIp = 1;
        window.settings.deviceIp = 0x7F000001;
        window.settings.udpPort = sim.udpPort();
        window.settings.waitSeconds = 1;
        // Stored values that differ from every other device value, so that
        // rows of every kind are marked.
        std::vector<ParamRow> rows = ExchangeRows(listRows);
        for (size_t i = 0; i < rows.size(); i += 2)
            rows[i].texts[ColValue] = QStringLiteral("1");
        window.rows().setRows(rows);
        CompareRun& compare = window.wiring()->compare();
        RunUntil([] { return false; }, std::chrono::milliseconds(300));

        StallProbe arrival;
        arrival.start();
        const auto start = Clock::now();
        compare.start();
        window.CompareChanged();
        const double startMs = MsSince(start);
        RunUntil([] { return false; }, kArrivalWindow);
        arrival.stop();
        const CompareRun::Counts seen = compare.counts();
        const int judged = seen.same + seen.differs + seen.notRead + seen.nothingStored;
        figures.push_back(StallFigure(
            QStringLiteral("Longest stall while compare results arrive, %1-row list").arg(listRows),
            arrival.maxStallMs(), kCompareStallBoundMs,
            QString::asprintf("%d rows judged in %.0f s over UDP; starting the compare took %.1f ms", judged,
                              std::chrono::duration<double>(kArrivalWindow).count(), startMs),
            judged > 0));

        StallProbe stop;
        stop.start();
        const auto stopStart = Clock::now();
        window.wiring()->OnCommand(IDC_STOP);
        const double stopMs = MsSince(stopStart);
        RunUntil([] { return false; }, std::chrono::milliseconds(300));
        stop.stop();
        const CompareRun::Counts c = compare.counts();
        figures.push_back(StallFigure(
            QStringLiteral("Stop of that compare (every row left marked not read)"), std::max(stopMs, stop.maxStallMs()),
            kCompareStallBoundMs * 4,
            QString::asprintf("%s", compare.countsText().toUtf8().constData()),
            c.same + c.differs + c.notRead + c.nothingStored == listRows));

        const auto filterStart = Clock::now();
        window.ShowOnlyDifferences(true);
        window.list()->viewport()->repaint();
        const double filterMs = MsSince(filterStart);
        int shown = 0;
        for (int r = 0; r < listRows; ++r)
            shown += window.list()->isRowHidden(r, {}) ? 0 : 1;
        const auto backStart = Clock::now();
        window.ShowOnlyDifferences(false);
        window.list()->viewport()->repaint();
        const double backMs = MsSince(backStart);
        figures.push_back(StallFigure(QStringLiteral("Filter on and off, %1 rows").arg(listRows),
                                      std::max(filterMs, backMs), kCompareStallBoundMs * 4,
                                      QString::asprintf("on %.1f ms (%d rows shown), off %.1f ms", filterMs, shown,
                                                        backMs),
                                      shown > 0 && shown < listRows));
    }
    QDir::setCurrent(oldCwd);
    return figures;
}

} // namespace parvault::bench
