// The Telnet side of RFC 2217: line bytes with IAC doubled both ways, the
// COM port settings byte for byte, and the answers to a server's option
// requests, also when a command is cut between two reads.

#include "telnetcodec.h"

#include <gtest/gtest.h>

#include <vector>

using namespace parvault::telnet;
using Bytes = std::vector<uint8_t>;

namespace {

struct Fed {
    Bytes data;
    Bytes reply;
};

Fed feedAll(Decoder& d, const std::vector<Bytes>& chunks) {
    Fed f;
    for (const Bytes& c : chunks)
        d.feed(c, f.data, f.reply);
    return f;
}

} // namespace

TEST(TelnetCodec, IacIsDoubledGoingOutAndSingleComingIn) {
    const Bytes line = {0x10, 0x01, 0xFF, 0x41, 0xFF, 0xFF, 0x10, 0x03};
    const Bytes escaped = escape(line);
    EXPECT_EQ(escaped, (Bytes{0x10, 0x01, 0xFF, 0xFF, 0x41, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x03}));

    // The same bytes back through the decoder, cut at every place, even
    // between the two halves of a doubled IAC.
    for (size_t cut = 0; cut <= escaped.size(); ++cut) {
        Decoder d;
        const Fed f = feedAll(d, {Bytes(escaped.begin(), escaped.begin() + static_cast<long>(cut)),
                                  Bytes(escaped.begin() + static_cast<long>(cut), escaped.end())});
        EXPECT_EQ(f.data, line) << "cut at " << cut;
        EXPECT_TRUE(f.reply.empty());
    }
}

TEST(TelnetCodec, LineSettingsAreTheComPortSubnegotiations) {
    // 9600 = 0x00002580, network order; then 8 data bits, no parity, one stop bit.
    EXPECT_EQ(lineSettings(9600), (Bytes{IAC, SB, 44, 1, 0x00, 0x00, 0x25, 0x80, IAC, SE,  //
                                         IAC, SB, 44, 2, 8, IAC, SE,                       //
                                         IAC, SB, 44, 3, 1, IAC, SE,                       //
                                         IAC, SB, 44, 4, 1, IAC, SE}));
    // A speed byte equal to IAC is doubled inside the subnegotiation too.
    const Bytes odd = lineSettings(0x0001FF00);
    EXPECT_EQ(Bytes(odd.begin(), odd.begin() + 11), (Bytes{IAC, SB, 44, 1, 0x00, 0x01, 0xFF, 0xFF, 0x00, IAC, SE}));
    EXPECT_EQ(opening(), (Bytes{IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0}));
}

TEST(TelnetCodec, ServerRequestsAreAnsweredOnceAndEchoRefused) {
    // What a device server sends on connecting: WILL SGA, DO SGA, WILL ECHO,
    // DONT ECHO, DO BINARY, WILL BINARY, DO COM-PORT-OPTION; then line bytes.
    const Bytes greeting = {IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 1, IAC, DONT, 1,
                            IAC, DO,   0, IAC, WILL, 0, IAC, DO, 44, 0x06};
    Decoder d;
    const Fed f = feedAll(d, {greeting});
    EXPECT_EQ(f.data, Bytes{0x06});
    // SGA accepted both ways, echo refused; binary and the COM port option
    // were offered in the opening, so they are not confirmed again.
    EXPECT_EQ(f.reply, (Bytes{IAC, DO, 3, IAC, WILL, 3, IAC, DONT, 1}));
    EXPECT_TRUE(d.comPortAgreed());

    // An option nobody asked for is refused both ways.
    Decoder other;
    EXPECT_EQ(feedAll(other, {{IAC, DO, 24, IAC, WILL, 31}}).reply, (Bytes{IAC, WONT, 24, IAC, DONT, 31}));
    EXPECT_FALSE(other.comPortAgreed());
}

TEST(TelnetCodec, ServerNoticesAreTakenOutOfTheLineBytes) {
    // The server confirms 115200 baud (command 101), cut in three reads,
    // between two line bytes; a NOP and a stray SE carry nothing either.
    const Bytes notice = {0x41, IAC, SB, 44, 101, 0x00, 0x01, 0xC2, 0x00, IAC, SE, IAC, 241, IAC, SE, 0x42};
    Decoder d;
    const Fed f = feedAll(d, {Bytes(notice.begin(), notice.begin() + 3), Bytes(notice.begin() + 3, notice.begin() + 10),
                              Bytes(notice.begin() + 10, notice.end())});
    EXPECT_EQ(f.data, (Bytes{0x41, 0x42}));
    EXPECT_TRUE(f.reply.empty());
    EXPECT_EQ(d.reportedBaud(), 115200u);

    // A subnegotiation that never ends is read past without growing without bound.
    Decoder runaway;
    Bytes endless = {IAC, SB, 44, 101};
    endless.insert(endless.end(), 10000, 0x55);
    const Fed r = feedAll(runaway, {endless, {IAC, SE, 0x43}});
    EXPECT_EQ(r.data, Bytes{0x43});
    EXPECT_EQ(runaway.reportedBaud(), 0x55555555u) << "only the first bytes are kept";
}
