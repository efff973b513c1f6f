// Jet files (existing main databases and lists) through the storage layer and
// the database commands: the fixtures of tests/jet, read with the helper
// program, against the rows they were written with.

#include "dbtestutil.h"
#include "jetconvert.h"
#include "jetimport.h"
#include "recordsets.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>
#include <map>
#include <tuple>

using namespace parvault;
using namespace dbtest;
using parvault::testing::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string kFixtures = PARVAULT_JET_FIXTURES;

std::string fixture(const std::string& rel) { return kFixtures + "/" + rel; }

QJsonObject expected(const std::string& rel) {
    QFile f(QString::fromStdString(kFixtures + "/expected/" + rel));
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("no expected rows " + rel);
    return QJsonDocument::fromJson(f.readAll()).object();
}

// One value as the comparison sees it: "NULL", or the text of the value.
// libmdb gives an empty text as Null, so an empty text reads as Null here.
std::string cell(const QJsonValue& v, const QString& type) {
    if (v.isNull() || (v.isString() && v.toString().isEmpty()))
        return "NULL";
    if (type == "DateTime") // days since 30 Dec 1899
        return QDateTime(QDate(1899, 12, 30), QTime(0, 0))
            .addSecs(qRound64(v.toDouble() * 86400))
            .toString("yyyy-MM-dd HH:mm:ss")
            .toStdString();
    if (v.isDouble())
        return std::to_string(v.toInteger());
    return v.toString().toStdString();
}

std::string cell(sqlite3_stmt* st, int c) {
    if (sqlite3_column_type(st, c) == SQLITE_NULL)
        return "NULL";
    const std::string s = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
    return s.empty() ? "NULL" : s;
}

// Every table of an open database, columns and rows in stored order, against
// the fixture's expected JSON.
void expectTablesAsWritten(CDaoDatabase& db, const QJsonObject& want) {
    const QJsonObject tables = want.value("tables").toObject();
    int tableCount = 0;
    {
        DaoStatement st(db.handle(), "SELECT count(*) FROM sqlite_master WHERE type='table'");
        ASSERT_TRUE(st.step());
        tableCount = sqlite3_column_int(st.get(), 0);
    }
    EXPECT_EQ(tableCount, tables.size());
    for (auto it = tables.begin(); it != tables.end(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        ASSERT_TRUE(db.TableExists(it.key()));
        const QJsonArray columns = it.value().toObject().value("columns").toArray();
        const QJsonArray rows = it.value().toObject().value("rows").toArray();
        DaoStatement st(db.handle(), "SELECT * FROM \"" + it.key().toStdString() + "\" ORDER BY rowid");
        ASSERT_EQ(sqlite3_column_count(st.get()), columns.size());
        for (int c = 0; c < columns.size(); ++c)
            EXPECT_EQ(sqlite3_column_name(st.get(), c), columns[c].toObject().value("name").toString().toStdString());
        int r = 0;
        while (st.step()) {
            ASSERT_LT(r, rows.size());
            const QJsonObject row = rows[r].toObject();
            for (int c = 0; c < columns.size(); ++c) {
                const QString name = columns[c].toObject().value("name").toString();
                const QString type = columns[c].toObject().value("type").toString();
                EXPECT_EQ(cell(st.get(), c), cell(row.value(name), type)) << "row " << r << " column " << name.toStdString();
            }
            ++r;
        }
        EXPECT_EQ(r, rows.size());
    }
}

int openFailureCode(const std::string& file) {
    try {
        CDaoDatabase db;
        db.Open(QString::fromStdString(file));
    } catch (const CDaoException& e) {
        return e.sqliteCode();
    }
    return 0;
}

std::vector<std::string> treeLines(const TreeNode& n, int depth = 0) {
    std::vector<std::string> out{std::string(size_t(depth) * 2, ' ') + n.text.toStdString() + " #" +
                                 std::to_string(n.data)};
    for (const TreeNode& c : n.children)
        for (auto& l : treeLines(c, depth + 1))
            out.push_back(std::move(l));
    return out;
}

std::vector<std::string> rowLines(const RowTable& t) {
    std::vector<std::string> out;
    for (int i = 0; i < t.rowCount(); ++i) {
        std::string l;
        for (const QString& s : t.row(i).texts)
            l += s.toStdString() + "|";
        out.push_back(l + std::to_string(t.row(i).kind));
    }
    return out;
}

void copyFolder(const std::string& from, const fs::path& to) {
    for (const auto& e : fs::directory_iterator(from))
        fs::copy_file(e.path(), to / e.path().filename());
}

std::string bytesOf(const std::string& file) {
    QFile f(QString::fromStdString(file));
    f.open(QIODevice::ReadOnly);
    return f.readAll().toStdString();
}

} // namespace

