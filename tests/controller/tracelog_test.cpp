// The exchange log of whole exchanges, as the person at the cable reads it.

#include "rig.h"
#include "udppeer.h"

#include <QRegularExpression>

using namespace parvault;
using namespace parvault::testing;

namespace {

const QString kParams = QStringLiteral(R"(
1   5  0 | 12,5     | кПа
1  40  0 | 1        |     | silent
1  41  0 | 2        |     | badcrc
1  42  0 | 3        |     | wrongseq
1  44  0 | 5        |     | error=Запрещено
)");

// Good, error, silent, damaged, late-with-another-sequence: in list order.
std::vector<RowSpec> troubleRows() {
    return {{1, 5, 0, KindPlain}, {1, 44, 0, KindPlain}, {1, 40, 0, KindPlain}, {1, 41, 0, KindPlain},
            {1, 42, 0, KindPlain}};
}

// The lines without their hex bytes, which the decoder tests check.
QStringList withoutHex(QStringList lines) {
    static const QRegularExpression hex(QStringLiteral("  [0-9A-F]{2}( [0-9A-F]{2})*  \\|"));
    for (QString& line : lines)
        line.replace(hex, QStringLiteral(" |"));
    return lines;
}

QStringList withoutTime(QStringList lines) {
    for (QString& line : lines)
        line = line.mid(9);
    return lines;
}

// The read of troubleRows() at 115200 baud, on the manual clock: each
// answer crosses the line within the step it was asked in and is taken at
// the next. ROUTE stands for the link.
const QStringList kTroubleRead = {
    "   0.000 • начало чтения",
    "   0.000 • COM7: порт открыт, 115200 бод",
    "   0.025 → ROUTE | 1D чтение параметра; № 000; канал 001, параметр 005; CRC верна",
    "   0.050 ← ROUTE | 03 значение параметра; № 000; значение «12,5», единицы «кПа»; CRC верна",
    "   0.075 → ROUTE | 1D чтение параметра; № 001; канал 001, параметр 044; CRC верна",
    "   0.100 ← ROUTE | 7F ответ об ошибке; № 001; ошибка «Запрещено»; CRC верна",
    "   0.125 → ROUTE | 1D чтение параметра; № 002; канал 001, параметр 040; CRC верна",
    "   1.225 • повтор запроса строки 3, попытка 2",
    "   1.225 → ROUTE | 1D чтение параметра; № 002; канал 001, параметр 040; CRC верна",
    "   2.325 • повтор запроса строки 3, попытка 3",
    "   2.325 → ROUTE | 1D чтение параметра; № 002; канал 001, параметр 040; CRC верна",
    "   3.425 • нет ответа для строки 3: время ожидания вышло",
    "   3.450 → ROUTE | 1D чтение параметра; № 003; канал 001, параметр 041; CRC верна",
    "   3.475 ← ROUTE | 03 значение параметра; № 003; значение «2»; CRC неверна",
    "   3.475 • ошибка CRC в ответе для строки 4",
    "   3.500 → ROUTE | 1D чтение параметра; № 004; канал 001, параметр 042; CRC верна",
    "   3.525 ← ROUTE | 03 значение параметра; № 005; значение «3»; CRC верна",
    "   3.525 • ответ с номером 005 не для этой строки (ждём 004): пропущен",
    "   4.625 • повтор запроса строки 5, попытка 2",
    "   4.625 → ROUTE | 1D чтение параметра; № 004; канал 001, параметр 042; CRC верна",
    "   4.650 ← ROUTE | 03 значение параметра; № 005; значение «3»; CRC верна",
    "   4.650 • ответ с номером 005 не для этой строки (ждём 004): пропущен",
    "   5.725 • повтор запроса строки 5, попытка 3",
    "   5.725 → ROUTE | 1D чтение параметра; № 004; канал 001, параметр 042; CRC верна",
    "   5.750 ← ROUTE | 03 значение параметра; № 005; значение «3»; CRC верна",
    "   5.750 • ответ с номером 005 не для этой строки (ждём 004): пропущен",
    "   6.825 • нет ответа для строки 5: время ожидания вышло",
    "   6.825 • обмен завершён",
    "   6.825 • COM7: порт закрыт",
};

QStringList troubleRead(const QString& route) {
    QStringList lines = kTroubleRead;
    for (QString& l : lines)
        l.replace(QStringLiteral("ROUTE"), route);
    return lines;
}

QStringList readTroubleRows(Rig& rig) {
    rig.setRows(troubleRows());
    rig.controller.OnReadCommand();
    EXPECT_TRUE(rig.runToEnd());
    TraceReader reader(rig.log);
    return withoutHex(reader.newLines());
}

} // namespace

