#include "clitest.h"

#include "cliargs.h"

using namespace parvault;
using namespace parvault::clitest;

namespace {

QStringList linesOf(const QByteArray& utf8) { return QString::fromUtf8(utf8).split('\n', Qt::SkipEmptyParts); }

// The trace's lines without the time column, which follows the real clock.
QStringList untimed(QStringList lines) {
    for (QString& l : lines)
        l = l.mid(9);
    return lines;
}

QByteArray readFile(const std::filesystem::path& path) {
    QFile f(QString::fromStdString(path.string()));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

TEST_F(CliFixture, TraceWritesTheExchangeLogToAFileOrStandardError) {
    failErrorAndSilentRows();

    const QStringList read = {"read", "type:20", "--rows", "0:1,0:8,1:12", "--format", "csv"};
    const CliRun toFile = run(read + pty() + QStringList{"--trace", "trace.txt"});
    EXPECT_EQ(toFile.status, 1) << toFile.err;
    EXPECT_TRUE(toFile.err.empty()) << toFile.err;
    const QStringList lines = linesOf(readFile(dir.file("trace.txt")));
    ASSERT_GE(lines.size(), 12);
    EXPECT_EQ(lines[0], "   0.000 • начало чтения");
    // Real time: opening the port may take a millisecond.
    EXPECT_EQ(untimed(lines.mid(1, 1)), QStringList{"• COM7: порт открыт, 115200 бод"});
    EXPECT_TRUE(lines[2].contains(QStringLiteral("→ COM7 115200 бод  10 01 10 1F 1D 30 30 30 ")))
        << lines[2].toStdString();
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("| 1D чтение параметра; № 000; канал 000, параметр 001; CRC верна")));
    EXPECT_TRUE(lines.join('\n').contains(QStringLiteral("| 7F ответ об ошибке; № 004; ошибка «Нет доступа»; CRC верна")));
    EXPECT_EQ(lines.filter(QStringLiteral("параметр 012;")).size(), 3) << "three requests for the silent row";
    EXPECT_EQ(lines.filter(QStringLiteral("время ожидания вышло")).size(), 1);
    EXPECT_EQ(untimed(lines.mid(lines.size() - 2)),
              (QStringList{"• обмен завершён", "• COM7: порт закрыт"}));

    // "-": the same lines on standard error; the table stays on standard output.
    const CliRun toErr = run(read + pty() + QStringList{"--trace", "-"});
    EXPECT_EQ(toErr.status, 1);
    EXPECT_TRUE(toErr.outText().startsWith("row,channel,")) << toErr.out;
    EXPECT_EQ(untimed(linesOf(QByteArray::fromStdString(toErr.err))), untimed(lines));
}

TEST_F(CliFixture, TraceOverUdpNamesThePeer) {
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "0:1", "--trace", "-"} + udp());
    EXPECT_EQ(r.status, 0) << r.err;
    const QStringList lines = untimed(linesOf(QByteArray::fromStdString(r.err)));
    const QString peer = QStringLiteral("UDP 127.0.0.1:%1").arg(server->udpPort());
    ASSERT_EQ(lines.size(), 5) << r.err;
    EXPECT_EQ(lines[1], QStringLiteral("• %1: обмен по UDP").arg(peer));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("← %1  10 01 ").arg(peer))) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains(QStringLiteral("| 03 значение параметра; № 000; значение «")));
}

TEST(CliTraceArgs, BelongsToReadAndWrite) {
    EXPECT_EQ(cli::ParseArgs({"read", "type:20", "--trace", "t.txt"}).options.trace, QStringLiteral("t.txt"));
    EXPECT_EQ(cli::ParseArgs({"tree", "--trace", "t.txt"}).error,
              "--trace belongs to the read and write commands");
    EXPECT_FALSE(cli::ParseArgs({"read", "type:20", "--trace"}).ok());
}

TEST_F(CliFixture, TraceThatCannotBeWrittenIsAnErrorBeforeTheExchange) {
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "0:1", "--trace", "no/such/folder/t.txt"} + udp());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write the trace to"), std::string::npos) << r.err;
    EXPECT_EQ(model->requestCount({0, 1, 0}), 0);
}

} // namespace
