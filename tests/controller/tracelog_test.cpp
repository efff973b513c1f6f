// The exchange log of whole exchanges, as the person at the cable reads it.

#include "faultrows.h"
#include "ptypeer.h"
#include "requests.h"
#include "rig.h"
#include "udppeer.h"

#include <QRegularExpression>

#include <filesystem>

using namespace parvault;
using namespace parvault::testing;

namespace {

const QString kParams = QStringLiteral("1 5 0 | 12,5 | кПа\n") + faultRowLines();

// Good, error, silent, damaged, late-with-another-sequence: in list order.
std::vector<RowSpec> troubleRows() {
    std::vector<RowSpec> rows{{1, 5, 0, KindPlain}};
    for (const FaultRow& f : {kErrorRow, kSilentRow, kBadCrcRow, kWrongSeqRow})
        rows.push_back({f.channel, f.param, 0, KindPlain});
    return rows;
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

size_t requestLines(const QStringList& lines) {
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                             [](const QString& l) { return l.startsWith(QStringLiteral("→ ")); }));
}

QStringList readRows(Rig& rig, const std::vector<RowSpec>& rows) {
    rig.setRows(rows);
    rig.controller.OnReadCommand();
    EXPECT_TRUE(rig.runToEnd());
    return withoutHex(TraceReader(rig.log).newLines());
}

// A good row and then the fault row, read at 115200 baud on the manual
// clock: each answer crosses the line within the step it was asked in and is
// taken at the next. What differs from mode to mode is after the good row.
struct ModeLog {
    FaultRow row;
    QStringList lines; // from the fault row's first request to the end
};

const QStringList kLogHead = {
    "   0.000 • начало чтения",
    "   0.000 • COM7: порт открыт, 115200 бод",
    "   0.025 → COM7 115200 бод | 1D чтение параметра; № 000; канал 001, параметр 005; CRC верна",
    "   0.050 ← COM7 115200 бод | 03 значение параметра; № 000; значение «12,5», единицы «кПа»; CRC верна",
};

const ModeLog kModeLogs[] = {
    {kErrorRow,
     {"   0.075 → COM7 115200 бод | 1D чтение параметра; № 001; канал 001, параметр 044; CRC верна",
      "   0.100 ← COM7 115200 бод | 7F ответ об ошибке; № 001; ошибка «Запрещено»; CRC верна",
      "   0.100 • обмен завершён", "   0.100 • COM7: порт закрыт"}},
    {kSilentRow,
     {"   0.075 → COM7 115200 бод | 1D чтение параметра; № 001; канал 001, параметр 040; CRC верна",
      "   1.125 • повтор запроса строки 2, попытка 2",
      "   1.125 → COM7 115200 бод | 1D чтение параметра; № 001; канал 001, параметр 040; CRC верна",
      "   2.225 • повтор запроса строки 2, попытка 3",
      "   2.225 → COM7 115200 бод | 1D чтение параметра; № 001; канал 001, параметр 040; CRC верна",
      "   3.325 • нет ответа для строки 2: время ожидания вышло", "   3.325 • обмен завершён",
      "   3.325 • COM7: порт закрыт"}},
    {kBadCrcRow,
     {"   0.075 → COM7 115200 бод | 1D чтение параметра; № 001; канал 001, параметр 041; CRC верна",
      "   0.100 ← COM7 115200 бод | 03 значение параметра; № 001; значение «2»; CRC неверна",
      "   0.100 • ошибка CRC в ответе для строки 2", "   0.100 • обмен завершён", "   0.100 • COM7: порт закрыт"}},
    {kWrongSeqRow,
     {"   0.075 → COM7 115200 бод | 1D чтение параметра; № 001; канал 001, параметр 042; CRC верна",
      "   0.100 ← COM7 115200 бод | 03 значение параметра; № 002; значение «3»; CRC верна",
      "   0.100 • ответ с номером 002 не для этой строки (ждём 001): пропущен",
      "   1.125 • повтор запроса строки 2, попытка 2",
      "   1.125 → COM7 115200 бод | 1D чтение параметра; № 001; канал 001, параметр 042; CRC верна",
      "   1.150 ← COM7 115200 бод | 03 значение параметра; № 002; значение «3»; CRC верна",
      "   1.150 • ответ с номером 002 не для этой строки (ждём 001): пропущен",
      "   2.225 • повтор запроса строки 2, попытка 3",
      "   2.225 → COM7 115200 бод | 1D чтение параметра; № 001; канал 001, параметр 042; CRC верна",
      "   2.250 ← COM7 115200 бод | 03 значение параметра; № 002; значение «3»; CRC верна",
      "   2.250 • ответ с номером 002 не для этой строки (ждём 001): пропущен",
      "   3.325 • нет ответа для строки 2: время ожидания вышло", "   3.325 • обмен завершён",
      "   3.325 • COM7: порт закрыт"}},
};

class ExchangeLogOfAFault : public ::testing::TestWithParam<ModeLog> {};

} // namespace

TEST_P(ExchangeLogOfAFault, LineByLine) {
    ModelRig rig(kParams);
    const ModeLog& mode = GetParam();
    EXPECT_EQ(readRows(rig, {{1, 5, 0, KindPlain}, {mode.row.channel, mode.row.param, 0, KindPlain}}),
              kLogHead + mode.lines);
}

INSTANTIATE_TEST_SUITE_P(Modes, ExchangeLogOfAFault, ::testing::ValuesIn(kModeLogs),
                         [](const ::testing::TestParamInfo<ModeLog>& info) { return std::string(info.param.row.name); });

