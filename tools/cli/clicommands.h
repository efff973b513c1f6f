#pragma once

// One run of parvault2-cli: the parsed command line, the environment and the
// connection settings, with one method per command. The methods live in a
// file per command (treecommand.cpp, settingscommand.cpp, savecommand.cpp,
// exchangecommand.cpp); finding and loading the list is listlookup.cpp.
// Internal to the command line.

#include "cli.h"
#include "cliargs.h"
#include "devicerun.h"
#include "report.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <set>
#include <vector>

namespace parvault {
class DbSession;
} // namespace parvault

namespace parvault::cli {

inline constexpr const char* kProgram = kProgramName;

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

    // The database and the list (listlookup.cpp).
    bool openDatabase(DbSession& db);
    std::optional<ListTarget> resolveList(const DbSession& db, QString* why) const;
    std::optional<ListTarget> loadList(DbSession& db, HeadlessDbUi& ui, const MemoryRowTable& rows);
    std::optional<std::vector<int>> pickRows(const RowTable& rows, bool allByDefault);

    // The connection (settingscommand.cpp).
    bool prepareSettings(QString* why);
    PortNaming portNaming() const;
    void saveSettingsIfAsked();

    int commandTree();
    int commandSettings();
    int commandSave();

    // read and write (exchangecommand.cpp), in the order they run.
    int commandExchange(bool write);
    QString refuseForList(const ListTarget& target, const DbSession& db) const;
    std::optional<std::vector<int>> pickExchangeRows(RowTable& rows, bool write);
    bool applySets(RowTable& rows, std::vector<int>& picked, std::set<int>& setRows, QString* why);
    ExchangePlan planExchange(bool write, const RowTable& rows, const std::vector<int>& picked) const;
    int exchangeWithTargets(DbSession& db, const ListTarget& target, MemoryRowTable& rows, ExchangePlan& plan);
    int exchangeWithOneDevice(DbSession& db, HeadlessDbUi& ui, const ListTarget& target, MemoryRowTable& rows,
                              ExchangePlan& plan, const std::vector<QString>& storedValues);
    bool storeValues(DbSession& db, HeadlessDbUi& ui, const ListTarget& target, const ExchangeReport& report,
                    const std::set<int>& errorRows, const std::vector<QString>& storedValues);
    bool saveRowsRead(DbSession& db, HeadlessDbUi& ui, MemoryRowTable& rows, const std::vector<int>& picked,
                     ExchangeReport& report, const std::set<int>& errorRows);

    CliOptions o_;
    CliEnvironment& env_;
    ConnectionSettings settings_;
    QString targetsTyped_;
};

} // namespace parvault::cli
