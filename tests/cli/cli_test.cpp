// parvault2-cli run in-process against the device simulator on UDP and on a
// pty, with the demo main database and list files saved by the window's own
// save command.

#include "clitest.h"

#include "connectionsettings.h"
#include "listexport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fstream>

using namespace parvault;
using namespace parvault::clitest;

// ---------------------------------------------------------------- tree

TEST_F(CliFixture, TreeShowsDeviceTypesAndSavedLists) {
    const QString file = saveList("Котельная №1", {0, 1, 2});
    const CliRun text = run({"tree"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(text.outText().contains("type:20  Тепловычислитель ТВ-20\n"));
    EXPECT_TRUE(text.outText().contains(QStringLiteral("      1  Котельная №1  (%1)\n").arg(file)))
        << text.out;
    EXPECT_FALSE(text.outText().contains("ТС-70")) << "the window's tree leaves type 70 out";

    const QJsonObject doc = json(run({"tree", "--format", "json"}));
    const QJsonArray types = doc["types"].toArray();
    ASSERT_EQ(types.size(), 8);
    for (const auto& t : types) {
        const QJsonObject type = t.toObject();
        const QJsonArray lists = type["lists"].toArray();
        if (type["code"].toInt() != 20) {
            EXPECT_TRUE(lists.isEmpty());
            continue;
        }
        ASSERT_EQ(lists.size(), 1);
        EXPECT_EQ(lists[0].toObject()["number"].toInt(), 1);
        EXPECT_EQ(lists[0].toObject()["file"].toString(), file);
    }

    // Without the main database there is nothing to show.
    QFile::remove("PARVLT2.mdb");
    const CliRun missing = run({"tree"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("PARVLT2.mdb not found"), std::string::npos);

    // A zero-byte file in its place is no main database either.
    QFile(QStringLiteral("PARVLT2.mdb")).open(QIODevice::WriteOnly);
    for (const QStringList& args : {QStringList{"tree"}, QStringList{"read", "type:20"} + udp()}) {
        const CliRun empty = run(args);
        EXPECT_EQ(empty.status, 2) << args.join(' ').toStdString();
        EXPECT_NE(empty.err.find("PARVLT2.mdb"), std::string::npos) << empty.err;
        EXPECT_NE(empty.err.find("no table ТипыПриборов"), std::string::npos) << empty.err;
        EXPECT_TRUE(empty.out.empty()) << empty.out;
    }
}

// ---------------------------------------------------------------- read

TEST_F(CliFixture, ReadOverUdpInRealTimeGivesTheDevicesValues) {
    progressLine = true;
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "1-2,p310,1:12", "--format", "json"} + udp(),
                         /*realTime=*/true);
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonObject doc = json(r);
    const QJsonArray rows = doc["rows"].toArray();
    ASSERT_EQ(rows.size(), 6);
    for (const auto& v : rows) {
        const QJsonObject row = v.toObject();
        const auto [value, units] =
            deviceValue(row["channel"].toInt(), row["parameter"].toInt(), row["index"].toInt());
        EXPECT_EQ(row["value"].toString(), value);
        EXPECT_EQ(row["units"].toString(), units);
        EXPECT_EQ(row["outcome"].toString(), "ok");
    }
    EXPECT_EQ(rows[0].toObject()["row"].toInt(), 1);
    EXPECT_EQ(rows[5].toObject()["row"].toInt(), 14) << "rows keep list order; 1:12 is row 14";
    EXPECT_EQ(doc["list"].toObject()["title"].toString(), "Тепловычислитель ТВ-20");
    EXPECT_EQ(doc["summary"].toObject()["failed"].toInt(), 0);
    // The progress line shows the window's texts and is wiped at the end.
    EXPECT_NE(r.err.find("Чтение... Выполнено "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\x1b[K");
}

// A failing row gets its own outcome in the table and the run exits 1;
// the rows around it are read as usual. One test per failure mode.
class CliFailingRow : public CliFixture {
protected:
    // Reads rows 0:1, 0:8, 0:301 and 1:12 of the demo list, with the
    // failure on 0:8, over UDP and over the pty; returns the failing row's
    // line of each table.
    std::vector<QString> failingRowLines(const devsim::Failure& failure) {
        model->setRowFailure({0, 8, 0}, failure);
        std::vector<QString> out;
        for (const QStringList& link : {udp(), pty()}) {
            const CliRun r = run(QStringList{"read", "type:20", "--rows", "0:1,0:8,0:301,1:12", "--format", "csv"} + link);
            EXPECT_EQ(r.status, 1) << r.err;
            const QStringList lines = r.outText().split('\n', Qt::SkipEmptyParts);
            EXPECT_EQ(lines.size(), 5) << r.out;
            if (lines.size() != 5)
                return out;
            EXPECT_EQ(lines[0], "row,channel,parameter,index,value,units,name,outcome,message");
            EXPECT_EQ(lines[1], "1,0,1,0,20117,,Заводской номер,ok,");
            EXPECT_TRUE(lines[3].startsWith("6,0,301,0,")) << lines[3].toStdString();
            EXPECT_TRUE(lines[3].contains(",ok,")) << lines[3].toStdString();
            EXPECT_TRUE(lines[4].contains(",ok,")) << lines[4].toStdString();
            out.push_back(lines[2]);
        }
        return out;
    }
};

TEST_F(CliFailingRow, ErrorTextIsTheRowsValueAndMessage) {
    devsim::Failure error;
    error.errorText = QStringLiteral("Нет доступа");
    for (const QString& line : failingRowLines(error))
        EXPECT_EQ(line, "5,0,8,0,Нет доступа,,Сетевой номер прибора,error,Нет доступа");
}

TEST_F(CliFailingRow, BadCrcIsAnError) {
    devsim::Failure badCrc;
    badCrc.badCrc = true;
    for (const QString& line : failingRowLines(badCrc)) {
        EXPECT_TRUE(line.startsWith("5,0,8,0,")) << line.toStdString();
        EXPECT_TRUE(line.contains(",error,")) << line.toStdString();
    }
    EXPECT_EQ(model->requestCount({0, 8, 0}), 2) << "one request on each link";
}

TEST_F(CliFailingRow, SilentRowIsUnansweredAfterThreeRequests) {
    devsim::Failure silent;
    silent.silent = true;
    for (const QString& line : failingRowLines(silent)) {
        EXPECT_TRUE(line.startsWith("5,0,8,0,")) << line.toStdString();
        EXPECT_TRUE(line.contains(",unanswered,")) << line.toStdString();
    }
    EXPECT_EQ(model->requestCount({0, 8, 0}), 6) << "three requests on each link";
}

TEST_F(CliFixture, ReadOverThePtyAndPortErrors) {
    const CliRun ok = run(QStringList{"read", "type:20", "--rows", "p10", "--format", "json"} + pty(), true);
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(outcomes(json(ok)), (std::map<QString, QString>{{"1:10:0", "ok"}, {"2:10:0", "ok"}}));
    EXPECT_EQ(server->requestBaud(), 115200);
    EXPECT_NE(server->lineBaud(), 115200) << "the line is left as it was found";

    // A port number that names no device.
    const CliRun none = run({"read", "type:20", "--rows", "1", "--port", "COM200", "--port-links",
                             QString::fromStdString(dir.path().string())});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("cannot open COM200"), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("Нет подключения к порту"), std::string::npos);
    EXPECT_NE(none.err.find("номер COM200 не назначен ни одному устройству"), std::string::npos)
        << "and why: " << none.err;
    EXPECT_TRUE(none.out.empty()) << "no table without an exchange";

    // A link to something that is no serial port, and one whose device is unplugged.
    { std::ofstream(dir.file("notes.txt")) << "not a port"; }
    std::filesystem::create_symlink(dir.file("notes.txt"), dir.path() / "COM11");
    std::filesystem::create_symlink(dir.file("ttyUSB-gone"), dir.path() / "COM12");
    for (const auto& [port, why] : {std::pair{"COM11", "не последовательный порт"}, std::pair{"COM12", "ttyUSB-gone"}}) {
        const CliRun bad = run({"read", "type:20", "--rows", "1", "--port", port, "--port-links",
                                QString::fromStdString(dir.path().string())});
        EXPECT_EQ(bad.status, 2);
        EXPECT_NE(bad.err.find(std::string("cannot open ") + port), std::string::npos) << bad.err;
        EXPECT_NE(bad.err.find("Нет подключения к порту"), std::string::npos) << bad.err;
        EXPECT_NE(bad.err.find(why), std::string::npos) << bad.err;
    }
}

TEST_F(CliFixture, ADeviceThatAnswersNothingIsAConnectionError) {
    devsim::Failure silent;
    silent.silent = true;
    model->setRunFailure(silent);
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "1-2"} + udp());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no answer from the device on udp 127.0.0.1:"), std::string::npos) << r.err;
    EXPECT_EQ(r.outText().count("unanswered"), 2) << "the rows are still reported";
}

TEST_F(CliFixture, StopSignalStopsTheExchange) {
    std::atomic<bool> stop{true};
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "1-3", "--format", "csv"} + pty(), true, &stop);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("stopped"), std::string::npos);
    EXPECT_EQ(r.outText().count(",not-read,"), 3);
}

