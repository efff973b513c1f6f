#pragma once

// Shared pieces of the benchmarks: the result table, a scratch folder, the
// simulator as a process of its own, list files, the window, and a probe that
// measures how long the window's event loop leaves posted events waiting.

#include "connectionsettings.h"
#include "mainwindow.h"
#include "listmaker.h"
#include "rowtable.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parvault::bench {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start);
double Median(std::vector<double> values);

// One line of the result table. ratio is value / reference; the target says
// which way it must lie (e.g. ">= 0.95", "<= 3").
struct Figure {
    QString name;
    QString value;     // with its unit
    QString reference; // the bound or baseline, with its unit
    double ratio = 0;
    QString target;
    bool met = false;
    QString note;
};
void PrintFigure(const Figure& f);
void PrintTableHead();

// A fresh folder, removed afterwards.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    QString qpath() const { return QString::fromStdString(path_.string()); }

private:
    std::filesystem::path path_;
};

// The simulator program serving a parameter file on UDP (127.0.0.1) and on a
// pty linked as linkFolder/COM<port>.
class DevsimProcess {
public:
    ~DevsimProcess();
    bool start(const QString& paramsFile, const std::filesystem::path& linkFolder, int port,
               bool slowLine, QString* error);
    uint16_t udpPort() const { return udpPort_; }

private:
    QProcess process_;
    uint16_t udpPort_ = 0;
};

// Rows of a benchmark list: channel 1, parameters 1..n, plain parameters.
std::vector<ParamRow> ExchangeRows(int n);
// The simulator's parameter file for those rows (values of varying length).
QString DevsimParams(int n);

// Writes `params` into the folder and starts the simulator on them, with a
// pty link COM<port> in the folder that runs at the baud rate set on it.
bool StartSlowLineDevice(DevsimProcess& sim, const ScratchDir& dir, const QString& params, int port,
                         QString* error);

// Each row's request and the simulated device's answer, in bytes on the line:
// the same request layouts and the same device model the runs use.
std::vector<size_t> RowLineBytes(const std::vector<ParamRow>& rows, const QString& params,
                                 const ConnectionSettings& settings);

// The demo main database copied into the folder as PARVLT2.mdb.
bool CopyMainDatabase(const std::filesystem::path& folder);

// Options for a window that shows no message boxes.
MainWindowOptions QuietWindowOptions(const std::filesystem::path& linkFolder);

// Resident and peak resident size of this process, from /proc.
struct Memory {
    double rssMb = 0;
    double peakMb = 0;
};
Memory ReadMemory();

// Posts an event to the window's thread every millisecond from a thread of
// its own; the wait of each event until its handling is a stall of the loop.
class StallProbe : public QObject {
public:
    StallProbe();
    ~StallProbe() override;
    void start();
    void stop();
    void reset() { maxStallUs_ = 0; handled_ = 0; over_.clear(); }
    // Stalls longer than the threshold: (ms after start, ms stalled).
    const std::vector<std::pair<double, double>>& stallsOver() const { return over_; }
    double thresholdMs = 16;
    double maxStallMs() const { return maxStallUs_ / 1000.0; }
    long handled() const { return handled_; }

protected:
    bool event(QEvent* e) override;

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    long long maxStallUs_ = 0;
    long handled_ = 0;
    Clock::time_point started_;
    std::vector<std::pair<double, double>> over_;
};

// Runs the window's event loop until pred() holds or the time runs out.
template <typename Pred> bool RunUntil(Pred pred, std::chrono::milliseconds limit);

} // namespace parvault::bench

#include <QEventLoop>
#include <QTimer>

// The loop waits for events like the program's own loop does; a 2 ms timer
// looks at the condition.
template <typename Pred>
bool parvault::bench::RunUntil(Pred pred, std::chrono::milliseconds limit) {
    if (pred())
        return true;
    const auto end = Clock::now() + limit;
    bool ok = false;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (pred()) {
            ok = true;
            loop.quit();
        } else if (Clock::now() > end) {
            loop.quit();
        }
    });
    poll.start(2);
    loop.exec();
    return ok;
}