TEST(JetImport, EveryGoodFixtureReadsAsWritten) {
    for (const std::string rel : {"demo-jet3/PARVLT2", "demo-jet3/240115093000", "demo-jet3/240116101500",
                                  "demo-jet3/240118080000", "demo-jet4/PARVLT2", "demo-jet4/240117120000",
                                  "bad/encrypted", "bad/other-app"}) {
        SCOPED_TRACE(rel);
        CDaoDatabase db;
        db.Open(QString::fromStdString(fixture(rel + ".mdb")));
        EXPECT_TRUE(db.IsJet());
        expectTablesAsWritten(db, expected(rel + ".json"));
    }
}

TEST(JetImport, FormatComesFromTheHeaderNotTheName) {
    TempDir dir;
    const std::string jetAsDat = dir.file("list.dat");
    fs::copy_file(fixture("demo-jet3/240116101500.mdb"), jetAsDat);
    const std::string ownAsMdb = dir.file("own.mdb");
    makeListFile(ownAsMdb, 5, "свой");
    EXPECT_TRUE(IsJetFile(QString::fromStdString(jetAsDat)));
    EXPECT_FALSE(IsJetFile(QString::fromStdString(ownAsMdb)));

    CDaoDatabase jet;
    jet.Open(QString::fromStdString(jetAsDat));
    EXPECT_TRUE(jet.IsJet());
    CMySpisok head(&jet);
    head.Open();
    head.MoveFirst();
    EXPECT_EQ(head.name, "Замеры КГ-5  "); // trailing spaces kept
    CDaoDatabase own;
    own.Open(QString::fromStdString(ownAsMdb));
    EXPECT_FALSE(own.IsJet());
}

TEST(JetImport, WritesAreRefusedAndTheFileStaysAsItWas) {
    TempDir dir;
    const std::string file = dir.file("240116101500.mdb");
    fs::copy_file(fixture("demo-jet3/240116101500.mdb"), file);
    const std::string before = bytesOf(file);
    CDaoDatabase db;
    db.Open(QString::fromStdString(file));
    try {
        db.Execute("UPDATE [Параметры] SET data='1'");
        FAIL() << "a write went through";
    } catch (const CDaoException& e) {
        EXPECT_EQ(e.sqliteCode(), SQLITE_READONLY);
    }
    CParametr rs(&db);
    rs.Open();
    EXPECT_THROW(
        {
            rs.Edit();
            rs.data = "1";
            rs.Update();
        },
        CDaoException);
    db.Close();
    EXPECT_EQ(bytesOf(file), before);
}

TEST(JetImport, BadFilesRaiseWhatIsWrongWithThem) {
    EXPECT_EQ(openFailureCode(fixture("bad/damaged.mdb")), kJetDamagedCode);
    EXPECT_EQ(openFailureCode(fixture("bad/truncated.mdb")), kJetDamagedCode);
    EXPECT_EQ(openFailureCode(fixture("bad/password.mdb")), kJetPasswordCode);
    EXPECT_EQ(openFailureCode(fixture("bad/password-jet4.mdb")), kJetPasswordCode);
    EXPECT_EQ(openFailureCode(fixture("bad/ace-header.mdb")), kJetNewerCode);
    // A Jet header and nothing after it.
    TempDir dir;
    const std::string stub = dir.file("stub.mdb");
    {
        const std::string head = bytesOf(fixture("demo-jet3/240116101500.mdb")).substr(0, 2048);
        std::ofstream(stub, std::ios::binary) << head;
    }
    EXPECT_EQ(openFailureCode(stub), kJetDamagedCode);
}

