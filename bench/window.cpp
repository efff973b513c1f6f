// The window under load: how long its event loop stalls during a slow serial
// exchange and during the load of a large list, and how much memory the
// program holds with that list loaded.

#include "bench.h"
#include "benchutil.h"

#include "mainwiring.h"

#include <QDir>

#include <cstdio>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

namespace parvault::bench {

namespace {

constexpr int kWindowListType = 5;
constexpr double kStallBoundMs = 16;
constexpr double kLoadBoundMs = 200;
constexpr double kMemoryBoundMb = 80;

QTreeWidgetItem* FindItem(QTreeWidgetItem* item, int32_t data) {
    if (item->data(0, Qt::UserRole).toInt() == data)
        return item;
    for (int i = 0; i < item->childCount(); ++i)
        if (QTreeWidgetItem* found = FindItem(item->child(i), data))
            return found;
    return nullptr;
}

struct LoadedWindow {
    double loadMs = 0;  // the double-click until the rows are in the list
    double paintMs = 0; // the list's first paint with them
    double maxStallMs = 0;
    int rows = 0;
};

// A double-click on the list in the tree, as a user loads it.
LoadedWindow LoadByDoubleClick(CMainDlg& window, bool probe) {
    LoadedWindow out;
    const int list = window.wiring()->db().listFileTable.findFile(QStringLiteral("260101120000.mdb"));
    QTreeWidgetItem* item = FindItem(window.tree()->topLevelItem(0), MakeItemData(list, kWindowListType));
    if (!item) {
        std::fprintf(stderr, "list %d not in the tree\n", list);
        return out;
    }
    QTest::qWaitForWindowExposed(&window);
    window.tree()->scrollToItem(item);
    const QPoint at = window.tree()->visualItemRect(item).center();
    QTest::mouseClick(window.tree()->viewport(), Qt::LeftButton, {}, at);
    RunUntil([] { return false; }, std::chrono::milliseconds(300));
    StallProbe stalls;
    if (probe)
        stalls.start();
    RunUntil([] { return false; }, std::chrono::milliseconds(100));
    const auto start = Clock::now();
    QTest::mouseDClick(window.tree()->viewport(), Qt::LeftButton, {}, at);
    out.loadMs = MsSince(start);
    const auto paintStart = Clock::now();
    window.list()->viewport()->repaint();
    out.paintMs = MsSince(paintStart);
    RunUntil([] { return false; }, std::chrono::milliseconds(300));
    stalls.stop();
    out.maxStallMs = stalls.maxStallMs();
    out.rows = window.rows().rowCount();
    return out;
}

} // namespace

Figure ExchangeStallFigure(int exchangeRows, bool logOpen) {
    ExchangeRoute route{QStringLiteral("pty 300 baud"), false, 0};
    route.logOpen = logOpen;
    const ExchangeRun run = RunExchange(route, exchangeRows, true);
    Figure f;
    f.name = QStringLiteral("Longest stall, %1-row exchange at 300 baud%2")
                 .arg(exchangeRows)
                 .arg(logOpen ? QStringLiteral(", log window open") : QString());
    f.value = QString::asprintf("%.1f ms", run.maxStallMs);
    f.reference = QString::asprintf("bound %.0f ms", kStallBoundMs);
    f.ratio = run.maxStallMs / kStallBoundMs;
    f.target = QStringLiteral("<= 1");
    f.met = run.error.isEmpty() && run.rowsRead == exchangeRows && f.ratio <= 1;
    f.note = QString::asprintf("%d of %d rows read in %.1f s; stalls over 16 ms (at s: ms):", run.rowsRead,
                               exchangeRows, run.elapsedMs / 1000);
    for (const auto& [at, ms] : run.stallsOver)
        f.note += QString::asprintf(" %.2f: %.0f", at / 1000, ms);
    if (logOpen)
        f.note += QStringLiteral("; the log window showed %1 lines").arg(run.logLines);
    if (!run.error.isEmpty())
        f.note += QStringLiteral("; ") + run.error;
    return f;
}

std::vector<Figure> ResponsivenessFigures(int exchangeRows, int listRows) {
    std::vector<Figure> figures;
    figures.push_back(ExchangeStallFigure(exchangeRows, false));
    ScratchDir dir;
    CopyMainDatabase(dir.path());
    MakeListFile(dir.qpath() + "/260101120000.mdb", listRows, kWindowListType, QStringLiteral("Большой список"));
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    {
        CMainDlg window(QuietWindowOptions(dir.path()));
        window.show();
        const LoadedWindow w = LoadByDoubleClick(window, true);
        Figure load;
        load.name = QStringLiteral("Load of %1 rows by double-click (+ paint)").arg(listRows);
        load.value = QString::asprintf("%.1f ms", w.loadMs + w.paintMs);
        load.reference = QString::asprintf("bound %.0f ms", kLoadBoundMs);
        load.ratio = (w.loadMs + w.paintMs) / kLoadBoundMs;
        load.target = QStringLiteral("<= 1");
        load.met = w.rows == listRows && load.ratio <= 1;
        load.note = QString::asprintf("load %.1f ms, first paint %.1f ms, %d rows", w.loadMs, w.paintMs, w.rows);
        figures.push_back(load);
        Figure stall;
        stall.name = QStringLiteral("Longest stall during that load");
        stall.value = QString::asprintf("%.1f ms", w.maxStallMs);
        stall.reference = QString::asprintf("bound %.0f ms", kLoadBoundMs);
        stall.ratio = w.maxStallMs / kLoadBoundMs;
        stall.target = QStringLiteral("<= 1");
        stall.met = w.rows == listRows && stall.ratio <= 1;
        figures.push_back(stall);
    }
    QDir::setCurrent(oldCwd);
    return figures;
}

std::vector<Figure> MemoryFigures(int listRows) {
    ScratchDir dir;
    CopyMainDatabase(dir.path());
    MakeListFile(dir.qpath() + "/260101120000.mdb", listRows, kWindowListType, QStringLiteral("Большой список"));
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    Figure f;
    {
        CMainDlg window(QuietWindowOptions(dir.path()));
        window.show();
        RunUntil([] { return false; }, std::chrono::milliseconds(300));
        const Memory before = ReadMemory();
        const LoadedWindow w = LoadByDoubleClick(window, false);
        // Scroll through the whole list so that every row has been shown once.
        window.list()->scrollToBottom();
        window.list()->viewport()->repaint();
        RunUntil([] { return false; }, std::chrono::milliseconds(300));
        const Memory after = ReadMemory();
        f.name = QStringLiteral("Resident size with %1 rows loaded").arg(listRows);
        f.value = QString::asprintf("%.1f MB", after.rssMb);
        f.reference = QString::asprintf("bound %.0f MB", kMemoryBoundMb);
        f.ratio = after.rssMb / kMemoryBoundMb;
        f.target = QStringLiteral("<= 1");
        f.met = w.rows == listRows && f.ratio <= 1;
        f.note = QString::asprintf("%.1f MB before the load; peak %.1f MB; %d rows", before.rssMb, after.peakMb, w.rows);
    }
    QDir::setCurrent(oldCwd);
    return {f};
}

} // namespace parvault::bench
