// parvault2-cli through a real serial device server: Debian's ser2net,
// started here in front of the simulator's pseudo-terminal, raw and with
// RFC 2217. What reaches the device must be what the serial route sends.

#include "clitest.h"
#include "eventually.h"

#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

using namespace parvault;
using namespace parvault::clitest;

namespace {

constexpr const char* kSer2net = "/usr/sbin/ser2net";

// A port on 127.0.0.1 that nothing listens on at this moment.
uint16_t freeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

// A client connection to 127.0.0.1:port; -1 when refused.
int connectLoopback(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// ser2net serving one device on one loopback port, from a configuration
// written into the test's folder: the one the README recommends.
class Ser2net {
public:
    ~Ser2net() { stop(); }

    // Without kickOldUser a second client is turned away while one is connected.
    bool start(const std::string& device, bool rfc2217, const std::string& folder, std::string* why,
               bool kickOldUser = true) {
        port_ = freeLoopbackPort();
        const std::string config = folder + "/ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\n"
                              << "connection: &device\n"
                              << "  accepter: " << (rfc2217 ? "telnet(rfc2217),tcp(nodelay)," : "tcp(nodelay),")
                              << "127.0.0.1," << port_ << "\n"
                              << "  connector: serialdev," << device << ",115200n81,local\n"
                              << "  options:\n"
                              << "    kickolduser: " << (kickOldUser ? "true" : "false") << "\n"
                              << "    chardelay: false\n";
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QString::fromLatin1(kSer2net),
                       {"-n", "-d", "-c", QString::fromStdString(config), "-P", QString::fromStdString(folder + "/ser2net.pid")});
        if (!process_.waitForStarted()) {
            *why = "ser2net did not start";
            return false;
        }
        // Ready once it accepts; the probe closes at once, before any byte.
        const bool listening = parvault::testing::eventually([&] {
            const int s = connectLoopback(port_);
            if (s < 0)
                return false;
            ::close(s);
            return true;
        });
        if (!listening)
            *why = "ser2net does not listen: " + process_.readAll().toStdString();
        return listening;
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished();
        }
    }
    uint16_t port() const { return port_; }
    QString target() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

private:
    QProcess process_;
    uint16_t port_ = 0;
};

// The request frames the device received, from entry `from` of its log on.
// A resend is the same frame again; on a loaded machine either route may
// need one, so a frame repeated at once counts once.
std::vector<devsim::Bytes> requestsSince(const devsim::DeviceModel& model, size_t from) {
    std::vector<devsim::Bytes> frames;
    const auto log = model.log();
    for (size_t k = from; k < log.size(); ++k)
        if (log[k].incoming && (frames.empty() || frames.back() != log[k].bytes))
            frames.push_back(log[k].bytes);
    return frames;
}