TEST(JetImport, AMissingHelperIsReportedNotCrashed) {
    qputenv(kJetReaderVariable, "/nonexistent/parvault2-jetread");
    const int code = openFailureCode(fixture("demo-jet3/240116101500.mdb"));
    qunsetenv(kJetReaderVariable);
    EXPECT_EQ(code, SQLITE_CANTOPEN);
}

// The helper's output arrives in whatever pieces the pipe makes: a stand-in
// helper replays the real one's output split, or cut short, at chosen bytes.
TEST(JetImport, OutputSplitAnywhereReadsWholeAndOutputCutShortIsDamaged) {
    const QString real = JetReaderProgram();
    ASSERT_FALSE(real.isEmpty());
    TempDir dir;
    const std::string standIn = dir.file("reader.sh");
    {
        std::ofstream sh(standIn);
        sh << "#!/bin/sh\n"
              "\"$REAL_READER\" \"$1\" > \"$OUT_FILE\" || exit $?\n"
              "if [ -n \"$CUT_AT\" ]; then head -c \"$CUT_AT\" \"$OUT_FILE\"; exit 0; fi\n"
              "head -c \"$SPLIT_AT\" \"$OUT_FILE\"; sleep 0.05; tail -c +$((SPLIT_AT + 1)) \"$OUT_FILE\"\n";
    }
    fs::permissions(standIn, fs::perms::owner_all);
    const std::string list = "demo-jet3/240116101500";
    qputenv("REAL_READER", real.toUtf8());
    qputenv("OUT_FILE", dir.file("out.bin").c_str());
    qputenv(kJetReaderVariable, standIn.c_str());
    // Inside the stream's mark, inside the first table's header, in the
    // middle of the rows, just before the end mark.
    const std::vector<std::string> places{"3", "20", "mid", "-1"};
    const auto at = [&](const std::string& place) {
        const auto size = fs::file_size(dir.file("out.bin"));
        return place == "-1" ? std::to_string(size - 1) : place == "mid" ? std::to_string(size / 2) : place;
    };
    {
        // Once whole, so that the output's size is known for "-1".
        qputenv("SPLIT_AT", "0");
        CDaoDatabase db;
        db.Open(QString::fromStdString(fixture(list + ".mdb")));
        ASSERT_GT(fs::file_size(dir.file("out.bin")), 1000u);
    }
    for (const std::string& place : places) {
        SCOPED_TRACE("split at " + place);
        qputenv("SPLIT_AT", at(place).c_str());
        CDaoDatabase db;
        db.Open(QString::fromStdString(fixture(list + ".mdb")));
        expectTablesAsWritten(db, expected(list + ".json"));
    }
    for (const std::string& place : std::vector<std::string>{"0", "3", "20", "mid", "-1"}) {
        SCOPED_TRACE("cut at " + place);
        qputenv("CUT_AT", at(place).c_str());
        EXPECT_EQ(openFailureCode(fixture(list + ".mdb")), kJetDamagedCode);
    }
    for (const char* name : {"REAL_READER", "OUT_FILE", "SPLIT_AT", "CUT_AT", kJetReaderVariable})
        qunsetenv(name);
}

TEST(JetSession, TreeAndTemplateRowsAreTheSameAsFromTheOwnDemoDatabase) {
    Workspace jet;
    fs::copy_file(fixture("demo-jet3/PARVLT2.mdb"), jet.dir.path() / "PARVLT2.mdb");
    ASSERT_TRUE(jet.session.OpenMainDatabase());
    jet.session.BuildTree();

    Workspace own;
    fs::copy_file(PARVAULT_DEMO_DB, own.dir.path() / "PARVLT2.mdb");
    {
        parvault::testing::ScopedCwd cd(own.dir.path());
        ASSERT_TRUE(own.session.OpenMainDatabase());
        own.session.BuildTree();
    }
    ASSERT_FALSE(own.ui.lastTree.children.empty());
    EXPECT_EQ(treeLines(jet.ui.lastTree), treeLines(own.ui.lastTree));
    for (const TreeNode& group : own.ui.lastTree.children) {
        SCOPED_TRACE(group.text.toStdString());
        jet.session.LoadTreeItem(group.data);
        {
            parvault::testing::ScopedCwd cd(own.dir.path());
            own.session.LoadTreeItem(group.data);
        }
        EXPECT_EQ(rowLines(jet.rows), rowLines(own.rows));
    }
    EXPECT_TRUE(jet.ui.messages.empty());
}

