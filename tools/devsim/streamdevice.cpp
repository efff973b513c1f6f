#include "streamdevice.h"

#include "devicemodel.h"

#include <algorithm>

namespace parvault::devsim {

using namespace wire;

StreamDevice::StreamDevice(DeviceModel& model, Optical optical, std::vector<DeviceModel*> neighbours)
    : model_(model), optical_(optical), dataBaud_(optical.enabled ? -1 : 0) {
    lineDevices_.push_back(&model_);
    lineDevices_.insert(lineDevices_.end(), neighbours.begin(), neighbours.end());
}

int StreamDevice::dataBaud() const { return dataBaud_; }

Bytes StreamDevice::identLine() const {
    const std::string text = std::string("/PV2-DEVSIM-") + optical_.speedChar + "\r\n";
    Bytes b;
    for (char c : text)
        b.push_back(EvenParity(static_cast<uint8_t>(c)));
    return b;
}

std::vector<Reply> StreamDevice::feed(std::span<const uint8_t> bytes, int lineBaud) {
    std::vector<Reply> out;
    for (uint8_t b : bytes) {
        if (optical_.enabled)
            lineByte(b, lineBaud, out);
        frameByte(b, lineBaud, out);
    }
    return out;
}

void StreamDevice::lineByte(uint8_t raw, int lineBaud, std::vector<Reply>& out) {
    const char c = static_cast<char>(raw & 0x7F);
    if (c != '\n') {
        if (line_.size() < 64)
            line_ += c;
        return;
    }
    const std::string line = line_ + c;
    line_.clear();
    // Sign-on and option select are only understood at the opening 300 baud.
    if (lineBaud != 300)
        return;
    const auto ends = [&](const std::string& tail) {
        return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (ends("/?!\r\n")) {
        model_.logIncoming("pty", Bytes(line.begin(), line.end()), "sign-on");
        dataBaud_ = -1;
        out.push_back(Reply{identLine(), 0, 1});
    } else if (line.size() >= 6 && line[line.size() - 6] == '\x06' && line[line.size() - 5] == '0' &&
               ends("3\r\n")) {
        model_.logIncoming("pty", Bytes(line.begin(), line.end()), "option select");
        static const int speeds[10] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
        const int z = std::min(line[line.size() - 4] & 0x0F, 9);
        dataBaud_ = speeds[z];
        out.push_back(Reply{{EvenParity(kAck)}, 0, 1});
    }
}

void StreamDevice::frameByte(uint8_t b, int lineBaud, std::vector<Reply>& out) {
    if (!inFrame_) {
        if (dle_ && b == kSoh) {
            frame_ = {kDle, kSoh};
            inFrame_ = true;
            endBytes_ = -1;
            dle_ = false;
            return;
        }
        dle_ = b == kDle;
        return;
    }
    frame_.push_back(b);
    if (endBytes_ < 0) {
        if (dle_ && b == kEtx) {
            endBytes_ = 2;
            dle_ = false;
        } else if (dle_ && b == kSoh) {
            frame_ = {kDle, kSoh}; // a new frame starts over
            dle_ = false;
        } else {
            dle_ = b == kDle;
        }
        if (frame_.size() > 4096)
            inFrame_ = false; // runaway: no request is that long
        return;
    }
    if (--endBytes_ == 0) {
        inFrame_ = false;
        dle_ = false;
        // Before the ACK, or at another speed than agreed, a frame is noise to the device.
        if (dataBaud_ < 0) {
            model_.logIncoming("pty", frame_, "before the optical sign-on");
            return;
        }
        if (dataBaud_ > 0 && dataBaud_ != lineBaud) {
            model_.logIncoming("pty", frame_,
                               "at " + std::to_string(lineBaud) + " baud, agreed " + std::to_string(dataBaud_));
            return;
        }
        if (auto r = answerOnLine(lineDevices_, frame_, "pty"))
            out.push_back(std::move(*r));
    }
}

} // namespace parvault::devsim
