#pragma once

// The command line of parvault2-cli, parsed into plain values. Parsing only
// checks the shape of each option; what the values mean for the loaded list
// and the connection is decided later, where the list and settings are known.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace parvault::cli {

enum class Command { None, Help, Version, Tree, Read, Write, Settings, Convert };
enum class Format { Text, Csv, Json };

// Exit statuses.
inline constexpr int kExitOk = 0;          // every row succeeded
inline constexpr int kExitRowsFailed = 1;  // some row failed
inline constexpr int kExitError = 2;       // usage, connection, database or file error

// Answer wait limits of the settings record, in seconds.
inline constexpr int kMinWaitSeconds = 1;
inline constexpr int kMaxWaitSeconds = 31;
inline constexpr int kMaxBusAddress = 31;

// Connection overrides; each one unset keeps the settings file's value.
struct ConnectionOverrides {
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
    QString list;                   // LIST of read and write
    std::optional<QString> rows;    // --rows ROWS
    std::vector<SetValue> sets;     // --set ROW=VALUE, in order
    bool save = false;
    std::optional<QString> exportPath;
    bool saveSettings = false;
    Format format = Format::Text;
    bool quiet = false;
    std::optional<QString> workDir;
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
// "COM7", "com7" or "7".
std::optional<int> ParseComPort(const QString& text);

} // namespace parvault::cli