TEST_F(CliFixture, ListsAreFoundByNumberFileNameAndName) {
    const QString first = saveList("Объект А", {0, 4});
    const QString second = saveList("Объект Б", {1}, 1);
    saveList("Объект Б", {2}, 2);
    auto titleOf = [&](const QString& list) {
        const CliRun r = run(QStringList{"read", list, "--rows", "1", "--format", "json"} + udp());
        EXPECT_EQ(r.status, 0) << list.toStdString() << ": " << r.err;
        return json(r)["list"].toObject()["file"].toString();
    };
    EXPECT_EQ(titleOf("1"), first);
    EXPECT_EQ(titleOf(second), second);
    EXPECT_EQ(titleOf("объект а"), first) << "letter case is forgiven when nothing matches exactly";
    EXPECT_EQ(titleOf("Тепловычислитель ТВ-20"), "PARVLT2.mdb");

    const CliRun twice = run(QStringList{"read", "Объект Б"} + udp());
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("more than one"), std::string::npos) << twice.err;
    for (const char* unknown : {"9", "type:70", "type:99", "nothing.mdb", "Нет такого"}) {
        const CliRun r = run(QStringList{"read", unknown} + udp());
        EXPECT_EQ(r.status, 2) << unknown;
    }
    EXPECT_EQ(model->framesReceived(), 4) << "nothing is sent for a list that is not found";
}

