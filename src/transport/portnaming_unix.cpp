#include "portnaming.h"

#include <algorithm>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace parvault {

namespace {

struct PortFamily {
    std::string_view prefix;
    int firstPort;
};

// Fixed offsets, so that plugging in an adapter never renumbers another port.
constexpr PortFamily kFamilies[] = {
    {"ttyS", 1},
    {"ttyUSB", 33},
    {"ttyACM", 65},
};

} // namespace

std::filesystem::path defaultPortLinkFolder() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir || !*found->pw_dir)
        return {};
    return std::filesystem::path(found->pw_dir) / ".parvault2" / "ports";
}

PortNaming defaultPortNaming() {
    PortNaming naming;
    naming.linkFolder = defaultPortLinkFolder();
    return naming;
}

std::optional<int> portNumberForDevice(const std::filesystem::path& device) {
    const std::string name = device.filename().string();
    for (const PortFamily& family : kFamilies) {
        if (!std::string_view(name).starts_with(family.prefix))
            continue;
        // "ttyS" is a prefix of nothing else we know, but "ttyUSB1" must not be
        // read as a ttyS device: the rest has to be the number alone.
        auto index = parsePlainNumber(std::string_view(name).substr(family.prefix.size()), 0,
                                      kPortFamilySize - 1);
        if (index)
            return family.firstPort + *index;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> portDevicePath(int port, const PortNaming& naming) {
    if (port < 1 || port > kMaxPortNumber)
        return std::nullopt;
    if (!naming.linkFolder.empty()) {
        std::filesystem::path link = naming.linkFolder / ("COM" + std::to_string(port));
        struct stat info{};
        if (::lstat(link.c_str(), &info) == 0)
            return link;
    }
    for (const PortFamily& family : kFamilies) {
        int index = port - family.firstPort;
        if (index >= 0 && index < kPortFamilySize)
            return naming.deviceFolder / (std::string(family.prefix) + std::to_string(index));
    }
    return std::nullopt;
}

std::vector<int> linkedPortNumbers(const std::filesystem::path& linkFolder) {
    std::vector<int> numbers;
    if (linkFolder.empty())
        return numbers;
    std::error_code ec;
    std::filesystem::directory_iterator it(linkFolder, ec);
    if (ec)
        return numbers;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        auto number = parsePortLinkName(it->path().filename().string());
        if (!number)
            continue;
        // A dangling link names a device that is not there (an adapter pulled
        // out): offering it would only lead to "no connection".
        struct stat target{};
        if (::stat(it->path().c_str(), &target) != 0)
            continue;
        numbers.push_back(*number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace parvault
