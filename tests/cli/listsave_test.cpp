// Saving lists from the command line, a device's settings saved as a list,
// and a read compared with the values a list holds: in-process against the
// simulator on UDP and on a pty.

#include "clitest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

using namespace parvault;
using namespace parvault::clitest;

namespace {

// The saved lists of device type 20, as the tree command shows them.
QJsonArray listsOfType20(const CliRun& tree) {
    for (const auto& t : json(tree)["types"].toArray())
        if (t.toObject()["code"].toInt() == 20)
            return t.toObject()["lists"].toArray();
    return {};
}

// Row key "channel:parameter:index" -> the row's JSON object.
std::map<QString, QJsonObject> rowsByKey(const QJsonObject& doc) {
    std::map<QString, QJsonObject> m;
    for (const auto& v : doc["rows"].toArray()) {
        const QJsonObject r = v.toObject();
        m[QStringLiteral("%1:%2:%3").arg(r["channel"].toInt()).arg(r["parameter"].toInt()).arg(r["index"].toInt())] = r;
    }
    return m;
}

devsim::Failure silentRow() {
    devsim::Failure f;
    f.silent = true;
    return f;
}

} // namespace

// ---------------------------------------------------------------- save

TEST_F(CliFixture, SaveMakesATimeStampedListThatShowsInTheTree) {
    const CliRun first = run({"save", "type:20", "--name", "Уставки", "--rows", "p300-399"});
    ASSERT_EQ(first.status, 0) << first.err;
    const auto m = QRegularExpression("^1  Уставки  \\((\\d{12}\\.mdb)\\)\\n$").match(first.outText());
    ASSERT_TRUE(m.hasMatch()) << first.out;
    const QString file = m.captured(1);
    EXPECT_TRUE(QFile::exists(file));

    // A saved list saved again, at once: the same second takes the next name.
    const CliRun second = run({"save", "1", "--name", "Часть", "--rows", "1-2", "--format", "json"});
    ASSERT_EQ(second.status, 0) << second.err;
    const QJsonObject saved = json(second);
    EXPECT_EQ(saved["number"].toInt(), 2);
    EXPECT_EQ(saved["name"].toString(), "Часть");
    EXPECT_EQ(saved["rows"].toInt(), 2);
    EXPECT_NE(saved["file"].toString(), file);

    const QJsonArray lists = listsOfType20(run({"tree", "--format", "json"}));
    ASSERT_EQ(lists.size(), 2);
    EXPECT_EQ(lists[0].toObject()["file"].toString(), file);
    EXPECT_EQ(lists[1].toObject()["name"].toString(), "Часть");

    // The lists load with the rows chosen, and nothing was asked of a device.
    const CliRun loaded = run(QStringList{"read", "Уставки", "--format", "json"} + udp());
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    const auto rows = rowsByKey(json(loaded));
    EXPECT_EQ(rows.size(), 8u);
    EXPECT_TRUE(rows.count("0:301:0") && rows.count("0:350:0") && rows.count("2:320:0"));
    EXPECT_EQ(json(run(QStringList{"read", "Часть", "--format", "json"} + udp()))["rows"].toArray().size(), 2);
}

TEST_F(CliFixture, SaveRefusesWhatItCannotSave) {
    const CliRun noName = run({"save", "type:20"});
    EXPECT_EQ(noName.status, 2);
    EXPECT_NE(noName.err.find("save wants --name NAME"), std::string::npos) << noName.err;
    const CliRun noList = run({"save", "9", "--name", "x"});
    EXPECT_EQ(noList.status, 2);
    EXPECT_NE(noList.err.find("no saved list number 9"), std::string::npos) << noList.err;
    const CliRun noRow = run({"save", "type:20", "--name", "x", "--rows", "99"});
    EXPECT_EQ(noRow.status, 2);
    EXPECT_NE(noRow.err.find("--rows"), std::string::npos) << noRow.err;
    EXPECT_TRUE(listsOfType20(run({"tree", "--format", "json"})).isEmpty()) << "no list file was made";
    EXPECT_EQ(model->framesReceived(), 0);
}

// ---------------------------------------------------------------- read --save-as

TEST_F(CliFixture, ReadSaveAsKeepsTheDevicesValuesInANewList) {
    int expectedLists = 0;
    for (const QStringList& link : {udp(), pty()}) {
        const QString name = QStringLiteral("Снимок %1").arg(expectedLists + 1);
        const CliRun r =
            run(QStringList{"read", "type:20", "--rows", "p300-399", "--save-as", name, "--format", "json"} + link);
        ASSERT_EQ(r.status, 0) << r.err;
        ++expectedLists;
        const QJsonObject savedAs = json(r)["savedAs"].toObject();
        EXPECT_EQ(savedAs["number"].toInt(), expectedLists);
        EXPECT_EQ(savedAs["name"].toString(), name);
        EXPECT_EQ(savedAs["rows"].toInt(), 8);

        // Loaded as the window loads it: the device's values are there.
        ScriptedUi ui;
        MemoryRowTable rows;
        DbSession db(ui, rows);
        ASSERT_TRUE(db.OpenMainDatabase());
        db.BuildTree();
        db.LoadTreeItem(MakeItemData(savedAs["number"].toInt(), 20));
        ASSERT_EQ(rows.rowCount(), 8);
        for (int i = 0; i < rows.rowCount(); ++i) {
            // A data block row shows the mark; the block goes to its own file.
            const QString value = rows.kind(i) == KindDataBlock
                                      ? QStringLiteral("-OK-")
                                      : deviceValue(leadingInt(rows.text(i, ColCanal)),
                                                    leadingInt(rows.text(i, ColParam)), leadingInt(rows.text(i, ColIndex)))
                                            .first;
            EXPECT_EQ(rows.text(i, ColValue), value) << "row " << i;
        }
        EXPECT_EQ(db.listFileTable.entry(savedAs["number"].toInt())->fileName, savedAs["file"].toString());

        // And a compare of the device with it finds nothing to tell.
        EXPECT_EQ(run(QStringList{"read", name, "--compare"} + link).status, 0);
    }

    // In text the new list is named on the error stream; the table stays as it was.
    const CliRun text = run(QStringList{"read", "type:20", "--rows", "1", "--save-as", "Третий"} + udp());
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.err.find("saved as list 3 \"Третий\" ("), std::string::npos) << text.err;
    EXPECT_EQ(text.outText().count('\n'), 3) << text.out;
}

