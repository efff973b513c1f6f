#include "serialchannel.h"

namespace parvault {

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

} // namespace parvault
