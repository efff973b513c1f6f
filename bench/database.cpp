// List loading and tree building, each against bare SQLite doing the least
// the same job needs, measured in the same run and interleaved with it.

#include "bench.h"
#include "benchutil.h"

#include "dbsession.h"
#include "jetconvert.h"
#include "listfiletable.h"
#include "mainwiring.h"

#include <QDir>
#include <QFile>
#include <QTreeWidget>

#include <sqlite3.h>

namespace parvault::bench {

namespace {

constexpr int kListType = 5; // a device type of the demo main database
const int kTreeTypes[] = {2, 5, 20, 21, 23, 26, 34, 41};

// The rows of one device type in list order, every field read, texts as bytes.
double BareQueryMs(const QString& file, int typeCode, long* rowsOut) {
    const auto start = Clock::now();
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const QByteArray sql =
        QStringLiteral("SELECT canal, param, [index], edizm, flag_dt, data, text, type_spiska, type_zapros, "
                       "kod_type_pribor FROM [Параметры] WHERE kod_type_pribor=%1 ORDER BY canal, param, [index]")
            .arg(typeCode)
            .toUtf8();
    sqlite3_stmt* st = nullptr;
    long rows = 0;
    size_t bytes = 0;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < 10; ++c) {
                if (c == 5 || c == 6)
                    bytes += static_cast<size_t>(sqlite3_column_bytes(st, c)) +
                             (sqlite3_column_text(st, c) ? 1 : 0);
                else
                    bytes += static_cast<size_t>(sqlite3_column_int(st, c) & 1);
            }
            ++rows;
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    *rowsOut = rows + static_cast<long>(bytes & 0); // keep the reads
    return MsSince(start);
}

// Each file the scan looks at opened and one row read, the main database's
// device types read; nothing else.
double BareTreeMs() {
    const auto start = Clock::now();
    const QStringList names = ListDatabaseCandidates();
    int lists = 0;
    for (const QString& name : names) {
        const bool main = name == QStringLiteral("PARVLT2.mdb");
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(name).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
            SQLITE_OK) {
            sqlite3_stmt* st = nullptr;
            const char* sql = main ? "SELECT * FROM [ТипыПриборов]" : "SELECT * FROM [Список] LIMIT 1";
            if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK)
                while (sqlite3_step(st) == SQLITE_ROW)
                    lists += main ? 0 : 1;
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
    }
    (void)lists;
    return MsSince(start);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

} // namespace

std::vector<Figure> ListLoadFigures(int n, int repeats) {
    ScratchDir dir;
    CopyMainDatabase(dir.path());
    const QString file = dir.qpath() + "/260101120000.mdb";
    MakeListFile(file, n, kListType, QStringLiteral("Большой список"));
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());

    std::vector<double> loads, bare;
    long bareRows = 0;
    int loadedRows = 0;
    {
        CMainDlg window(QuietWindowOptions(dir.path()));
        window.show();
        DbSession& db = window.wiring()->db();
        const int list = db.listFileTable.findFile(QStringLiteral("260101120000.mdb"));
        for (int r = 0; r < repeats + 1; ++r) {
            // Empty the list first, so that every load replaces rows as a user's does.
            window.rows().clear();
            const auto start = Clock::now();
            db.LoadTreeItem(MakeItemData(list, kListType));
            const double ms = MsSince(start);
            loadedRows = window.rows().rowCount();
            const double b = BareQueryMs(QStringLiteral("260101120000.mdb"), kListType, &bareRows);
            if (r > 0) { // the first round warms the file cache
                loads.push_back(ms);
                bare.push_back(b);
            }
        }
    }
    QDir::setCurrent(oldCwd);

    Figure f;
    f.name = QStringLiteral("List loading, %1 rows").arg(n);
    const double load = Median(loads), base = Median(bare);
    f.value = QString::asprintf("%.1f ms", load);
    f.reference = QString::asprintf("bare SQLite %.1f ms", base);
    f.ratio = base > 0 ? load / base : 0;
    f.target = QStringLiteral("<= 3");
    f.met = loadedRows == n && bareRows == n && f.ratio <= 3;
    f.note = QString::asprintf("median of %d; %d rows in the list, %ld from the query", repeats, loadedRows, bareRows);
    return {f};
}

