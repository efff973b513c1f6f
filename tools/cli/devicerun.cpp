#include "devicerun.h"

#include "sockets.h"

#include "ipthread.h"

#include <atomic>
#include <cstring>
#include <map>
#include <thread>

namespace parvault::cli {

namespace {

RowReport reportRow(const RowTable& rows, const ExchangePlan& plan, size_t k) {
    RowReport rr;
    rr.listIndex = plan.picked[k];
    rr.row = rows.row(plan.picked[k]);
    rr.outcome = plan.write ? WriteOutcome(rr.row, plan.before[k]) : ReadOutcome(rr.row);
    if (rr.outcome == Outcome::ReadError || rr.outcome == Outcome::Refused)
        rr.message = rr.row.texts[ColValue];
    else if (rr.outcome == Outcome::NotSent)
        rr.message = QStringLiteral("the value does not fit a write request");
    if (plan.compare) {
        rr.stored = plan.before[k];
        rr.verdict = compareWithStored(
            rr.outcome == Outcome::ReadOk ? std::optional<QString>(rr.row.texts[ColValue]) : std::nullopt,
            rr.stored);
        // A row not read still shows the value loaded with the list; that
        // is the stored value, which has its own field.
        if (rr.outcome == Outcome::ReadUnanswered || rr.outcome == Outcome::NotRead)
            rr.row.texts[ColValue].clear();
    }
    return rr;
}

bool rowFailed(const RowReport& row, bool compare) {
    return compare ? row.verdict != Verdict::Same : !Succeeded(row.outcome);
}

} // namespace

DeviceResult deviceNotRun(const RowTable& rows, const ExchangePlan& plan, const QString& why) {
    DeviceResult r;
    r.opened = false;
    r.status = kExitError;
    r.problems << why;
    // Whatever icon a row has, nothing was asked of this device.
    for (size_t k = 0; k < plan.picked.size(); ++k) {
        RowReport rr;
        rr.listIndex = plan.picked[k];
        rr.row = rows.row(plan.picked[k]);
        rr.outcome = plan.write ? Outcome::NotWritten : Outcome::NotRead;
        rr.stored = plan.compare ? plan.before[k] : QString();
        rr.verdict = Verdict::NotRead;
        if (plan.compare)
            rr.row.texts[ColValue].clear(); // the stored value has its own field
        r.rows.push_back(std::move(rr));
    }
    return r;
}

DeviceResult runDeviceExchange(ConnectionSettings& settings, RowTable& rows, const QString& route,
                               const ExchangePlan& plan) {
    const uint32_t localIp = settings.useIp == 1 ? localIpFor(settings.deviceIp) : localIpFromHostName();
    HeadlessExchange ex(settings, rows, plan.ports, localIp, plan.reopenDatabase, plan.log, plan.pacing);
    for (int r : plan.picked)
        rows.setSelected(r, true);

    if (plan.write)
        ex.controller.OnWriteCommand();
    else
        ex.controller.OnReadCommand();
    if (!ex.controller.busy() && settings.useIp != 1 &&
        (ex.display.portStatus == texts::NoPort || ex.display.portStatus == texts::PortBusy)) {
        QString message = QStringLiteral("cannot open %1: %2").arg(route, ex.display.portStatus);
        const QString& reason = ex.display.portReason;
        if (ex.display.portStatus == texts::NoPort && !reason.isEmpty())
            message += QStringLiteral(" (%1)").arg(reason);
        return deviceNotRun(rows, plan, message);
    }

    DeviceResult result;
    std::function<void()> onStep;
    if (plan.onStep)
        onStep = [&] { plan.onStep(ex.display); };
    result.finished = plan.driver ? plan.driver(ex) : runHeadless(ex, plan.stop, onStep);

    bool anyFailed = false;
    bool allUnanswered = true;
    for (size_t k = 0; k < plan.picked.size(); ++k) {
        RowReport rr = reportRow(rows, plan, k);
        if (rr.outcome == Outcome::ReadError && ex.controller.crcFailed(plan.picked[k]))
            rr.message = texts::CrcError;
        anyFailed = anyFailed || rowFailed(rr, plan.compare);
        allUnanswered = allUnanswered && Unanswered(rr.outcome);
        result.rows.push_back(std::move(rr));
    }
    result.status = anyFailed ? kExitRowsFailed : kExitOk;
    if (!result.finished) {
        result.problems << QStringLiteral("stopped before the exchange ended");
        result.status = kExitError;
    } else if (allUnanswered && !plan.picked.empty()) {
        QString detail;
        if (const int e = ex.stack.shared().lastSocketError.load(); e != 0 && settings.useIp == 1)
            detail = QStringLiteral(" (socket error: %1)").arg(QString::fromStdString(socketErrorText(e)));
        result.problems << QStringLiteral("no answer from the device on %1%2; check the connection, address "
                                          "and speed")
                               .arg(route, detail);
        result.status = kExitError;
    }
    return result;
}

void runDeviceJobs(std::vector<DeviceJob>& jobs, int parallel, const ExchangePlan& plan,
                   const std::function<void(const DeviceJob&)>& onDone) {
    // Lines in the order their first device comes in the file.
    std::vector<std::vector<DeviceJob*>> lines;
    std::map<QString, size_t> lineOf;
    for (DeviceJob& job : jobs) {
        const auto [at, fresh] = lineOf.emplace(job.lineKey, lines.size());
        if (fresh)
            lines.emplace_back();
        lines[at->second].push_back(&job);
    }

    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t line = next++; line < lines.size(); line = next++) {
            for (DeviceJob* job : lines[line]) {
                if (plan.stop && plan.stop->load())
                    job->result = deviceNotRun(job->rows, plan, QStringLiteral("stopped before its turn"));
                else
                    job->result = runDeviceExchange(job->settings, job->rows, job->route, plan);
                if (onDone)
                    onDone(*job);
            }
        }
    };
    const size_t threads = std::min(lines.size(), static_cast<size_t>(std::max(parallel, 1)));
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t)
        pool.emplace_back(worker);
    for (std::thread& t : pool)
        t.join();
}

} // namespace parvault::cli
