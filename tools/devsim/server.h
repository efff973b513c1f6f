#pragma once

// Serves a DeviceModel on a UDP socket and on a pseudo-terminal, from one
// thread of its own, with answer delays, pieces and an optionally slow line.

#include "devicemodel.h"
#include "sockets.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parvault::devsim {

struct ServerOptions {
    std::optional<std::string> udpHost; // serve UDP on this address ...
    uint16_t udpPort = 0;               // ... and port; 0 picks a free one
    std::optional<std::string> ptyLink; // create a pty; this path becomes a symlink to its slave
    bool slowLine = false;              // the pty runs at the baud rate its user set
    int pieceGapMs = 20;                // pause between the pieces of a cut answer
    StreamDevice::Optical optical;
    // Further devices on the same UDP address and pty line, each answering
    // for its own address (the caller keeps them alive while the server runs).
    std::vector<DeviceModel*> neighbours;
};

class Server {
public:
    Server(DeviceModel& model, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the socket, creates the pty and its link, starts the thread.
    bool start(std::string* error);
    void stop();

    uint16_t udpPort() const { return boundPort_; }
    const std::string& ptySlavePath() const { return slavePath_; }
    // The baud rate the pty's user has set (read back with tcgetattr); 0 without a pty.
    int lineBaud() const;
    // The baud rate the line was set to when the last request bytes came in
    // (a program puts the line back as it found it when it closes the port).
    int requestBaud() const { return requestBaud_.load(); }
    void setSlowLine(bool slow) { slowLine_ = slow; }

private:
    struct Pending {
        std::chrono::steady_clock::time_point at;
        Bytes bytes;
        bool udp = false;
        std::vector<uint8_t> peer; // sockaddr bytes for UDP
    };

    void run();
    void schedule(const Reply& reply, bool udp, const std::vector<uint8_t>& peer);
    void serviceUdp();
    void servicePtyInput(std::chrono::steady_clock::time_point now);
    void flushUdp(std::chrono::steady_clock::time_point now);
    void flushPty(std::chrono::steady_clock::time_point now);
    void closeAll();
    // The UDP side, the same on every system.
    bool openUdp(std::string* error);
    std::vector<DeviceModel*> devices();

    DeviceModel& model_;
    ServerOptions options_;
    std::optional<StreamDevice> stream_;
    std::atomic<bool> slowLine_;
    std::atomic<bool> running_{false};
    std::atomic<int> requestBaud_{0};
    std::thread thread_;
    std::optional<SocketWake> wake_;
    SocketHandle udpFd_ = kNoSocket;
    int masterFd_ = -1; // the pty's, on Linux only
    int slaveFd_ = -1;
    uint16_t boundPort_ = 0;
    std::string slavePath_;
    std::deque<Pending> udpQueue_;
    std::deque<Pending> ptyQueue_;
    LinePacer txPacer_;
    LinePacer rxPacer_;
};

// The speed of a termios speed code, 0 when unknown (Linux only).
int BaudOf(unsigned speedCode);

} // namespace parvault::devsim
