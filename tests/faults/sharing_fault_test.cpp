// Several programs in one working folder at once, as a team uses it: command
// lines saving lists (`save`, `read --save-as`), storing values into lists
// (`read FILE --save`), a program deleting lists, and a reader looking at
// every list file while all this goes on. Every save that reported success
// is in the tree under its own name with its own rows and values; every
// failure says why; no file under a list name is ever half-made; a reader
// never sees a list without its rows.

#include "tempdir.h"

#include "dbsession.h"
#include "folderkind.h"
#include "rowtable.h"
#include "scriptedui.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

using parvault::testing::TempDir;

namespace {

constexpr int kStartMs = 10000;
constexpr int kRunMs = 60000;
constexpr int kSavers = 3;
constexpr int kSavesEach = 5;
constexpr int kSaveAsWorkers = 2;
constexpr int kSaveAsEach = 3;
constexpr int kStorers = 2;
constexpr int kStoresEach = 4;
constexpr int kVictims = 3;
constexpr int kRowsPerList = 3;
constexpr int kReaderPassesMax = 2000;

struct Result {
    int status = -1;
    QString out;
    QString err;
};

// The command line under test; another build's can be named to compare.
QString cliProgram() {
    const QString other = qEnvironmentVariable("PARVAULT_SHARING_CLI");
    return other.isEmpty() ? QStringLiteral(PARVAULT_CLI_EXE) : other;
}

Result cli(const QString& workDir, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.start(cliProgram(), args);
    Result r;
    if (!p.waitForFinished(kRunMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not end within %1 ms").arg(kRunMs);
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

class Simulator {
public:
    Simulator() {
        process_.start(PARVAULT_DEVSIM_EXE, QStringList{"--params", PARVAULT_DEMO_PARAMS, "--type", "20", "--udp",
                                                        "127.0.0.1:0"});
        QByteArray seen;
        while (!seen.contains("ready\n") && process_.waitForReadyRead(kStartMs))
            seen += process_.readAllStandardOutput();
        const auto m = QRegularExpression("udp 127\\.0\\.0\\.1:(\\d+)").match(QString::fromUtf8(seen));
        if (m.hasMatch())
            port_ = m.captured(1);
    }
    ~Simulator() {
        process_.terminate();
        if (!process_.waitForFinished(kStartMs))
            process_.kill();
    }
    QStringList link() const { return {"--udp", "127.0.0.1:" + port_, "--wait", "1"}; }
    bool ready() const { return !port_.isEmpty(); }

private:
    QProcess process_;
    QString port_;
};

// What a list file holds, read in one read transaction as another program
// would: its header and its rows (channel:param:index=value).
struct ListContent {
    bool opened = false;
    bool hasTables = false;
    std::vector<std::string> head;
    std::vector<std::string> rows;
};

ListContent ReadList(const std::string& path) {
    ListContent c;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return c; // deleted meanwhile
    }
    sqlite3_busy_timeout(db, kRunMs);
    auto all = [&](const char* sql, std::vector<std::string>& out) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
            return false;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            std::string line;
            for (int k = 0; k < sqlite3_column_count(st); ++k) {
                const unsigned char* t = sqlite3_column_text(st, k);
                line += (k ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "NULL");
            }
            out.push_back(line);
        }
        sqlite3_finalize(st);
        return rc == SQLITE_DONE;
    };
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) {
        std::vector<std::string> tables;
        c.opened = all("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name", tables);
        c.hasTables = tables.size() == 2;
        if (c.hasTables) {
            all("SELECT kod_type_pribor, name FROM [Список]", c.head);
            all("SELECT canal || ':' || param || ':' || [index] || '=' || ifnull(data, '') FROM [Параметры] "
                "ORDER BY rowid",
                c.rows);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    return c;
}

QString rowsOf(int worker) { return QStringLiteral("%1-%2").arg(worker * kRowsPerList + 1).arg((worker + 1) * kRowsPerList); }

struct Saved {
    QString command;
    QString name;
    QString file;
    std::vector<std::string> values; // channel:param:index=value, when read from the device
};

// The working folder seen through a FUSE filesystem (bindfs): the program
// takes it for a network share, as it takes sshfs and the like, and must keep
// its lists whole there too.
class FuseMirror {
public:
    explicit FuseMirror(const std::filesystem::path& source) {
        const QString bindfs = QStandardPaths::findExecutable(QStringLiteral("bindfs"));
        if (bindfs.isEmpty()) {
            why_ = "bindfs is not installed";
            return;
        }
        QProcess p;
        p.start(bindfs, {QString::fromStdString(source.string()), QString::fromStdString(mount_.path().string())});
        if (!p.waitForFinished(10000) || p.exitCode() != 0) {
            why_ = "bindfs cannot mount here (no /dev/fuse, or not allowed): " +
                   QString::fromLocal8Bit(p.readAllStandardError()).trimmed().toStdString();
            return;
        }
        mounted_ = true;
    }
    ~FuseMirror() {
        if (!mounted_)
            return;
        const QString where = QString::fromStdString(mount_.path().string());
        for (const char* unmount : {"fusermount3", "fusermount"})
            if (!QStandardPaths::findExecutable(QString::fromLatin1(unmount)).isEmpty() &&
                QProcess::execute(QString::fromLatin1(unmount), {"-u", where}) == 0)
                return;
        QProcess::execute(QStringLiteral("umount"), {where});
    }
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    std::filesystem::path path() const { return mount_.path(); }

private:
    TempDir mount_;
    bool mounted_ = false;
    std::string why_;
};

enum class Folder { Local, Fuse };

class SharingFault : public ::testing::TestWithParam<Folder> {
protected:
    void SetUp() override {
        if (GetParam() == Folder::Fuse) {
            fuse.emplace(dir.path());
            if (!fuse->mounted())
                GTEST_SKIP() << fuse->why();
            ASSERT_EQ(parvault::FolderKindOf(work()), parvault::FolderKind::Network);
        }
        std::filesystem::copy_file(PARVAULT_DEMO_DB, file("PARVLT2.mdb"));
        cwd.emplace(folder()); // this process's deleting session works here
    }
    void TearDown() override { cwd.reset(); }
    std::filesystem::path folder() const { return fuse ? fuse->path() : dir.path(); }
    std::string file(const std::string& name) const { return (folder() / name).string(); }
    QString work() const { return QString::fromStdString(folder().string()); }

    // A `save`'s file from its CSV output.
    static QString savedFile(const Result& r) {
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.size() == 2 ? lines[1].section(QLatin1Char(','), 2, 2) : QString();
    }

    void failed(const QString& what, const Result& r) {
        std::lock_guard<std::mutex> lock(m);
        failures.push_back(what + QStringLiteral(": ") + r.err.trimmed());
        // Every failure says why.
        EXPECT_FALSE(r.err.trimmed().isEmpty()) << what.toStdString() << " failed without a word";
    }

    TempDir dir;
    std::optional<FuseMirror> fuse;
    std::optional<parvault::testing::ScopedCwd> cwd;
    std::mutex m;
    std::vector<Saved> saved;
    std::vector<QString> failures;
    int victimStoresRefused = 0;
};

} // namespace

TEST_P(SharingFault, ProgramsSavingStoringDeletingAndReadingInOneFolder) {
    Simulator sim;
    ASSERT_TRUE(sim.ready());

    // A list all storers store into, and lists to be deleted under storers.
    Result r = cli(work(), {"save", "type:20", "--name", "Общий", "--rows", "1-3", "--format", "csv"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QString shared = savedFile(r);
    std::vector<QString> victims;
    for (int v = 0; v < kVictims; ++v) {
        r = cli(work(), {"save", "type:20", "--name", QStringLiteral("Удаляемый %1").arg(v), "--rows", "1-3",
                         "--format", "csv"});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        // Named years back, so that no save of the run can take the name again
        // once it is deleted.
        victims.push_back(QStringLiteral("2001010000%1.mdb").arg(v, 2, 10, QLatin1Char('0')));
        ASSERT_TRUE(QFile::rename(savedFile(r), victims.back()));
    }

    std::atomic<int> running{0};
    std::vector<std::thread> workers;
    auto start = [&](auto body) {
        ++running;
        workers.emplace_back([&, body] {
            body();
            --running;
        });
    };
    for (int w = 0; w < kSavers; ++w)
        start([&, w] {
            for (int k = 0; k < kSavesEach; ++k) {
                const QString name = QStringLiteral("s%1-%2").arg(w).arg(k);
                const Result res = cli(work(), {"save", "type:20", "--name", name, "--rows", rowsOf(w), "--format", "csv"});
                if (res.status != 0) {
                    failed("save " + name, res);
                    continue;
                }
                std::lock_guard<std::mutex> lock(m);
                saved.push_back({"save", name, savedFile(res), {}});
            }
        });
    for (int w = 0; w < kSaveAsWorkers; ++w)
        start([&, w] {
            for (int k = 0; k < kSaveAsEach; ++k) {
                const QString name = QStringLiteral("dev%1-%2").arg(w).arg(k);
                const Result res = cli(work(), QStringList{"read", "type:20", "--rows", rowsOf(kSavers + w),
                                                           "--save-as", name, "--format", "json"} +
                                                   sim.link());
                if (res.status != 0) {
                    failed("read --save-as " + name, res);
                    continue;
                }
                const QJsonObject doc = QJsonDocument::fromJson(res.out.toUtf8()).object();
                Saved s{"read --save-as", name, doc["savedAs"].toObject()["file"].toString(), {}};
                for (const auto& v : doc["rows"].toArray()) {
                    const QJsonObject row = v.toObject();
                    s.values.push_back(QStringLiteral("%1:%2:%3=%4")
                                           .arg(row["channel"].toInt())
                                           .arg(row["parameter"].toInt())
                                           .arg(row["index"].toInt())
                                           .arg(row["value"].toString())
                                           .toStdString());
                }
                std::lock_guard<std::mutex> lock(m);
                saved.push_back(std::move(s));
            }
        });
    for (int w = 0; w < kStorers; ++w)
        start([&, w] {
            for (int k = 0; k < kStoresEach; ++k) {
                // Into the shared list, and into a list that is being deleted.
                for (const QString& file : {shared, victims[static_cast<size_t>((w + k) % kVictims)]}) {
                    const Result res = cli(work(), QStringList{"read", file, "--save"} + sim.link());
                    if (res.status != 0) {
                        failed("read " + file + " --save", res);
                        if (file == shared)
                            ADD_FAILURE() << "a store into the shared list failed: " << res.err.toStdString();
                        else
                            EXPECT_TRUE(res.err.contains(QStringLiteral("no saved list in the file ") + file) ||
                                        res.err.contains(QStringLiteral("больше нет")))
                                << res.err.toStdString();
                        std::lock_guard<std::mutex> lock(m);
                        ++victimStoresRefused;
                    }
                }
            }
        });
    // This process deletes the victims one by one, as the window's Delete key does.
    start([&] {
        for (int v = 0; v < kVictims; ++v) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            parvault::testing::ScriptedUi ui;
            parvault::MemoryRowTable rows;
            parvault::DbSession session(ui, rows);
            session.BuildTree();
            const int n = session.listFileTable.findFile(victims[static_cast<size_t>(v)]);
            ASSERT_NE(n, 0);
            EXPECT_TRUE(session.DeleteSelectedList(parvault::MakeItemData(n, 20), true));

            EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().text.toStdString();
        }
    });

    // The reader: every file under a list name is a whole list, whenever looked at.
    const QRegularExpression listName("^\\d{12}\\.mdb$");
    int passes = 0;
    std::set<std::string> halfMade, withoutRows;
    while (running > 0 && passes < kReaderPassesMax) {
        ++passes;
        for (const auto& e : std::filesystem::directory_iterator(folder())) {
            const std::string name = e.path().filename().string();
            if (!listName.match(QString::fromStdString(name)).hasMatch())
                continue;
            const ListContent c = ReadList(e.path().string());
            if (!c.opened)
                continue; // deleted between the listing and the look
            if (!c.hasTables || c.head.size() != 1)
                halfMade.insert(name);
            else if (c.rows.size() != kRowsPerList)
                withoutRows.insert(name);
        }
    }
    for (std::thread& t : workers)
        t.join();
    EXPECT_TRUE(halfMade.empty()) << "seen half-made: " << *halfMade.begin();
    EXPECT_TRUE(withoutRows.empty()) << "seen without its rows: " << *withoutRows.begin();

    // Every save that reported success: its own file, name, rows and values.
    std::set<QString> files;
    r = cli(work(), {"tree", "--format", "csv"});
    ASSERT_EQ(r.status, 0);
    for (const Saved& s : saved) {
        SCOPED_TRACE(s.command.toStdString() + " " + s.name.toStdString() + " -> " + s.file.toStdString());
        EXPECT_TRUE(files.insert(s.file).second) << "two successful saves named one file";
        EXPECT_TRUE(r.out.contains(QStringLiteral(",%1,%2\n").arg(s.name, s.file))) << "not in the tree";
        const ListContent c = ReadList(file(s.file.toStdString()));
        ASSERT_TRUE(c.hasTables);
        EXPECT_EQ(c.head, std::vector<std::string>{"20|" + s.name.toStdString()});
        ASSERT_EQ(c.rows.size(), static_cast<size_t>(kRowsPerList));
        if (!s.values.empty()) {
            EXPECT_EQ(c.rows, s.values);
        }
    }
    EXPECT_EQ(saved.size(), static_cast<size_t>(kSavers * kSavesEach + kSaveAsWorkers * kSaveAsEach))
        << "saves failed";
    // The folder holds whole lists only, and no temporary file is left.
    for (const auto& e : std::filesystem::directory_iterator(folder())) {
        const std::string name = e.path().filename().string();
        EXPECT_FALSE(name.rfind(".parvault2-save.", 0) == 0) << "left behind: " << name;
        if (!listName.match(QString::fromStdString(name)).hasMatch())
            continue;
        const ListContent c = ReadList(e.path().string());
        EXPECT_TRUE(c.hasTables && c.head.size() == 1 && c.rows.size() == kRowsPerList) << "half-made: " << name;
    }
    // The deletions land among the stores: some stores come too late.
    EXPECT_GT(victimStoresRefused, 0);
    for (const QString& f : failures)
        std::cout << "failed, and said why: " << f.toStdString() << '\n';
    RecordProperty("readerPasses", passes);
    RecordProperty("failures", static_cast<int>(failures.size()));
}

INSTANTIATE_TEST_SUITE_P(Folders, SharingFault, ::testing::Values(Folder::Local, Folder::Fuse),
                         [](const ::testing::TestParamInfo<Folder>& f) {
                             return f.param == Folder::Local ? "LocalDisk" : "FuseMount";
                         });

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
