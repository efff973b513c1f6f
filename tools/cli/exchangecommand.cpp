// The read and write commands: the list's rows picked and set, the exchange
// planned and run (on one device, or on each device of --targets), and the
// results stored, saved and reported.

#include "clicommands.h"
#include "connection.h"
#include "dbsession.h"
#include "exchangetrace.h"
#include "listsave.h"
#include "requests.h"
#include "rowselect.h"
#include "targetrun.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <mutex>

namespace parvault::cli {

namespace {

// A row that ended in an error holds the device's text in its value column.
QString errorRowText(const RowReport& row) {
    return QStringLiteral("row %1 (%2:%3:%4): the device answered \"%5\"")
        .arg(row.listIndex + 1)
        .arg(leadingInt(row.row.texts[ColCanal]))
        .arg(leadingInt(row.row.texts[ColParam]))
        .arg(leadingInt(row.row.texts[ColIndex]))
        .arg(EscapeControls(row.message));
}

} // namespace

int Cli::commandExchange(bool write) {
    HeadlessDbUi ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    const auto target = loadList(db, ui, rows);
    if (!target)
        return kExitError;
    if (const QString refused = refuseForList(*target, db); !refused.isEmpty())
        return fail(refused);

    // The values the list holds, before --set or the device change the column.
    std::vector<QString> storedValues;
    for (int r = 0; r < rows.rowCount(); ++r)
        storedValues.push_back(rows.text(r, ColValue));
    const auto picked = pickExchangeRows(rows, write);
    if (!picked)
        return kExitError;
    ExchangePlan plan = planExchange(write, rows, *picked);

    QString why;
    if (!prepareSettings(&why))
        return fail(why);
    if (o_.targetsPath)
        return exchangeWithTargets(db, *target, rows, plan);
    return exchangeWithOneDevice(db, ui, *target, rows, plan, storedValues);
}

// What the loaded list rules out before any row is looked at.
QString Cli::refuseForList(const ListTarget& target, const DbSession& db) const {
    const bool template_ = target.info.listNumber == 0;
    if (o_.save && template_)
        return QStringLiteral("--save and --export need a saved list; %1 is the template rows of a "
                              "device type")
            .arg(o_.list);
    // Neither the trace nor the table may take the place of one of the
    // program's own databases.
    for (const auto& [option, path] : {std::pair{"--trace", o_.trace}, std::pair{"--export", o_.exportPath}}) {
        if (!path || *path == QLatin1String("-") || (o_.targetsPath && path == o_.exportPath))
            continue;
        if (const QString refused = WhyNotAnOutputFile(*path, QDir::currentPath(), db.ListFileNames());
            !refused.isEmpty())
            return QStringLiteral("%1: %2").arg(QLatin1String(option), refused);
    }
    if (o_.onlyDiffering && template_)
        return QStringLiteral("--only-differing needs a saved list; %1 is the template rows of a device "
                              "type, which hold no values")
            .arg(o_.list);
    if (o_.compare && template_)
        return QStringLiteral("--compare needs a saved list; %1 is the template rows of a device type, "
                              "which hold no values")
            .arg(o_.list);
    return {};
}

// The rows to exchange; for write with the --set values in them.
std::optional<std::vector<int>> Cli::pickExchangeRows(RowTable& rows, bool write) {
    auto picked = pickRows(rows, !write || o_.onlyDiffering);
    if (!picked || !write)
        return picked;
    QString why;
    std::set<int> setRows;
    if (!applySets(rows, *picked, setRows, &why)) {
        say(why);
        return std::nullopt;
    }
    // Rows taken with the values the list holds must have one: a blank
    // template row written as it stands would blank the device's value.
    // With --only-differing such a row is reported, not written.
    for (int r : *picked)
        if (!o_.onlyDiffering && !setRows.count(r) && rows.text(r, ColValue).isEmpty()) {
            say(QStringLiteral("row %1 (%2:%3:%4) has no value to write; give it with --set")
                    .arg(r + 1)
                    .arg(leadingInt(rows.text(r, ColCanal)))
                    .arg(leadingInt(rows.text(r, ColParam)))
                    .arg(leadingInt(rows.text(r, ColIndex))));
            return std::nullopt;
        }
    return picked;
}

bool Cli::applySets(RowTable& rows, std::vector<int>& picked, std::set<int>& setRows, QString* why) {
    std::map<int, QString> values;
    for (const SetValue& set : o_.sets) {
        const auto selectors = ParseRowSpec(set.selector, why);
        if (!selectors) {
            *why = QStringLiteral("--set %1: %2").arg(set.selector, *why);
            return false;
        }
        const auto hit = MatchRows(rows, *selectors, why);
        if (!hit) {
            *why = QStringLiteral("--set: %1").arg(*why);
            return false;
        }
        for (int r : *hit) {
            if (const auto it = values.find(r); it != values.end() && it->second != set.value) {
                *why = QStringLiteral("row %1 is set twice, to \"%2\" and \"%3\"")
                           .arg(r + 1)
                           .arg(it->second, set.value);
                return false;
            }
            values[r] = set.value;
        }
    }
    for (const auto& [r, value] : values) {
        rows.setText(r, ColValue, value);
        picked.push_back(r);
        setRows.insert(r);
    }
    std::sort(picked.begin(), picked.end());
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    return true;
}

ExchangePlan Cli::planExchange(bool write, const RowTable& rows, const std::vector<int>& picked) const {
    ExchangePlan plan;
    plan.write = write;
    plan.compare = o_.compare;
    plan.onlyDiffering = o_.onlyDiffering;
    plan.verify = o_.verify;
    plan.picked = picked;
    for (int r : picked)
        plan.before.push_back(rows.text(r, ColValue));
    plan.ports = portNaming();
    plan.stop = env_.stop;
    plan.driver = env_.driver;
    plan.pacing.fast = o_.fastPace;
    plan.pacing.gapMs = o_.gapMs.value_or(0);
    return plan;
}

int Cli::exchangeWithTargets(DbSession& db, const ListTarget& target, MemoryRowTable& rows, ExchangePlan& plan) {
    // The devices' threads share the one database session.
    std::mutex dbMutex;
    plan.reopenDatabase = [&db, &dbMutex] {
        std::lock_guard lock(dbMutex);
        db.ReopenCurrentDatabase();
    };
    TargetRunSetup setup;
    setup.targetsPath = *o_.targetsPath;
    setup.targetsShown = targetsTyped_;
    setup.exportFolder = o_.exportPath;
    setup.workingFolder = QDir::currentPath();
    setup.listFiles = db.ListFileNames();
    setup.jobs = o_.jobs;
    setup.format = o_.format;
    setup.progressLine = env_.progressLine && !o_.quiet;
    setup.base = settings_;
    setup.list = target.info;
    return runTargets(setup, rows, plan, env_);
}

int Cli::exchangeWithOneDevice(DbSession& db, HeadlessDbUi& ui, const ListTarget& target, MemoryRowTable& rows,
                               ExchangePlan& plan, const std::vector<QString>& storedValues) {
    QString why;
    if (!checkConnection(settings_, &why))
        return fail(why);
    if (plan.write) {
        // A value the write frame cannot carry is refused before anything is sent.
        for (int r : plan.picked)
            if (layoutWriteRequest(rows.row(r), r, busAddressFrom(settings_)).status != WriteRequest::Ok)
                return fail(QStringLiteral("row %1: the value is too long for a write request").arg(r + 1));
    }
    plan.reopenDatabase = [&db] { db.ReopenCurrentDatabase(); };

    ExchangeTrace trace(o_.trace, env_.log, env_.err);
    if (!trace.open(&why))
        return fail(QStringLiteral("cannot write the trace to %1").arg(why));
    plan.log = trace.log();

    // A trace on standard error takes the place of the progress line there.
    const bool progress = env_.progressLine && !o_.quiet && !trace.onStandardError();
    std::string shown;
    if (progress || o_.trace)
        plan.onStep = [&](const HeadlessDisplay& display) {
            trace.writeNew();
            if (!progress)
                return;
            const std::string text = (display.status + display.progressText).toStdString();
            if (text != shown) {
                env_.err << "\r\x1b[K" << text << std::flush;
                shown = text;
            }
        };
    const QString connection = connectionText(settings_, portNaming());
    const DeviceResult result = runDeviceExchange(settings_, rows, connection, plan);
    const QString traceProblem = trace.finish();
    if (!traceProblem.isEmpty())
        say(QStringLiteral("the trace was not written: %1; an older file of that name is kept").arg(traceProblem));
    if (!result.opened) {
        saveSettingsIfAsked();
        return fail(result.problems.join(QStringLiteral("; ")));
    }
    if (progress)
        env_.err << "\r\x1b[K" << std::flush;
    for (const QString& problem : result.problems)
        say(problem);

    ExchangeReport report;
    report.command = plan.write ? QStringLiteral("write") : QStringLiteral("read");
    report.list = target.info;
    report.rows = result.rows;
    report.compare = o_.compare;
    report.writeBack = plan.writeBack();
    int status = result.status;
    if (!traceProblem.isEmpty())
        status = kExitError; // a file that was asked for is missing

    // A row that ended in an error holds the device's text in its value
    // column. Nobody looked at it before a store from the command line, so
    // such a row keeps its stored value, and a new list gets no value for it.
    std::set<int> errorRows;
    for (const RowReport& row : report.rows)
        if (row.outcome == Outcome::ReadError || row.outcome == Outcome::Refused)
            errorRows.insert(row.listIndex);

    // Files are only touched after an exchange that did its job.
    if (o_.save && status != kExitError && !storeValues(db, ui, target, report, errorRows, storedValues))
        status = kExitError;
    if (o_.saveAs && status != kExitError && !saveRowsRead(db, ui, rows, plan.picked, report, errorRows))
        status = kExitError;
    report.exitStatus = status;
    print(FormatReport(report, o_.format));
    saveSettingsIfAsked();
    return status;
}

// --save and --export: the value column into the list file, then the table.
bool Cli::storeValues(DbSession& db, HeadlessDbUi& ui, const ListTarget& target, const ExchangeReport& report,
                      const std::set<int>& errorRows, const std::vector<QString>& storedValues) {
    for (const RowReport& row : report.rows) {
        if (!errorRows.count(row.listIndex))
            continue;
        db.keepStoredRows.insert(row.listIndex);
        const QString& stored = storedValues[static_cast<size_t>(row.listIndex)];
        say(errorRowText(row) + (stored.isEmpty() ? QStringLiteral("; the list keeps no value for it")
                                                  : QStringLiteral("; the stored value \"%1\" is kept")
                                                        .arg(EscapeControls(stored))));
    }
    ui.exportPath = o_.exportPath;
    db.SaveValues();
    for (const QString& n : ui.notices)
        say(n);
    if (ui.messages.isEmpty())
        return true;
    if (!db.storeProblem.isEmpty())
        say(QStringLiteral("the values were not stored in %1: %2 (%3)")
                .arg(target.info.fileName, db.storeProblem, ui.messages.join(QStringLiteral("; "))));
    else if (!db.exportProblem.isEmpty())
        say(QStringLiteral("the values were stored, the table was not written: %1%2 (%3)")
                .arg(db.exportProblem,
                     QFileInfo(*o_.exportPath).isFile() ? QStringLiteral("; the older table is kept whole")
                                                        : QString(),
                     ui.messages.join(QStringLiteral("; "))));
    else
        for (const QString& m : ui.messages)
            say(QStringLiteral("saving values failed: %1").arg(m));
    return false;
}

// read --save-as: the rows read as a new list, with the values read.
bool Cli::saveRowsRead(DbSession& db, HeadlessDbUi& ui, MemoryRowTable& rows, const std::vector<int>& picked,
                       ExchangeReport& report, const std::set<int>& errorRows) {
    std::vector<QString> values;
    for (const RowReport& row : report.rows) {
        const bool error = errorRows.count(row.listIndex) != 0;
        values.push_back(error ? QString() : row.row.texts[ColValue]);
        if (error)
            say(errorRowText(row) + QStringLiteral("; no value is stored for it"));
    }
    QString why;
    const auto saved = saveAsNewList(db, ui, rows, picked, *o_.saveAs, &values, &why);
    if (!saved) {
        say(QStringLiteral("the list was not saved: %1").arg(why));
        return false;
    }
    report.savedAs = saved;
    if (o_.format != Format::Json)
        say(QStringLiteral("saved as list %1 \"%2\" (%3)").arg(saved->number).arg(saved->name, saved->fileName));
    return true;
}

} // namespace parvault::cli
