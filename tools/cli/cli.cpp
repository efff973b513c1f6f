#include "cli.h"

#include "cliargs.h"
#include "connection.h"
#include "convert.h"
#include "dbsession.h"
#include "devicerun.h"
#include "listsave.h"
#include "outputfile.h"
#include "recordsets.h"
#include "report.h"
#include "requests.h"
#include "rowselect.h"
#include "targetrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

namespace parvault::cli {

namespace {

const char* const kProgram = kProgramName;

// Puts the current directory back however the command ends.
class CwdGuard {
public:
    CwdGuard() : saved_(QDir::currentPath()) {}
    ~CwdGuard() { QDir::setCurrent(saved_); }
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;

private:
    QString saved_;
};

struct ListTarget {
    int32_t itemData = 0;
    ListInfo info;
};

class Cli {
public:
    Cli(CliOptions options, CliEnvironment& env) : o_(std::move(options)), env_(env) {}

    int run();

private:
    int fail(const QString& text) {
        say(text);
        return kExitError;
    }
    void say(const QString& text) { env_.err << kProgram << ": " << text.toStdString() << '\n'; }
    void print(const QByteArray& bytes) {
        env_.out.write(bytes.constData(), bytes.size());
        env_.out.flush();
    }

    bool openDatabase(DbSession& db);
    std::optional<ListTarget> resolveList(const DbSession& db, QString* why) const;
    ListInfo listInfo(const DbSession& db, int32_t itemData, const QString& typeName) const;
    bool prepareSettings(QString* why);
    PortNaming portNaming() const;

    int commandTree();
    int commandSettings();
    int commandSave();
    int commandExchange(bool write);
    std::optional<ListTarget> loadList(DbSession& db, HeadlessDbUi& ui, const MemoryRowTable& rows);
    std::optional<std::vector<int>> pickRows(const RowTable& rows, bool write);
    bool applySets(RowTable& rows, std::vector<int>& picked, std::set<int>& setRows, QString* why);
    void saveSettingsIfAsked();