// List numbers above 255 used to wrap (list 300 showed as 44) and only 128
// lists were found at all.
TEST_F(CliFixture, ListNumbersAboveTheFirstHundredsAreShownAndFound) {
    const QString made = saveList("Ежедневный", {0});
    const QDateTime first(QDate(2024, 3, 14), QTime(9, 41, 0));
    QStringList files{made};
    for (int day = 1; day < 300; ++day) {
        files << ListFileNameFor(first.addDays(day));
        ASSERT_TRUE(QFile::copy(made, files.back()));
    }
    const QJsonObject doc = json(run({"tree", "--format", "json"}));
    QJsonArray lists;
    for (const auto& t : doc["types"].toArray())
        if (t.toObject()["code"].toInt() == 20)
            lists = t.toObject()["lists"].toArray();
    ASSERT_EQ(lists.size(), 300);
    EXPECT_EQ(lists[299].toObject()["number"].toInt(), 300);
    EXPECT_EQ(lists[299].toObject()["file"].toString(), files.back());

    const CliRun r = run(QStringList{"read", "300", "--rows", "1", "--format", "json"} + udp());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json(r)["list"].toObject()["file"].toString(), files.back());
    EXPECT_EQ(run(QStringList{"read", "301"} + udp()).status, 2);
}

// ---------------------------------------------------------------- write

TEST_F(CliFixture, WriteReportsConfirmedRefusedAndUnanswered) {
    devsim::Failure silent;
    silent.silent = true;
    model->setRowFailure({0, 4, 0}, silent);
    const CliRun r = run(QStringList{"write", "type:20", "--set", "0:8=12", "--set", "0:1=5", "--set",
                                     "0:4=10:00:00", "--set", "0:310:2=0,5", "--format", "json"} +
                         pty());
    EXPECT_EQ(r.status, 1) << r.err;
    const QJsonObject doc = json(r);
    EXPECT_EQ(outcomes(doc), (std::map<QString, QString>{{"0:1:0", "refused"},
                                                         {"0:4:0", "unanswered"},
                                                         {"0:8:0", "written"},
                                                         {"0:310:2", "written"}}));
    for (const auto& v : doc["rows"].toArray()) {
        if (v.toObject()["outcome"] == "refused") {
            EXPECT_EQ(v.toObject()["message"].toString(), "Параметр только для чтения");
        }
    }
    EXPECT_EQ(model->entry({0, 8, 0})->value, "12");
    EXPECT_EQ(model->entry({0, 310, 2})->value, "0,5");
    EXPECT_EQ(model->entry({0, 1, 0})->value, "20117");
}

