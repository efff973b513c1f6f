// The command line's own parsing: options, row selections, outcomes, CSV.

#include "cliargs.h"
#include "compare.h"
#include "report.h"
#include "rowselect.h"

#include <gtest/gtest.h>

using namespace parvault;
using namespace parvault::cli;

namespace {

ParseResult parse(const QString& line) { return ParseArgs(line.split(' ', Qt::SkipEmptyParts)); }

MemoryRowTable table(const std::vector<std::array<int, 3>>& keys) {
    std::vector<ParamRow> rows;
    for (const auto& k : keys) {
        ParamRow r;
        r.texts[ColCanal] = QString::asprintf("%3d", k[0]);
        r.texts[ColParam] = QString::asprintf("%4d", k[1]);
        r.texts[ColIndex] = QString::asprintf("%3d", k[2]);
        rows.push_back(r);
    }
    MemoryRowTable t;
    t.setRows(std::move(rows));
    return t;
}

std::vector<int> pick(const RowTable& t, const QString& text, QString* why = nullptr) {
    QString w;
    const auto s = ParseRowSpec(text, &w);
    if (!s) {
        if (why)
            *why = w;
        return {-1};
    }
    const auto m = MatchRows(t, *s, &w);
    if (why)
        *why = w;
    return m ? *m : std::vector<int>{-2};
}

} // namespace

TEST(CliArgs, CommandsListsAndConnectionOptions) {
    auto r = parse("read type:20 --udp 127.0.0.1:4001 --wait=3 --address 1:16 --rows 1-3 --format json");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.options.command, Command::Read);
    EXPECT_EQ(r.options.list, QString("type:20"));
    EXPECT_EQ(*r.options.connection.udpHostIp, 0x7F000001u);
    EXPECT_EQ(*r.options.connection.udpPort, 4001);
    EXPECT_EQ(*r.options.connection.waitSeconds, 3);
    EXPECT_EQ(*r.options.connection.address, std::make_pair(1, 16));
    EXPECT_EQ(*r.options.rows, QString("1-3"));
    EXPECT_EQ(r.options.format, Format::Json);

    r = parse("write 3 --set 1:8=12 --set 5=a=b --port com7 --speed 9600 --optical");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    ASSERT_EQ(r.options.sets.size(), 2u);
    EXPECT_EQ(r.options.sets[1].selector, QString("5"));
    EXPECT_EQ(r.options.sets[1].value, QString("a=b")) << "only the first = splits";
    EXPECT_EQ(*r.options.connection.comPort, 7);
    EXPECT_EQ(*r.options.connection.baud, 9600);
    EXPECT_TRUE(*r.options.connection.optical);

    // A device server: the name is kept as typed, to be looked up on connecting.
    r = parse("read 3 --rfc2217 moxa-7.plant.example:4001 --speed 9600");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.options.connection.server->host, QString("moxa-7.plant.example"));
    EXPECT_EQ(r.options.connection.server->port, 4001);
    EXPECT_TRUE(r.options.connection.server->rfc2217);
    r = parse("read 3 --tcp [fe80::1]:950");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.options.connection.server->host, QString("fe80::1"));
    EXPECT_FALSE(r.options.connection.server->rfc2217);

    // The export is the window's save-values command: it stores the values first.
    r = parse("read 2 --export out.txt");
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.options.save);
    EXPECT_EQ(parse("--help").options.command, Command::Help);
    EXPECT_EQ(parse("tree --format csv").options.format, Format::Csv);
}

TEST(CliArgs, SaveCompareAndManyDevices) {
    auto r = parse("save type:20 --name Уставки --rows p300-399 --format json");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.options.command, Command::Save);
    EXPECT_EQ(*r.options.listName, QString("Уставки"));
    EXPECT_EQ(*r.options.rows, QString("p300-399"));

    r = parse("read 3 --compare --save-as Снимок");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_TRUE(r.options.compare);
    EXPECT_EQ(*r.options.saveAs, QString("Снимок"));

    // With --targets the export is a folder of tables and stores no values.
    r = parse("write 3 --set 1=2 --targets devices.csv --export out/");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(*r.options.targetsPath, QString("devices.csv"));
    EXPECT_EQ(r.options.jobs, kDefaultJobs);
    EXPECT_FALSE(r.options.save);
    r = parse("read 3 --targets devices.csv --jobs 16");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.options.jobs, 16);
    EXPECT_TRUE(parse("read 3 --export a.txt").options.save) << "one device: the export stores the values";
}