QStringList traceLines(const TempDir& dir) {
    QFile f(QString::fromStdString(dir.file("trace.txt")));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

class DeviceServerTest : public CliFixture {
protected:
    void startServer(bool rfc2217) {
        if (!std::filesystem::exists(kSer2net))
            GTEST_SKIP() << kSer2net << " is not installed";
        std::string why;
        ASSERT_TRUE(ser2net.start(server->ptySlavePath(), rfc2217, dir.path().string(), &why)) << why;
    }
    QStringList tcp() const { return {"--tcp", ser2net.target(), "--wait", "1"}; }
    QStringList rfc2217(int baud = 115200) const {
        return {"--rfc2217", ser2net.target(), "--speed", QString::number(baud), "--wait", "1"};
    }

    // The same read and write over the serial route and through the server:
    // the device sees the same bytes and the tables are the same. The value
    // holds the byte 0xFF (a no-break space in code page 866), which RFC 2217
    // must double on the way out and single again on the way back.
    void expectSameRequestsAsSerial(const QStringList& route) {
        devsim::ParamEntry start;
        start.value = QStringLiteral("1\u00A02");
        start.units = QStringLiteral("м\u00A0с");
        const QStringList read = {"read", "type:20", "--rows", "0:1,0:8,p310", "--format", "csv"};
        const QStringList write = {"write", "type:20", "--set", QStringLiteral("0:8=3\u00A04"), "--format", "csv"};

        model->setEntry({0, 8, 0}, start);
        size_t mark = model->log().size();
        const CliRun serialRead = run(read + pty());
        ASSERT_EQ(serialRead.status, 0) << serialRead.err;
        const CliRun serialWrite = run(write + pty());
        ASSERT_EQ(serialWrite.status, 0) << serialWrite.err;
        const auto serialFrames = requestsSince(*model, mark);

        model->setEntry({0, 8, 0}, start);
        mark = model->log().size();
        const CliRun serverRead = run(read + route);
        ASSERT_EQ(serverRead.status, 0) << serverRead.err;
        const CliRun serverWrite = run(write + route);
        ASSERT_EQ(serverWrite.status, 0) << serverWrite.err;
        const auto serverFrames = requestsSince(*model, mark);

        EXPECT_EQ(serverRead.out, serialRead.out);
        EXPECT_TRUE(serverRead.outText().contains(QStringLiteral(",1\u00A02,м\u00A0с,"))) << serverRead.out;
        EXPECT_EQ(serverWrite.out, serialWrite.out);
        const auto readRows = static_cast<size_t>(serverRead.outText().count('\n') - 1);
        EXPECT_EQ(serverFrames.size(), readRows + 1) << "each row read and the write";
        EXPECT_EQ(serverFrames, serialFrames);
        const bool carriesFF = std::any_of(serverFrames.begin(), serverFrames.end(), [](const devsim::Bytes& f) {
            return std::find(f.begin(), f.end(), 0xFF) != f.end();
        });
        EXPECT_TRUE(carriesFF) << "the write request holds a 0xFF byte";
        EXPECT_EQ(model->entry({0, 8, 0})->value, QStringLiteral("3\u00A04"));
    }

    Ser2net ser2net;
};

class RawServer : public DeviceServerTest {
protected:
    void SetUp() override {
        DeviceServerTest::SetUp();
        startServer(false);
    }
};

class Rfc2217Server : public DeviceServerTest {
protected:
    void SetUp() override {
        DeviceServerTest::SetUp();
        startServer(true);
    }
};

} // namespace

TEST_F(RawServer, RequestsAreByteIdenticalToTheSerialRoute) { expectSameRequestsAsSerial(tcp()); }

TEST_F(Rfc2217Server, RequestsAreByteIdenticalToTheSerialRouteAndIacIsEscaped) {
    expectSameRequestsAsSerial(rfc2217());
}

TEST_F(Rfc2217Server, TheLineSpeedAskedForReachesTheDevice) {
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "0:1"} + rfc2217(19200));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server->requestBaud(), 19200);
}

TEST_F(RawServer, TraceNamesTheRouteAndAStaleAnswerIsThrownAway) {
    // Row 0:1 answers far too late: after its third request has timed out.
    devsim::Failure late;
    late.delayMs = 400;
    model->setRowFailure({0, 1, 0}, late);
    // Once row 0:1 has timed out, give its late answers time to arrive
    // before the next row's request, as a slow line would.
    driver = [this](cli::HeadlessExchange& ex) {
        int steps = 0;
        bool waited = false;
        while (ex.controller.busy() && steps < 6000) {
            ex.stack.step(++steps % 4 == 0);
            if (!waited && ex.controller.curRow() != 0) {
                waited = true;
                parvault::testing::eventually([&] {
                    int answers = 0;
                    for (const auto& f : model->log())
                        answers += f.incoming ? 0 : 1;
                    return answers >= 3;
                });
                // The device logs an answer when it schedules it; the last
                // one leaves its 400 ms later and then crosses the server.
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(1500));
        }
        cli::drainMessages(ex);
        return !ex.controller.busy();
    };
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "0:1,0:2", "--format", "csv", "--trace", "trace.txt"} +
                         tcp());
    EXPECT_EQ(r.status, 1) << r.err;
    const QStringList rows = r.outText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 3) << r.out;
    EXPECT_TRUE(rows[1].startsWith("1,0,1,0,")) << rows[1].toStdString();
    EXPECT_TRUE(rows[1].contains(",unanswered,")) << rows[1].toStdString();
    EXPECT_TRUE(rows[2].startsWith("2,0,2,0,3.12,")) << "the next row gets its own answer, not a stale one";
    EXPECT_TRUE(rows[2].contains(",ok,"));

    const QStringList lines = traceLines(dir);
    const QString peer = QStringLiteral("TCP %1").arg(ser2net.target());
    EXPECT_TRUE(lines.join('\n').contains(QStringLiteral("• %1: соединение открыто").arg(peer))) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.filter(QStringLiteral("→ %1  10 01 ").arg(peer)).size() == 4) << "three tries and the next row";
    EXPECT_EQ(lines.filter(QStringLiteral("байт от прежних запросов отброшено перед запросом")).size(), 1)
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("• %1: соединение закрыто").arg(peer))) << lines.last().toStdString();
}

