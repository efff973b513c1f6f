#pragma once

#include "devicewire.h"

#include <string>
#include <vector>

namespace parvault::devsim {

class DeviceModel;

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

} // namespace parvault::devsim