TEST(CliArgs, UsageErrorsNameTheProblem) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"", "no command"},
        {"frobnicate", "unknown command"},
        {"read", "wants a LIST"},
        {"read 1 2", "unexpected argument"},
        {"read 1 --bogus", "unknown option"},
        {"read 1 --wait", "wants a value"},
        {"read 1 --save=yes", "takes no value"},
        {"read 1 --wait 0", "1 to 31"},
        {"read 1 --wait 32", "1 to 31"},
        {"read 1 --speed 1000", "--speed is one of"},
        {"read 1 --address 1:32", "OWN:DEVICE"},
        {"read 1 --address 7", "OWN:DEVICE"},
        {"read 1 --port COM0", "--port wants COMN"},
        {"read 1 --port COM07", "--port wants COMN"},
        {"read 1 --port ttyS0", "--port wants COMN"},
        {"read 1 --udp 127.0.0.1", "HOST:PORT"},
        {"read 1 --udp 127.0.0.1:0", "1 to 65535"},
        {"read 1 --udp 127.0.0.1:70000", "1 to 65535"},
        {"read 1 --udp 0.0.0.0:5", "names no device"},
        {"read 1 --udp 127.0.0.1:5 --port COM1", "exclude each other"},
        {"read 1 --set 1=2", "belongs to the write command"},
        {"write 1", "wants --set"},
        {"write 1 --set 5", "ROW=VALUE"},
        {"tree --rows 1", "--rows belongs"},
        {"tree --save", "--save and --export belong"},
        {"read 1 --format xml", "text, csv or json"},
        {"read 1 --rows 1 --rows 2", "twice"},
        {"save type:20", "save wants --name NAME"},
        {"save type:20 --name", "wants a value"},
        {"save type:20 --name x --set 1=2", "--set belongs to the write command"},
        {"save type:20 --name x --export a.txt", "--save and --export belong"},
        {"read 1 --name x", "--name belongs to the save command"},
        {"write 1 --set 1=2 --save-as x", "--save-as belongs to the read command"},
        {"write 1 --set 1=2 --compare", "--compare belongs to the read command"},
        {"tree --targets t.csv", "--targets belongs to the read and write commands"},
        {"read 1 --targets t.csv --udp 127.0.0.1:5", "--udp does not go with --targets"},
        {"read 1 --targets t.csv --port COM3", "--port does not go with --targets"},
        {"read 1 --targets t.csv --save", "--save does not go with --targets"},
        {"read 1 --targets t.csv --save-as x", "--save-as does not go with --targets"},
        {"read 1 --targets t.csv --save-settings", "--save-settings does not go with --targets"},
        {"read 1 --jobs 2", "--jobs belongs to --targets"},
        {"read 1 --targets t.csv --jobs 0", "from 1 to 64"},
        {"read 1 --targets t.csv --jobs 65", "from 1 to 64"},
        {"read 1 --pace slow", "window or fast"},
        {"read 1 --gap 5", "--gap goes with --pace fast"},
        {"read 1 --pace fast --gap -1", "from 0 to 10000"},
        {"read 1 --pace fast --gap 10001", "from 0 to 10000"},
        {"tree --pace fast", "belong to the read and write commands"},
        {"read 1 --targets t.csv --trace t.log", "--trace does not go with --targets"},
        {"read 1 --tcp 127.0.0.1", "HOST:PORT"},
        {"read 1 --tcp :4001", "HOST:PORT"},
        {"read 1 --rfc2217 host:0", "1 to 65535"},
        {"read 1 --tcp fe80::1:4001", "in brackets"},
        {"read 1 --tcp h:1 --rfc2217 h:2", "--tcp and --rfc2217 exclude each other"},
        {"read 1 --tcp h:1 --port COM1", "--tcp and --port exclude each other"},
        {"read 1 --rfc2217 h:1 --udp 127.0.0.1:5", "--rfc2217 and --udp exclude each other"},
        {"read 1 --targets t.csv --tcp h:1", "--tcp does not go with --targets"},
    };
    for (const auto& [line, expected] : cases) {
        const ParseResult r = parse(line);
        EXPECT_FALSE(r.ok()) << line.toStdString();
        EXPECT_TRUE(r.error.contains(expected)) << line.toStdString() << " -> " << r.error.toStdString();
    }
}

