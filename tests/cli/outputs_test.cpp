// What the command line leaves in files: stored values, exports, traces and
// the program's own databases, run as a script runs it, against the
// simulator as a process.

#include "processtest.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QStringEncoder>

#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <map>

#include <sys/resource.h>

namespace {

using namespace parvault::clitest;

// Row key "channel:parameter:index" -> the row's JSON object.
std::map<QString, QJsonObject> rowsByKey(const QString& out) {
    std::map<QString, QJsonObject> m;
    for (const auto& v : QJsonDocument::fromJson(out.toUtf8()).object()["rows"].toArray()) {
        const QJsonObject r = v.toObject();
        m[QStringLiteral("%1:%2:%3").arg(r["channel"].toInt()).arg(r["parameter"].toInt()).arg(r["index"].toInt())] = r;
    }
    return m;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class CliOutputs : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file(PARVAULT_DEMO_DB, dir.file("PARVLT2.mdb"));
        // The demo device with 0:2 refusing to be read and 0:8 silent.
        QFile demo(PARVAULT_DEMO_PARAMS);
        ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
        QFile params(path("failing.txt"));
        ASSERT_TRUE(params.open(QIODevice::WriteOnly));
        params.write(demo.readAll());
        params.write("\n[type 20]\n0 8 0 | 7 | | silent\n0 2 0 | 3.12 | | error=\"Нет доступа\"\n");
    }
    QString work() const { return QString::fromStdString(dir.path().string()); }
    QString path(const QString& name) const { return QDir(work()).filePath(name); }
    static QStringList link(const Simulator& sim) { return {"--udp", sim.target(), "--wait", "1"}; }

    // A list of rows 0:1, 0:2 and 0:8 with the healthy device's values stored.
    void storedList(const Simulator& healthy, const QString& name) {
        Result r = cli(work(), {"save", "type:20", "--name", name, "--rows", "0:1,0:2,0:8"});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        r = cli(work(), QStringList{"read", name, "--save"} + link(healthy));
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
    }

    TempDir dir;
};

TEST_F(CliOutputs, ErrorRowsKeepTheirStoredValue) {
    Simulator healthy(PARVAULT_DEMO_PARAMS);
    Simulator failing(path("failing.txt"));
    ASSERT_TRUE(healthy.ready() && failing.ready());
    storedList(healthy, "Сверка");

    // --save and --export alike: the refused row keeps 3.12, and says so.
    for (const QStringList& how : {QStringList{"--save"}, QStringList{"--export", "table.txt"}}) {
        Result r = cli(work(), QStringList{"read", "Сверка"} + how + link(failing));
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("row 2 (0:2:0): the device answered \"Нет доступа\"; the stored value "
                                   "\"3.12\" is kept"))
            << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("row 3")) << "an unanswered row is no error: " << r.err.toStdString();

        r = cli(work(), QStringList{"read", "Сверка", "--compare", "--format", "json"} + link(healthy));
        EXPECT_EQ(r.status, 0) << r.out.toStdString();
        auto rows = rowsByKey(r.out);
        EXPECT_EQ(rows["0:2:0"]["stored"].toString(), "3.12");
        EXPECT_EQ(rows["0:2:0"]["verdict"].toString(), "same");
        EXPECT_EQ(rows["0:8:0"]["stored"].toString(), "7");
    }

    // A new list stores no value for the refused row.
    Result r = cli(work(), QStringList{"read", "type:20", "--rows", "0:1,0:2", "--save-as", "Снимок"} + link(failing));
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("row 2 (0:2:0): the device answered \"Нет доступа\"; no value is stored"))
        << r.err.toStdString();
    r = cli(work(), QStringList{"read", "Снимок", "--compare", "--format", "json"} + link(healthy));
    auto rows = rowsByKey(r.out);
    EXPECT_EQ(rows["0:1:0"]["verdict"].toString(), "same") << r.out.toStdString();
    EXPECT_EQ(rows["0:2:0"]["verdict"].toString(), "nothing-stored");
    EXPECT_EQ(rows["0:2:0"]["stored"].toString(), "");
}


// A disk that fills after `bytes`: no file of the child grows past them
// (EFBIG, with SIGXFSZ ignored as a full disk sends no signal).
std::function<void()> fileSizeLimit(rlim_t bytes) {
    return [bytes] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Runs SQL on a database file, as another program would have written it.
bool execSql(const QString& file, const QString& sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok)
        ADD_FAILURE() << sqlite3_errmsg(db);
    sqlite3_close(db);
    return ok;
}