TEST(ExchangeLogOfARead, GoodErrorSilentDamagedAndLateRowsLineByLine) {
    ModelRig rig(kParams);
    EXPECT_EQ(readTroubleRows(rig), troubleRead(QStringLiteral("COM7 115200 бод")));
}

// Real I/O moves the times; what was sent and taken, and why, stays.
TEST(ExchangeLogOfARead, OverARealPty) {
    Rig rig(kParams);
    EXPECT_EQ(withoutTime(readTroubleRows(rig)), withoutTime(troubleRead(QStringLiteral("COM7 115200 бод"))));
}

TEST(ExchangeLogOfARead, OverRealUdp) {
    Rig rig(kParams);
    rig.settings.useIp = 1;
    const QString peer = QStringLiteral("UDP 127.0.0.1:%1").arg(rig.server.udpPort());
    QStringList expected = withoutTime(troubleRead(peer));
    expected[1] = QStringLiteral("• %1: обмен по UDP").arg(peer);
    expected.removeLast(); // no port to close
    EXPECT_EQ(withoutTime(readTroubleRows(rig)), expected);
}

// Listens at 127.0.0.2 and answers every datagram from 127.0.0.1.
struct OtherAddressEcho {
    OtherAddressEcho() {
        listen.serve([this](const Bytes&) {
            answer.sendTo(listen.lastClient(), {'x'});
            return std::vector<Bytes>{};
        });
    }
    UdpPeer answer{kLoopback}; // outlives the listener's thread
    UdpPeer listen{0x7F000002};
    const uint16_t port = listen.port();
    const uint16_t answerPort = answer.port();
};

TEST(ExchangeLogOfARead, DatagramFromAnotherAddressIsShownIgnored) {
    OtherAddressEcho echo;
    Rig rig(kParams);
    rig.settings.useIp = 1;
    rig.settings.deviceIp = 0x7F000002;
    rig.settings.udpPort = echo.port;
    rig.setRows({{1, 5, 0, KindPlain}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] {
        for (const LogEntry& e : rig.log.since(0).entries)
            if (e.kind == EntryKind::Event && e.event == ExchangeEvent::ForeignDatagram)
                return true;
        return false;
    }));
    rig.controller.StopExchange();
    const QStringList lines = withoutTime(TraceReader(rig.log).newLines());
    EXPECT_TRUE(lines.contains(QStringLiteral("• датаграмма с чужого адреса 127.0.0.1:%1 пропущена")
                                   .arg(echo.answerPort)))
        << lines.join('\n').toStdString();
    EXPECT_EQ(lines.back(), QStringLiteral("• обмен остановлен"));
}

TEST(ExchangeLogOfASignOn, AnnouncedSpeedThenTheRead) {
    devsim::ServerOptions options;
    options.optical.enabled = true;
    options.optical.speedChar = '5';
    ModelRig rig(kParams, options);
    rig.settings.useOptoport = 1;
    rig.shared.linkIdleTicks = kLinkIdleExpired + 1;
    rig.setRows({{1, 5, 0, KindPlain}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    const QStringList lines = withoutHex(TraceReader(rig.log).newLines());
    const QStringList expected = {
        "• начало чтения",
        "• COM7: порт открыт, 300 бод",
        "→ COM7 300 бод | вход в оптический порт «/?!»",
        "← COM7 300 бод | IDENT",
        "• устройство предлагает скорость 5 (9600 бод)",
        "→ COM7 300 бод | выбор режима: скорость 5 (9600 бод)",
        "← COM7 300 бод | подтверждение (ACK)",
        "• устройство подтвердило выбор режима",
        "• COM7: порт открыт заново, 9600 бод",
        "→ COM7 9600 бод | 1D чтение параметра; № 000; канал 001, параметр 005; CRC верна",
        "← COM7 9600 бод | 03 значение параметра; № 000; значение «12,5», единицы «кПа»; CRC верна",
        "• обмен завершён",
        "• COM7: порт закрыт",
    };
    QStringList got = withoutTime(lines);
    ASSERT_EQ(got.size(), expected.size()) << got.join('\n').toStdString();
    // The identification line's text is the simulator's own; its speed is ours to read.
    EXPECT_TRUE(got[3].startsWith(QStringLiteral("← COM7 300 бод | строка идентификации «/")));
    EXPECT_TRUE(got[3].endsWith(QStringLiteral("»: скорость 5 (9600 бод)"))) << got[3].toStdString();
    got[3] = expected[3];
    EXPECT_EQ(got, expected);
}
