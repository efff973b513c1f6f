#pragma once

// The devices of a --targets run: a CSV file, one device a line:
//   name, route[, device address[, optical]]
// route is udp:HOST:PORT, COMn[@BAUD], tcp:HOST:PORT or
// rfc2217:HOST:PORT[@BAUD] (a serial device server). Empty lines and lines starting
// with '#' are skipped, and so is a first line naming the columns.

#include "cliargs.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace parvault::cli {

struct DeviceTarget {
    QString name;
    int line = 0; // in the file, from 1
    bool udp = false;
    uint32_t ip = 0;   // udp: host order
    uint16_t port = 0; // udp
    int comPort = 0;   // serial: N of COMN
    std::optional<ServerTarget> server; // a device server
    std::optional<int> baud;
    std::optional<int> deviceAddress; // unset: the common setting
    std::optional<bool> optical;      // unset: the common setting
};

// Nothing, and a reason naming the line, when a line is malformed, a name
// is empty or given twice, or there is no device at all.
std::optional<std::vector<DeviceTarget>> parseTargets(const QString& text, QString* why);
// The file read as UTF-8; the reason starts with the file name.
std::optional<std::vector<DeviceTarget>> loadTargets(const QString& path, QString* why);

} // namespace parvault::cli