TEST_F(CliFixture, ReadSaveAsSavesNothingWhenTheDeviceIsSilent) {
    devsim::Failure silent;
    silent.silent = true;
    model->setRunFailure(silent);
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "1-2", "--save-as", "Пусто"} + udp());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.find("saved as"), std::string::npos) << r.err;
    EXPECT_TRUE(listsOfType20(run({"tree", "--format", "json"})).isEmpty());
}

// ---------------------------------------------------------------- read --compare

TEST_F(CliFixture, CompareGivesTheStoredValueAndAVerdictPerRow) {
    // Rows 0:301, 0:302, 0:310:0, 1:100:0 and 1:320, their values stored by a
    // read that got no answer for 1:320 (so nothing is stored for it), with
    // 1:100:0 written by the device with a decimal point then.
    saveList("Сверка", {5, 6, 7, 15, 19});
    model->setEntry({1, 100, 0}, {"100.0", "имп/м3", false, {}});
    model->setRowFailure({1, 320, 0}, silentRow());
    ASSERT_EQ(run(QStringList{"read", "1", "--save"} + udp()).status, 1);
    model->setRowFailure({1, 320, 0}, {});

    // Now the device holds another 0:301, does not answer for 0:310:0 and
    // writes 1:100:0 with a decimal comma.
    model->setEntry({0, 301, 0}, {"26", "день", false, {}});
    model->setEntry({1, 100, 0}, {"100,0", "имп/м3", false, {}});
    model->setRowFailure({0, 310, 0}, silentRow());

    for (const QStringList& link : {udp(), pty()}) {
        const CliRun r = run(QStringList{"read", "1", "--compare", "--format", "json"} + link);
        EXPECT_EQ(r.status, 1) << r.err;
        const QJsonObject doc = json(r);
        auto rows = rowsByKey(doc);
        ASSERT_EQ(rows.size(), 5u) << r.out;
        EXPECT_EQ(rows["0:301:0"]["verdict"].toString(), "differs");
        EXPECT_EQ(rows["0:301:0"]["stored"].toString(), "25");
        EXPECT_EQ(rows["0:301:0"]["value"].toString(), "26");
        EXPECT_EQ(rows["0:302:0"]["verdict"].toString(), "same");
        EXPECT_EQ(rows["0:310:0"]["verdict"].toString(), "not-read");
        EXPECT_EQ(rows["0:310:0"]["outcome"].toString(), "unanswered");
        EXPECT_EQ(rows["0:310:0"]["stored"].toString(), "0,850");
        EXPECT_EQ(rows["1:100:0"]["verdict"].toString(), "same") << "100,0 is 100.0";
        EXPECT_EQ(rows["1:320:0"]["verdict"].toString(), "nothing-stored");
        const QJsonObject summary = doc["summary"].toObject();
        EXPECT_EQ(summary["same"].toInt(), 2);
        EXPECT_EQ(summary["differs"].toInt(), 1);
        EXPECT_EQ(summary["notRead"].toInt(), 1);
        EXPECT_EQ(summary["nothingStored"].toInt(), 1);
        EXPECT_EQ(doc["exitStatus"].toInt(), 1);
    }

    const CliRun csv = run(QStringList{"read", "1", "--compare", "--rows", "1-2", "--format", "csv"} + udp());
    EXPECT_EQ(csv.status, 1);
    EXPECT_EQ(csv.outText(), "row,channel,parameter,index,value,units,name,outcome,message,stored,verdict\n"
                             "1,0,301,0,26,день,Отчётный день месяца,ok,,25,differs\n"
                             "2,0,302,0,0,ч,Отчётный час суток,ok,,0,same\n");
    const CliRun text = run(QStringList{"read", "1", "--compare", "--rows", "1-3"} + udp());
    EXPECT_EQ(text.status, 1);
    EXPECT_TRUE(text.outText().contains(QRegularExpression("  ok  differs  stored: 25\\n"))) << text.out;
    EXPECT_TRUE(text.outText().contains(QRegularExpression("  unanswered  not-read  stored: 0,850\\n")))
        << text.out;

    // Every row the same: 0.
    const CliRun same = run(QStringList{"read", "1", "--compare", "--rows", "p302,1:100"} + udp());
    EXPECT_EQ(same.status, 0) << same.out;
}

TEST_F(CliFixture, CompareNeedsASavedList) {
    const CliRun r = run(QStringList{"read", "type:20", "--compare"} + udp());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--compare needs a saved list"), std::string::npos) << r.err;
    EXPECT_EQ(model->framesReceived(), 0);
    EXPECT_EQ(run(QStringList{"write", "type:20", "--set", "0:8=1", "--compare"} + udp()).status, 2);
}