    CliOptions o_;
    CliEnvironment& env_;
    ConnectionSettings settings_;
    QString targetsTyped_;
};

PortNaming Cli::portNaming() const {
    if (o_.connection.portLinkFolder)
        return PortNaming{o_.connection.portLinkFolder->toStdString(), "/dev"};
    return defaultPortNaming();
}

int Cli::run() {
    switch (o_.command) {
    case Command::Help:
        print(UsageText().toUtf8());
        return kExitOk;
    case Command::Version:
        print(QByteArray(kProgram) + " " + QByteArray(PARVAULT_VERSION) + "\n");
        return kExitOk;
    default:
        break;
    }

    // Paths given on the command line are the caller's, not the work folder's.
    if (o_.exportPath)
        o_.exportPath = QFileInfo(*o_.exportPath).absoluteFilePath();
    if (o_.targetsPath) {
        targetsTyped_ = *o_.targetsPath; // messages name the file as the user did
        o_.targetsPath = QFileInfo(*o_.targetsPath).absoluteFilePath();
    }
    if (o_.trace && *o_.trace != QLatin1String("-"))
        o_.trace = QFileInfo(*o_.trace).absoluteFilePath();
    if (o_.connection.portLinkFolder)
        o_.connection.portLinkFolder = QFileInfo(*o_.connection.portLinkFolder).absoluteFilePath();

    CwdGuard cwd;
    if (o_.workDir && !QDir::setCurrent(*o_.workDir))
        return fail(QStringLiteral("cannot work in %1: no such folder").arg(*o_.workDir));

    switch (o_.command) {
    case Command::Tree:
        return commandTree();
    case Command::Settings:
        return commandSettings();
    case Command::Save:
        return commandSave();
    case Command::Convert:
        return RunConvert(env_.out);
    case Command::Read:
        return commandExchange(false);
    case Command::Write:
        return commandExchange(true);
    default:
        return kExitError;
    }
}

bool Cli::openDatabase(DbSession& db) {
    const QString mainDb = QString::fromLatin1(kMainDatabaseName);
    if (!DbSession::MainDatabaseExists()) {
        say(QStringLiteral("%1 not found in %2").arg(mainDb, QDir::currentPath()));
        return false;
    }
    if (!db.OpenMainDatabase()) {
        QString why;
        if (!db.mainDatabaseMissing().isEmpty())
            why = QStringLiteral(": it has no table %1, so it is not a main database")
                      .arg(db.mainDatabaseMissing().join(QStringLiteral(", no table ")));
        else if (const QString problem = db.MainDatabaseProblemText(); !problem.isEmpty())
            why = QStringLiteral(": ") + problem;
        say(QStringLiteral("%1 in %2 cannot be opened%3").arg(mainDb, QDir::currentPath(), why));
        return false;
    }
    db.BuildTree();
    return true;
}

ListInfo Cli::listInfo(const DbSession& db, int32_t itemData, const QString& typeName) const {
    ListInfo info;
    info.typeCode = TypeCodeOf(itemData);
    info.listNumber = ListNumberOf(itemData);
    info.typeName = typeName;
    if (info.listNumber == 0) {
        info.title = typeName;
        info.fileName = QString::fromLatin1(kMainDatabaseName);
    } else if (const ListFileEntry* e = db.listFileTable.entry(info.listNumber)) {
        info.title = e->listName;
        info.fileName = e->fileName;
    }
    return info;
}

std::optional<ListTarget> Cli::resolveList(const DbSession& db, QString* why) const {
    const QString& wanted = o_.list;
    struct Candidate {
        int32_t data;
        QString typeName;
        bool isType;
    };
    std::vector<Candidate> types, lists;
    for (const TreeNode& group : db.tree().children) {
        types.push_back({group.data, group.text, true});
        for (const TreeNode& list : group.children)
            lists.push_back({list.data, group.text, false});
    }
    auto found = [&](const Candidate& c) {
        return ListTarget{c.data, listInfo(db, c.data, c.typeName)};
    };
    auto entryOf = [&](const Candidate& c) { return db.listFileTable.entry(ListNumberOf(c.data)); };
    auto label = [&](const Candidate& c) {
        if (c.isType)
            return QStringLiteral("device type type:%1 \"%2\"").arg(c.data).arg(EscapeControls(c.typeName));
        const ListFileEntry* e = entryOf(c);
        return QStringLiteral("list #%1 \"%2\" (%3)")
            .arg(ListNumberOf(c.data))
            .arg(EscapeControls(e ? e->listName : QString()), e ? e->fileName : QString());
    };
    // Lists (and types) whose name is `name`: exact spelling first.
    auto named = [&](const QString& name, bool withTypes) {
        std::vector<const Candidate*> hits;
        for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
            for (const Candidate& c : lists)
                if (entryOf(c) && entryOf(c)->listName.compare(name, cs) == 0)
                    hits.push_back(&c);
            if (withTypes)
                for (const Candidate& c : types)
                    if (c.typeName.compare(name, cs) == 0)
                        hits.push_back(&c);
            if (!hits.empty())
                break;
        }
        return hits;
    };
    auto byNumber = [&](const QString& text) -> const Candidate* {
        bool ok = false;
        const int number = text.toInt(&ok);
        for (const Candidate& c : lists)
            if (ok && ListNumberOf(c.data) == number)
                return &c;
        return nullptr;
    };
    auto oneOf = [&](const std::vector<const Candidate*>& hits) -> std::optional<ListTarget> {
        if (hits.size() == 1)
            return found(*hits.front());
        QStringList labels;
        for (const Candidate* c : hits)
            labels << label(*c);
        *why = QStringLiteral("\"%1\" fits more than one list: %2; give #N for a list by its number or "
                              "list:NAME for a list by its name")
                   .arg(EscapeControls(wanted), labels.join(QStringLiteral(", ")));
        return std::nullopt;
    };