// The file name of a list as the tree shows it.
QString listFileOf(const QString& work, const QString& name) {
    const Result tree = cli(work, {"tree", "--format", "json"});
    for (const auto& t : QJsonDocument::fromJson(tree.out.toUtf8()).object()["types"].toArray())
        for (const auto& l : t.toObject()["lists"].toArray())
            if (l.toObject()["name"].toString() == name)
                return l.toObject()["file"].toString();
    return {};
}

TEST_F(CliOutputs, TracesAndTablesNeverReplaceTheProgramsDatabases) {
    Simulator healthy(PARVAULT_DEMO_PARAMS);
    ASSERT_TRUE(healthy.ready());
    storedList(healthy, "Сверка");
    const QString listFile = listFileOf(work(), "Сверка");
    ASSERT_FALSE(listFile.isEmpty());
    // A database under another name: a copy of the main one, and a Jet list.
    QDir().mkpath(path("old"));
    ASSERT_TRUE(QFile::copy(path("PARVLT2.mdb"), path("old/copy.bin")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PARVAULT_JET_FIXTURES "/demo-jet3/240115093000.mdb"), path("old/jet.txt")));

    const QStringList files = {"PARVLT2.mdb", listFile, "old/copy.bin", "old/jet.txt"};
    std::map<QString, QByteArray> before;
    for (const QString& f : files)
        before[f] = readAll(path(f));
    const std::map<QString, QString> says = {{"PARVLT2.mdb", "is the main database PARVLT2.mdb"},
                                             {listFile, "is the list file " + listFile + " of the working folder"},
                                             {"old/copy.bin", "old/copy.bin is a database file"},
                                             {"old/jet.txt", "old/jet.txt is a database file"}};
    for (const QString& f : files) {
        for (const QString option : {"--trace", "--export"}) {
            const Result r = cli(work(), QStringList{"read", "Сверка", option, f} + link(healthy));
            EXPECT_EQ(r.status, 2) << option.toStdString() << " " << f.toStdString();
            EXPECT_TRUE(r.err.contains(option + ": ") && r.err.contains(says.at(f))) << r.err.toStdString();
            EXPECT_EQ(readAll(path(f)), before[f]) << f.toStdString();
        }
    }
    // The list is still a list, with its values, and the tree calls nothing damaged.
    const Result tree = cli(work(), {"tree"});
    EXPECT_TRUE(tree.err.isEmpty()) << tree.err.toStdString();
    const Result compare = cli(work(), QStringList{"read", "Сверка", "--compare"} + link(healthy));
    EXPECT_EQ(compare.status, 0) << compare.out.toStdString() << compare.err.toStdString();

    // An ordinary text file is still replaced by the table.
    QFile old(path("table.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older table\n");
    old.close();
    const Result r = cli(work(), QStringList{"read", "Сверка", "--export", "table.txt", "--trace", "t.log"} +
                                     link(healthy));
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(readAll(path("table.txt")).contains("20117"));
    EXPECT_TRUE(readAll(path("t.log")).contains("20117"));
}