// Real I/O moves the times; what was sent and taken, and why, is what the
// same read gives on the model links.
TEST(ExchangeLogOfARead, OverARealPtyAsOnTheModelLine) {
    ModelRig model(kParams);
    Rig rig(kParams);
    const QStringList expected = withoutTime(readRows(model, troubleRows()));
    ASSERT_GE(requestLines(expected), troubleRows().size()) << "every row was asked";
    EXPECT_EQ(withoutTime(readRows(rig, troubleRows())), expected);
}

TEST(ExchangeLogOfARead, OverRealUdpAsOnTheModelLink) {
    Rig rig(kParams);
    rig.settings.useIp = 1;
    ModelRig model(kParams);
    model.settings.useIp = 1;
    model.settings.udpPort = rig.settings.udpPort; // the same peer in both logs
    const QStringList expected = withoutTime(readRows(model, troubleRows()));
    ASSERT_GE(requestLines(expected), troubleRows().size()) << "every row was asked";
    EXPECT_EQ(withoutTime(readRows(rig, troubleRows())), expected);
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

// A device that sends every answer twice: the first copy is taken, the
// second still waits when the next row's request goes out, and is thrown
// away then, shown as it came and why.
Bytes answerOf(const Bytes& request) {
    Request r;
    EXPECT_TRUE(parseRequest(request, r));
    return answerTo(r, FN_VALUE, oem("7") + bytesOf({FF}));
}

bool logged(const ExchangeLog& log, ExchangeEvent event) {
    for (const LogEntry& e : log.since(0).entries)
        if (e.kind == EntryKind::Event && e.event == event)
            return true;
    return false;
}

TEST(ExchangeLogOfARead, AnswerLeftOnTheLineIsThrownAwayBeforeTheNextRow) {
    Rig rig(kParams);
    constexpr int kLatePort = 9;
    PtyPeer peer(rig.dir.path() / ("COM" + std::to_string(kLatePort)), [](const std::string& request, int) {
        const Bytes answer = answerOf(Bytes(request.begin(), request.end()));
        return std::string(answer.begin(), answer.end());
    });
    rig.settings.portNumbers[0] = kLatePort;
    rig.setRows({{1, 5, 0, KindPlain}, {1, 6, 0, KindPlain}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] { return rig.rows.icon(0) == IconNeutral; }));
    // The first row's answer once more, before the second row is asked.
    const Bytes again = answerOf(layoutReadRequest(rig.rows.row(0), 0, {}));
    peer.send(again);
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(1), IconNeutral);
    const QStringList lines = withoutTime(withoutHex(TraceReader(rig.log).newLines()));
    const qsizetype discarded =
        lines.indexOf(QStringLiteral("• %1 байт от прежних запросов отброшено перед запросом").arg(again.size()));
    ASSERT_GT(discarded, 0) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[discarded - 1].startsWith(QStringLiteral("← COM9"))) << lines[discarded - 1].toStdString();
    EXPECT_TRUE(lines[discarded + 1].startsWith(QStringLiteral("→ COM9"))) << lines[discarded + 1].toStdString();
}

TEST(ExchangeLogOfARead, LateDatagramIsThrownAwayBeforeTheNextRowAndShown) {
    UdpPeer peer;
    peer.serve([](const Bytes& request) { return std::vector<Bytes>{answerOf(request), answerOf(request)}; });
    Rig rig(kParams);
    rig.settings.useIp = 1;
    rig.settings.deviceIp = kLoopback;
    rig.settings.udpPort = peer.port();
    rig.setRows({{1, 5, 0, KindPlain}, {1, 6, 0, KindPlain}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(0), IconNeutral);
    EXPECT_EQ(rig.rows.icon(1), IconNeutral);
    ASSERT_TRUE(logged(rig.log, ExchangeEvent::LateDatagram));
    const QStringList lines = withoutTime(withoutHex(TraceReader(rig.log).newLines()));
    const qsizetype late = lines.indexOf(QRegularExpression(QStringLiteral("^• датаграмма устройства \\(\\d+ байт\\) "
                                                                          "пришла после времени ожидания: отброшена$")));
    ASSERT_GT(late, 0) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[late - 1].startsWith(QStringLiteral("← UDP 127.0.0.1:%1").arg(peer.port())))
        << lines[late - 1].toStdString();
}

// A data block that cannot be written to its file (a folder of that name is
// in the way) still reads as answered, and the log says it was not saved.
TEST(ExchangeLogOfARead, DataBlockThatCannotBeSavedIsShown) {
    ModelRig rig(kParams + QStringLiteral("0 65530 0 | Архив |\n"));
    std::filesystem::create_directory(rig.dir.path() / kDataBlockFile);
    rig.settings.useIp = 1;
    rig.setRows({{1, 5, 0, KindPlain}, {0, 65530, 0, KindDataBlock}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(1), IconNeutral);
    const QStringList lines = withoutTime(withoutHex(TraceReader(rig.log).newLines()));
    static const QRegularExpression notSaved(
        QStringLiteral("^• блок данных \\(\\d+ байт\\) не сохранён в файл __data\\.hh$"));
    EXPECT_EQ(lines.filter(notSaved).size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(std::filesystem::is_directory(rig.dir.path() / kDataBlockFile));
}

TEST(ExchangeLogOfASignOn, AnnouncedSpeedThenTheRead) {
    devsim::ServerOptions options;
    options.optical.enabled = true;
    options.optical.speedChar = '5';
    ModelRig rig(kParams, {.server = options});
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

