// The two programs as a script uses them: parvault2-devsim started as a
// process, parvault2-cli run against it in real time, exit statuses and
// output read back.

#include "processtest.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <filesystem>
#include <map>

using parvault::testing::TempDir;

namespace {

using namespace parvault::clitest;

class CliProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file(PARVAULT_DEMO_DB, dir.file("PARVLT2.mdb"));
        // The demo device with one row silent and one refusing to be read.
        QFile demo(PARVAULT_DEMO_PARAMS);
        ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
        QFile params(QString::fromStdString(dir.file("params.txt")));
        ASSERT_TRUE(params.open(QIODevice::WriteOnly));
        params.write(demo.readAll());
        params.write("\n[type 20]\n0 8 0 | 7 | | silent\n0 2 0 | 3.12 | | error=\"Нет доступа\"\n");
    }
    QString work() const { return QString::fromStdString(dir.path().string()); }

    TempDir dir;
};

} // namespace

TEST_F(CliProgram, ScriptedReadWriteAndExitStatuses) {
    Simulator sim(QString::fromStdString(dir.file("params.txt")));
    ASSERT_TRUE(sim.ready());
    const QStringList link = {"--udp", sim.target(), "--wait", "1"};

    // Every row answered: 0, and the CSV a script reads.
    Result r = cli(work(), QStringList{"read", "type:20", "--rows", "p10,0:1", "--format", "csv"} + link);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              "row,channel,parameter,index,value,units,name,outcome,message\n"
              "1,0,1,0,20117,,Заводской номер,ok,\n"
              "12,1,10,0,\"71,4\",°C,Температура в подающем трубопроводе,ok,\n"
              "21,2,10,0,\"64,9\",°C,Температура в подающем трубопроводе,ok,\n");
    EXPECT_TRUE(r.err.isEmpty()) << "no progress line when stderr is no terminal";

    // A write, read back.
    r = cli(work(), QStringList{"write", "type:20", "--set", "0:302=6"} + link);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QRegularExpression("   0      302        0    6 +\\S.*written\\n")))
        << r.out.toStdString();

    // A refusing row and a silent one, in real time: 1.
    r = cli(work(), QStringList{"read", "type:20", "--rows", "0:2,0:8,0:302", "--format", "json"} + link);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(r.out.toUtf8()).object()["rows"].toArray();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].toObject()["outcome"].toString(), "error");
    EXPECT_EQ(rows[0].toObject()["message"].toString(), "Нет доступа");
    EXPECT_EQ(rows[1].toObject()["outcome"].toString(), "unanswered");
    EXPECT_EQ(rows[2].toObject()["value"].toString(), "6");
}