TEST_F(RawServer, AConnectionTheServerDropsIsMadeAgainForTheNextRequest) {
    // Row 0:2 answers after a pause; while its request is out, a second
    // client takes the server's port and the server drops ours.
    devsim::Failure slow;
    slow.delayMs = 100;
    model->setRowFailure({0, 2, 0}, slow);
    int intruder = -1;
    driver = [&](cli::HeadlessExchange& ex) {
        int steps = 0;
        while (ex.controller.busy() && steps < 6000) {
            ex.stack.step(++steps % 4 == 0);
            if (intruder < 0 && model->framesReceived() == 2) {
                intruder = connectLoopback(ser2net.port());
                std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the server drops us
            }
            std::this_thread::sleep_for(std::chrono::microseconds(1500));
        }
        cli::drainMessages(ex);
        return !ex.controller.busy();
    };
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "0:1,0:2,0:3", "--format", "csv", "--trace", "trace.txt"} +
                         tcp());
    if (intruder >= 0)
        ::close(intruder);
    ASSERT_GE(intruder, 0);
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(r.outText().count(",ok,"), 3) << r.out;
    const QStringList lines = traceLines(dir);
    EXPECT_EQ(lines.filter(QStringLiteral("сервер портов закрыл соединение")).size(), 1) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("соединение с сервером портов восстановлено для следующего запроса")).size(), 1);
    EXPECT_GE(model->requestCount({0, 2, 0}), 2) << "the lost request was asked again";
}

TEST_F(CliFixture, ConnectionFailuresSayWhy) {
    // Nothing listens on a port just found free.
    const QString closed = QStringLiteral("127.0.0.1:%1").arg(freeLoopbackPort());
    const CliRun refused = run({"read", "type:20", "--rows", "1", "--tcp", closed});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find(QStringLiteral("cannot open tcp %1: Нет подключения к порту").arg(closed).toStdString()),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find(QStringLiteral("сервер портов %1 отказал в соединении").arg(closed).toStdString()),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(refused.out.empty());

    const CliRun unknown = run({"read", "type:20", "--rows", "1", "--rfc2217", "no-such-host.invalid:4001", "--speed", "9600"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("cannot open rfc2217 no-such-host.invalid:4001 at 9600 baud: Нет подключения к порту"),
              std::string::npos)
        << unknown.err;
    EXPECT_NE(unknown.err.find("имя no-such-host.invalid не найдено"), std::string::npos) << unknown.err;
}

namespace {

// The simulator's line as an optical head: it understands the sign-on only
// at 300 baud and frames only at the speed it offered (9600).
class OpticalRfc2217Server : public DeviceServerTest {
protected:
    devsim::ServerOptions serverOptions() override {
        devsim::ServerOptions o;
        o.optical.enabled = true;
        o.optical.speedChar = '5';
        return o;
    }
    void SetUp() override {
        DeviceServerTest::SetUp();
        startServer(true);
    }
};

} // namespace

TEST_F(OpticalRfc2217Server, TheSignOnRunsAt300BaudAndTheSpeedChangeReachesTheLine) {
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "0:1,0:2", "--format", "csv", "--optical", "--trace",
                                     "trace.txt"} +
                         rfc2217(115200));
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(r.outText().count(",ok,"), 2) << r.out;
    EXPECT_EQ(server->requestBaud(), 9600) << "the requests went out at the speed the device offered";

    const QStringList lines = traceLines(dir);
    const QString peer = QStringLiteral("RFC 2217 %1").arg(ser2net.target());
    const QString all = lines.join('\n');
    EXPECT_TRUE(all.contains(QStringLiteral("• %1: соединение открыто, 300 бод").arg(peer))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("устройство предлагает скорость 5 (9600 бод)"))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("• %1: скорость линии 9600 бод").arg(peer))) << all.toStdString();
    // The sign-on went out at 300 baud and the requests at 9600.
    EXPECT_EQ(lines.filter(QStringLiteral("→ %1 300 бод").arg(peer)).size(), 2) << "sign-on and option select";
    EXPECT_EQ(lines.filter(QStringLiteral("→ %1 9600 бод").arg(peer)).size(), 2) << "the two rows";

    // Over raw TCP the server's line stays at its own 115200 baud: the
    // optical head never hears a sign-on it understands.
    Ser2net raw;
    std::string why;
    ASSERT_TRUE(raw.start(server->ptySlavePath(), false, dir.path().string(), &why)) << why;
    const CliRun viaRaw = run({"read", "type:20", "--rows", "0:1", "--optical", "--tcp", raw.target(), "--wait", "1"});
    EXPECT_EQ(viaRaw.status, 2);
    EXPECT_NE(viaRaw.err.find("no answer from the device on tcp " + raw.target().toStdString() + ", optical port"),
              std::string::npos)
        << viaRaw.err;
}

