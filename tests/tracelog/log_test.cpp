#include "exchangelog.h"

#include <gtest/gtest.h>

#include <thread>

using namespace parvault;

namespace {

struct ManualClock {
    int64_t ms = 0;
    ExchangeLog::Clock clock() {
        return [this] { return ms; };
    }
};

TEST(ExchangeLog, KeepsTheNewestAndCountsTheDropped) {
    ManualClock t;
    ExchangeLog log(kExchangeLogCapacity, t.clock());
    const uint8_t frame[] = {0x10, 0x01, 0x10, 0x1F, 0x1D};
    for (int i = 0; i < 30000; ++i) {
        t.ms = i;
        log.frame(EntryKind::Sent, QStringLiteral("COM1 9600 бод"), frame);
    }
    EXPECT_EQ(log.size(), 20000u);
    EXPECT_EQ(log.dropped(), 10000u);
    const auto all = log.since(0);
    ASSERT_EQ(all.entries.size(), 20000u);
    EXPECT_EQ(all.entries.front().serial, 10000u);
    EXPECT_EQ(all.entries.front().ms, 10000);
    EXPECT_EQ(all.entries.back().serial, 29999u);
    EXPECT_EQ(all.next, 30000u);

    // A reader that comes late is told what it missed, then follows.
    TraceReader reader(log);
    const QStringList lines = reader.newLines();
    ASSERT_EQ(lines.size(), 20001);
    EXPECT_EQ(lines.front(), DroppedLine(10000));
    EXPECT_TRUE(reader.newLines().isEmpty());
    log.event(ExchangeEvent::Ended);
    EXPECT_EQ(reader.newLines().size(), 1);

    log.clear();
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(log.dropped(), 0u);
    log.event(ExchangeEvent::Ended);
    EXPECT_EQ(reader.newLines().size(), 1); // no gap line after a clear
}

TEST(ExchangeLog, TimesCountFromTheExchangeStart) {
    ManualClock t;
    t.ms = 5000;
    ExchangeLog log(100, t.clock());
    t.ms = 7000;
    log.event(ExchangeEvent::Started, 0);
    t.ms = 8234;
    log.event(ExchangeEvent::Resent, 4, 2);
    TraceReader reader(log);
    EXPECT_EQ(reader.newLines(), (QStringList{"   0.000 • начало чтения",
                                              "   1.234 • повтор запроса строки 5, попытка 2"}));
}

TEST(ExchangeLog, RecordsFromManyThreadsWithoutLoss) {
    ExchangeLog log(100000);
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&log] {
            for (int i = 0; i < 5000; ++i)
                log.event(ExchangeEvent::ForeignDatagram, 0x7F000001, i);
        });
    TraceReader reader(log);
    int read = 0;
    while (read < 20000)
        read += static_cast<int>(reader.newLines().size());
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(read, 20000);
    EXPECT_EQ(log.since(0).entries.back().serial, 19999u);
}

} // namespace
