#pragma once

// One device's exchange of a command line run, and many devices run at once:
// each device with its own exchange stack, settings and rows, on a thread of
// its own; devices on one route (a serial port, a UDP address) one after
// another.

#include "cli.h"
#include "report.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace parvault::cli {

// What every device of a run shares; read only while devices run.
struct ExchangePlan {
    bool write = false;
    bool compare = false;
    // write: read the rows first and write only those that differ from the
    // value in `before`; every write is read back.
    bool onlyDiffering = false;
    // write: read back every row written.
    bool verify = false;
    bool writeBack() const { return write && (onlyDiffering || verify); }
    std::vector<int> picked;     // list indices, ascending
    std::vector<QString> before; // each picked row's value before the exchange
    PortNaming ports = defaultPortNaming();
    const std::atomic<bool>* stop = nullptr;
    ExchangeDriver driver;       // unset: real time
    // Given to the controller; called from the device's thread.
    std::function<void()> reopenDatabase;
    // Where the exchange's frames and events are recorded; none when null.
    ExchangeLog* log = nullptr;
    // How requests follow answers (the command line's --pace and --gap).
    Pacing pacing = {};
    // After every 25 ms step in real time (a progress line).
    std::function<void(const HeadlessDisplay&)> onStep;
};

struct DeviceResult {
    bool opened = true;   // false: the port could not be opened, nothing was sent
    bool finished = true; // false: stopped before the exchange ended
    int status = kExitOk;
    std::vector<RowReport> rows;
    QStringList problems; // what made the status 2
};

// Selects the picked rows of `rows`, runs the exchange and reports each
// picked row. `route` names the connection in messages.
DeviceResult runDeviceExchange(ConnectionSettings& settings, RowTable& rows, const QString& route,
                               const ExchangePlan& plan);

// The rows of a device that never got its turn, and why.
DeviceResult deviceNotRun(const RowTable& rows, const ExchangePlan& plan, const QString& why);

struct DeviceJob {
    QString name;
    QString route;    // as printed
    QString lineKey;  // devices with the same key share a line and take turns
    ConnectionSettings settings;
    MemoryRowTable rows; // the device's own copy of the list's rows
    DeviceResult result;
};

// Runs every job: jobs of one line key one after another in their order,
// different keys at the same time, at most `parallel` at once. onDone is
// called from the device's thread after each job (serialise what it does).
void runDeviceJobs(std::vector<DeviceJob>& jobs, int parallel, const ExchangePlan& plan,
                   const std::function<void(const DeviceJob&)>& onDone);

} // namespace parvault::cli
