#pragma once

// Telnet with the COM port option, as a serial device server speaks it: the
// line's bytes travel with every 0xFF (IAC) doubled, and the client sets
// the line's speed and framing by subnegotiation. Pure byte work: no I/O.

#include <cstdint>
#include <span>
#include <vector>

namespace parvault::telnet {

inline constexpr uint8_t IAC = 255;
inline constexpr uint8_t DONT = 254;
inline constexpr uint8_t DO = 253;
inline constexpr uint8_t WONT = 252;
inline constexpr uint8_t WILL = 251;
inline constexpr uint8_t SB = 250;
inline constexpr uint8_t SE = 240;

inline constexpr uint8_t OPT_BINARY = 0;
inline constexpr uint8_t OPT_ECHO = 1;
inline constexpr uint8_t OPT_SGA = 3; // suppress go-ahead
inline constexpr uint8_t OPT_COM_PORT = 44;

// COM port option commands, client to server; the server answers with the
// same command plus 100.
inline constexpr uint8_t CPO_SET_BAUDRATE = 1;
inline constexpr uint8_t CPO_SET_DATASIZE = 2;
inline constexpr uint8_t CPO_SET_PARITY = 3;
inline constexpr uint8_t CPO_SET_STOPSIZE = 4;
inline constexpr uint8_t CPO_SERVER_OFFSET = 100;
inline constexpr uint8_t CPO_PARITY_NONE = 1;
inline constexpr uint8_t CPO_STOPSIZE_1 = 1;

// Line bytes as they go into the stream: every IAC doubled.
std::vector<uint8_t> escape(std::span<const uint8_t> bytes);

// What the client says first: it will speak the COM port option and both
// sides send binary (8-bit bytes, no line-end translation).
std::vector<uint8_t> opening();

// The subnegotiations that set the line to `baud`, 8 data bits, no parity,
// one stop bit.
std::vector<uint8_t> lineSettings(uint32_t baud);

// Splits what comes from the server into line bytes and Telnet commands,
// answering the server's option requests. Keeps its place across calls, so
// a command cut between two reads is understood.
class Decoder {
public:
    // Appends the line bytes of `in` to `data` and what must be sent back to
    // the server to `reply`.
    void feed(std::span<const uint8_t> in, std::vector<uint8_t>& data, std::vector<uint8_t>& reply);
    // The speed the server last reported for the line, 0 when none yet.
    uint32_t reportedBaud() const { return reportedBaud_; }
    // The server agreed to the COM port option (it sent DO COM-PORT-OPTION).
    bool comPortAgreed() const { return comPortAgreed_; }
    void reset() { *this = Decoder{}; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    void option(uint8_t verb, uint8_t opt, std::vector<uint8_t>& reply);
    void subnegotiation();

    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_; // the current subnegotiation's bytes, unescaped
    uint32_t reportedBaud_ = 0;
    bool comPortAgreed_ = false;
};

} // namespace parvault::telnet
