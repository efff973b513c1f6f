#include "benchutil.h"

#include "devicemodel.h"
#include "requests.h"


#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace parvault::bench {

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void PrintTableHead() {
    std::printf("| %-44s | %-14s | %-26s | %6s | %-8s | %-4s |\n", "Figure", "Measured", "Bound or baseline",
                "Ratio", "Target", "Met");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(16, '-').c_str(),
                std::string(28, '-').c_str(), std::string(8, '-').c_str(), std::string(10, '-').c_str(),
                std::string(6, '-').c_str());
    std::fflush(stdout);
}

void PrintFigure(const Figure& f) {
    std::printf("| %-44s | %-14s | %-26s | %6.2f | %-8s | %-4s |\n", f.name.toUtf8().constData(),
                f.value.toUtf8().constData(), f.reference.toUtf8().constData(), f.ratio,
                f.target.toUtf8().constData(), f.met ? "yes" : "NO");
    if (!f.note.isEmpty())
        std::fprintf(stderr, "    %s: %s\n", f.name.toUtf8().constData(), f.note.toUtf8().constData());
    std::fflush(stdout);
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pv2bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

DevsimProcess::~DevsimProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }
}

bool DevsimProcess::start(const QString& paramsFile, const std::filesystem::path& linkFolder, int port,
                          bool slowLine, QString* error) {
    QStringList args = {"--params", paramsFile, "--udp", "127.0.0.1:0", "--pty",
                        QString::fromStdString((linkFolder / ("COM" + std::to_string(port))).string())};
    if (slowLine)
        args << "--slow-line";
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(PARVAULT_DEVSIM_PATH), args);
    if (!process_.waitForStarted(5000)) {
        *error = QStringLiteral("the simulator did not start");
        return false;
    }
    QString out;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!out.contains(QStringLiteral("ready\n"))) {
        if (Clock::now() > deadline || process_.state() == QProcess::NotRunning) {
            *error = QStringLiteral("the simulator did not get ready: ") + out;
            return false;
        }
        process_.waitForReadyRead(100);
        out += QString::fromUtf8(process_.readAllStandardOutput());
    }
    const auto m = QRegularExpression(QStringLiteral("udp 127\\.0\\.0\\.1:(\\d+)")).match(out);
    if (!m.hasMatch()) {
        *error = QStringLiteral("no UDP port in: ") + out;
        return false;
    }
    udpPort_ = static_cast<uint16_t>(m.captured(1).toInt());
    return true;
}

std::vector<ParamRow> ExchangeRows(int n) {
    std::vector<ParamRow> rows;
    for (int i = 0; i < n; ++i) {
        ParamRow r;
        r.texts[ColCanal] = QString::asprintf("%3d", 1);
        r.texts[ColParam] = QString::asprintf("%4d", i + 1);
        r.texts[ColIndex] = QString::asprintf("%3d", 0);
        r.texts[ColName] = QStringLiteral("Параметр %1").arg(i + 1);
        r.kind = KindPlain;
        rows.push_back(r);
    }
    return rows;
}

QString DevsimParams(int n) {
    static const char* const kUnits[] = {"кг/ч", "°C", "", "м3/ч", "МПа"};
    QString text;
    for (int i = 0; i < n; ++i) {
        const QString value = QString::number((i + 1) * 1.25 * ((i % 7) + 1), 'f', i % 4).replace('.', ',');
        text += QStringLiteral("1 %1 0 | %2 | %3\n").arg(i + 1).arg(value).arg(QString::fromUtf8(kUnits[i % 5]));
    }
    return text;
}

bool CopyMainDatabase(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::copy_file(PARVAULT_DEMO_DB_PATH, folder / "PARVLT2.mdb",
                               std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

MainWindowOptions QuietWindowOptions(const std::filesystem::path& linkFolder) {
    MainWindowOptions o;
    o.showError = [](const QString& text, const QString& caption) {
        std::fprintf(stderr, "message box: %s (%s)\n", text.toUtf8().constData(), caption.toUtf8().constData());
    };
    o.showHelp = [](QWidget*) {};
    o.showMessage = [](QWidget*, const QString&) {};
    o.askListName = [] { return std::optional<QString>(QStringLiteral("Замер")); };
    o.askSaveFile = [](const QString&, const QString&, const QString&) { return std::optional<QString>(); };
    o.ports = PortNaming{linkFolder, "/dev"};
    o.startTimers = true;
    return o;
}

Memory ReadMemory() {
    Memory m;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            m.rssMb = std::atof(line.c_str() + 6) / 1024.0;
        else if (line.rfind("VmHWM:", 0) == 0)
            m.peakMb = std::atof(line.c_str() + 6) / 1024.0;
    }
    return m;
}

namespace {
const QEvent::Type kProbeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class ProbeEvent : public QEvent {
public:
    explicit ProbeEvent(Clock::time_point at) : QEvent(kProbeEvent), posted(at) {}
    Clock::time_point posted;
};
} // namespace

StallProbe::StallProbe() = default;

StallProbe::~StallProbe() { stop(); }

void StallProbe::start() {
    if (running_.exchange(true))
        return;
    started_ = Clock::now();
    thread_ = std::thread([this] {
        auto next = Clock::now();
        while (running_.load()) {
            QCoreApplication::postEvent(this, new ProbeEvent(Clock::now()));
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
    });
}

void StallProbe::stop() {
    if (!running_.exchange(false))
        return;
    thread_.join();
    QCoreApplication::removePostedEvents(this, kProbeEvent);
}

bool StallProbe::event(QEvent* e) {
    if (e->type() != kProbeEvent)
        return QObject::event(e);
    const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
                            Clock::now() - static_cast<ProbeEvent*>(e)->posted)
                            .count();
    maxStallUs_ = std::max<long long>(maxStallUs_, waited);
    if (waited > thresholdMs * 1000 && over_.size() < 50)
        over_.emplace_back(MsSince(started_), waited / 1000.0);
    ++handled_;
    return true;
}

bool StartSlowLineDevice(DevsimProcess& sim, const ScratchDir& dir, const QString& params, int port,
                         QString* error) {
    const QString paramsFile = dir.qpath() + "/params.txt";
    QFile f(paramsFile);
    if (!f.open(QIODevice::WriteOnly) || f.write(params.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write %1").arg(paramsFile);
        return false;
    }
    f.close();
    return sim.start(paramsFile, dir.path(), port, true, error);
}

std::vector<size_t> RowLineBytes(const std::vector<ParamRow>& rows, const QString& params,
                                 const ConnectionSettings& settings) {
    devsim::ParamTable table;
    QString error;
    table.parse(params, std::nullopt, &error);
    devsim::DeviceModel model(table, {});
    std::vector<size_t> bytes;
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<uint8_t> frame = layoutReadRequest(rows[i], static_cast<int>(i), busAddressFrom(settings));
        const uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(2));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        frame.push_back(static_cast<uint8_t>(crc & 0xFF));
        const auto reply = model.handleFrame(frame, "bench");
        bytes.push_back(frame.size() + (reply ? reply->bytes.size() : 0));
    }
    return bytes;
}

} // namespace parvault::bench