TEST_F(CliFixture, WriteChecksEverythingBeforeSendingAnything) {
    const QStringList cases[] = {
        {"write", "type:20", "--set", "99=1"},
        {"write", "type:20", "--set", "0:8=1", "--set", "5=2"},
        {"write", "type:20", "--set", QStringLiteral("0:8=") + QString(200, 'x')},
        {"write", "type:20", "--set", "9:9=1"},
        {"write", "type:20", "--rows", "1-3", "--set", "2=5"},
    };
    const char* expected[] = {"the list has 29 rows", "set twice", "too long", "picks no row",
                              "row 1 (0:1:0) has no value to write"};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const CliRun r = run(cases[i] + udp());
        EXPECT_EQ(r.status, 2) << i;
        EXPECT_NE(r.err.find(expected[i]), std::string::npos) << r.err;
    }
    EXPECT_EQ(model->framesReceived(), 0);
}

TEST_F(CliFixture, WriteTheValuesASavedListHolds) {
    saveList("Уставки", {5, 6, 7});
    // Values stored into the list file by a read with --save, then changed on the device.
    ASSERT_EQ(run(QStringList{"read", "1", "--save"} + udp()).status, 0);
    model->setEntry({0, 301, 0}, {"1", "день", false, {}});
    model->setEntry({0, 302, 0}, {"9", "ч", false, {}});
    const CliRun r = run(QStringList{"write", "1", "--rows", "all", "--format", "csv"} + udp());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.outText().count(",written,"), 3);
    EXPECT_EQ(model->entry({0, 301, 0})->value, "25");
    EXPECT_EQ(model->entry({0, 302, 0})->value, "0");
}

// ---------------------------------------------------------------- save, export

TEST_F(CliFixture, ExportIsTheWindowsTextTableForTheSameList) {
    const QString file = saveList("Объект Б", {0, 5, 6, 10, 11, 15, 28});
    const QString exported = QString::fromStdString(dir.file("cli.txt"));
    const CliRun r = run(QStringList{"read", "1", "--export", exported} + udp());
    ASSERT_EQ(r.status, 0) << r.err;

    // The window's way: load the list, the device's values and units in the
    // rows, then its save-values command with the same export path.
    ScriptedUi ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    ASSERT_TRUE(db.OpenMainDatabase());
    db.BuildTree();
    db.LoadTreeItem(MakeItemData(1, 20));
    ASSERT_EQ(rows.rowCount(), 7);
    for (int i = 0; i < rows.rowCount(); ++i) {
        auto [value, units] = deviceValue(leadingInt(rows.text(i, ColCanal)), leadingInt(rows.text(i, ColParam)),
                                          leadingInt(rows.text(i, ColIndex)));
        if (rows.kind(i) == KindDataBlock)
            value = "-OK-"; // the row shows the mark; the block goes to its own file
        EXPECT_EQ(rows.text(i, ColValue), value) << "stored by the export's value save, row " << i;
        rows.setText(i, ColValue, value);
        rows.setText(i, ColUnits, units);
    }
    const QString saved = QString::fromStdString(dir.file("window.txt"));
    ui.saveFiles.push_back(saved);
    db.SaveValues();
    ASSERT_TRUE(ui.messages.empty());

    const QByteArray mine = readFile(exported);
    EXPECT_FALSE(mine.isEmpty());
    EXPECT_EQ(mine, readFile(saved));
    EXPECT_TRUE(mine.startsWith(ExportTitleLine("Объект Б", file)));
}

