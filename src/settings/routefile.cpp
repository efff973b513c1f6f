// The route file beside Parvault2.i: the device server's host and port,
// which the fixed 296-byte layout has no room for.

#include "connectionsettings.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace parvault {

namespace {

// A host name is at most 253 characters; anything longer is no host.
constexpr size_t kMaxHostLength = 253;
// The file is a few lines; a larger one is no route file of ours.
constexpr std::streamsize kMaxRouteFileBytes = 4096;

const char* modeName(DeviceServer::Mode mode) {
    switch (mode) {
    case DeviceServer::Mode::Raw:
        return "tcp";
    case DeviceServer::Mode::Rfc2217:
        return "rfc2217";
    case DeviceServer::Mode::None:
        break;
    }
    return "none";
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

} // namespace

std::string SerializeRouteSettings(const DeviceServer& server) {
    std::ostringstream out;
    out << "# Parvault 2: the route to a serial device server (Parvault2.i keeps everything else)\n";
    out << "route=" << modeName(server.mode) << '\n';
    out << "host=" << server.host << '\n';
    out << "port=" << server.port << '\n';
    return out.str();
}

void ApplyRouteSettingsText(DeviceServer& server, const std::string& text) {
    // A text editor on Windows may have put a byte order mark first.
    const bool bom = text.rfind("\xEF\xBB\xBF", 0) == 0;
    std::istringstream in(bom ? text.substr(3) : text);
    std::string line;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = trimmed(line.substr(0, eq));
        const std::string value = trimmed(line.substr(eq + 1));
        if (key == "route") {
            if (value == "tcp")
                server.mode = DeviceServer::Mode::Raw;
            else if (value == "rfc2217")
                server.mode = DeviceServer::Mode::Rfc2217;
            else if (value == "none")
                server.mode = DeviceServer::Mode::None;
        } else if (key == "host") {
            if (value.size() <= kMaxHostLength && value.find_first_of(" \t") == std::string::npos)
                server.host = value;
        } else if (key == "port") {
            try {
                size_t used = 0;
                const long n = std::stol(value, &used);
                if (used == value.size() && n >= 0 && n <= 65535)
                    server.port = static_cast<uint16_t>(n);
            } catch (const std::exception&) {
                // not a number: the port stays as it was
            }
        }
    }
}

void LoadRouteSettings(ConnectionSettings& settings, const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return;
    std::string text(static_cast<size_t>(kMaxRouteFileBytes), '\0');
    file.read(text.data(), kMaxRouteFileBytes);
    text.resize(static_cast<size_t>(file.gcount()));
    ApplyRouteSettingsText(settings.deviceServer, text);
}

bool SaveRouteSettings(const ConnectionSettings& settings, const std::string& path) {
    std::error_code ec;
    if (!settings.deviceServer.inUse() && settings.deviceServer.host.empty()) {
        std::filesystem::remove(path, ec);
        return !ec;
    }
    // Written beside and renamed over, as Parvault2.i is.
    const std::string temp = path + ".part" + std::to_string(std::random_device{}() & 0xFFFFFF);
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!file)
            return false;
        file << SerializeRouteSettings(settings.deviceServer);
        file.flush();
        if (!file) {
            file.close();
            std::remove(temp.c_str());
            return false;
        }
    }
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

} // namespace parvault