TEST_F(CliProgram, UsageAndConnectionErrorsExitTwo) {
    Result r = cli(work(), {"read", "type:20", "--wait", "99"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("--wait is a number of seconds from 1 to 31")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Try 'parvault2-cli --help'."));
    EXPECT_TRUE(r.out.isEmpty());

    r = cli(work(), {"read", "type:20", "--port", "COM300", "--port-links", work()});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("cannot open COM300")) << r.err.toStdString();

    r = cli(work(), {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.startsWith("Usage: parvault2-cli COMMAND"));
}

// One targets file for five devices: three on UDP (one refusing the write,
// one silent) and two on one pty bus at addresses 3 and 4.
TEST_F(CliProgram, TargetsRunManyDevicesInOneGo) {
    QFile refusing(QString::fromStdString(dir.file("params.txt")));
    ASSERT_TRUE(refusing.open(QIODevice::Append));
    refusing.write("[type 20]\n0 8 0 | 7 | | ro\n");
    refusing.close();
    const QString demo = PARVAULT_DEMO_PARAMS;
    Simulator east(demo);
    Simulator west(QString::fromStdString(dir.file("params.txt")));
    Simulator dead(demo, {"--fail", "silent"});
    Simulator bus(demo, {"--pty", QString::fromStdString(dir.file("COM7")), "--address", "3", "--address", "4"});
    ASSERT_TRUE(east.ready() && west.ready() && dead.ready() && bus.ready());
    QFile targets(QString::fromStdString(dir.file("devices.csv")));
    ASSERT_TRUE(targets.open(QIODevice::WriteOnly));
    targets.write(QStringLiteral("name,route,address\neast,%1\nwest,%2\ndead,%3\nk3,COM7@115200,3\nk4,COM7@115200,4\n")
                      .arg(east.route(), west.route(), dead.route())
                      .toUtf8());
    targets.close();
    const QStringList common = {"--targets", "devices.csv", "--port-links", work(), "--wait", "1"};

    Result r = cli(work(), QStringList{"write", "type:20", "--set", "0:8=12", "--format", "csv"} + common);
    EXPECT_EQ(r.status, 2) << r.err.toStdString();
    QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << r.out.toStdString();
    EXPECT_TRUE(lines[1].startsWith("east,5,0,8,0,12,") && lines[1].endsWith(",written,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("west,5,0,8,0,") && lines[2].contains(",refused,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith("dead,5,0,8,0,12,") && lines[3].endsWith(",unanswered,"))
        << lines[3].toStdString();
    EXPECT_TRUE(lines[4].startsWith("k3,") && lines[4].endsWith(",written,")) << lines[4].toStdString();
    EXPECT_TRUE(lines[5].startsWith("k4,") && lines[5].endsWith(",written,")) << lines[5].toStdString();
    EXPECT_TRUE(r.err.contains(QRegularExpression("dead: no answer from the device on udp 127\\.0\\.0\\.1:\\d+")))
        << r.err.toStdString();

    // Read back: every device has what it took; the silent one still nothing.
    r = cli(work(), QStringList{"read", "type:20", "--rows", "0:8", "--format", "json"} + common);
    EXPECT_EQ(r.status, 2) << r.err.toStdString();
    const QJsonObject doc = QJsonDocument::fromJson(r.out.toUtf8()).object();
    std::map<QString, QString> values;
    for (const auto& v : doc["rows"].toArray())
        values[v.toObject()["device"].toString()] =
            v.toObject()["outcome"].toString() + " " + v.toObject()["value"].toString();
    EXPECT_EQ(values, (std::map<QString, QString>{
                          {"east", "ok 12"}, {"west", "ok 7"}, {"dead", "unanswered "}, {"k3", "ok 12"}, {"k4", "ok 12"}}));
    EXPECT_EQ(doc["devices"].toArray().size(), 5);
    EXPECT_EQ(doc["exitStatus"].toInt(), 2);
}

TEST_F(CliProgram, SaveSaveAsAndCompare) {
    Simulator sim(PARVAULT_DEMO_PARAMS);
    ASSERT_TRUE(sim.ready());
    const QStringList link = {"--udp", sim.target(), "--wait", "1"};

    Result r = cli(work(), {"save", "type:20", "--name", "Уставки", "--rows", "p300-399"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QRegularExpression("^1  Уставки  \\(\\d{12}\\.mdb\\)\\n$"))) << r.out.toStdString();
    r = cli(work(), QStringList{"read", "Уставки", "--compare", "--format", "csv"} + link);
    EXPECT_EQ(r.status, 1) << "a list saved without values has nothing to compare with";
    EXPECT_EQ(r.out.count(",nothing-stored\n"), 8) << r.out.toStdString();

    r = cli(work(), QStringList{"read", "type:20", "--rows", "p300-399", "--save-as", "Снимок"} + link);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("saved as list 2 \"Снимок\"")) << r.err.toStdString();
    r = cli(work(), QStringList{"read", "Снимок", "--compare", "--format", "csv"} + link);
    EXPECT_EQ(r.status, 0) << r.out.toStdString();
    EXPECT_EQ(r.out.count(",same\n"), 8) << r.out.toStdString();

    r = cli(work(), {"tree"});
    EXPECT_TRUE(r.out.contains(QRegularExpression("\\n +1  Уставки  \\(\\d{12}\\.mdb\\)\\n +2  Снимок  \\(")))
        << r.out.toStdString();
}

// Answers that come after their row gave up: the simulator answers 1.2 s
// late while the program waits one second. Sequence numbers start at 000 in
// every exchange, so a late answer carries the number of the next request
// too; only what it repeats of its own request tells whose it is.
namespace {

// Device, value and outcome of every row of a JSON report.
std::map<std::string, std::string> valuesByDevice(const Result& r) {
    std::map<std::string, std::string> values;
    for (const auto& v : QJsonDocument::fromJson(r.out.toUtf8()).object()["rows"].toArray()) {
        const QJsonObject row = v.toObject();
        values[row["device"].toString().toStdString()] =
            (row["outcome"].toString() + " " + row["value"].toString()).toStdString();
    }
    return values;
}

std::string firstRow(const Result& r) {
    const QJsonArray rows = QJsonDocument::fromJson(r.out.toUtf8()).object()["rows"].toArray();
    if (rows.isEmpty())
        return std::string();
    const QJsonObject row = rows[0].toObject();
    return (row["outcome"].toString() + " " + row["value"].toString()).toStdString();
}

} // namespace

TEST_F(CliProgram, LateAnswerOfOneDeviceIsNeverTakenForTheOtherOnTheSameLine) {
    Simulator bus(PARVAULT_DEMO_PARAMS, {"--pty", QString::fromStdString(dir.file("COM7")), "--address", "1",
                                         "--address", "2", "--fail", "delay=1200"});
    ASSERT_TRUE(bus.ready());
    const QStringList line = {"--port-links", work(), "--wait", "1"};
    // The two devices tell apart by one value.
    Result r = cli(work(), QStringList{"write", "type:20", "--set", "0:302=22", "--port", "COM7", "--address", "0:2"} +
                               line);
    ASSERT_EQ(r.status, 0) << r.err.toStdString() << r.out.toStdString();
    QFile targets(QString::fromStdString(dir.file("bus.csv")));
    ASSERT_TRUE(targets.open(QIODevice::WriteOnly));
    targets.write("name,route,address\nk1,COM7@115200,1\nk2,COM7@115200,2\n");
    targets.close();

    // Twice: the second run opens the line the first left late answers on.
    for (int run = 1; run <= 2; ++run) {
        r = cli(work(), QStringList{"read", "type:20", "--rows", "0:302", "--format", "json", "--targets", "bus.csv"} +
                            line);
        EXPECT_EQ(r.status, 0) << "run " << run << ": " << r.err.toStdString();
        EXPECT_EQ(valuesByDevice(r), (std::map<std::string, std::string>{{"k1", "ok 0"}, {"k2", "ok 22"}}))
            << "run " << run << ": " << r.out.toStdString();
    }
}

TEST_F(CliProgram, LateAnswerOfOneCommandIsNeverTakenByTheNext) {
    Simulator device(PARVAULT_DEMO_PARAMS, {"--pty", QString::fromStdString(dir.file("COM7")), "--fail", "delay=1200"});
    ASSERT_TRUE(device.ready());
    // A list of parameter 2 alone: its row has the number of parameter 1's row in the template.
    Result r = cli(work(), {"save", "type:20", "--name", "Версия", "--rows", "0:2"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList line = {"--port", "COM7", "--port-links", work(), "--wait", "1", "--format", "json"};
    r = cli(work(), QStringList{"read", "type:20", "--rows", "0:1"} + line);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(firstRow(r), "ok 20117");
    r = cli(work(), QStringList{"read", "Версия"} + line);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(firstRow(r), "ok 3.12") << "parameter 2 is not parameter 1";
}

TEST_F(CliProgram, LateAnswerWithAnotherRowsNumberIsNeverTakenForThatRow) {
    // Row 1 answers late and with the number of row 2, which answers a little late itself.
    QFile params(QString::fromStdString(dir.file("params.txt")));
    ASSERT_TRUE(params.open(QIODevice::Append));
    params.write("[type 20]\n0 1 0 | 20117 | | wrongseq=1 delay=1500\n0 2 0 | 3.12 | | delay=600\n");
    params.close();
    Simulator device(QString::fromStdString(dir.file("params.txt")),
                     {"--pty", QString::fromStdString(dir.file("COM7"))});
    ASSERT_TRUE(device.ready());
    const Result r = cli(work(), {"read", "type:20", "--rows", "0:1,0:2", "--format", "csv", "--port", "COM7",
                                  "--port-links", work(), "--wait", "1"});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(lines[1].startsWith("1,0,1,0,") && lines[1].contains(",unanswered,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("2,0,2,0,3.12,") && lines[2].contains(",ok,")) << lines[2].toStdString();
}

// Over UDP as on a serial line: the answer to the first request that comes
// while the second waits is taken, and one for an earlier row is shown in
// the trace as set aside.
TEST_F(CliProgram, DeviceAnsweringJustAfterTheWaitIsReadOverUdpAndItsLateAnswersAreTraced) {
    Simulator device(PARVAULT_DEMO_PARAMS, {"--fail", "delay=1200"});
    ASSERT_TRUE(device.ready());
    const Result r = cli(work(), {"read", "type:20", "--rows", "0:1,0:2", "--format", "csv", "--udp", device.target(),
                                  "--wait", "1", "--trace", "trace.txt"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(lines[1].startsWith("1,0,1,0,20117,") && lines[1].endsWith(",ok,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("2,0,2,0,3.12,") && lines[2].endsWith(",ok,")) << lines[2].toStdString();
    QFile trace(QString::fromStdString(dir.file("trace.txt")));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(trace.readAll());
    EXPECT_GE(text.count(QStringLiteral(" ← UDP")), 3) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("ответ с номером 000 не для этой строки (ждём 001): пропущен")))
        << text.toStdString();
}

// A device's answer as it reaches a script: a damaged one says why, and no
// control character of a device text reaches the output.
TEST_F(CliProgram, BadCrcIsNamedAndDeviceTextsCarryNoControlCharacters) {
    QFile params(QString::fromStdString(dir.file("params.txt")));
    ASSERT_TRUE(params.open(QIODevice::Append));
    params.write("[type 20]\n0 3 0 | 14.03.24 | | badcrc\n0 4 0 | 09\x1a" "41\x7f" "07 | ч\x1a |\n");
    params.close();
    Simulator device(QString::fromStdString(dir.file("params.txt")));
    ASSERT_TRUE(device.ready());
    const Result r = cli(work(), {"read", "type:20", "--rows", "0:3,0:4", "--format", "csv", "--udp", device.target(),
                                  "--wait", "1"});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(lines[1].startsWith("3,0,3,0,") && lines[1].endsWith(",error,ошибка CRC")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("4,0,4,0,09 41 07,ч ,") && lines[2].endsWith(",ok,")) << lines[2].toStdString();
    for (const QChar c : r.out)
        EXPECT_TRUE(c == u'\n' || c.unicode() >= 0x20) << "U+" << std::hex << static_cast<int>(c.unicode());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