TEST_F(CliOutputs, AFullDiskLeavesOlderFilesWholeAndSaysWhy) {
    Simulator healthy(PARVAULT_DEMO_PARAMS);
    ASSERT_TRUE(healthy.ready());
    storedList(healthy, "Сверка");

    // Tables of a targets run: the older table stays whole, nothing is left beside it.
    QDir().mkpath(path("exp"));
    const QByteArray older = QByteArray("an older table of east\r\n").repeated(8);
    QFile table(path("exp/east.txt"));
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write(older);
    table.close();
    QFile targets(path("devices.csv"));
    ASSERT_TRUE(targets.open(QIODevice::WriteOnly));
    targets.write(("east," + healthy.route() + "\n").toUtf8());
    targets.close();
    Result r = cli(work(), {"read", "Сверка", "--targets", "devices.csv", "--export", "exp", "--wait", "1"},
                   fileSizeLimit(static_cast<rlim_t>(older.size())));
    EXPECT_EQ(r.status, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("east: the table was not written: ") && r.err.contains("exp/east.txt: writing failed: "
                                                                                      "the file size limit was reached; "
                                                                                      "the older table is kept whole"))
        << r.err.toStdString();
    EXPECT_EQ(readAll(path("exp/east.txt")), older);
    EXPECT_EQ(filesIn(path("exp")), QStringList{"east.txt"});

    // A trace: the older one stays whole, and the run fails.
    QFile trace(path("t.log"));
    ASSERT_TRUE(trace.open(QIODevice::WriteOnly));
    trace.write(older);
    trace.close();
    r = cli(work(), QStringList{"read", "Сверка", "--trace", "t.log"} + link(healthy),
            fileSizeLimit(static_cast<rlim_t>(older.size())));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("the trace was not written: ") && r.err.contains("t.log: writing failed: the file size "
                                                                                "limit was reached; an older file of "
                                                                                "that name is kept"))
        << r.err.toStdString();
    EXPECT_EQ(readAll(path("t.log")), older);
    EXPECT_EQ(filesIn(work()).filter("t.log").size(), 1) << filesIn(work()).join(' ').toStdString();

    // Storing the values: the list's file cannot grow, and the message says so.
    const QString listFile = listFileOf(work(), "Сверка");
    ASSERT_TRUE(execSql(path(listFile), "UPDATE [Параметры] SET data='0'")); // so the store has to write
    const QByteArray listBefore = readAll(path(listFile));
    r = cli(work(), QStringList{"read", "Сверка", "--save"} + link(healthy), fileSizeLimit(1024));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("the values were not stored in " + listFile + ": превышен допустимый размер файла"))
        << r.err.toStdString();
    EXPECT_EQ(readAll(path(listFile)), listBefore);

    // A table on a full device: the values are stored, the table's cause is named.
    r = cli(work(), QStringList{"read", "Сверка", "--export", "/dev/full"} + link(healthy));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("the values were stored, the table was not written: /dev/full: writing failed: "
                               "no space left on the disk"))
        << r.err.toStdString();
}

// ---------------------------------------------------------------- Jet lists

bool startsAsJet(const QByteArray& bytes) { return bytes.mid(4, 15) == "Standard Jet DB"; }

TEST_F(CliOutputs, AWriteProtectedJetListIsRefusedBeforeItIsConverted) {
    Simulator healthy(PARVAULT_DEMO_PARAMS);
    ASSERT_TRUE(healthy.ready());
    const QString jet = QStringLiteral(PARVAULT_JET_FIXTURES "/demo-jet3/240115093000.mdb");
    ASSERT_TRUE(QFile::copy(jet, path("240115093000.mdb")));
    const QByteArray original = readAll(path("240115093000.mdb"));
    ASSERT_TRUE(startsAsJet(original));
    // Mode 444 in a writable folder; the check is the mode's, so it holds for
    // the superuser too, whom permissions do not stop.
    QFile::setPermissions(path("240115093000.mdb"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);

    Result r = cli(work(), QStringList{"read", "240115093000.mdb", "--rows", "1-2", "--save"} + link(healthy));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("Данные не записываются") && r.err.contains("файл защищён от записи"))
        << r.err.toStdString();
    EXPECT_EQ(readAll(path("240115093000.mdb")), original);
    EXPECT_FALSE(QFile::exists(path("240115093000.mdb.jet")));

    // Once writable it is converted, then protected again it is refused as well.
    QFile::setPermissions(path("240115093000.mdb"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    r = cli(work(), QStringList{"read", "240115093000.mdb", "--rows", "1-2", "--save"} + link(healthy));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QByteArray converted = readAll(path("240115093000.mdb"));
    ASSERT_FALSE(startsAsJet(converted));
    QFile::setPermissions(path("240115093000.mdb"), QFile::ReadOwner | QFile::ReadOther);
    r = cli(work(), QStringList{"read", "240115093000.mdb", "--rows", "1-2", "--save"} + link(healthy));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("Данные не записываются")) << r.err.toStdString();
    EXPECT_EQ(readAll(path("240115093000.mdb")), converted);
}

TEST_F(CliOutputs, AJetListThatIsALinkIsConvertedWhereItLies) {
    Simulator healthy(PARVAULT_DEMO_PARAMS);
    ASSERT_TRUE(healthy.ready());
    QDir().mkpath(path("archive"));
    const QString real = path("archive/list.mdb");
    ASSERT_TRUE(QFile::copy(QStringLiteral(PARVAULT_JET_FIXTURES "/demo-jet3/240115093000.mdb"), real));
    const QByteArray original = readAll(real);
    ASSERT_TRUE(QFile::link("archive/list.mdb", path("240115093000.mdb")));

    const Result r = cli(work(), QStringList{"read", "240115093000.mdb", "--rows", "1-2", "--save"} + link(healthy));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("archive/list.mdb.jet")) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(path("240115093000.mdb")).isSymLink()) << "the link stays a link";
    EXPECT_EQ(readAll(real + ".jet"), original);
    EXPECT_FALSE(startsAsJet(readAll(real)));
    EXPECT_FALSE(QFile::exists(path("240115093000.mdb.jet")));

    // The stored values are there through the link.
    const Result compare =
        cli(work(), QStringList{"read", "240115093000.mdb", "--rows", "1-2", "--compare"} + link(healthy));
    EXPECT_EQ(compare.status, 0) << compare.out.toStdString() << compare.err.toStdString();
}

