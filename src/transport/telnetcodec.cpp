#include "telnetcodec.h"

namespace parvault::telnet {

namespace {

// The longest subnegotiation kept; the COM port option's are a few bytes,
// anything longer is read past and ignored.
constexpr size_t kMaxSubnegotiation = 64;

void subnegotiate(std::vector<uint8_t>& out, uint8_t command, std::span<const uint8_t> value) {
    out.insert(out.end(), {IAC, SB, OPT_COM_PORT, command});
    const auto escaped = escape(value);
    out.insert(out.end(), escaped.begin(), escaped.end());
    out.insert(out.end(), {IAC, SE});
}

} // namespace

std::vector<uint8_t> escape(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size() + 8);
    for (uint8_t b : bytes) {
        out.push_back(b);
        if (b == IAC)
            out.push_back(IAC);
    }
    return out;
}

std::vector<uint8_t> opening() {
    return {IAC, WILL, OPT_COM_PORT, IAC, WILL, OPT_BINARY, IAC, DO, OPT_BINARY};
}

std::vector<uint8_t> lineSettings(uint32_t baud) {
    std::vector<uint8_t> out;
    // The speed goes in network byte order.
    const uint8_t speed[4] = {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                              static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
    subnegotiate(out, CPO_SET_BAUDRATE, speed);
    const uint8_t dataBits = 8, parity = CPO_PARITY_NONE, stopBits = CPO_STOPSIZE_1;
    subnegotiate(out, CPO_SET_DATASIZE, {&dataBits, 1});
    subnegotiate(out, CPO_SET_PARITY, {&parity, 1});
    subnegotiate(out, CPO_SET_STOPSIZE, {&stopBits, 1});
    return out;
}

void Decoder::feed(std::span<const uint8_t> in, std::vector<uint8_t>& data, std::vector<uint8_t>& reply) {
    for (uint8_t b : in) {
        switch (state_) {
        case State::Data:
            if (b == IAC)
                state_ = State::Iac;
            else
                data.push_back(b);
            break;
        case State::Iac:
            if (b == IAC) {
                data.push_back(IAC); // an escaped line byte
                state_ = State::Data;
            } else if (b == DO || b == DONT || b == WILL || b == WONT) {
                verb_ = b;
                state_ = State::Option;
            } else if (b == SB) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, GA, a stray SE and the like carry nothing
            }
            break;
        case State::Option:
            option(verb_, b, reply);
            state_ = State::Data;
            break;
        case State::Sub:
            if (b == IAC)
                state_ = State::SubIac;
            else if (sub_.size() < kMaxSubnegotiation)
                sub_.push_back(b);
            break;
        case State::SubIac:
            if (b == SE) {
                subnegotiation();
                state_ = State::Data;
            } else {
                if (b == IAC && sub_.size() < kMaxSubnegotiation)
                    sub_.push_back(IAC);
                state_ = State::Sub;
            }
            break;
        }
    }
}

// The client wants binary both ways and the COM port option, takes the
// server's suppressed go-ahead, and refuses anything else (an echo would
// send our requests back to us as if they were answers). Options the client
// opened with are not confirmed twice, so no request loop can start.
void Decoder::option(uint8_t verb, uint8_t opt, std::vector<uint8_t>& reply) {
    const bool weOffered = opt == OPT_COM_PORT || opt == OPT_BINARY; // WILL sent in opening()
    switch (verb) {
    case DO:
        if (opt == OPT_COM_PORT)
            comPortAgreed_ = true;
        if (!weOffered)
            reply.insert(reply.end(), {IAC, opt == OPT_SGA ? WILL : WONT, opt});
        break;
    case WILL:
        if (opt == OPT_BINARY)
            break; // DO BINARY was sent in opening()
        reply.insert(reply.end(), {IAC, opt == OPT_SGA ? DO : DONT, opt});
        break;
    default:
        break; // DONT and WONT need no answer from a side that offers nothing else
    }
}

void Decoder::subnegotiation() {
    if (sub_.size() < 2 || sub_[0] != OPT_COM_PORT)
        return;
    if (sub_[1] == CPO_SET_BAUDRATE + CPO_SERVER_OFFSET && sub_.size() >= 6)
        reportedBaud_ = (uint32_t{sub_[2]} << 24) | (uint32_t{sub_[3]} << 16) | (uint32_t{sub_[4]} << 8) | sub_[5];
}

} // namespace parvault::telnet
