// One list handled for many devices in one run: several simulated devices on
// their own UDP ports, and two sharing one pty as two instruments on a bus.

#include "clitest.h"

#include "listexport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <condition_variable>
#include <mutex>

using namespace parvault;
using namespace parvault::clitest;

namespace {

// device name -> its entry of the "devices" array.
std::map<QString, QJsonObject> devicesOf(const QJsonObject& doc) {
    std::map<QString, QJsonObject> m;
    for (const auto& v : doc["devices"].toArray())
        m[v.toObject()["name"].toString()] = v.toObject();
    return m;
}

// "device channel:parameter:index" -> the row.
std::map<QString, QJsonObject> rowsOf(const QJsonObject& doc) {
    std::map<QString, QJsonObject> m;
    for (const auto& v : doc["rows"].toArray()) {
        const QJsonObject r = v.toObject();
        m[QStringLiteral("%1 %2:%3:%4")
              .arg(r["device"].toString())
              .arg(r["channel"].toInt())
              .arg(r["parameter"].toInt())
              .arg(r["index"].toInt())] = r;
    }
    return m;
}

devsim::Failure silence() {
    devsim::Failure f;
    f.silent = true;
    return f;
}

} // namespace

// Three devices on UDP: one answers, one refuses the write, one is silent.
// Each gets its own outcome and status; the run's status is the worst.
TEST_F(CliFixture, TargetsHandleEachDeviceAndExitWithTheWorst) {
    UdpDevice west = startUdpDevice();
    west.model->setEntry({0, 1, 0}, {"30002", "", true, {}});
    west.model->setEntry({0, 8, 0}, {"7", "", true, {}});
    UdpDevice dead = startUdpDevice();
    dead.model->setRunFailure(silence());
    const QString targets = targetsFile(QStringLiteral("name,route,address,optical\n"
                                                       "# boiler room\n"
                                                       "east,udp:127.0.0.1:%1\n"
                                                       "\r\n"
                                                       "\"west, 2\",%2,,no\n"
                                                       "dead,%3\n")
                                            .arg(server->udpPort())
                                            .arg(west.route(), dead.route()));

    const CliRun w = run({"write", "type:20", "--set", "0:8=12", "--targets", targets, "--wait", "1", "--format",
                          "json"});
    EXPECT_EQ(w.status, 2) << w.err;
    const QJsonObject doc = json(w);
    auto devices = devicesOf(doc);
    ASSERT_EQ(devices.size(), 3u) << w.out;
    EXPECT_EQ(devices["east"]["exitStatus"].toInt(), 0);
    EXPECT_EQ(devices["west, 2"]["exitStatus"].toInt(), 1);
    EXPECT_EQ(devices["dead"]["exitStatus"].toInt(), 2);
    EXPECT_EQ(devices["east"]["route"].toString(), QStringLiteral("udp 127.0.0.1:%1").arg(server->udpPort()));
    auto rows = rowsOf(doc);
    EXPECT_EQ(rows["east 0:8:0"]["outcome"].toString(), "written");
    EXPECT_EQ(rows["west, 2 0:8:0"]["outcome"].toString(), "refused");
    EXPECT_EQ(rows["west, 2 0:8:0"]["message"].toString(), "Параметр только для чтения");
    EXPECT_EQ(rows["dead 0:8:0"]["outcome"].toString(), "unanswered");
    EXPECT_EQ(doc["exitStatus"].toInt(), 2);
    EXPECT_NE(w.err.find("dead: no answer from the device on udp 127.0.0.1:"), std::string::npos) << w.err;
    EXPECT_EQ(model->entry({0, 8, 0})->value, "12");
    EXPECT_EQ(west.model->entry({0, 8, 0})->value, "7");
    EXPECT_EQ(dead.model->requestCount({0, 8, 0}), 1) << "a write over UDP goes out once";

    // A read names the device on every CSV row, and each device's values
    // are its own (every device has its own copy of the rows).
    const CliRun r = run({"read", "type:20", "--rows", "0:1,0:8", "--targets", targets, "--wait", "1", "--format",
                          "csv"});
    EXPECT_EQ(r.status, 2);
    const QStringList lines = r.outText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7) << r.out;
    EXPECT_EQ(lines[0], "device,row,channel,parameter,index,value,units,name,outcome,message");
    EXPECT_EQ(lines[1], "east,1,0,1,0,20117,,Заводской номер,ok,");
    EXPECT_EQ(lines[2], "east,5,0,8,0,12,,Сетевой номер прибора,ok,");
    EXPECT_EQ(lines[3], "\"west, 2\",1,0,1,0,30002,,Заводской номер,ok,");
    EXPECT_EQ(lines[4], "\"west, 2\",5,0,8,0,7,,Сетевой номер прибора,ok,");
    EXPECT_TRUE(lines[5].startsWith("dead,1,0,1,0,,,Заводской номер,unanswered,")) << lines[5].toStdString();

    // In text, a section per device.
    const CliRun text = run({"read", "type:20", "--rows", "1", "--targets", targets, "--wait", "1"});
    EXPECT_EQ(text.status, 2);
    EXPECT_TRUE(text.outText().startsWith(QStringLiteral("== east (udp 127.0.0.1:%1) ==\n").arg(server->udpPort())))
        << text.out;
    EXPECT_TRUE(text.outText().contains(QStringLiteral("\n\n== west, 2 (%1) ==\n").arg(west.route().mid(4).prepend("udp "))))
        << text.out;
    EXPECT_EQ(text.outText().count("Прибор: Тепловычислитель ТВ-20 (PARVLT2.mdb)"), 3);
}