// ---------------------------------------------------------------- list names

TEST_F(CliOutputs, ANameThatFitsTwoListsIsRefusedWithTheCandidates) {
    Simulator healthy(PARVAULT_DEMO_PARAMS);
    ASSERT_TRUE(healthy.ready());
    for (const char* name : {"Обход", "1", "type:20"}) {
        const Result r = cli(work(), {"save", "type:20", "--name", name, "--rows", "0:1"});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
    }
    const QString first = listFileOf(work(), "Обход");
    const QString one = listFileOf(work(), "1");
    const QString typeNamed = listFileOf(work(), "type:20");

    Result r = cli(work(), QStringList{"read", "1", "--rows", "0:1"} + link(healthy));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("\"1\" fits more than one list: list #1 \"Обход\" (%1), "
                                              "list #2 \"1\" (%2); give #N for a list by its number or "
                                              "list:NAME for a list by its name")
                                   .arg(first, one)))
        << r.err.toStdString();
    r = cli(work(), QStringList{"read", "type:20", "--rows", "0:1"} + link(healthy));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("device type type:20 ") && r.err.contains("list #3 \"type:20\" (" + typeNamed + ")"))
        << r.err.toStdString();

    // The explicit forms reach each of them.
    const auto titleOf = [&](const QStringList& args) {
        const Result run = cli(work(), QStringList{"read"} + args + QStringList{"--rows", "0:1", "--format", "json"} +
                                           link(healthy));
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return QJsonDocument::fromJson(run.out.toUtf8()).object()["list"].toObject()["file"].toString();
    };
    EXPECT_EQ(titleOf({"#1"}), first);
    EXPECT_EQ(titleOf({"list:1"}), one);
    EXPECT_EQ(titleOf({"#3"}), typeNamed);
    EXPECT_EQ(titleOf({"list:type:20"}), typeNamed);
    EXPECT_EQ(titleOf({"Обход"}), first) << "a name that fits one list still reaches it";
    EXPECT_EQ(cli(work(), {"save", "#9", "--name", "x"}).err.count("no saved list number 9"), 1);
}

// ---------------------------------------------------------------- smaller ones

