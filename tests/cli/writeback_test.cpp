// Writing back the stored values of the rows that differ, and reading back
// what was written: in-process against the simulator on UDP.

#include "clitest.h"
#include "cliargs.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace parvault;
using namespace parvault::clitest;

namespace {

// Row key "channel:parameter:index" -> the row's JSON object.
std::map<QString, QJsonObject> rowsOf(const QJsonObject& doc) {
    std::map<QString, QJsonObject> m;
    for (const auto& v : doc["rows"].toArray()) {
        const QJsonObject r = v.toObject();
        m[QStringLiteral("%1:%2:%3").arg(r["channel"].toInt()).arg(r["parameter"].toInt()).arg(r["index"].toInt())] = r;
    }
    return m;
}

class WriteBackCli : public CliFixture {
protected:
    // List 1: rows 0:301, 0:302, 0:310:0, 1:100:0 and 1:320, their values
    // stored from the device as it first was.
    void storedList() {
        saveList("Сверка", {5, 6, 7, 15, 19});
        ASSERT_EQ(run(QStringList{"read", "1", "--save"} + udp()).status, 0);
    }
    // The write requests the simulator received since `from`.
    int writesSince(size_t from) const {
        int writes = 0;
        const auto log = model->log();
        for (size_t i = from; i < log.size(); ++i) {
            const auto& b = log[i].bytes;
            if (!log[i].incoming)
                continue;
            for (size_t p = 0; p + 2 < b.size(); ++p)
                if (b[p] == 0x10 && b[p + 1] == 0x1F) {
                    writes += (b[p + 2] == 0x03 || b[p + 2] == 0x14) ? 1 : 0;
                    break;
                }
        }
        return writes;
    }
};

} // namespace

TEST_F(WriteBackCli, OnlyDifferingWritesTheDifferingRowsAndNamesEachOutcome) {
    storedList();
    model->setEntry({0, 301, 0}, {"26", "день", false, {}});   // differs: written back
    devsim::Failure keeps;
    keeps.keeps = QStringLiteral("9");
    model->setEntry({0, 302, 0}, {"7", "ч", false, keeps});    // takes the write, keeps 9
    model->setEntry({0, 310, 0}, {"0.850", "Гкал/ч", false, {}}); // the same, other decimal mark
    devsim::Failure error;
    error.errorText = QStringLiteral("Нет доступа");
    model->setRowFailure({1, 100, 0}, error);                  // not read
    model->setEntry({1, 320, 0}, {"41", "т/ч", true, {}});     // differs, refuses the write

    const size_t mark = model->log().size();
    const CliRun r = run(QStringList{"write", "1", "--only-differing", "--format", "json"} + udp());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(writesSince(mark), 3) << "0:301, 0:302 and 1:320 only";
    auto rows = rowsOf(json(r));
    EXPECT_EQ(rows["0:301:0"]["outcome"].toString(), "written");
    EXPECT_EQ(rows["0:301:0"]["value"].toString(), "25");
    EXPECT_EQ(rows["0:302:0"]["outcome"].toString(), "differs-after-write");
    EXPECT_EQ(rows["0:302:0"]["value"].toString(), "9");
    EXPECT_EQ(rows["0:302:0"]["stored"].toString(), "0");
    EXPECT_EQ(rows["0:310:0"]["outcome"].toString(), "unchanged");
    EXPECT_EQ(rows["1:100:0"]["outcome"].toString(), "not-read");
    EXPECT_EQ(rows["1:100:0"]["message"].toString(), "Нет доступа");
    EXPECT_EQ(rows["1:320:0"]["outcome"].toString(), "refused");
    EXPECT_EQ(rows["1:320:0"]["message"].toString(), QString::fromUtf8(devsim::kTextReadOnly));
    EXPECT_EQ(model->entry({0, 301, 0})->value, "25");
    EXPECT_EQ(model->entry({0, 310, 0})->value, "0.850") << "a same row is not written";

    // A device that takes everything: exit 0, and a second run writes nothing.
    model->setEntry({0, 302, 0}, {"7", "ч", false, {}});
    model->setRowFailure({1, 100, 0}, {});
    model->setEntry({1, 320, 0}, {"41", "т/ч", false, {}});
    const CliRun fixed = run(QStringList{"write", "1", "--only-differing", "--pace", "fast", "--format", "csv"} + udp());
    EXPECT_EQ(fixed.status, 0) << fixed.out << fixed.err;
    EXPECT_NE(fixed.out.find(",outcome,message,stored\n"), std::string::npos) << fixed.out;
    EXPECT_NE(fixed.out.find(",written,,0\n"), std::string::npos) << fixed.out;
    const size_t quiet = model->log().size();
    const CliRun again = run(QStringList{"write", "1", "--only-differing"} + udp());
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(writesSince(quiet), 0);
    EXPECT_EQ(QString::fromStdString(again.out).count("unchanged"), 5) << again.out;
}

TEST_F(WriteBackCli, VerifyReadsBackEveryWrite) {
    storedList();
    const CliRun ok = run(QStringList{"write", "1", "--set", "1=30", "--verify"} + udp());
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("written  stored: 30"), std::string::npos) << ok.out;

    devsim::Failure keeps;
    keeps.keeps = QStringLiteral("9");
    model->setRowFailure({0, 302, 0}, keeps);
    const CliRun kept = run(QStringList{"write", "1", "--set", "2=8", "--verify"} + udp());
    EXPECT_EQ(kept.status, 1) << kept.err;
    EXPECT_NE(kept.out.find("differs-after-write  stored: 8"), std::string::npos) << kept.out;
    // Without --verify the same write looks fine: the device confirmed it.
    EXPECT_EQ(run(QStringList{"write", "1", "--set", "2=8"} + udp()).status, 0);
}

TEST_F(WriteBackCli, OnlyDifferingOnManyDevices) {
    storedList();
    UdpDevice second = startUdpDevice();
    second.model->setEntry({0, 301, 0}, {"27", "день", false, {}});
    const QString targets = targetsFile(QStringLiteral("first,udp:127.0.0.1:%1\nsecond,%2\n")
                                            .arg(server->udpPort())
                                            .arg(second.route()));
    const CliRun r = run(QStringList{"write", "1", "--only-differing", "--targets", targets, "--pace", "fast",
                                     "--wait", "1", "--format", "json"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    int written = 0, unchanged = 0;
    for (const auto& v : json(r)["rows"].toArray()) {
        const QString o = v.toObject()["outcome"].toString();
        written += o == "written" ? 1 : 0;
        unchanged += o == "unchanged" ? 1 : 0;
    }
    EXPECT_EQ(written, 1);
    EXPECT_EQ(unchanged, 9);
    EXPECT_EQ(second.model->entry({0, 301, 0})->value, "25");
    second.server->stop();
}

TEST(WriteBackArgs, BelongToWriteAndStoreNothing) {
    using namespace parvault::cli;
    EXPECT_TRUE(ParseArgs({"write", "1", "--only-differing"}).ok()) << "every row by default";
    EXPECT_EQ(ParseArgs({"read", "1", "--only-differing"}).error, "--only-differing belongs to the write command");
    EXPECT_EQ(ParseArgs({"read", "1", "--verify"}).error, "--verify belongs to the write command");
    EXPECT_FALSE(ParseArgs({"write", "1", "--only-differing", "--save"}).ok());
    EXPECT_FALSE(ParseArgs({"write", "1", "--rows", "1", "--verify", "--export", "t.txt"}).ok());
}