    // The explicit forms read the text one way only.
    if (wanted.startsWith(QLatin1Char('#'))) {
        if (const Candidate* c = byNumber(wanted.mid(1)))
            return found(*c);
        *why = QStringLiteral("no saved list number %1 (see the tree command)").arg(wanted.mid(1));
        return std::nullopt;
    }
    if (wanted.startsWith(QLatin1String("list:"), Qt::CaseInsensitive)) {
        const auto hits = named(wanted.mid(5), false);
        if (hits.empty()) {
            *why = QStringLiteral("no saved list named \"%1\" (see the tree command)").arg(EscapeControls(wanted.mid(5)));
            return std::nullopt;
        }
        return oneOf(hits);
    }

    // Otherwise every reading that fits is a candidate: a list named "1" and
    // list number 1 are two lists, and so are a list named "type:20" and the
    // device type.
    std::vector<const Candidate*> hits;
    auto add = [&](const Candidate* c) {
        if (c && std::find(hits.begin(), hits.end(), c) == hits.end())
            hits.push_back(c);
    };
    QString notFound;
    bool isNumber = false;
    wanted.toInt(&isNumber);
    if (wanted.startsWith(QLatin1String("type:"), Qt::CaseInsensitive)) {
        bool ok = false;
        const int code = wanted.mid(5).toInt(&ok);
        for (const Candidate& c : types)
            if (ok && c.data == code)
                add(&c);
        notFound = QStringLiteral("no device type %1 in the tree of %2 (see the tree command)")
                       .arg(wanted.mid(5), QString::fromLatin1(kMainDatabaseName));
    } else if (isNumber) {
        add(byNumber(wanted));
        notFound = QStringLiteral("no saved list number %1 (see the tree command)").arg(wanted);
    } else if (wanted.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive)) {
        for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
            for (const Candidate& c : lists)
                if (entryOf(c) && entryOf(c)->fileName.compare(wanted, cs) == 0 && hits.empty())
                    add(&c);
        }
        notFound = QStringLiteral("no saved list in the file %1 (see the tree command)").arg(wanted);
    } else {
        notFound = QStringLiteral("no device type or saved list named \"%1\" (see the tree command)")
                       .arg(EscapeControls(wanted));
    }
    for (const Candidate* c : named(wanted, true))
        add(c);
    if (hits.empty()) {
        *why = notFound;
        return std::nullopt;
    }
    return oneOf(hits);
}

bool Cli::prepareSettings(QString* why) {
    // The window's start defaults, then the file over them, then the options.
    settings_.waitSeconds = 1;
    settings_.portIndex = -1;
    LoadSettings(settings_, kSettingsFileName);
    LoadRouteSettings(settings_, kRouteFileName);

    const ConnectionOverrides& c = o_.connection;
    if (c.server) {
        settings_.deviceServer.mode = c.server->rfc2217 ? DeviceServer::Mode::Rfc2217 : DeviceServer::Mode::Raw;
        settings_.deviceServer.host = c.server->host.toStdString();
        settings_.deviceServer.port = c.server->port;
    }
    if (c.udpHostIp) {
        settings_.deviceServer.mode = DeviceServer::Mode::None;
        settings_.useIp = 1;
        settings_.deviceIp = *c.udpHostIp;
        settings_.udpPort = *c.udpPort;
    }
    if (c.comPort && !choosePort(settings_, *c.comPort, why))
        return false;
    if (c.baud)
        settings_.speedIndex = speedIndexOf(*c.baud);
    if (c.optical)
        settings_.useOptoport = *c.optical ? 1 : 0;
    if (c.address) {
        settings_.useAddress = 1;
        settings_.ownAddress = c.address->first;
        settings_.deviceAddress = c.address->second;
    }
    if (c.noAddress)
        settings_.useAddress = 0;
    if (c.waitSeconds)
        settings_.waitSeconds = *c.waitSeconds;
    return true;
}

