#pragma once

// The command line of parvault2-cli, parsed into plain values. Parsing only
// checks the shape of each option; what the values mean for the loaded list
// and the connection is decided later, where the list and settings are known.

#include "settingslimits.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace parvault::cli {

enum class Command { None, Help, Version, Tree, Read, Write, Save, Settings, Convert };
enum class Format { Text, Csv, Json };

// Exit statuses.
inline constexpr int kExitOk = 0;          // every row succeeded
inline constexpr int kExitRowsFailed = 1;  // some row failed
inline constexpr int kExitError = 2;       // usage, connection, database or file error

// Devices of a --targets run exchanged at the same time, by default and at most.
inline constexpr int kDefaultJobs = 4;
inline constexpr int kMaxJobs = 64;
inline constexpr int kMaxGapMs = 10000;

// A serial device server as the command line names it.
struct ServerTarget {
    QString host;
    uint16_t port = 0;
    bool rfc2217 = false; // Telnet with the COM port option; raw TCP otherwise
};

// Connection overrides; each one unset keeps the settings file's value.
struct ConnectionOverrides {
    std::optional<ServerTarget> server; // --tcp or --rfc2217
    std::optional<uint32_t> udpHostIp; // host order, first octet most significant
    std::optional<uint16_t> udpPort;
    std::optional<int> comPort;        // N of COMN
    std::optional<int> baud;
    std::optional<bool> optical;
    std::optional<std::pair<int, int>> address; // own, device
    bool noAddress = false;
    std::optional<int> waitSeconds;
    std::optional<QString> portLinkFolder;
};

struct SetValue {
    QString selector; // as typed before '='
    QString value;
};

struct CliOptions {
    Command command = Command::None;
    QString list;                   // LIST of read, write and save
    std::optional<QString> rows;    // --rows ROWS
    std::vector<SetValue> sets;     // --set ROW=VALUE, in order
    bool save = false;
    std::optional<QString> exportPath;
    bool saveSettings = false;
    std::optional<QString> listName; // save --name NAME
    std::optional<QString> saveAs;   // read --save-as NAME
    bool compare = false;            // read --compare
    bool onlyDiffering = false;      // write --only-differing
    bool verify = false;             // write --verify
    std::optional<QString> targetsPath; // --targets FILE
    int jobs = kDefaultJobs;
    bool jobsGiven = false;
    Format format = Format::Text;
    bool quiet = false;
    std::optional<QString> workDir;
    std::optional<QString> trace;   // --trace FILE, "-" for standard error
    bool fastPace = false;          // --pace fast
    std::optional<int> gapMs;       // --gap MS
    ConnectionOverrides connection;
};

struct ParseResult {
    CliOptions options;
    QString error; // empty when the command line is sound
    bool ok() const { return error.isEmpty(); }
};

// args without the program name.
ParseResult ParseArgs(const QStringList& args);

QString UsageText();

// "HOST:PORT" with HOST a dotted IPv4 address or a name that resolves to one.
bool ParseUdpTarget(const QString& text, uint32_t& ip, uint16_t& port, QString* why);
// "HOST:PORT" of a device server, HOST a name or an address ([...] for IPv6).
// The name is looked up only when the connection is made, so that a name
// not found is reported as the connection's failure.
bool ParseServerTarget(const QString& text, QString& host, uint16_t& port, QString* why);
// A decimal number without a sign of its own making ("+5" is refused).
bool ParseDecimal(const QString& text, int& value);
// "COM7", "com7" or "7".
std::optional<int> ParseComPort(const QString& text);

} // namespace parvault::cli