TEST(JetSession, JetListsShowInTheTreeAndLoadWithTheirValues) {
    Workspace w;
    copyFolder(fixture("demo-jet3"), w.dir.path());
    w.session.OpenMainDatabase();
    w.session.BuildTree();
    ASSERT_EQ(w.session.listFileTable.count, 3);
    const int n = w.session.listFileTable.findFile("240116101500.mdb");
    ASSERT_NE(n, 0);
    EXPECT_EQ(w.session.listFileTable.entry(n)->listName, "Замеры КГ-5  ");
    EXPECT_EQ(w.session.listFileTable.entry(w.session.listFileTable.findFile("240118080000.mdb"))->typeCode, 2);

    const int big = w.session.listFileTable.findFile("240115093000.mdb");
    w.session.LoadTreeItem(MakeItemData(big, 20));
    const QJsonArray rows =
        expected("demo-jet3/240115093000.json").value("tables").toObject().value("Параметры").toObject().value("rows").toArray();
    ASSERT_EQ(w.rows.rowCount(), rows.size());
    // The rows come in channel, parameter, index order; find each expected one.
    std::map<std::tuple<int, int, int>, QJsonObject> byKey;
    for (const QJsonValue& v : rows) {
        const QJsonObject o = v.toObject();
        byKey[{o.value("canal").toInt(), o.value("param").toInt(), o.value("index").toInt()}] = o;
    }
    int checked = 0;
    for (int i = 0; i < w.rows.rowCount(); ++i) {
        const ParamRow& r = w.rows.row(i);
        const auto it = byKey.find({r.texts[ColCanal].trimmed().toInt(), r.texts[ColParam].trimmed().toInt(),
                                    r.texts[ColIndex].trimmed().toInt()});
        ASSERT_NE(it, byKey.end()) << i;
        EXPECT_EQ(r.texts[ColValue], it->second.value("data").toString()) << i;
        EXPECT_EQ(r.texts[ColName], it->second.value("text").toString()) << i;
        EXPECT_EQ(r.kind, it->second.value("type_zapros").toInt()) << i;
        ++checked;
    }
    EXPECT_EQ(checked, 488);
    EXPECT_TRUE(w.ui.messages.empty());
}

TEST(JetSession, SavingAListFromAJetMainDatabaseCopiesTheTemplateRows) {
    Workspace w;
    fs::copy_file(fixture("demo-jet4/PARVLT2.mdb"), w.dir.path() / "PARVLT2.mdb");
    const std::string mainBefore = bytesOf(w.file("PARVLT2.mdb"));
    w.session.OpenMainDatabase();
    w.session.BuildTree();
    w.session.LoadTreeItem(5);
    ASSERT_GT(w.rows.rowCount(), 2);
    w.rows.setSelected(0, true);
    w.rows.setSelected(2, true);
    w.session.clock = [] { return QDateTime(QDate(2024, 3, 1), QTime(10, 0, 0)); };
    w.ui.listNames.push_back(QStringLiteral("Новый"));
    w.session.SaveList();
    EXPECT_TRUE(w.ui.messages.empty());
    const auto saved = query(w.file("240301100000.mdb"), "SELECT canal, param, [index], text, kod_type_pribor FROM [Параметры]");
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0], w.rows.row(0).texts[ColCanal].trimmed().toStdString() + "|" +
                            w.rows.row(0).texts[ColParam].trimmed().toStdString() + "|" +
                            w.rows.row(0).texts[ColIndex].trimmed().toStdString() + "|" +
                            w.rows.row(0).texts[ColName].toStdString() + "|5");
    EXPECT_EQ(query(w.file("240301100000.mdb"), "SELECT name FROM [Список]"), std::vector<std::string>{"Новый"});
    EXPECT_EQ(bytesOf(w.file("PARVLT2.mdb")), mainBefore);
}