void Cli::saveSettingsIfAsked() {
    if (o_.saveSettings && !SaveSettings(settings_, kSettingsFileName))
        say(QStringLiteral("%1 could not be written").arg(QString::fromLatin1(kSettingsFileName)));
    if (o_.saveSettings && !SaveRouteSettings(settings_, kRouteFileName))
        say(QStringLiteral("%1 could not be written").arg(QString::fromLatin1(kRouteFileName)));
}

// ---------------------------------------------------------------- tree

int Cli::commandTree() {
    HeadlessDbUi ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    if (!openDatabase(db))
        return kExitError;
    const TreeNode& root = db.tree();
    auto fileOf = [&](const TreeNode& list) {
        const ListFileEntry* e = db.listFileTable.entry(ListNumberOf(list.data));
        return e ? e->fileName : QString();
    };
    QString out;
    switch (o_.format) {
    case Format::Text:
        out = root.text + QLatin1Char('\n');
        for (const TreeNode& group : root.children) {
            out += QStringLiteral("  %1 %2\n")
                       .arg(QStringLiteral("type:%1").arg(group.data), -8)
                       .arg(EscapeControls(group.text));
            for (const TreeNode& list : group.children)
                out += QStringLiteral("    %1  %2  (%3)\n")
                           .arg(ListNumberOf(list.data), 3)
                           .arg(EscapeControls(list.text), fileOf(list));
        }
        break;
    case Format::Csv:
        out = QStringLiteral("type,type_name,list,list_name,file\n");
        for (const TreeNode& group : root.children) {
            out += QStringLiteral("%1,%2,,,\n").arg(group.data).arg(CsvField(group.text));
            for (const TreeNode& list : group.children)
                out += QStringLiteral("%1,%2,%3,%4,%5\n")
                           .arg(group.data)
                           .arg(CsvField(group.text))
                           .arg(ListNumberOf(list.data))
                           .arg(CsvField(list.text), CsvField(fileOf(list)));
        }
        break;
    case Format::Json: {
        QJsonArray types;
        for (const TreeNode& group : root.children) {
            QJsonArray lists;
            for (const TreeNode& list : group.children) {
                QJsonObject l;
                l["number"] = ListNumberOf(list.data);
                l["name"] = list.text;
                l["file"] = fileOf(list);
                lists.append(l);
            }
            QJsonObject t;
            t["code"] = group.data;
            t["name"] = group.text;
            t["lists"] = lists;
            types.append(t);
        }
        QJsonObject doc;
        doc["types"] = types;
        out = QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented));
        break;
    }
    }
    print(out.toUtf8());
    // Files left out of the tree, and why: the window tells the same once.
    for (const QString& n : ui.notices)
        say(n);
    return kExitOk;
}

// ---------------------------------------------------------------- settings

