#pragma once

// What an exchange does besides sending and taking bytes: resends, time-outs,
// answers it set aside, the optical sign-on's steps, its end. The controller
// and the UDP thread report them here when someone listens (a log); nobody
// listens by default. A listener must return at once: it is called from the
// 25 ms step and from the UDP thread.

#include <cstdint>
#include <span>

namespace parvault {

enum class ExchangeEvent {
    Started,          // a: 1 for a write, 0 for a read
    Resent,           // a: row, b: which try (2 or 3)
    TimedOut,         // a: row
    OtherSequence,    // a: the answer's sequence number, b: the row's
    CrcFailed,        // a: row
    IdentSpeed,       // a: speed index the identification line announced, b: its baud rate
    Acknowledged,     // the device acknowledged the option select
    Ended,            // the last row is done
    Stopped,          // stopped before the end (the stop command, or the list was replaced)
    ForeignDatagram,  // a: sender address (host order), b: sender port
    OtherRequest,     // a: the answer's sequence number, b: the row; the row's number, but
                      // another device, function, channel, parameter or index
    Discarded,        // a: bytes left on the line by earlier requests, thrown away
    LateDatagram,     // a: bytes of a datagram that came after its request was given up
    LinkDropped,      // the device server closed the connection
    LinkReconnected,  // a: 1 when the connection was made again for the next request, 0 when it failed
    DataBlockNotSaved, // a: bytes of a data block that could not be written to its file
};

class ExchangeEvents {
public:
    virtual ~ExchangeEvents() = default;
    virtual void event(ExchangeEvent kind, int64_t a = 0, int64_t b = 0) = 0;
    // A datagram from the device that came after its request was given up,
    // thrown away before the next row's request; sender address in host order.
    virtual void lateDatagram(std::span<const uint8_t> bytes, uint32_t address, uint16_t port) {
        (void)bytes;
        (void)address;
        (void)port;
    }
};

} // namespace parvault