TEST(JetSession, StoringValuesConvertsTheListOnceAndKeepsTheOriginal) {
    Workspace w;
    copyFolder(fixture("demo-jet3"), w.dir.path());
    const std::string original = bytesOf(w.file("240116101500.mdb"));
    w.session.OpenMainDatabase();
    w.session.BuildTree();
    const int n = w.session.listFileTable.findFile("240116101500.mdb");
    w.session.LoadTreeItem(MakeItemData(n, 5));
    ASSERT_GT(w.rows.rowCount(), 1);
    w.rows.setText(0, ColValue, QStringLiteral("12345"));
    w.rows.setText(1, ColValue, QStringLiteral("Нет данных"));
    w.session.SaveValues();

    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_TRUE(w.ui.messages[0].text.contains("240116101500.mdb.jet"));
    EXPECT_TRUE(w.ui.messages[0].text.endsWith("\n"));
    EXPECT_EQ(w.ui.messages[0].caption, kAppCaption);
    EXPECT_EQ(bytesOf(w.file("240116101500.mdb.jet")), original);
    EXPECT_FALSE(IsJetFile(QString::fromStdString(w.file("240116101500.mdb"))));
    EXPECT_FALSE(fs::exists(w.file("240116101500.mdb.tmp")));
    const auto stored = query(w.file("240116101500.mdb"),
                              "SELECT data, flag_dt FROM [Параметры] ORDER BY canal, param, [index] LIMIT 2");
    EXPECT_EQ(stored, (std::vector<std::string>{"12345|1", "Нет данных|0"}));
    EXPECT_EQ(query(w.file("240116101500.mdb"), "SELECT name FROM [Список]"),
              std::vector<std::string>{"Замеры КГ-5  "});

    // Once converted the file is ours: no second message, and the tree is the same.
    w.rows.setText(0, ColValue, QStringLiteral("777"));
    w.session.SaveValues();
    EXPECT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(query(w.file("240116101500.mdb"), "SELECT data FROM [Параметры] ORDER BY canal, param, [index] LIMIT 1"),
              std::vector<std::string>{"777"});
    w.session.BuildTree();
    EXPECT_EQ(w.session.listFileTable.count, 3);
}

TEST(JetConvert, TwiceConvertsOnceAndLeavesOthersAlone) {
    TempDir dir;
    copyFolder(fixture("demo-jet3"), dir.path());
    fs::copy_file(fixture("bad/other-app.mdb"), dir.path() / "other-app.mdb");
    fs::copy_file(fixture("bad/password.mdb"), dir.path() / "password.mdb");
    const QString main = QString::fromStdString(dir.file("PARVLT2.mdb"));
    EXPECT_EQ(ConvertJetFile(main).status, ConvertStatus::Converted);
    EXPECT_EQ(ConvertJetFile(main).status, ConvertStatus::AlreadyOwn);
    EXPECT_TRUE(fs::exists(dir.file("PARVLT2.mdb.jet")));
    CDaoDatabase db;
    db.Open(main);
    EXPECT_FALSE(db.IsJet());
    expectTablesAsWritten(db, expected("demo-jet3/PARVLT2.json"));
    db.Close();

    const std::string other = bytesOf(dir.file("other-app.mdb"));
    EXPECT_EQ(ConvertJetFile(QString::fromStdString(dir.file("other-app.mdb"))).status,
              ConvertStatus::NotParameterDatabase);
    EXPECT_EQ(ConvertJetFile(QString::fromStdString(dir.file("password.mdb"))).status, ConvertStatus::Password);
    EXPECT_EQ(bytesOf(dir.file("other-app.mdb")), other);
    EXPECT_FALSE(fs::exists(dir.file("other-app.mdb.jet")));
    EXPECT_FALSE(fs::exists(dir.file("password.mdb.jet")));
}

TEST(JetConvert, AKeptNameHoldingAnotherFileStopsTheConversion) {
    TempDir dir;
    fs::copy_file(fixture("demo-jet3/240116101500.mdb"), dir.path() / "a.mdb");
    std::ofstream(dir.file("a.mdb.jet")) << "something else";
    const ConvertResult r = ConvertJetFile(QString::fromStdString(dir.file("a.mdb")));
    EXPECT_EQ(r.status, ConvertStatus::Failed);
    EXPECT_TRUE(IsJetFile(QString::fromStdString(dir.file("a.mdb"))));
    EXPECT_EQ(bytesOf(dir.file("a.mdb.jet")), "something else");
    EXPECT_FALSE(fs::exists(dir.file("a.mdb.tmp")));
}

