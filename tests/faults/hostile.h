#pragma once

// Hostile devices for the fault tests: a UDP peer and a pty far end that
// answer requests with whatever a test asks for, or flood the line.

#include "frame.h"
#include "tempdir.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace parvault::faults {

using Bytes = std::vector<uint8_t>;

// A request as the program sends it (no address block): DLE SOH DLE US fn ddd
// DLE STX HT CCC HT PPP ...; what a responder needs from it.
struct Request {
    uint8_t function = 0;
    Bytes sequence; // three digits
    int param = 0;
};
bool ParseRequest(const Bytes& frame, Request& out);

// An answer frame DLE SOH DLE US fn ddd DLE STX <body> DLE ETX CRC, with a
// valid checksum.
Bytes AnswerFrame(uint8_t function, const Bytes& sequence, const Bytes& body);
// HT 001 HT PPP FF HT value [HT units] FF: the body of a value answer.
Bytes ValueBody(int param, const std::string& value, const std::string& units = {});

// Given a request, the deliveries to send back (each one datagram or one write).
using Responder = std::function<std::vector<Bytes>(const Request&)>;

class HostileUdpPeer {
public:
    explicit HostileUdpPeer(Responder responder);
    ~HostileUdpPeer();
    uint16_t port() const { return port_; }
    // Also sends this datagram every millisecond to the last peer heard from.
    void flood(Bytes datagram);
    int requests() const { return requests_.load(); }

private:
    void run();
    Responder responder_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> running_{true};
    std::atomic<int> requests_{0};
    std::mutex mutex_;
    Bytes flood_;
    std::thread thread_;
};

class HostilePty {
public:
    // Links folder/COM<port> to the pty's slave.
    HostilePty(const std::filesystem::path& folder, int port, Responder responder);
    ~HostilePty();
    // Writes junk without a frame as fast as the line takes it.
    void flood(Bytes pattern);
    long long flooded() const { return flooded_.load(); }
    int requests() const { return requests_.load(); }

private:
    void run();
    Responder responder_;
    int master_ = -1;
    int slave_ = -1;
    std::atomic<bool> running_{true};
    std::atomic<int> requests_{0};
    std::atomic<long long> flooded_{0};
    std::mutex mutex_;
    Bytes flood_;
    std::thread thread_;
};

// Resident size of this process in bytes.
long long ResidentBytes();

} // namespace parvault::faults
