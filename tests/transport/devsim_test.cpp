// The transports against the device simulator: real requests laid out by the
// protocol code, answered by the simulated device over loopback UDP and over a
// pseudo-terminal reached through a port link.

#include "answer.h"
#include "devicemodel.h"
#include "eventually.h"
#include "frame.h"
#include "ipthread.h"
#include "recordingposter.h"
#include "requests.h"
#include "serialchannel.h"
#include "server.h"
#include "tempdir.h"

#include <gtest/gtest.h>

using namespace parvault;
using namespace parvault::testing;

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

const char* const kTable = R"(
1  20  0 | 1,0473 | МПа | ro
1 305  0 | 0,9800 | МПа
1 306  0 | 5      |     | silent
)";

ParamRow row(int canal, int param, const QString& value = {}) {
    ParamRow r;
    r.texts[ColCanal] = QString::asprintf("%3d", canal);
    r.texts[ColParam] = QString::asprintf("%4d", param);
    r.texts[ColIndex] = QString::asprintf("%3d", 0);
    r.texts[ColValue] = value;
    r.kind = KindPlain;
    return r;
}

class DevsimTransportTest : public ::testing::Test {
protected:
    TempDir dir;
    devsim::DeviceModel model{table(), devsim::DeviceConfig{}};
    std::unique_ptr<ExchangeShared> shared = std::make_unique<ExchangeShared>();
    RecordingPoster poster;

    static devsim::ParamTable table() {
        devsim::ParamTable t;
        QString error;
        if (!t.parse(QString::fromUtf8(kTable), std::nullopt, &error))
            ADD_FAILURE() << error.toStdString();
        return t;
    }
    std::unique_ptr<devsim::Server> serve(devsim::ServerOptions options) {
        auto server = std::make_unique<devsim::Server>(model, std::move(options));
        std::string error;
        EXPECT_TRUE(server->start(&error)) << error;
        return server;
    }
};

TEST_F(DevsimTransportTest, UdpReadAndWriteTransactions) {
    devsim::ServerOptions options;
    options.udpHost = "127.0.0.1";
    auto server = serve(options);
    UdpTarget target{kLoopback, server->udpPort(), 1, kLoopback};
    UdpChannel channel(*shared, poster);
    AnswerAssembler assembler;

    ASSERT_TRUE(layoutTxFrame(*shared, layoutReadRequest(row(1, 20), 12, {})));
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(eventually([&] { return shared->readState.load() == STATE_UDP_ANSWER; }));
    ParsedAnswer read = assembler.AssembleAnswer(*shared);
    EXPECT_EQ(read.result, ANSWER_OK);
    EXPECT_TRUE(read.matchesRow(12));
    EXPECT_EQ(read.value, QString("1,0473"));
    EXPECT_EQ(read.units, QString::fromUtf8("МПа"));

    WriteRequest write = layoutWriteRequest(row(1, 305, "0,9700"), 13, {});
    ASSERT_EQ(write.status, WriteRequest::Ok);
    ASSERT_TRUE(layoutTxFrame(*shared, write.frame));
    shared->readState = STATE_IDLE;
    shared->writeState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(eventually([&] { return shared->writeState.load() == STATE_UDP_ANSWER; }));
    ParsedAnswer written = assembler.AssembleAnswer(*shared);
    EXPECT_EQ(written.result, ANSWER_OK);
    EXPECT_TRUE(written.matchesRow(13));
    EXPECT_EQ(model.entry({1, 305, 0})->value, QString("0,9700"));
    EXPECT_TRUE(poster.messages().empty());
}

TEST_F(DevsimTransportTest, UdpSilentDeviceLeavesTheThreadWaitingUntilStopped) {
    devsim::ServerOptions options;
    options.udpHost = "127.0.0.1";
    auto server = serve(options);
    UdpChannel channel(*shared, poster);
    ASSERT_TRUE(layoutTxFrame(*shared, layoutReadRequest(row(1, 306), 3, {})));
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, UdpTarget{kLoopback, server->udpPort(), 1, kLoopback}));
    ASSERT_TRUE(eventually([&] { return model.framesReceived() == 1; }));
    channel.stopUdpExchange();
    EXPECT_EQ(shared->readState.load(), STATE_SENT_1);
    EXPECT_TRUE(poster.messages().empty());
}

TEST_F(DevsimTransportTest, SerialReadThroughAPortLink) {
    PortNaming naming;
    naming.linkFolder = dir.path();
    naming.deviceFolder = dir.path() / "no-dev";
    devsim::ServerOptions options;
    options.ptyLink = (dir.path() / "COM7").string();
    auto server = serve(options);

    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 7, 19200), COM_OPEN_OK);
    EXPECT_EQ(ComSetLines(channel, kLineDtr | kLineRts), 0);
    EXPECT_EQ(server->lineBaud(), 19200) << "the speed the device's side sees";

    ASSERT_TRUE(layoutTxFrame(*shared, layoutReadRequest(row(1, 20), 5, {})));
    ASSERT_EQ(ComWrite(channel, shared->txFrame), 0);
    AnswerAssembler assembler;
    ParsedAnswer answer;
    ASSERT_TRUE(eventually([&] {
        shared->rxLength = ComRead(channel, shared->rxBuffer);
        if (shared->rxLength.load() == 0)
            return false;
        answer = assembler.AssembleAnswer(*shared);
        return answer.result != ANSWER_PENDING;
    }));
    EXPECT_EQ(answer.result, ANSWER_OK);
    EXPECT_TRUE(answer.matchesRow(5));
    EXPECT_EQ(answer.value, QString("1,0473"));
    EXPECT_EQ(ComClose(channel), 0);
}

} // namespace