TEST(CliRows, NumbersRangesParametersAndAddresses) {
    // Rows as the list shows them: sorted by channel, parameter, index.
    const MemoryRowTable t = table({{0, 1, 0}, {0, 310, 0}, {0, 310, 1}, {1, 10, 0}, {1, 100, 0},
                                    {1, 100, 1}, {2, 10, 0}});
    EXPECT_EQ(pick(t, "1"), (std::vector<int>{0}));
    EXPECT_EQ(pick(t, "6-7,2"), (std::vector<int>{1, 5, 6}));
    EXPECT_EQ(pick(t, "p10"), (std::vector<int>{3, 6})) << "every channel";
    EXPECT_EQ(pick(t, "p100-400"), (std::vector<int>{1, 2, 4, 5}));
    EXPECT_EQ(pick(t, "0:310"), (std::vector<int>{1, 2})) << "every index";
    EXPECT_EQ(pick(t, "1:100:1"), (std::vector<int>{5}));
    EXPECT_EQ(pick(t, "1, 1 ,p1"), (std::vector<int>{0})) << "repeats collapse";
    EXPECT_EQ(pick(t, "all").size(), 7u);

    QString why;
    EXPECT_EQ(pick(t, "8", &why), (std::vector<int>{-2}));
    EXPECT_TRUE(why.contains("7 rows")) << why.toStdString();
    EXPECT_EQ(pick(t, "p999", &why), (std::vector<int>{-2}));
    EXPECT_TRUE(why.contains("picks no row"));
    EXPECT_EQ(pick(t, "1:100:9", &why), (std::vector<int>{-2}));
    for (const char* bad : {"0", "3-1", "x", "p", "1:", "1:2:3:4", "-1", "1,,2", "p1-x"})
        EXPECT_EQ(pick(t, bad), (std::vector<int>{-1})) << bad;
}

TEST(CliReport, OutcomesFollowTheRowIcons) {
    ParamRow row;
    row.icon = IconNeutral;
    EXPECT_EQ(ReadOutcome(row), Outcome::ReadOk);
    row.icon = IconSent;
    EXPECT_EQ(ReadOutcome(row), Outcome::ReadError);
    row.icon = IconReadUnanswered;
    EXPECT_EQ(ReadOutcome(row), Outcome::ReadUnanswered);
    row.icon = IconQueued;
    EXPECT_EQ(ReadOutcome(row), Outcome::NotRead) << "stopped before its turn";

    row.texts[ColValue] = "12";
    row.icon = IconWritten;
    EXPECT_EQ(WriteOutcome(row, "12"), Outcome::Written);
    row.icon = IconEdited;
    EXPECT_EQ(WriteOutcome(row, "12"), Outcome::NotSent) << "the typed value is still there";
    row.texts[ColValue] = "Параметр только для чтения";
    EXPECT_EQ(WriteOutcome(row, "12"), Outcome::Refused);
    row.icon = IconWriteUnanswered;
    EXPECT_EQ(WriteOutcome(row, "12"), Outcome::WriteUnanswered);
    row.icon = IconSent;
    EXPECT_EQ(WriteOutcome(row, "12"), Outcome::NotWritten);

    EXPECT_EQ(CsvField("0,850"), QString("\"0,850\""));
    EXPECT_EQ(CsvField("a \"b\""), QString("\"a \"\"b\"\"\""));
    EXPECT_EQ(CsvField("two\nlines"), QString("\"two\nlines\""));
    EXPECT_EQ(CsvField("plain"), QString("plain"));
}

TEST(CliCompare, NumbersMatchWithEitherDecimalMark) {
    const std::vector<std::pair<QString, QString>> same = {
        {"10,0", "10.0"}, {"10", "10,00"}, {"-0,5", "-.5"}, {"007", "7"},  {" 1,5", "1.5"},
        {"+3", "3"},      {"-0", "0"},     {"Вкл", "Вкл"},  {"5.", "5"},   {"08:00", "08:00"},
    };
    for (const auto& [a, b] : same)
        EXPECT_TRUE(sameValue(a, b)) << a.toStdString() << " / " << b.toStdString();
    const std::vector<std::pair<QString, QString>> differ = {
        {"10,0", "10,01"},
        {"12345678901234567890", "12345678901234567891"}, // no rounding through doubles
        {"1,5", "15"},
        {"-5", "5"},
        {"1e3", "1000"},
        {"1.2.3", "1.23"},
        {"1 000", "1000"},
        {"", "0"},
        {"вкл", "Вкл"},
        {"08:00", "8:00"},
    };
    for (const auto& [a, b] : differ)
        EXPECT_FALSE(sameValue(a, b)) << a.toStdString() << " / " << b.toStdString();

    EXPECT_EQ(compareWithStored(std::nullopt, "5"), Verdict::NotRead);
    EXPECT_EQ(compareWithStored(QString("5"), ""), Verdict::NothingStored);
    // A list keeps 63 characters of a value: a longer one is compared as kept.
    const QString longText(70, QChar(u'ж'));
    EXPECT_EQ(compareWithStored(longText, longText.left(63)), Verdict::Same);
    EXPECT_EQ(compareWithStored(longText, longText.left(62)), Verdict::Differs);
}