TEST(JetBadFiles, EachBadListFileIsNamedOnceWithWhatIsWrongAndNoneIsChanged) {
    Workspace w;
    copyFolder(fixture("demo-jet3"), w.dir.path());
    const std::vector<std::string> bad = {"damaged", "truncated", "password", "password-jet4", "ace-header",
                                          "other-app"};
    std::map<std::string, std::string> before;
    for (const std::string& b : bad) {
        fs::copy_file(fixture("bad/" + b + ".mdb"), w.dir.path() / (b + ".mdb"));
        before[b] = bytesOf(w.file(b + ".mdb"));
    }
    ASSERT_TRUE(w.session.OpenMainDatabase());
    w.session.BuildTree();
    EXPECT_EQ(w.session.listFileTable.count, 3);
    std::map<std::string, QString> said;
    for (const auto& m : w.ui.messages) {
        EXPECT_EQ(m.caption, kAppCaption);
        EXPECT_TRUE(m.text.endsWith("\n"));
        for (const std::string& b : bad)
            if (m.text.startsWith(QString::fromStdString("Файл " + b + ".mdb ")))
                said[b] = m.text;
    }
    EXPECT_EQ(w.ui.messages.size(), bad.size());
    EXPECT_TRUE(said["damaged"].contains("файл повреждён"));
    EXPECT_TRUE(said["truncated"].contains("файл повреждён"));
    EXPECT_TRUE(said["password"].contains("паролем"));
    EXPECT_TRUE(said["password-jet4"].contains("паролем"));
    EXPECT_TRUE(said["ace-header"].contains(".accdb"));
    EXPECT_TRUE(said["other-app"].contains("не база данных параметров"));

    // Rebuilding the tree (after every save) says nothing again.
    w.session.BuildTree();
    EXPECT_EQ(w.ui.messages.size(), bad.size());
    for (const std::string& b : bad)
        EXPECT_EQ(bytesOf(w.file(b + ".mdb")), before[b]) << b;
}

TEST(JetBadFiles, AnUnusableMainDatabaseSaysWhy) {
    const std::vector<std::pair<std::string, QString>> cases = {
        {"password", "паролем"}, {"ace-header", ".accdb"}, {"damaged", "повреждён"}, {"truncated", "повреждён"}};
    for (const auto& [file, why] : cases) {
        SCOPED_TRACE(file);
        Workspace w;
        fs::copy_file(fixture("bad/" + file + ".mdb"), w.dir.path() / "PARVLT2.mdb");
        EXPECT_FALSE(w.session.OpenMainDatabase());
        EXPECT_TRUE(w.session.MainDatabaseProblemText().startsWith("Файл PARVLT2.mdb: "));
        EXPECT_TRUE(w.session.MainDatabaseProblemText().contains(why)) << w.session.MainDatabaseProblemText().toStdString();
    }
    Workspace other;
    fs::copy_file(fixture("bad/other-app.mdb"), other.dir.path() / "PARVLT2.mdb");
    EXPECT_FALSE(other.session.OpenMainDatabase());
    EXPECT_EQ(other.session.MainDatabaseProblemText(), "Нет таблицы «ТипыПриборов».\nНет таблицы «Параметры».");
}

TEST(JetBadFiles, AFileThatCrashesTheLibraryIsDamagedAndTheProgramGoesOn) {
    // Found by the fuzz target: libmdb dies on this usage map. The reader
    // process takes the crash.
    Workspace w;
    fs::copy_file(fixture("demo-jet3/PARVLT2.mdb"), w.dir.path() / "PARVLT2.mdb");
    fs::copy_file(std::string(PARVAULT_DB_TEST_DATA) + "/jet-reader-crash.mdb", w.dir.path() / "240101000000.mdb");
    EXPECT_EQ(openFailureCode(w.file("240101000000.mdb")), kJetDamagedCode);
    ASSERT_TRUE(w.session.OpenMainDatabase());
    w.session.BuildTree();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_TRUE(w.ui.messages[0].text.startsWith("Файл 240101000000.mdb не показан в дереве: файл повреждён"))
        << w.ui.messages[0].text.toStdString();
    EXPECT_EQ(ConvertJetFile(QString::fromStdString(w.file("240101000000.mdb"))).status, ConvertStatus::Damaged);
}