Figure JetListLoadFigure(int repeats) {
    // The 10,000-row Jet 3 list of the build, and the same list converted
    // to the program's format, side by side in one folder.
    ScratchDir dir;
    CopyMainDatabase(dir.path());
    const QString jetName = QStringLiteral("240101000000.mdb");
    const QString ownName = QStringLiteral("240101000001.mdb");
    QFile::copy(QStringLiteral(PARVAULT_JET_BENCH_LIST), dir.qpath() + "/" + jetName);
    QFile::copy(QStringLiteral(PARVAULT_JET_BENCH_LIST), dir.qpath() + "/" + ownName);
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    const bool converted = ConvertJetFile(ownName).status == ConvertStatus::Converted;
    QFile::remove(ownName + kJetKeptSuffix);

    constexpr int kType = 20;
    std::vector<double> jet, own;
    int jetRows = 0, ownRows = 0;
    {
        CMainDlg window(QuietWindowOptions(dir.path()));
        window.show();
        DbSession& db = window.wiring()->db();
        const int jetList = db.listFileTable.findFile(jetName);
        const int ownList = db.listFileTable.findFile(ownName);
        for (int r = 0; r < repeats + 1; ++r) {
            window.rows().clear();
            auto start = Clock::now();
            db.LoadTreeItem(MakeItemData(jetList, kType));
            const double jetMs = MsSince(start);
            jetRows = window.rows().rowCount();
            window.rows().clear();
            start = Clock::now();
            db.LoadTreeItem(MakeItemData(ownList, kType));
            const double ownMs = MsSince(start);
            ownRows = window.rows().rowCount();
            if (r > 0) { // the first round warms the file cache
                jet.push_back(jetMs);
                own.push_back(ownMs);
            }
        }
    }
    QDir::setCurrent(oldCwd);

    Figure f;
    f.name = QStringLiteral("Jet list loading, 10000 rows");
    const double load = Median(jet), base = Median(own);
    f.value = QString::asprintf("%.1f ms", load);
    f.reference = QString::asprintf("same list in own format %.1f ms", base);
    f.ratio = base > 0 ? load / base : 0;
    f.target = QStringLiteral("<= 3");
    f.met = converted && jetRows == 10000 && ownRows == 10000 && f.ratio <= 3;
    f.note = QString::asprintf("median of %d; %d rows from Jet, %d from the converted copy", repeats, jetRows, ownRows);
    return f;
}

std::vector<Figure> TreeBuildFigures(int repeats) {
    ScratchDir dir;
    CopyMainDatabase(dir.path());
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.qpath());
    // A folder of years of lists: 1,000 list files, and 128 other ".mdb"
    // files (empty, text, damaged databases).
    constexpr int kLists = 1000;
    for (int i = 0; i < kLists; ++i)
        MakeListFile(QString::asprintf("2601%02d12%02d%02d.mdb", 1 + i / 60, i % 60, i % 60), 20,
                     kTreeTypes[i % 8], QStringLiteral("Список %1").arg(i));
    QByteArray sample;
    {
        QFile f(QStringLiteral("260101120000.mdb"));
        f.open(QIODevice::ReadOnly);
        sample = f.readAll();
    }
    for (int i = 0; i < 128; ++i) {
        const QString name = QString::asprintf("x%03d.mdb", i);
        switch (i % 4) {
        case 0: WriteFile(name, {}); break;
        case 1: WriteFile(name, QByteArray("Это не база данных, а текст.\r\n").repeated(40)); break;
        case 2: WriteFile(name, sample.left(1500)); break; // cut short
        default: { // the header kept, the pages spoilt
            QByteArray spoilt = sample;
            for (qsizetype k = 100; k < spoilt.size(); k += 7)
                spoilt[k] = static_cast<char>(k * 31);
            WriteFile(name, spoilt);
        }
        }
    }
    std::vector<double> builds, bare;
    int groups = 0, lists = 0;
    {
        CMainDlg window(QuietWindowOptions(dir.path()));
        window.show();
        MainWiring& wiring = *window.wiring();
        for (int r = 0; r < repeats + 1; ++r) {
            const auto start = Clock::now();
            wiring.BuildTree(); // the scan, the groups and the tree widget
            const double ms = MsSince(start);
            const double b = BareTreeMs();
            if (r > 0) {
                builds.push_back(ms);
                bare.push_back(b);
            }
        }
        groups = static_cast<int>(wiring.db().tree().children.size());
        lists = wiring.db().listFileTable.count;
    }
    QDir::setCurrent(oldCwd);

    Figure f;
    f.name = QStringLiteral("Tree build, %1 lists + 128 other files").arg(kLists);
    const double build = Median(builds), base = Median(bare);
    f.value = QString::asprintf("%.1f ms", build);
    f.reference = QString::asprintf("bare SQLite %.1f ms", base);
    f.ratio = base > 0 ? build / base : 0;
    f.target = QStringLiteral("<= 2");
    f.met = lists == kLists && f.ratio <= 2;
    f.note = QString::asprintf("median of %d; %d lists in %d groups", repeats, lists, groups);
    return {f};
}

} // namespace parvault::bench
