#include "devicerun.h"

#include "sockets.h"

#include "ipthread.h"

#include <algorithm>
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
    if (row.writeBack)
        return (*row.writeBack != WriteBack::Written && *row.writeBack != WriteBack::Unchanged) ||
               row.verdict == Verdict::NothingStored;
    return compare ? row.verdict != Verdict::Same : !Succeeded(row.outcome);
}

void selectOnly(RowTable& rows, const std::vector<int>& chosen) {
    for (int r = 0; r < rows.rowCount(); ++r)
        rows.setSelected(r, false);
    for (int r : chosen)
        rows.setSelected(r, true);
}

// A write read back: with onlyDiffering a read first, the writes of the rows
// that differ, then a read of the rows written. Each pass is the normal
// exchange; the stored values are put back into the value column before
// they are written. The first pass was started by the caller (it tells
// whether the port opened). False when a pass was stopped.
bool runWriteBack(HeadlessExchange& ex, RowTable& rows, const ExchangePlan& plan,
                  const std::function<bool()>& runPass, std::vector<RowReport>& reports) {
    const size_t n = plan.picked.size();
    std::vector<Verdict> before(n, Verdict::Differs);
    std::vector<int> toWrite;
    // Each row as the first read left it: a write starts by blanking every icon.
    std::vector<ParamRow> firstRead;
    bool finished = true;
    if (plan.onlyDiffering) {
        finished = runPass();
        for (int r : plan.picked)
            firstRead.push_back(rows.row(r));
        for (size_t k = 0; k < n; ++k) {
            const int r = plan.picked[k];
            const bool read = ReadOutcome(rows.row(r)) == Outcome::ReadOk;
            before[k] = compareWithStored(read ? std::optional<QString>(rows.text(r, ColValue)) : std::nullopt,
                                          plan.before[k]);
            if (before[k] == Verdict::Differs && finished)
                toWrite.push_back(r);
        }
    } else {
        toWrite = plan.picked;
    }
    // Rows written and how: refused (or not sent), or worth a read back.
    std::vector<char> refused(n, 0);
    std::vector<char> readBack(n, 0);
    std::vector<QString> writeText(n);
    if (finished && !toWrite.empty()) {
        if (plan.onlyDiffering) {
            for (size_t k = 0; k < n; ++k)
                rows.setText(plan.picked[k], ColValue, plan.before[k]);
            selectOnly(rows, toWrite);
            ex.controller.OnWriteCommand();
        }
        finished = runPass();
        std::vector<int> again;
        for (size_t k = 0; k < n; ++k) {
            const int r = plan.picked[k];
            if (std::find(toWrite.begin(), toWrite.end(), r) == toWrite.end())
                continue;
            const Outcome w = WriteOutcome(rows.row(r), plan.before[k]);
            if (w == Outcome::Refused || w == Outcome::NotSent) {
                refused[k] = 1;
                writeText[k] = w == Outcome::Refused ? rows.text(r, ColValue)
                                                     : QStringLiteral("the value does not fit a write request");
            } else if (w == Outcome::Written || w == Outcome::WriteUnanswered) {
                // An unanswered write may still have been taken: the read tells.
                readBack[k] = 1;
                again.push_back(r);
            }
        }
        if (finished && !again.empty()) {
            selectOnly(rows, again);
            ex.controller.OnReadCommand();
            finished = runPass();
        }
    }
    for (size_t k = 0; k < n; ++k) {
        const int r = plan.picked[k];
        RowReport rr;
        rr.listIndex = r;
        const bool wasWritten = std::find(toWrite.begin(), toWrite.end(), r) != toWrite.end();
        rr.row = wasWritten || firstRead.empty() ? rows.row(r) : firstRead[k];
        rr.stored = plan.before[k];
        rr.verdict = before[k];
        rr.outcome = wasWritten ? WriteOutcome(rr.row, plan.before[k]) : ReadOutcome(rr.row);
        std::optional<QString> after;
        if (readBack[k] && ReadOutcome(rr.row) == Outcome::ReadOk)
            after = rr.row.texts[ColValue];
        if (!wasWritten) {
            // Not written: what the first read found decides.
            rr.writeBack = judgeWriteBack(before[k], false, std::nullopt, rr.stored);
            if (before[k] == Verdict::Differs)
                rr.writeBack = WriteBack::NotRead; // stopped before its write
        } else {
            rr.writeBack = judgeWriteBack(before[k], refused[k] != 0, after, rr.stored);
        }
        if (*rr.writeBack == WriteBack::Refused) {
            rr.message = writeText[k];
            rr.row.texts[ColValue] = rr.stored;
        } else if (*rr.writeBack == WriteBack::NotRead) {
            const Outcome o = ReadOutcome(rr.row);
            rr.message = o == Outcome::ReadError ? rr.row.texts[ColValue]
                         : o == Outcome::ReadUnanswered ? QStringLiteral("no answer")
                                                         : QStringLiteral("not read");
            rr.row.texts[ColValue].clear(); // the stored value has its own field
        } else if (*rr.writeBack == WriteBack::Unchanged && before[k] == Verdict::NothingStored) {
            rr.message = QStringLiteral("the list holds no value for the row");
        }
        reports.push_back(std::move(rr));
    }
    return finished;
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
        if (plan.writeBack()) {
            rr.writeBack = WriteBack::NotRead;
            rr.stored = plan.before[k];
            rr.message = why;
        }
        if (plan.compare || plan.writeBack())
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

    if (plan.writeBack() && plan.onlyDiffering)
        ex.controller.OnReadCommand();
    else if (plan.write)
        ex.controller.OnWriteCommand();
    else
        ex.controller.OnReadCommand();
    if (!ex.controller.busy() && (settings.useIp != 1 || settings.deviceServer.inUse()) &&
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
    auto runPass = [&] { return plan.driver ? plan.driver(ex) : runHeadless(ex, plan.stop, onStep); };
    if (plan.writeBack()) {
        result.finished = runWriteBack(ex, rows, plan, runPass, result.rows);
    } else {
        result.finished = runPass();
        for (size_t k = 0; k < plan.picked.size(); ++k) {
            RowReport rr = reportRow(rows, plan, k);
            if (rr.outcome == Outcome::ReadError && ex.controller.crcFailed(plan.picked[k]))
                rr.message = texts::CrcError;
            result.rows.push_back(std::move(rr));
        }
    }

    bool anyFailed = false;
    bool allUnanswered = true;
    for (const RowReport& rr : result.rows) {
        anyFailed = anyFailed || rowFailed(rr, plan.compare);
        allUnanswered = allUnanswered && Unanswered(rr.outcome);
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
