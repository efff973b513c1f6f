// Large folders: the tree of 2,000 Jet list files against the same lists in
// the program's format, and the window's start with 2,000 lists of each
// format, side by side in one run.

#include "bench.h"
#include "benchutil.h"

#include "dbsession.h"
#include "jetconvert.h"
#include "mainwiring.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <algorithm>

namespace parvault::bench {

namespace {

constexpr int kManyLists = 2000;

// The database commands' dialogs with nobody to answer them.
class QuietDbUi final : public DbUi {
public:
    std::optional<QString> askListName() override { return std::nullopt; }
    std::optional<QString> askSaveFile(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    void message(const QString&, const QString&) override {}
    void setTree(const TreeNode&) override {}
    void showWaitFrame(int) override {}
    void showArrowCursor() override {}
};

// kManyLists copies of one list file, named as saves a second apart.
void FillFolder(const ScratchDir& dir, const QString& listFile) {
    CopyMainDatabase(dir.path());
    for (int i = 0; i < kManyLists; ++i)
        QFile::copy(listFile, dir.qpath() + QString::asprintf("/2601%02d%02d%02d%02d.mdb", 1 + i / 3600 % 28,
                                                              i / 3600 / 28, i / 60 % 60, i % 60));
}

// A program start's tree: a fresh session, so only the cache kept on disk helps.
double FreshTreeMs(const ScratchDir& dir, int* lists) {
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    QuietDbUi ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    const auto start = Clock::now();
    db.BuildTree();
    const double ms = MsSince(start);
    *lists = db.listFileTable.count;
    QDir::setCurrent(oldCwd);
    return ms;
}

// A program that has built its tree saves a list: the refresh that follows.
double RefreshAfterSaveMs(const ScratchDir& dir, double* firstBuildMs) {
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    class NamingUi final : public DbUi {
    public:
        std::optional<QString> askListName() override { return QStringLiteral("Замер"); }
        std::optional<QString> askSaveFile(const QString&, const QString&, const QString&) override { return {}; }
        void message(const QString&, const QString&) override {}
        void setTree(const TreeNode&) override {}
        void showWaitFrame(int) override {}
        void showArrowCursor() override {}
    } ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    auto start = Clock::now();
    db.BuildTree();
    *firstBuildMs = MsSince(start);
    db.LoadTreeItem(MakeItemData(0, 20));
    db.SaveList();
    start = Clock::now();
    db.BuildTree();
    const double ms = MsSince(start);
    QFile::remove(db.lastSavedFile());
    QDir::setCurrent(oldCwd);
    return ms;
}

// From the window's construction to its first frame on the screen.
double WindowStartMs(const ScratchDir& dir, int* lists) {
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    const auto start = Clock::now();
    CMainDlg window(QuietWindowOptions(dir.path()));
    window.show();
    const bool exposed = QTest::qWaitForWindowExposed(&window);
    const double ms = MsSince(start);
    // A window never shown counts as no lists, so the figure is not met.
    *lists = exposed ? window.wiring()->db().listFileTable.count : -1;
    QDir::setCurrent(oldCwd);
    return ms;
}

} // namespace

std::vector<Figure> ManyListsFigures(int repeats) {
    // The heads the program keeps between starts go to a folder of this run.
    ScratchDir cache;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.qpath()));

    ScratchDir jet, own;
    const QString fixture = QStringLiteral(PARVAULT_JET_FIXTURES "/demo-jet3/240116101500.mdb");
    FillFolder(jet, fixture);
    const QString converted = own.qpath() + QStringLiteral("/converted.tmp.mdb");
    QFile::copy(fixture, converted);
    const bool ok = ConvertJetFile(converted).status == ConvertStatus::Converted;
    FillFolder(own, converted);
    QFile::remove(converted);
    QFile::remove(converted + kJetKeptSuffix);

    int jetLists = 0, ownLists = 0;
    // The first start ever in each folder, with nothing kept between starts:
    // every Jet file is read by the helper.
    ScratchDir ownCache;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(ownCache.qpath()));
    const double coldOwn = FreshTreeMs(own, &ownLists);
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.qpath()));
    const double coldJet = FreshTreeMs(jet, &jetLists);
    const bool coldLists = jetLists == kManyLists && ownLists == kManyLists;
    std::vector<double> jetTrees, ownTrees, jetWindows, ownWindows;
    for (int r = 0; r < repeats; ++r) {
        jetTrees.push_back(FreshTreeMs(jet, &jetLists));
        ownTrees.push_back(FreshTreeMs(own, &ownLists));
    }
    int jetWindowLists = 0, ownWindowLists = 0;
    for (int r = 0; r < repeats; ++r) {
        jetWindows.push_back(WindowStartMs(jet, &jetWindowLists));
        ownWindows.push_back(WindowStartMs(own, &ownWindowLists));
    }

    std::vector<double> refreshes, firsts;
    for (int r = 0; r < repeats; ++r) {
        double first = 0;
        refreshes.push_back(RefreshAfterSaveMs(own, &first));
        firsts.push_back(first);
    }

    Figure tree;
    tree.name = QStringLiteral("Tree of %1 Jet lists, a program's start").arg(kManyLists);
    const double j = Median(jetTrees), o = Median(ownTrees);
    tree.value = QString::asprintf("%.1f ms", j);
    tree.reference = QString::asprintf("same lists in the program's format %.1f ms", o);
    tree.ratio = o > 0 ? j / o : 0;
    tree.target = QStringLiteral("<= 2");
    tree.met = ok && jetLists == kManyLists && ownLists == kManyLists && tree.ratio <= 2;
    tree.note = QString::asprintf("median of %d; %d and %d lists", repeats, jetLists, ownLists);

    Figure cold;
    cold.name = QStringLiteral("First start ever, %1 Jet lists (nothing kept)").arg(kManyLists);
    cold.value = QString::asprintf("%.0f ms", coldJet);
    cold.reference = QString::asprintf("same lists in the program's format %.0f ms", coldOwn);
    cold.ratio = coldOwn > 0 ? coldJet / coldOwn : 0;
    cold.target = QStringLiteral("<= 2");
    cold.met = coldLists && cold.ratio <= 2;
    cold.note = QStringLiteral("one run each; the Jet files are read by the helper in batches");

    Figure window;
    window.name = QStringLiteral("Window start, %1 lists (Jet / program's format)").arg(kManyLists);
    const double wj = Median(jetWindows), wo = Median(ownWindows);
    window.value = QString::asprintf("%.0f / %.0f ms", wj, wo);
    window.reference = QStringLiteral("bound 1000 ms");
    window.ratio = std::max(wj, wo) / 1000.0;
    window.target = QStringLiteral("<= 1");
    window.met = jetWindowLists == kManyLists && ownWindowLists == kManyLists && window.ratio <= 1;
    window.note = QString::asprintf("median of %d; construction to the first exposed frame", repeats);
    Figure refresh;
    refresh.name = QStringLiteral("Tree refresh after a save, %1 lists in the program's format").arg(kManyLists);
    const double rf = Median(refreshes), fb = Median(firsts);
    refresh.value = QString::asprintf("%.1f ms", rf);
    refresh.reference = QString::asprintf("the program's first build %.1f ms", fb);
    refresh.ratio = fb > 0 ? rf / fb : 0;
    refresh.target = QStringLiteral("<= 0.5");
    refresh.met = refresh.ratio <= 0.5;
    refresh.note = QString::asprintf("median of %d; only the new file is read", repeats);
    return {tree, cold, window, refresh};
}

} // namespace parvault::bench
