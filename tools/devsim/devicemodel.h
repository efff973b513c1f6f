#pragma once

// The simulated device: a table of parameters, the bus protocol as the device
// sees it, failure modes, and the optical sign-on of a byte-stream line.
// Deliberately written apart from the program's own protocol code, so that a
// mistake on one side is not mirrored on the other. Users of the simulator
// include this header alone.

#include "devicewire.h"
#include "failuremodes.h"
#include "paramtable.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvault::devsim {

struct DeviceConfig {
    int deviceAddress = 0;     // answered when a request's address block names it
    bool answerAny = false;    // unknown parameters read as "0"; writes create them
    Failure runFailure;        // applies to every row, under the row's own
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
    // A request as the device understood it.
    struct Request;
    // The failure that applies to one request, and the row it names.
    struct Target {
        ParamEntry* entry = nullptr; // none: not in the table
        Failure failure;
        int attempt = 1;             // this request's number for its row
    };

    // The three steps of an answer.
    std::optional<Reply> answer(std::span<const uint8_t> frame, std::string& note);
    std::optional<Request> parseRequest(std::span<const uint8_t> frame, std::string& note) const;
    Target pickFailure(const Request& request);
    Reply buildAnswer(const Request& request, const Target& target);
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

} // namespace parvault::devsim

#include "linepacer.h"
#include "streamdevice.h"