namespace {

// Two instruments on the line behind one server port, answering for bus
// addresses 3 and 4.
class BusBehindServer : public DeviceServerTest {
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
    void SetUp() override {
        DeviceServerTest::SetUp();
        if (!std::filesystem::exists(kSer2net))
            GTEST_SKIP() << kSer2net << " is not installed";
        std::string why;
        ASSERT_TRUE(ser2net.start(server->ptySlavePath(), false, dir.path().string(), &why)) << why;
    }
    std::unique_ptr<devsim::DeviceModel> neighbour;
};

} // namespace

TEST_F(BusBehindServer, DevicesBehindOneServerPortTakeTurns) {
    // Each answer takes 200 ms. Had the two devices connected at once, the
    // second connection would have taken the server's port from the first
    // (kickolduser) while its answer was still coming, and the first device
    // would have had to ask again.
    devsim::Failure slow;
    slow.delayMs = 200;
    model->setRowFailure({0, 1, 0}, slow);
    neighbour->setRowFailure({0, 1, 0}, slow);
    const QString targets = targetsFile(QStringLiteral("k3,tcp:%1,3\nk4,TCP:%1,4\n").arg(ser2net.target()));
    const CliRun r = run({"read", "type:20", "--rows", "0:1", "--targets", targets, "--jobs", "4", "--wait", "1",
                          "--format", "json"},
                         /*realTime=*/true);
    EXPECT_EQ(model->requestCount({0, 1, 0}), 1);
    EXPECT_EQ(neighbour->requestCount({0, 1, 0}), 1);
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    const QJsonObject doc = json(r);
    std::map<QString, QJsonObject> rows;
    for (const auto& v : doc["rows"].toArray())
        rows[v.toObject()["device"].toString()] = v.toObject();
    EXPECT_EQ(rows["k3"]["value"].toString(), "20117") << r.out;
    EXPECT_EQ(rows["k4"]["value"].toString(), "40004") << r.out;
    for (const auto& v : doc["devices"].toArray())
        EXPECT_EQ(v.toObject()["route"].toString(), QStringLiteral("tcp %1").arg(ser2net.target()));
}

// The server goes into Parvault2.route beside Parvault2.i, which keeps its
// 296 bytes, and the next run finds it there.
TEST_F(CliFixture, SavedSettingsKeepTheServerBesideTheSettingsFile) {
    const CliRun save = run({"settings", "--rfc2217", "gw.plant.example:4001", "--speed", "9600", "--save-settings"});
    ASSERT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(std::filesystem::file_size(dir.file("Parvault2.i")), 296u);
    QFile route(QString::fromStdString(dir.file("Parvault2.route")));
    ASSERT_TRUE(route.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(route.readAll());
    EXPECT_TRUE(text.contains("\nroute=rfc2217\nhost=gw.plant.example\nport=4001\n")) << text.toStdString();

    const CliRun again = run({"settings"});
    EXPECT_TRUE(again.outText().startsWith("connection: rfc2217 gw.plant.example:4001 at 9600 baud\n")) << again.out;

    // Back to a serial port: the server is no longer the route, its host is kept.
    const CliRun serial = run({"settings", "--port", "COM7", "--port-links", linkFolder(), "--save-settings",
                               "--format", "json"});
    EXPECT_EQ(json(serial)["connection"].toString(), "serial");
    const CliRun after = run({"settings", "--format", "json"});
    EXPECT_EQ(json(after)["connection"].toString(), "serial");
    const CliRun raw = run({"settings", "--tcp", "gw.plant.example:4000", "--format", "json"});
    EXPECT_EQ(json(raw)["connection"].toString(), "tcp");
    EXPECT_EQ(json(raw)["server"].toString(), "gw.plant.example:4000");
    EXPECT_TRUE(json(raw)["usable"].toBool()) << "raw TCP needs no speed";
}
