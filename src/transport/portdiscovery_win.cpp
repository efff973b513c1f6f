#include "portdiscovery.h"

#include "serialchannel.h"

#include <QStringList>

#include <windows.h>
// After windows.h:
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>

namespace parvault {

namespace {

std::wstring registryString(HKEY key, const wchar_t* name) {
    wchar_t value[256];
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    value[size / sizeof(wchar_t)] = 0;
    return value;
}

// The system's list of serial ports: value names are the kernel's device
// names (\Device\Serial0, \Device\VCP0), the data the COM names.
void addSystemPorts(PortSources& sources) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = 256;
        wchar_t data[64];
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataSize / sizeof(wchar_t)] = 0;
        const std::string port = QString::fromWCharArray(data).toStdString();
        sources.systemDevices.push_back(port);
        sources.deviceInfo[port] = QString::fromWCharArray(name);
    }
    ::RegCloseKey(key);
}

// What Device Manager calls each port ("USB Serial Port (COM5)") and its maker,
// for telling two adapters apart.
void addAdapterNames(PortSources& sources) {
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const std::string port = QString::fromStdWString(registryString(key, L"PortName")).toStdString();
        ::RegCloseKey(key);
        if (port.empty())
            continue;
        QStringList about;
        for (DWORD property : {DWORD(SPDRP_FRIENDLYNAME), DWORD(SPDRP_MFG)}) {
            wchar_t text[256];
            if (::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                                    sizeof text - sizeof(wchar_t), nullptr)) {
                text[255] = 0;
                const QString item = QString::fromWCharArray(text);
                if (!item.isEmpty() && !about.contains(item))
                    about << item;
            }
        }
        if (about.isEmpty())
            continue;
        QString& info = sources.deviceInfo[port];
        info = info.isEmpty() ? about.join(QStringLiteral(", ")) : about.join(QStringLiteral(", ")) + QStringLiteral(", ") + info;
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

} // namespace

PortSources systemPortSources(const PortNaming& naming) {
    PortSources sources;
    addSystemPorts(sources);
    addAdapterNames(sources);
    sources.linkFolder = naming.linkFolder;
    sources.heldPorts = portsHeldOpen();
    sources.naming = naming;
    return sources;
}

QString portDeviceDescription(int32_t number, const PortSources& sources) {
    const std::string port = "COM" + std::to_string(number);
    const bool present = std::find(sources.systemDevices.begin(), sources.systemDevices.end(), port) !=
                         sources.systemDevices.end();
    QStringList lines{QString::fromStdString(port)};
    auto about = sources.deviceInfo.find(port);
    if (about != sources.deviceInfo.end())
        lines << about->second;
    else if (!present)
        lines << QStringLiteral("устройство не найдено");
    return lines.join(QLatin1Char('\n'));
}

} // namespace parvault