TEST_F(CliFixture, TargetsExportOneTablePerDevice) {
    UdpDevice west = startUdpDevice();
    west.model->setEntry({0, 1, 0}, {"30002", "", true, {}});
    UdpDevice dead = startUdpDevice();
    dead.model->setRunFailure(silence());
    const QString targets = targetsFile(QStringLiteral("east,udp:127.0.0.1:%1\nwest/2,%2\ndead,%3\n")
                                            .arg(server->udpPort())
                                            .arg(west.route(), dead.route()));
    const QString folder = QString::fromStdString(dir.file("tables"));
    const CliRun r = run({"read", "type:20", "--rows", "1-2", "--targets", targets, "--wait", "1", "--export",
                          folder + "/"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"east.txt", "west_2.txt"}))
        << "no table for a device that answered nothing";

    // The window's table of each device's rows: all rows, the read ones with
    // the device's values.
    const QByteArray east = readFile(folder + "/east.txt");
    EXPECT_TRUE(east.startsWith(ExportTitleLine("Тепловычислитель ТВ-20", "PARVLT2.mdb") + ExportColumnLine()));
    EXPECT_EQ(east.count("\r\n"), 2 + 29);
    ParamRow first;
    first.texts = {"  0", "   1", "  0", "20117", "", "Заводской номер"};
    EXPECT_TRUE(east.contains(ExportRowLine(first)));
    first.texts[ColValue] = "30002";
    EXPECT_TRUE(readFile(folder + "/west_2.txt").contains(ExportRowLine(first)));

    // Two devices whose tables would share a file are refused before anything is sent.
    const int frames = model->framesReceived();
    const QString clash = targetsFile(QStringLiteral("a/b,udp:127.0.0.1:%1\na_b,udp:127.0.0.1:%1\n").arg(server->udpPort()));
    const CliRun refused = run({"read", "type:20", "--targets", clash, "--export", folder});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("would both be written to a_b.txt"), std::string::npos) << refused.err;
    EXPECT_EQ(model->framesReceived(), frames);
}

TEST_F(CliFixture, TargetsCompareEachDeviceWithTheList) {
    UdpDevice west = startUdpDevice();
    west.model->setEntry({0, 1, 0}, {"30002", "", true, {}});
    saveList("Эталон", {0, 5});
    ASSERT_EQ(run(QStringList{"read", "1", "--save"} + udp()).status, 0);
    const QString targets = targetsFile(
        QStringLiteral("east,udp:127.0.0.1:%1\nwest,%2\n").arg(server->udpPort()).arg(west.route()));
    const CliRun r = run({"read", "1", "--compare", "--targets", targets, "--wait", "1", "--format", "json"});
    EXPECT_EQ(r.status, 1) << r.err;
    const QJsonObject doc = json(r);
    auto rows = rowsOf(doc);
    EXPECT_EQ(rows["east 0:1:0"]["verdict"].toString(), "same");
    EXPECT_EQ(rows["west 0:1:0"]["verdict"].toString(), "differs");
    EXPECT_EQ(rows["west 0:1:0"]["stored"].toString(), "20117");
    EXPECT_EQ(rows["west 0:301:0"]["verdict"].toString(), "same");
    auto devices = devicesOf(doc);
    EXPECT_EQ(devices["east"]["exitStatus"].toInt(), 0);
    EXPECT_EQ(devices["west"]["exitStatus"].toInt(), 1);
    EXPECT_EQ(devices["west"]["summary"].toObject()["differs"].toInt(), 1);
    EXPECT_EQ(doc["summary"].toObject()["same"].toInt(), 3);
}