TEST(JetConvert, StoppedAtEveryStepTheListStillOpensWhole) {
    // The process ends at a step as a kill would end it: no clean-up runs.
    for (const std::string stepName : {"written", "kept", "renamed"}) {
        SCOPED_TRACE(stepName);
        TempDir dir;
        const std::string file = dir.file("240116101500.mdb");
        fs::copy_file(fixture("demo-jet3/240116101500.mdb"), file);
        static std::string stopAt;
        stopAt = stepName;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SetConvertStepHook([](const char* s) {
                if (stopAt == s)
                    _exit(9);
            });
            ConvertJetFile(QString::fromStdString(file));
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 9);
        CDaoDatabase db;
        db.Open(QString::fromStdString(file));
        expectTablesAsWritten(db, expected("demo-jet3/240116101500.json"));
        db.Close();
        // A later conversion finishes the job.
        const ConvertStatus again = ConvertJetFile(QString::fromStdString(file)).status;
        EXPECT_TRUE(again == ConvertStatus::Converted || again == ConvertStatus::AlreadyOwn);
        EXPECT_FALSE(IsJetFile(QString::fromStdString(file)));
        EXPECT_TRUE(IsJetFile(QString::fromStdString(file + ".jet")));
        EXPECT_FALSE(fs::exists(file + ".tmp"));
    }
}

// A folder's first listing reads its Jet files with one run of the helper; a
// file that stops the helper half-way, or a helper that takes no batch, must
// leave the tree and the messages as reading file by file makes them.
TEST(JetBadFiles, AFolderReadInOneRunShowsWhatFileByFileShows) {
    const QString real = JetReaderProgram();
    ASSERT_FALSE(real.isEmpty());
    const auto fill = [](const fs::path& dir) {
        copyFolder(fixture("demo-jet3"), dir);
        for (const std::string b : {"damaged", "password", "other-app"})
            fs::copy_file(fixture("bad/" + b + ".mdb"), dir / (b + ".mdb"));
        // Sorted between good lists: the helper dies on it mid-run.
        fs::copy_file(std::string(PARVAULT_DB_TEST_DATA) + "/jet-reader-crash.mdb", dir / "240116000000.mdb");
        fs::copy_file(fixture("demo-jet4/240117120000.mdb"), dir / "240117120000.mdb");
    };
    struct Seen {
        std::vector<std::tuple<QString, QString, int>> lists;
        std::vector<QString> messages;
    };
    const auto listing = [&](const char* helper) {
        if (helper)
            qputenv(kJetReaderVariable, helper);
        Workspace w;
        fill(w.dir.path());
        EXPECT_TRUE(w.session.OpenMainDatabase());
        w.session.BuildTree();
        qunsetenv(kJetReaderVariable);
        Seen seen;
        for (const ListFileEntry& e : w.session.listFileTable.entries)
            seen.lists.emplace_back(e.fileName, e.listName, e.typeCode);
        for (const auto& m : w.ui.messages)
            seen.messages.push_back(m.text);
        return seen;
    };
    TempDir bin;
    const std::string fileByFile = bin.file("one-by-one.sh");
    {
        std::ofstream sh(fileByFile);
        sh << "#!/bin/sh\n[ \"$1\" = --batch ] && exit 64\nexec \"" << real.toStdString() << "\" \"$@\"\n";
    }
    fs::permissions(fileByFile, fs::perms::owner_all);

    const Seen batch = listing(nullptr);
    const Seen single = listing(fileByFile.c_str());
    EXPECT_EQ(batch.lists.size(), 4u);
    EXPECT_EQ(batch.lists, single.lists);
    EXPECT_EQ(batch.messages, single.messages);
    ASSERT_EQ(batch.messages.size(), 4u);
    EXPECT_TRUE(std::any_of(batch.messages.begin(), batch.messages.end(), [](const QString& m) {
        return m.startsWith("Файл 240116000000.mdb не показан в дереве: файл повреждён");
    }));
}