TEST_F(CliOutputs, RowSelectionsSayWhatIsWrong) {
    Result r = cli(work(), {"save", "type:20", "--name", "x", "--rows", "3-1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("\"3-1\": the range runs backwards; write 1-3")) << r.err.toStdString();
    r = cli(work(), {"save", "type:20", "--name", "x", "--rows", "2147483648"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("\"2147483648\": 2147483648 is too large for one of the row numbers"))
        << r.err.toStdString();
    r = cli(work(), {"save", "type:20", "--name", "x", "--rows", "0"});
    EXPECT_TRUE(r.err.contains("row numbers start at 1")) << r.err.toStdString();
    r = cli(work(), {"save", "type:20", "--name", "x", "--rows", "p9-2"});
    EXPECT_TRUE(r.err.contains("\"p9-2\": the range runs backwards; write 2-9")) << r.err.toStdString();
}

TEST_F(CliOutputs, ATargetsFileThatIsNotUtf8IsRefusedOnce) {
    const QString names = QStringLiteral("Котельная,udp:127.0.0.1:4001\nЦТП,udp:127.0.0.1:4002\n");
    QByteArray cp1251 = QStringEncoder("windows-1251").encode(names);
    QByteArray utf16 = QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom).encode(names);
    for (const auto& [bytes, says] : {std::pair{cp1251, QString("the file is not UTF-8 text; save it as UTF-8")},
                                      std::pair{utf16, QString("the file is not UTF-8 text (it looks like UTF-16)")}}) {
        QFile f(path("devices.csv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        const Result r = cli(work(), {"read", "type:20", "--targets", "devices.csv"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.count("devices.csv: " + says), 1) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
}

TEST_F(CliOutputs, CompareLeavesTheValueOfARowNotReadEmptyAndCutsLongValuesAlike) {
    const QString longValue = QStringLiteral("Версия программы 4.12.0017 от 14.03.2024, сборка для ТВ-20 с архивом");
    ASSERT_GT(longValue.size(), 63);
    QFile params(path("failing.txt"));
    ASSERT_TRUE(params.open(QIODevice::Append));
    params.write(("0 3 0 | " + longValue + " | |\n").toUtf8());
    params.close();
    Simulator healthy(PARVAULT_DEMO_PARAMS);
    Simulator failing(path("failing.txt"));
    ASSERT_TRUE(healthy.ready() && failing.ready());
    Result r = cli(work(), {"save", "type:20", "--name", "Сверка", "--rows", "0:1,0:3,0:8"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    r = cli(work(), QStringList{"read", "Сверка", "--save"} + link(healthy));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    // Another program kept the whole of the long value.
    ASSERT_TRUE(execSql(path(listFileOf(work(), "Сверка")),
                        QStringLiteral("UPDATE [Параметры] SET data='%1' WHERE canal=0 AND param=3").arg(longValue)));

    r = cli(work(), QStringList{"read", "Сверка", "--compare", "--format", "json"} + link(failing));
    auto rows = rowsByKey(r.out);
    EXPECT_EQ(rows["0:8:0"]["outcome"].toString(), "unanswered") << r.out.toStdString();
    EXPECT_EQ(rows["0:8:0"]["value"].toString(), "");
    EXPECT_EQ(rows["0:8:0"]["stored"].toString(), "7");
    EXPECT_EQ(rows["0:3:0"]["verdict"].toString(), "same");
    EXPECT_EQ(rows["0:1:0"]["verdict"].toString(), "same");
    r = cli(work(), QStringList{"read", "Сверка", "--compare", "--format", "csv", "--rows", "3"} + link(failing));
    EXPECT_TRUE(r.out.endsWith(",unanswered,,7,not-read\n")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("\n3,0,8,0,,,")) << r.out.toStdString();
}

TEST_F(CliOutputs, ControlCharactersInListNames) {
    for (const char* option : {"--name", "--save-as"}) {
        const Result r = cli(work(), {option == QString("--name") ? "save" : "read", "type:20", option, "a\nb"});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains(QString(option) + ": a list name cannot hold control characters"))
            << r.err.toStdString();
    }
    // A name stored with them by another program is printed escaped.
    ASSERT_EQ(cli(work(), {"save", "type:20", "--name", "Обход", "--rows", "0:1"}).status, 0);
    ASSERT_TRUE(execSql(path(listFileOf(work(), "Обход")), "UPDATE [Список] SET name='Об\nход\t2'"));
    const Result tree = cli(work(), {"tree"});
    EXPECT_TRUE(tree.out.contains("  Об\\nход\\t2  (")) << tree.out.toStdString();
    EXPECT_FALSE(tree.out.contains("\nход")) << "no line broken by the name";
}

TEST_F(CliOutputs, ExportFolderIsMadeOnlyForARunThatCanExport) {
    QFile targets(path("devices.csv"));
    ASSERT_TRUE(targets.open(QIODevice::WriteOnly));
    targets.write("a,udp:127.0.0.1:4001\nA,udp:127.0.0.1:4002\n");
    targets.close();
    Result r = cli(work(), {"read", "type:20", "--targets", "devices.csv", "--export", "exp"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("would both be written to")) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("exp")));

    ASSERT_TRUE(targets.open(QIODevice::WriteOnly | QIODevice::Truncate));
    targets.write("..,udp:127.0.0.1:4001\n");
    targets.close();
    r = cli(work(), {"read", "type:20", "--targets", "devices.csv", "--export", "exp"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("--export: the device name \"..\" makes no file name; rename it in devices.csv"))
        << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("exp")));
    EXPECT_FALSE(QFileInfo::exists(path("...txt")));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
