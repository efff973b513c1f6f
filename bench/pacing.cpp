// Fast pacing against the line: the exchange stack reads n rows from the
// simulator program without a window, once with the window's pacing and
// once with fast pacing, over UDP and over a pty that the simulator runs at
// the baud rate set on it.
//
// The line-rate bound: each row's request and answer bytes at the line's
// speed (ten bits a byte), plus the simulator's own answer delay (none here).
// Over UDP on loopback there is no line; the target there is a rate.

#include "bench.h"
#include "benchutil.h"

#include "devicemodel.h"
#include "exchangestack.h"
#include "requests.h"

#include <QFile>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace parvault::bench {

namespace {

constexpr int kPacingPort = 7;

class QuietDisplay final : public ExchangeDisplay {
public:
    void setStatusText(const QString&) override {}
    void setOpticMark(const QString&) override {}
    void setPortStatusText(const QString&) override {}
    void setProgressText(const QString&) override {}
    void setProgressPos(int) override {}
};

// The seconds the line needs for every row's request and answer.
double LineSeconds(const std::vector<ParamRow>& rows, const QString& params, const ConnectionSettings& s,
                   int baud) {
    double seconds = 0;
    for (size_t bytes : RowLineBytes(rows, params, s))
        seconds += bytes * 10.0 / baud;
    return seconds;
}

// Debian's ser2net in front of the simulator's pty, raw TCP on a free
// loopback port, its line at 115200 baud.
class Ser2netProcess {
public:
    ~Ser2netProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished();
        }
    }
    bool start(const ScratchDir& dir, const std::filesystem::path& link, QString* error) {
        std::error_code ec;
        const auto device = std::filesystem::canonical(link, ec);
        if (ec) {
            *error = QStringLiteral("no pty behind %1").arg(QString::fromStdString(link.string()));
            return false;
        }
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &length);
        ::close(probe);
        port_ = ntohs(a.sin_port);
        const std::string config = dir.path().string() + "/ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\nconnection: &device\n  accepter: tcp(nodelay),127.0.0.1," << port_
                              << "\n  connector: serialdev," << device.string() << ",115200n81,local\n"
                              << "  options:\n    chardelay: false\n";
        process_.start(QStringLiteral("/usr/sbin/ser2net"),
                       {"-n", "-d", "-c", QString::fromStdString(config), "-P", dir.qpath() + "/ser2net.pid"});
        if (!process_.waitForStarted()) {
            *error = QStringLiteral("ser2net (/usr/sbin/ser2net) did not start");
            return false;
        }
        // Ready once it accepts a connection.
        const bool ready = RunUntil(
            [&] {
                const int s = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                to.sin_port = htons(port_);
                const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
                ::close(s);
                return ok;
            },
            std::chrono::seconds(10));
        if (!ready)
            *error = QStringLiteral("ser2net does not listen");
        return ready;
    }
    uint16_t port() const { return port_; }

private:
    QProcess process_;
    uint16_t port_ = 0;
};

struct PacedRun {
    int rowsRead = 0;
    double elapsedMs = 0;
    double lineSeconds = 0;
    QString error;
};

PacedRun RunPaced(const ExchangeRoute& route, int n, bool fast) {
    PacedRun run;
    ScratchDir dir;
    const QString params = DevsimParams(n);
    DevsimProcess sim;
    if (!StartSlowLineDevice(sim, dir, params, kPacingPort, &run.error))
        return run;

    ConnectionSettings settings;
    settings.portNumbers[0] = kPacingPort;
    settings.portIndex = 0;
    settings.speedIndex = route.speedIndex;
    settings.waitSeconds = 1;
    settings.useIp = route.udp ? 1 : 0;
    settings.deviceIp = 0x7F000001;
    settings.udpPort = sim.udpPort();
    Ser2netProcess ser2net;
    if (route.throughSer2net) {
        if (!ser2net.start(dir, dir.path() / ("COM" + std::to_string(kPacingPort)), &run.error))
            return run;
        settings.deviceServer = {DeviceServer::Mode::Raw, "127.0.0.1", ser2net.port()};
        // Let the probe's connection go before the exchange's own.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    MemoryRowTable rows;
    const std::vector<ParamRow> list = ExchangeRows(n);
    rows.setRows(list);
    for (int i = 0; i < n; ++i)
        rows.setSelected(i, true);
    QuietDisplay display;
    Pacing pacing;
    pacing.fast = fast;
    UdpPauses pauses;
    if (fast)
        pauses.readPauseMs = pauses.writePauseMs = 0;
    ExchangeStack stack(StackSetup{.settings = settings,
                                   .rows = rows,
                                   .display = display,
                                   .ports = PortNaming{dir.path(), "/dev"},
                                   .localIp = 0x7F000001,
                                   .reopenDatabase = {},
                                   .localAddress = {},
                                   .udpPauses = pauses,
                                   .pacing = pacing});
    // A fresh process has never signed on; no optical port here anyway.
    stack.shared().linkIdleTicks = kLinkIdleExpired + 1;
    if (!route.udp)
        run.lineSeconds = LineSeconds(list, params, settings, SpeedTable[static_cast<size_t>(route.speedIndex)]);

    const auto start = Clock::now();
    stack.controller().OnReadCommand();
    runRealTime(stack);
    run.elapsedMs = MsSince(start);
    for (int i = 0; i < n; ++i)
        if (rows.icon(i) == IconNeutral && !rows.text(i, ColValue).isEmpty())
            ++run.rowsRead;
    return run;
}

} // namespace

Figure PacingFigure(const ExchangeRoute& route, int n, bool fast) {
    const PacedRun run = RunPaced(route, n, fast);
    const double rate = run.elapsedMs > 0 ? run.rowsRead * 1000.0 / run.elapsedMs : 0;
    Figure f;
    f.name = QStringLiteral("Command line, %1 pacing, %2 rows, %3")
                 .arg(fast ? QStringLiteral("fast") : QStringLiteral("window"))
                 .arg(n)
                 .arg(route.name);
    f.value = QString::asprintf("%.1f rows/s", rate);
    if (route.udp && fast) {
        f.reference = QStringLiteral("500 rows/s");
        f.ratio = rate / 500.0;
        f.target = QStringLiteral(">= 1.00");
        f.met = run.error.isEmpty() && run.rowsRead == n && rate >= 500.0;
    } else if (fast) {
        const double bound = n / run.lineSeconds;
        f.reference = QString::asprintf("line %.1f rows/s", bound);
        f.ratio = rate / bound;
        f.target = QStringLiteral(">= 0.80");
        f.met = run.error.isEmpty() && run.rowsRead == n && f.ratio >= 0.8;
    } else {
        // The window's pacing: at most a request every other 25 ms step
        // while the line time stays under a step, as the window's cadence.
        const double perRowSteps = route.udp ? 2.0 : std::floor(run.lineSeconds / n * 1000.0 / kExchangeTimerMs) + 2;
        const double bound = 1000.0 / (perRowSteps * kExchangeTimerMs);
        f.reference = QString::asprintf("bound %.1f rows/s", bound);
        f.ratio = rate / bound;
        f.target = QStringLiteral(">= 0.95");
        f.met = run.error.isEmpty() && run.rowsRead == n && f.ratio >= 0.95;
    }
    f.note = QString::asprintf("%d of %d rows read in %.0f ms", run.rowsRead, n, run.elapsedMs);
    if (!run.error.isEmpty())
        f.note += QStringLiteral("; ") + run.error;
    return f;
}

} // namespace parvault::bench