TEST_F(CliFixture, SaveNeedsASavedListAndAnExchangeThatDidItsJob) {
    const CliRun templ = run(QStringList{"read", "type:20", "--save"} + udp());
    EXPECT_EQ(templ.status, 2);
    EXPECT_NE(templ.err.find("need a saved list"), std::string::npos);
    EXPECT_EQ(model->framesReceived(), 0);

    const QString file = saveList("Объект В", {4});
    const QByteArray before = readFile(file);
    devsim::Failure silent;
    silent.silent = true;
    model->setRunFailure(silent);
    const QString exported = QString::fromStdString(dir.file("never.txt"));
    const CliRun dead = run(QStringList{"read", "1", "--export", exported} + udp());
    EXPECT_EQ(dead.status, 2);
    EXPECT_FALSE(QFile::exists(exported));
    EXPECT_EQ(readFile(file), before) << "the list file is left alone";

    // An export path that cannot be opened is the window's "-1" message.
    model->setRunFailure({});
    const CliRun badPath = run(QStringList{"read", "1", "--export", "/nonexistent/dir/out.txt"} + udp());
    EXPECT_EQ(badPath.status, 2);
    EXPECT_NE(badPath.err.find("Ошибка при открытии файла."), std::string::npos) << badPath.err;
}

TEST_F(CliFixture, WorkFolderAndExportPathFromTheCallersFolder) {
    TempDir elsewhere;
    std::filesystem::copy_file(dir.file("PARVLT2.mdb"), elsewhere.file("PARVLT2.mdb"));
    {
        ScopedCwd inside(elsewhere.path());
        saveList("Там", {0});
    }
    const CliRun r = run(QStringList{"read", "Там", "--dir", QString::fromStdString(elsewhere.path().string()),
                                     "--export", "here.txt"} +
                         udp());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.file("here.txt"))));
    EXPECT_EQ(std::filesystem::current_path(), dir.path()) << "the folder is given back";
}

// ---------------------------------------------------------------- settings

TEST_F(CliFixture, SettingsFileIsUsedAndOnlyWrittenWhenAsked) {
    const CliRun none = run({"read", "type:20", "--rows", "1"});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("no serial port chosen"), std::string::npos);
    EXPECT_FALSE(QFile::exists(kSettingsFileName));

    ConnectionSettings s;
    s.useIp = 1;
    s.deviceIp = 0x7F000001;
    s.udpPort = server->udpPort();
    s.waitSeconds = 1;
    ASSERT_TRUE(SaveSettings(s));
    const QByteArray before = readFile(kSettingsFileName);
    const CliRun fromFile = run({"read", "type:20", "--rows", "1", "--wait", "3"});
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(readFile(kSettingsFileName), before);

    const CliRun saved = run({"settings", "--port", "COM7", "--speed", "9600", "--address", "2:17",
                              "--save-settings"});
    EXPECT_EQ(saved.status, 0);
    EXPECT_TRUE(saved.outText().startsWith("connection: COM7")) << saved.out;
    ConnectionSettings back;
    LoadSettings(back);
    EXPECT_EQ(back.useIp, 0);
    EXPECT_EQ(back.chosenPortNumber(), 7);
    EXPECT_EQ(back.baudRate(), 9600);
    EXPECT_EQ(back.useAddress, 1);
    EXPECT_EQ(back.deviceAddress, 17);
    EXPECT_EQ(back.udpPort, s.udpPort) << "items not overridden keep the file's value";
}

// ---------------------------------------------------------------- optical port

class CliOpticalFixture : public CliFixture {
protected:
    devsim::ServerOptions serverOptions() override {
        devsim::ServerOptions o;
        o.optical.enabled = true;
        o.optical.speedChar = '9';
        return o;
    }
};

TEST_F(CliOpticalFixture, SignOnFirstThenTheAnnouncedSpeed) {
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "1-2", "--optical", "--save-settings"} + pty());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.outText().count("  ok\n"), 2) << r.out;
    EXPECT_EQ(server->requestBaud(), 115200);
    ConnectionSettings back;
    LoadSettings(back);
    EXPECT_EQ(back.useOptoport, 1);
    EXPECT_EQ(back.baudRate(), 115200) << "the learnt speed is kept, as the window keeps it";
}

TEST_F(CliOpticalFixture, WithoutTheSignOnTheDeviceStaysSilent) {
    const CliRun plain = run(QStringList{"read", "type:20", "--rows", "1", "--no-optical"} + pty());
    EXPECT_EQ(plain.status, 2);
    EXPECT_NE(plain.err.find("no answer from the device on COM7"), std::string::npos) << plain.err;
}