int Cli::commandSettings() {
    QString why;
    if (!prepareSettings(&why))
        return fail(why);
    const ConnectionSettings& s = settings_;
    const bool usable = checkConnection(s, &why);
    QString out;
    if (o_.format == Format::Json) {
        QJsonObject doc;
        doc["connection"] = s.deviceServer.mode == DeviceServer::Mode::Raw       ? QStringLiteral("tcp")
                            : s.deviceServer.mode == DeviceServer::Mode::Rfc2217 ? QStringLiteral("rfc2217")
                            : s.useIp == 1                                      ? QStringLiteral("udp")
                                                                                : QStringLiteral("serial");
        doc["server"] = s.deviceServer.inUse() ? serverText(s.deviceServer) : QString();
        doc["udpHost"] = dottedIp(s.deviceIp);
        doc["udpPort"] = s.udpPortNumber();
        doc["port"] = s.chosenPortNumber() ? QStringLiteral("COM%1").arg(*s.chosenPortNumber()) : QString();
        doc["baud"] = s.baudRate() ? *s.baudRate() : 0;
        doc["optical"] = s.useOptoport == 1;
        doc["useAddress"] = s.useAddress == 1;
        doc["ownAddress"] = s.ownAddress;
        doc["deviceAddress"] = s.deviceAddress;
        doc["waitSeconds"] = s.waitSeconds;
        doc["usable"] = usable;
        doc["problem"] = usable ? QString() : why;
        out = QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented));
    } else {
        const QString sep = o_.format == Format::Csv ? QStringLiteral(",") : QStringLiteral(": ");
        auto line = [&](const char* key, const QString& value) {
            out += QLatin1String(key) + sep +
                   (o_.format == Format::Csv ? CsvField(value) : value) + QLatin1Char('\n');
        };
        if (o_.format == Format::Csv)
            out = QStringLiteral("item,value\n");
        line("connection", connectionText(s, portNaming()));
        line("address", s.useAddress == 1 ? QStringLiteral("%1:%2").arg(s.ownAddress).arg(s.deviceAddress)
                                          : QStringLiteral("none"));
        line("wait", QStringLiteral("%1 s").arg(s.waitSeconds));
        if (!usable)
            line("problem", why);
    }
    print(out.toUtf8());
    saveSettingsIfAsked();
    return kExitOk;
}

// ---------------------------------------------------------------- read, write

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

std::optional<ListTarget> Cli::loadList(DbSession& db, HeadlessDbUi& ui, const MemoryRowTable& rows) {
    if (!openDatabase(db))
        return std::nullopt;
    QString why;
    const auto target = resolveList(db, &why);
    if (!target) {
        say(why);
        return std::nullopt;
    }
    db.LoadTreeItem(target->itemData);
    if (db.currentTypeCode != target->info.typeCode || db.currentListNumber != target->info.listNumber) {
        say(QStringLiteral("%1 cannot be opened%2")
                .arg(target->info.fileName,
                     ui.messages.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(ui.messages.join("; "))));
        return std::nullopt;
    }
    if (rows.rowCount() == 0) {
        say(QStringLiteral("%1 has no rows").arg(o_.list));
        return std::nullopt;
    }
    return target;
}

std::optional<std::vector<int>> Cli::pickRows(const RowTable& rows, bool allByDefault) {
    std::vector<int> picked;
    if (o_.rows) {
        QString why;
        const auto selectors = ParseRowSpec(*o_.rows, &why);
        const auto hit = selectors ? MatchRows(rows, *selectors, &why) : std::nullopt;
        if (!hit) {
            say(QStringLiteral("--rows: %1").arg(why));
            return std::nullopt;
        }
        picked = *hit;
    } else if (allByDefault) {
        for (int r = 0; r < rows.rowCount(); ++r)
            picked.push_back(r);
    }
    return picked;
}

// ---------------------------------------------------------------- save

int Cli::commandSave() {
    HeadlessDbUi ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    if (!loadList(db, ui, rows))
        return kExitError;
    const auto picked = pickRows(rows, true);
    if (!picked)
        return kExitError;
    QString why;
    const auto saved = saveAsNewList(db, ui, rows, *picked, *o_.listName, nullptr, &why);
    if (!saved)
        return fail(QStringLiteral("the list was not saved: %1").arg(why));
    print(formatSavedList(*saved, o_.format));
    return kExitOk;
}

// ---------------------------------------------------------------- read, write

