#include "serialchannel.h"

#include <algorithm>
#include <cstdio>
#include <mutex>


namespace parvault {

namespace {

// The ports every channel of this process holds open, for port discovery.
std::mutex heldMutex;
std::vector<int> heldPorts;

} // namespace

void notePortHeld(int port, bool held) {
    std::lock_guard lock(heldMutex);
    auto at = std::find(heldPorts.begin(), heldPorts.end(), port);
    if (held && at == heldPorts.end())
        heldPorts.push_back(port);
    else if (!held && at != heldPorts.end())
        heldPorts.erase(at);
}

std::vector<int> portsHeldOpen() {
    std::lock_guard lock(heldMutex);
    return heldPorts;
}

int SerialChannel::statusText(std::string& text) {
    if (!isOpen())
        return 0;
    uint32_t status = 0;
    modemStatus(status);
    char line[128];
    std::snprintf(line, sizeof line, "ROZIV is great programm! (COM%d SPEED=%d Nreadbyte=%d STATCOM=%03X)",
                  static_cast<int>(openPort_), static_cast<int>(openSpeed_), writerBusy(),
                  static_cast<unsigned>(status));
    text = line;
    return 0;
}

int SerialChannel::request(unsigned op, int& result, void* block) {
    switch (op) {
    case COM_OPEN: {
        const auto* openBlock = static_cast<const ComOpenBlock*>(block);
        result = open(openBlock->port, openBlock->speed);
        break;
    }
    case COM_WRITE:
        result = write(*static_cast<const TxFrameBlock*>(block));
        break;
    case COM_READ:
        result = read(*static_cast<RxBufferBlock*>(block));
        break;
    case 3:
    case 4:
        break; // unused codes: the result stays as the caller had it
    case COM_SET_LINES:
        result = setLines(*static_cast<const uint8_t*>(block));
        break;
    case COM_CLOSE:
        result = close();
        break;
    case COM_WRITER_BUSY:
        result = writerBusy();
        break;
    case COM_MODEM_STATUS:
        result = modemStatus(*static_cast<uint32_t*>(block));
        break;
    default:
        result = statusText(*static_cast<std::string*>(block));
        break;
    }
    return 1;
}

int ComPortRequest(SerialChannel& channel, unsigned op, int& result, void* block) {
    return channel.request(op, result, block);
}

int ComOpen(SerialChannel& channel, uint16_t port, uint32_t speed) { return channel.open(port, speed); }
int ComWrite(SerialChannel& channel, const TxFrameBlock& txFrame) { return channel.write(txFrame); }
int ComRead(SerialChannel& channel, RxBufferBlock& rxBuffer) { return channel.read(rxBuffer); }
int ComSetLines(SerialChannel& channel, uint8_t lineFlags) { return channel.setLines(lineFlags); }
int ComClose(SerialChannel& channel) { return channel.close(); }
int ComWriterBusy(SerialChannel& channel) { return channel.writerBusy(); }
int ComModemStatus(SerialChannel& channel, uint32_t& status) { return channel.modemStatus(status); }
int ComStatusText(SerialChannel& channel, std::string& text) { return channel.statusText(text); }

QString comOpenFailureText(const ComOpenError& e) {
    const QString device = QString::fromStdString(e.device);
    switch (e.failure) {
    case ComOpenFailure::None:
        return {};
    case ComOpenFailure::NoPortNumber:
        return QStringLiteral("номер COM%1 не назначен ни одному устройству (нет ссылки COM%1 в папке ссылок на порты)")
            .arg(e.port);
    case ComOpenFailure::NoDevice:
        return QStringLiteral("устройства %1 нет (адаптер отключён?)").arg(device);
    case ComOpenFailure::NoPermission:
        return QStringLiteral("нет прав на устройство %1: пользователь не входит в группу %2")
            .arg(device, QString::fromStdString(e.group.empty() ? std::string("dialout") : e.group));
    case ComOpenFailure::Busy:
        return QStringLiteral("устройство %1 занято другой программой").arg(device);
    case ComOpenFailure::NotTerminal:
        return QStringLiteral("%1 — не последовательный порт").arg(device);
    case ComOpenFailure::Other:
        break;
    }
    return QStringLiteral("%1: %2").arg(device, systemErrorText(e.error));
}

QString comOpenFailureText(const SerialChannel& channel) { return comOpenFailureText(channel.lastOpenError()); }

} // namespace parvault
