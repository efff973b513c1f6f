#include "targetrun.h"

#include "connection.h"
#include "listexport.h"
#include "outputfile.h"
#include "requests.h"
#include "targets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <map>
#include <mutex>

namespace parvault::cli {

namespace {

using Say = std::function<void(const QString&)>;

std::optional<std::vector<DeviceJob>> prepareJobs(const TargetRunSetup& setup, const MemoryRowTable& rows,
                                                  const ExchangePlan& plan, const Say& say) {
    QString why;
    const auto targets = loadTargets(setup.targetsPath, &why);
    if (!targets) {
        say(why.replace(setup.targetsPath, setup.targetsShown));
        return std::nullopt;
    }
    std::vector<DeviceJob> jobs;
    for (const DeviceTarget& t : *targets) {
        DeviceJob job;
        job.name = t.name;
        job.settings = setup.base;
        ConnectionSettings& s = job.settings;
        auto bad = [&](const QString& what) {
            say(QStringLiteral("%1: device %2 (line %3): %4").arg(setup.targetsShown, t.name).arg(t.line).arg(what));
            return std::nullopt;
        };
        if (t.server) {
            s.deviceServer.mode = t.server->rfc2217 ? DeviceServer::Mode::Rfc2217 : DeviceServer::Mode::Raw;
            s.deviceServer.host = t.server->host.toStdString();
            s.deviceServer.port = t.server->port;
            // One server port carries one line: raw and RFC 2217 to it take turns too.
            job.lineKey = QStringLiteral("server %1").arg(serverText(s.deviceServer).toLower());
        } else if (t.udp) {
            s.deviceServer.mode = DeviceServer::Mode::None;
            s.useIp = 1;
            s.deviceIp = t.ip;
            s.udpPort = t.port;
            job.lineKey = QStringLiteral("udp %1:%2").arg(t.ip).arg(t.port);
        } else {
            if (!choosePort(s, t.comPort, &why))
                return bad(why);
            // Two port numbers may name one device; the device is the line.
            job.lineKey = QStringLiteral("COM%1").arg(t.comPort);
            if (const auto path = portDevicePath(t.comPort, plan.ports)) {
                std::error_code ec;
                const auto real = std::filesystem::weakly_canonical(*path, ec);
                job.lineKey = QString::fromStdString((ec ? *path : real).string());
            }
        }
        if (t.baud)
            s.speedIndex = speedIndexOf(*t.baud);
        if (t.deviceAddress) {
            s.useAddress = 1;
            s.deviceAddress = *t.deviceAddress;
        }
        if (t.optical)
            s.useOptoport = *t.optical ? 1 : 0;
        if (!checkConnection(s, &why))
            return bad(why);
        if (plan.write)
            for (int r : plan.picked)
                if (layoutWriteRequest(rows.row(r), r, busAddressFrom(s)).status != WriteRequest::Ok)
                    return bad(QStringLiteral("row %1: the value is too long for a write request").arg(r + 1));
        job.route = connectionText(s, plan.ports);
        job.rows = rows;
        jobs.push_back(std::move(job));
    }
    return jobs;
}

QString exportPathOf(const TargetRunSetup& setup, const QString& device) {
    return QDir(*setup.exportFolder).filePath(DefaultExportName(device));
}

bool exportDeviceTable(const TargetRunSetup& setup, const DeviceJob& job, QString* why) {
    const QString path = exportPathOf(setup, job.name);
    QByteArray text = ExportTitleLine(setup.list.title, setup.list.fileName);
    text += ExportColumnLine();
    for (int i = 0; i < job.rows.rowCount(); ++i)
        text += ExportRowLine(job.rows.row(i));
    QString problem;
    if (!WriteOutputFile(path, text, &problem)) {
        *why = QStringLiteral("the table was not written: %1%2")
                   .arg(problem, QFileInfo(path).isFile() ? QStringLiteral("; the older table is kept whole") : QString());
        return false;
    }
    return true;
}

// A name that cannot be a file name of its own once ".txt" is added.
bool nameMakesNoFile(const QString& name) {
    return name.trimmed().isEmpty() || name.count(QLatin1Char('.')) == name.size();
}

} // namespace

int runTargets(const TargetRunSetup& setup, const MemoryRowTable& rows, const ExchangePlan& plan,
               CliEnvironment& env) {
    const Say say = [&env](const QString& text) {
        env.err << kProgramName << ": " << text.toStdString() << '\n';
    };
    auto fail = [&](const QString& text) {
        say(text);
        return kExitError;
    };
    auto jobs = prepareJobs(setup, rows, plan, say);
    if (!jobs)
        return kExitError;
    if (setup.exportFolder) {
        // Every name is checked before the folder is made: a refused run
        // leaves nothing behind.
        std::map<QString, QString> owner;
        for (const DeviceJob& job : *jobs) {
            if (nameMakesNoFile(job.name))
                return fail(QStringLiteral("--export: the device name \"%1\" makes no file name; rename it in %2")
                                .arg(job.name, setup.targetsShown));
            if (const QString refused =
                    WhyNotAnOutputFile(exportPathOf(setup, job.name), setup.workingFolder, setup.listFiles);
                !refused.isEmpty())
                return fail(QStringLiteral("--export: %1").arg(refused));
            const QString file = DefaultExportName(job.name);
            const auto [at, fresh] = owner.emplace(file.toCaseFolded(), job.name);
            if (!fresh)
                return fail(QStringLiteral("--export: devices \"%1\" and \"%2\" would both be written to %3; "
                                           "rename one in %4")
                                .arg(at->second, job.name, file, setup.targetsShown));
        }
        if (!QDir().mkpath(*setup.exportFolder))
            return fail(QStringLiteral("--export: the folder %1 cannot be made").arg(*setup.exportFolder));
    }

    const bool progress = setup.progressLine;
    std::mutex errMutex;
    size_t done = 0;
    runDeviceJobs(*jobs, setup.jobs, plan, [&](const DeviceJob&) {
        if (!progress)
            return;
        std::lock_guard lock(errMutex);
        env.err << "\r\x1b[K" << "devices done: " << ++done << " of " << jobs->size() << std::flush;
    });
    if (progress)
        env.err << "\r\x1b[K" << std::flush;

    DevicesReport report;
    report.command = plan.write ? QStringLiteral("write") : QStringLiteral("read");
    report.list = setup.list;
    report.compare = plan.compare;
    report.writeBack = plan.writeBack();
    for (const DeviceJob& job : *jobs) {
        DeviceReport d;
        d.name = job.name;
        d.route = job.route;
        d.rows = job.result.rows;
        d.exitStatus = job.result.status;
        d.problems = job.result.problems;
        QString why;
        if (setup.exportFolder && d.exitStatus != kExitError && !exportDeviceTable(setup, job, &why)) {
            d.problems << why;
            d.exitStatus = kExitError;
        }
        for (const QString& problem : d.problems)
            say(QStringLiteral("%1: %2").arg(job.name, problem));
        report.exitStatus = std::max(report.exitStatus, d.exitStatus);
        report.devices.push_back(std::move(d));
    }
    const QByteArray out = FormatDevicesReport(report, setup.format);
    env.out.write(out.constData(), out.size());
    env.out.flush();
    return report.exitStatus;
}

} // namespace parvault::cli