TEST_F(CliFixture, TargetsFileMistakesNameTheLineAndSendNothing) {
    const int port = server->udpPort();
    const std::pair<QString, const char*> cases[] = {
        // (tcp: is a device server's route now; an unknown scheme still stops the run.)
        {QStringLiteral("a,udp:127.0.0.1:%1\nb,ssh:1.2.3.4:5\n").arg(port), "line 2: route \"ssh:1.2.3.4:5\""},
        {QStringLiteral("a,tcp:plant-gw\n"), "line 1: route tcp:plant-gw: HOST:PORT expected"},
        {QStringLiteral("a,tcp:plant-gw:4000@9600\n"), "line 1: route tcp:plant-gw:4000@9600: the port is a number"},
        {QStringLiteral("a,rfc2217:plant-gw:4001@1234\n"), "line 1: route rfc2217:plant-gw:4001@1234: the speed is one of"},
        {QStringLiteral("a,udp:127.0.0.1:0\n"), "line 1: route udp:127.0.0.1:0: the port is a number"},
        {QStringLiteral("# c\na,COM7@1234\n"), "line 2: route COM7@1234: the speed is one of"},
        {QStringLiteral("a,COM7,32\n"), "line 1: the device address is a number from 0 to 31, not \"32\""},
        {QStringLiteral("a,COM7,1,maybe\n"), "line 1: the optical flag"},
        {QStringLiteral("a,COM7,1,yes,5\n"), "line 1: want name, route[, device address[, optical]], got 5"},
        {QStringLiteral("a,COM7\na,COM8\n"), "line 2: the name \"a\" is given twice"},
        {QStringLiteral(",COM7\n"), "line 1: the device has no name"},
        {QStringLiteral("\"a,COM7\n"), "line 1: a quote is not closed"},
        {QStringLiteral("# nobody\n\n"), "no device in it"},
    };
    for (const auto& [text, expected] : cases) {
        const CliRun r = run({"read", "type:20", "--targets", targetsFile(text)});
        EXPECT_EQ(r.status, 2) << text.toStdString();
        EXPECT_NE(r.err.find(std::string("targets.csv: ") + expected), std::string::npos)
            << text.toStdString() << " -> " << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    const CliRun missing = run({"read", "type:20", "--targets", "nowhere.csv"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("nowhere.csv"), std::string::npos) << missing.err;

    // A value too long for one device's write request stops the run before
    // anything is sent to any device.
    const CliRun tooLong = run({"write", "type:20", "--set", QStringLiteral("0:8=") + QString(200, 'x'), "--targets",
                                targetsFile(QStringLiteral("a,udp:127.0.0.1:%1\n").arg(port))});
    EXPECT_EQ(tooLong.status, 2);
    EXPECT_NE(tooLong.err.find("device a (line 1): row 5: the value is too long"), std::string::npos) << tooLong.err;
    EXPECT_EQ(model->framesReceived(), 0);
}

// Exchanges at once: devices on different UDP addresses overlap, at most
// --jobs of them (4 by default); devices on one address take turns.
TEST_F(CliFixture, DevicesOnDifferentAddressesRunAtOnceUpToJobs) {
    struct Overlap {
        std::mutex m;
        std::condition_variable changed;
        int running = 0;
        int peak = 0;
        int wanted = 0; // wait until this many ran together (bounded, so a fault fails rather than hangs)
    } overlap;
    driver = [&overlap](cli::HeadlessExchange& ex) {
        {
            std::unique_lock lock(overlap.m);
            overlap.peak = std::max(overlap.peak, ++overlap.running);
            overlap.changed.notify_all();
            overlap.changed.wait_for(lock, std::chrono::seconds(20), [&] { return overlap.peak >= overlap.wanted; });
        }
        const bool finished = ManualClockDriver(ex);
        std::lock_guard lock(overlap.m);
        --overlap.running;
        return finished;
    };
    std::vector<UdpDevice> more;
    for (int k = 0; k < 4; ++k)
        more.push_back(startUdpDevice());
    QString lines = QStringLiteral("d0,udp:127.0.0.1:%1\n").arg(server->udpPort());
    for (size_t k = 0; k < more.size(); ++k)
        lines += QStringLiteral("d%1,%2\n").arg(k + 1).arg(more[k].route());
    const QString five = targetsFile(lines);

    auto runWith = [&](const QStringList& extra, int wanted) {
        overlap.peak = 0;
        overlap.wanted = wanted;
        const CliRun r = run(QStringList{"read", "type:20", "--rows", "1-3", "--targets", five} + extra);
        EXPECT_EQ(r.status, 0) << r.err;
        return overlap.peak;
    };
    EXPECT_EQ(runWith({}, 4), 4) << "four at once by default, never five";
    EXPECT_EQ(runWith({"--jobs", "2"}, 2), 2);
    EXPECT_EQ(runWith({"--jobs", "1"}, 0), 1);
    for (const UdpDevice& d : more)
        EXPECT_EQ(d.model->framesReceived(), 9) << "each device read three rows in each run";

    // Two devices behind one UDP address (a converter to one bus) take turns.
    const QString shared =
        targetsFile(QStringLiteral("x,udp:127.0.0.1:%1\ny,udp:127.0.0.1:%1\n").arg(server->udpPort()));
    overlap.peak = 0;
    overlap.wanted = 0;
    const CliRun r = run({"read", "type:20", "--rows", "1-3", "--targets", shared});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(overlap.peak, 1);
}

TEST_F(CliFixture, StopLeavesTheDevicesNotYetRunUnread) {
    UdpDevice west = startUdpDevice();
    const QString targets =
        targetsFile(QStringLiteral("east,udp:127.0.0.1:%1\nwest,%2\n").arg(server->udpPort()).arg(west.route()));
    std::atomic<bool> stop{true};
    const CliRun r = run({"read", "type:20", "--rows", "1-2", "--targets", targets, "--format", "csv"}, true, &stop);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.outText().count(",not-read,"), 4) << r.out;
    EXPECT_NE(r.err.find("east: stopped before its turn"), std::string::npos) << r.err;
    EXPECT_EQ(model->framesReceived() + west.model->framesReceived(), 0);
}

// ---------------------------------------------------------------- one serial bus

// Two instruments on one pty, answering for bus addresses 3 and 4, each with
// a serial number of its own.
class CliBusFixture : public CliFixture {
protected:
    devsim::DeviceConfig deviceConfig() override { return {3, false, {}}; }
    devsim::ServerOptions serverOptions() override {
        devsim::ParamTable table;
        QString error;
        EXPECT_TRUE(table.load(QStringLiteral(PARVAULT_DEMO_PARAMS), 20, &error));
        neighbour = std::make_unique<devsim::DeviceModel>(std::move(table), devsim::DeviceConfig{4, false, {}});
        neighbour->setEntry({0, 1, 0}, {"40004", "", true, {}});
        devsim::ServerOptions o;
        o.neighbours = {neighbour.get()};
        return o;
    }
    std::unique_ptr<devsim::DeviceModel> neighbour;
};

TEST_F(CliBusFixture, DevicesOnOneSerialPortTakeTurns) {
    // Had the two opened the port at once, the second would find it busy.
    const QString targets = targetsFile(QStringLiteral("k3,COM%1@115200,3\nk4,COM%1@115200,4\nk5,COM%1@115200,5\n")
                                            .arg(kComPort));
    const QStringList common = {"--targets", targets, "--port-links", linkFolder(), "--wait", "1", "--format", "json"};
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "0:1"} + common);
    EXPECT_EQ(r.status, 2) << r.err;
    const QJsonObject doc = json(r);
    auto devices = devicesOf(doc);
    EXPECT_EQ(devices["k3"]["exitStatus"].toInt(), 0) << r.err;
    EXPECT_EQ(devices["k4"]["exitStatus"].toInt(), 0) << r.err;
    EXPECT_EQ(devices["k5"]["exitStatus"].toInt(), 2);
    EXPECT_TRUE(devices["k3"]["route"].toString().startsWith("COM7 (")) << devices["k3"]["route"].toString().toStdString();
    auto rows = rowsOf(doc);
    EXPECT_EQ(rows["k3 0:1:0"]["value"].toString(), "20117");
    EXPECT_EQ(rows["k4 0:1:0"]["value"].toString(), "40004");
    EXPECT_EQ(rows["k5 0:1:0"]["outcome"].toString(), "unanswered");
    EXPECT_NE(r.err.find("k5: no answer from the device on COM7"), std::string::npos) << r.err;

    const CliRun w = run(QStringList{"write", "type:20", "--set", "0:8=21", "--targets",
                                     targetsFile(QStringLiteral("k3,COM%1@115200,3\nk4,COM%1@115200,4\n").arg(kComPort)),
                                     "--port-links", linkFolder(), "--wait", "1"});
    EXPECT_EQ(w.status, 0) << w.err << w.out;
    EXPECT_EQ(w.outText().count("  written\n"), 2) << w.out;
    EXPECT_EQ(model->entry({0, 8, 0})->value, "21");
    EXPECT_EQ(neighbour->entry({0, 8, 0})->value, "21");
}