int Cli::commandExchange(bool write) {
    HeadlessDbUi ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    const auto target = loadList(db, ui, rows);
    if (!target)
        return kExitError;
    if (o_.save && target->info.listNumber == 0)
        return fail(QStringLiteral("--save and --export need a saved list; %1 is the template rows of a "
                                   "device type")
                        .arg(o_.list));
    // Neither the trace nor the table may take the place of one of the
    // program's own databases.
    for (const auto& [option, path] : {std::pair{"--trace", o_.trace}, std::pair{"--export", o_.exportPath}}) {
        if (!path || *path == QLatin1String("-") || (o_.targetsPath && path == o_.exportPath))
            continue;
        if (const QString refused = WhyNotAnOutputFile(*path, QDir::currentPath(), db.ListFileNames());
            !refused.isEmpty())
            return fail(QStringLiteral("%1: %2").arg(QLatin1String(option), refused));
    }
    if (o_.onlyDiffering && target->info.listNumber == 0)
        return fail(QStringLiteral("--only-differing needs a saved list; %1 is the template rows of a device "
                                   "type, which hold no values")
                        .arg(o_.list));
    if (o_.compare && target->info.listNumber == 0)
        return fail(QStringLiteral("--compare needs a saved list; %1 is the template rows of a device type, "
                                   "which hold no values")
                        .arg(o_.list));

    // The rows to exchange.
    auto pickedRows = pickRows(rows, !write || o_.onlyDiffering);
    if (!pickedRows)
        return kExitError;
    std::vector<int>& picked = *pickedRows;
    // The values the list holds, before --set or the device change the column.
    std::vector<QString> storedValues;
    for (int r = 0; r < rows.rowCount(); ++r)
        storedValues.push_back(rows.text(r, ColValue));
    QString why;
    if (write) {
        std::set<int> setRows;
        if (!applySets(rows, picked, setRows, &why))
            return fail(why);
        // Rows taken with the values the list holds must have one: a blank
        // template row written as it stands would blank the device's value.
        // With --only-differing such a row is reported, not written.
        for (int r : picked)
            if (!o_.onlyDiffering && !setRows.count(r) && rows.text(r, ColValue).isEmpty())
                return fail(QStringLiteral("row %1 (%2:%3:%4) has no value to write; give it with --set")
                                .arg(r + 1)
                                .arg(leadingInt(rows.text(r, ColCanal)))
                                .arg(leadingInt(rows.text(r, ColParam)))
                                .arg(leadingInt(rows.text(r, ColIndex))));
    }

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

    if (!prepareSettings(&why))
        return fail(why);
    if (o_.targetsPath) {
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
        setup.list = target->info;
        return runTargets(setup, rows, plan, env_);
    }
    if (!checkConnection(settings_, &why))
        return fail(why);
    if (write) {
        // A value the write frame cannot carry is refused before anything is sent.
        for (int r : picked)
            if (layoutWriteRequest(rows.row(r), r, busAddressFrom(settings_)).status != WriteRequest::Ok)
                return fail(QStringLiteral("row %1: the value is too long for a write request").arg(r + 1));
    }
    plan.reopenDatabase = [&db] { db.ReopenCurrentDatabase(); };

    // The trace: the same lines as the window's exchange log, written as
    // the exchange goes.
    // A trace file is written beside and renamed over at the end, so that a
    // failed trace leaves an older one whole.
    std::optional<OutputFile> traceFile;
    QString traceProblem;
    std::optional<ExchangeLog> log;
    if (o_.trace) {
        if (*o_.trace != QLatin1String("-")) {
            traceFile.emplace(*o_.trace);
            if (!traceFile->open(&why))
                return fail(QStringLiteral("cannot write the trace to %1").arg(why));
        }
        if (!env_.log)
            log.emplace();
    }
    ExchangeLog* recordInto = o_.trace ? (env_.log ? env_.log : &*log) : nullptr;
    std::optional<TraceReader> traceReader;
    if (recordInto)
        traceReader.emplace(*recordInto);
    auto writeTrace = [&] {
        if (!traceReader)
            return;
        for (const QString& line : traceReader->newLines()) {
            if (!traceFile) {
                env_.err << line.toUtf8().constData() << '\n';
            } else if (traceProblem.isEmpty()) {
                traceFile->write(line.toUtf8() + '\n', &traceProblem);
            }
        }
    };
    const bool traceOnErr = o_.trace && !traceFile;

    plan.log = recordInto;

    // A trace on standard error takes the place of the progress line there.
    const bool progress = env_.progressLine && !o_.quiet && !traceOnErr;
    std::string shown;
    if (progress || o_.trace)
        plan.onStep = [&](const HeadlessDisplay& display) {
            writeTrace();
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
    writeTrace();
    if (traceOnErr)
        env_.err.flush();
    if (traceFile && traceProblem.isEmpty())
        traceFile->commit(&traceProblem);
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
    report.command = write ? QStringLiteral("write") : QStringLiteral("read");
    report.list = target->info;
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
    auto errorRow = [&](const RowReport& row) {
        return QStringLiteral("row %1 (%2:%3:%4): the device answered \"%5\"")
            .arg(row.listIndex + 1)
            .arg(leadingInt(row.row.texts[ColCanal]))
            .arg(leadingInt(row.row.texts[ColParam]))
            .arg(leadingInt(row.row.texts[ColIndex]))
            .arg(EscapeControls(row.message));
    };
    for (const RowReport& row : report.rows)
        if (row.outcome == Outcome::ReadError || row.outcome == Outcome::Refused)
            errorRows.insert(row.listIndex);

    // Files are only touched after an exchange that did its job.
    if (o_.save && status != kExitError) {
        for (const RowReport& row : report.rows) {
            if (!errorRows.count(row.listIndex))
                continue;
            db.keepStoredRows.insert(row.listIndex);
            const QString& stored = storedValues[static_cast<size_t>(row.listIndex)];
            say(errorRow(row) + (stored.isEmpty() ? QStringLiteral("; the list keeps no value for it")
                                                  : QStringLiteral("; the stored value \"%1\" is kept")
                                                        .arg(EscapeControls(stored))));
        }
        ui.exportPath = o_.exportPath;
        db.SaveValues();
        for (const QString& n : ui.notices)
            say(n);
        if (!ui.messages.isEmpty()) {
            if (!db.storeProblem.isEmpty())
                say(QStringLiteral("the values were not stored in %1: %2 (%3)")
                        .arg(target->info.fileName, db.storeProblem, ui.messages.join(QStringLiteral("; "))));
            else if (!db.exportProblem.isEmpty())
                say(QStringLiteral("the values were stored, the table was not written: %1%2 (%3)")
                        .arg(db.exportProblem,
                             QFileInfo(*o_.exportPath).isFile() ? QStringLiteral("; the older table is kept whole")
                                                                : QString(),
                             ui.messages.join(QStringLiteral("; "))));
            else
                for (const QString& m : ui.messages)
                    say(QStringLiteral("saving values failed: %1").arg(m));
            status = kExitError;
        }
    }
    if (o_.saveAs && status != kExitError) {
        std::vector<QString> values;
        for (const RowReport& row : report.rows) {
            const bool error = errorRows.count(row.listIndex) != 0;
            values.push_back(error ? QString() : row.row.texts[ColValue]);
            if (error)
                say(errorRow(row) + QStringLiteral("; no value is stored for it"));
        }
        const auto saved = saveAsNewList(db, ui, rows, picked, *o_.saveAs, &values, &why);
        if (!saved) {
            say(QStringLiteral("the list was not saved: %1").arg(why));
            status = kExitError;
        } else {
            report.savedAs = saved;
            if (o_.format != Format::Json)
                say(QStringLiteral("saved as list %1 \"%2\" (%3)").arg(saved->number).arg(saved->name, saved->fileName));
        }
    }
    report.exitStatus = status;
    print(FormatReport(report, o_.format));
    saveSettingsIfAsked();
    return status;
}

} // namespace

int RunCli(const QStringList& args, CliEnvironment& env) {
    ParseResult parsed = ParseArgs(args);
    if (!parsed.ok()) {
        env.err << kProgram << ": " << parsed.error.toStdString() << '\n'
                << "Try '" << kProgram << " --help'.\n";
        return kExitError;
    }
    Cli cli(std::move(parsed.options), env);
    return cli.run();
}

} // namespace parvault::cli
