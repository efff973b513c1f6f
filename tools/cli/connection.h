#pragma once

// The connection of a command line run: checking it, naming it, and the
// changes the options make to the settings record.

#include "connectionsettings.h"
#include "portnaming.h"

#include <QString>

#include <cstdint>

namespace parvault::cli {

QString dottedIp(uint32_t ip);

// Makes COM`port` the chosen port, adding it to the port table if needed;
// false (and why) when the table is full.
bool choosePort(ConnectionSettings& s, int port, QString* why);

// The speed table position of a baud rate the options accepted.
int32_t speedIndexOf(int baud);

// False, with the option that mends it, when the settings cannot reach a device.
bool checkConnection(const ConnectionSettings& s, QString* why);

// "host:4001", "[::1]:4001".
QString serverText(const DeviceServer& server);

// "udp 10.0.0.5:4001", "rfc2217 host:4001 at 9600 baud" or "COM7 (/dev/ttyUSB0) at 9600 baud, optical port".
QString connectionText(const ConnectionSettings& s, const PortNaming& ports);

} // namespace parvault::cli
