#pragma once

// The simulated device: a table of parameters, the bus protocol as the device
// sees it, failure modes, and the optical sign-on of a byte-stream line.
// Deliberately written apart from the program's own protocol code, so that a
// mistake on one side is not mirrored on the other.

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvault::devsim {

using Bytes = std::vector<uint8_t>;

// The parameter number of a data block.
inline constexpr int kBlockParam = 65530;

struct ParamKey {
    int channel = 0;
    int param = 0;
    int index = 0;
    auto operator<=>(const ParamKey&) const = default;
};

// How the device misbehaves. Unset fields fall back to the run's settings.
struct Failure {
    std::optional<bool> silent;        // never answers
    std::optional<int> silentFirst;    // ignores the first N requests for a row
    std::optional<QString> errorText;  // answers every request with this error text
    std::optional<bool> badCrc;        // spoils the answer's checksum
    std::optional<int> wrongSequence;  // answers with the sequence number + K
    std::optional<int> pieces;         // sends the answer in N pieces
    std::optional<int> delayMs;        // waits before answering

    // This failure's fields where set, the base's otherwise.
    Failure over(const Failure& base) const;
    bool any() const;
    // Parses one option word: silent, silent=N, error=TEXT, badcrc,
    // wrongseq[=K], pieces=N, delay=MS. Returns false (and says why) otherwise.
    bool parseOption(const QString& word, QString* why);
};

struct ParamEntry {
    QString value;
    QString units;
    bool readOnly = false;
    Failure failure;
};

class ParamTable {
public:
    // Reads the text of a parameter file. With a type, only the lines before
    // any section and those of "[type N]" count. False with a message
    // naming the line on a syntax error.
    bool parse(const QString& text, std::optional<int> type, QString* error);
    bool load(const QString& path, std::optional<int> type, QString* error);

    std::map<ParamKey, ParamEntry>& entries() { return entries_; }
    const std::map<ParamKey, ParamEntry>& entries() const { return entries_; }

private:
    std::map<ParamKey, ParamEntry> entries_;
};

struct DeviceConfig {
    int deviceAddress = 0;     // answered when a request's address block names it
    bool answerAny = false;    // unknown parameters read as "0"; writes create them
    Failure runFailure;        // applies to every row, under the row's own
};

// One answer and how to deliver it.
class DeviceModel;

struct Reply {
    Bytes bytes;
    int delayMs = 0;
    int pieces = 1;
    // The device on the line that answered; unset: the server's own.
    DeviceModel* device = nullptr;
};

struct LoggedFrame {
    std::string channel; // "udp" or "pty"
    bool incoming = true;
    Bytes bytes;
    std::string note;    // why a request was not answered, empty otherwise
};

// Device texts of error answers.
inline const char* const kTextUnknownParam = "Нет такого параметра";
inline const char* const kTextReadOnly = "Параметр только для чтения";
inline const char* const kTextBadRequest = "Неверный запрос";
inline const char* const kTextUnknownFunction = "Неизвестная функция";

uint16_t DeviceCrc(std::span<const uint8_t> bytes);
std::string Hex(std::span<const uint8_t> bytes);
Bytes ToOem(const QString& text);
QString FromOem(std::span<const uint8_t> bytes);

// Thread-safe: the server thread answers while a test inspects or changes it.
class DeviceModel {
public:
    DeviceModel(ParamTable table, DeviceConfig config);

    // One complete request, DLE SOH through the second CRC byte. Nothing when
    // the device stays silent (bad CRC, another device's address, a failure mode).
    std::optional<Reply> handleFrame(std::span<const uint8_t> frame, const std::string& channel);

    void logOutgoing(const std::string& channel, std::span<const uint8_t> bytes);
    void logIncoming(const std::string& channel, std::span<const uint8_t> bytes, const std::string& note);

    std::optional<ParamEntry> entry(const ParamKey& key) const;
    void setEntry(const ParamKey& key, const ParamEntry& entry);
    void setRowFailure(const ParamKey& key, const Failure& failure);
    void setRunFailure(const Failure& failure);
    int requestCount(const ParamKey& key) const;
    std::vector<LoggedFrame> log() const;
    // Requests received (answered or not), optical lines excluded.
    int framesReceived() const;
    void setLogSink(std::function<void(const LoggedFrame&)> sink);

private:
    std::optional<Reply> answer(std::span<const uint8_t> frame, std::string& note);
    void record(LoggedFrame frame);

    mutable std::mutex mutex_;
    ParamTable table_;
    DeviceConfig config_;
    std::map<ParamKey, int> attempts_;
    std::vector<LoggedFrame> log_;
    int framesReceived_ = 0;
    std::function<void(const LoggedFrame&)> sink_;
};

// Hands a request to every device on one line, as a bus does: each hears it,
// the one it is addressed to answers. The first answer is the line's.
std::optional<Reply> answerOnLine(const std::vector<DeviceModel*>& devices, std::span<const uint8_t> frame,
                                  const std::string& channel);

// The device end of a byte-stream line (the pty): cuts request frames out of
// the stream and, in optical mode, runs the sign-on first. Further devices on
// the line (each with its own address) hear the same frames.
class StreamDevice {
public:
    struct Optical {
        bool enabled = false;
        char speedChar = '5'; // character 12 of the identification line
    };
    StreamDevice(DeviceModel& model, Optical optical, std::vector<DeviceModel*> neighbours = {});

    // Bytes the line delivered while it ran at lineBaud. Returns the replies in order.
    std::vector<Reply> feed(std::span<const uint8_t> bytes, int lineBaud);

    // The identification line the device sends, parity bits included.
    Bytes identLine() const;
    // The baud rate frames are expected at: 0 = any (plain mode), -1 = none yet (optical, before the ACK).
    int dataBaud() const;

private:
    void lineByte(uint8_t c, int lineBaud, std::vector<Reply>& out);
    void frameByte(uint8_t b, int lineBaud, std::vector<Reply>& out);

    DeviceModel& model_;
    std::vector<DeviceModel*> lineDevices_; // model_ first, then its neighbours
    Optical optical_;
    int dataBaud_;
    std::string line_;   // the current optical line, 7-bit
    Bytes frame_;        // the current request frame from DLE SOH
    bool inFrame_ = false;
    bool dle_ = false;
    int endBytes_ = -1;  // CRC bytes still to come after DLE ETX; -1 inside the data
};

// Paces bytes on a simulated serial line: ten bit times per byte (8N1), each
// byte available when it has fully arrived. Pure: the caller passes the time.
class LinePacer {
public:
    using Clock = std::chrono::steady_clock;
    // How many of the pending bytes have arrived by now (0 until the first one has).
    size_t allowance(Clock::time_point now, int baud, size_t pending);
    // When the next byte will have arrived; meaningful while active.
    Clock::time_point nextDue() const { return due_; }
    bool active() const { return active_; }
    // The line ran dry: the next byte starts afresh.
    void idle() { active_ = false; }

    static Clock::duration byteTime(int baud);

private:
    bool active_ = false;
    Clock::time_point due_{};
};

} // namespace parvault::devsim
