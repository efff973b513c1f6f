// The command line on a working folder of Jet files: the demo main database
// and lists as Jet 3, against the simulator.

#include "clitest.h"
#include "jetimport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace parvault::clitest {
namespace {

namespace fs = std::filesystem;
const std::string kFixtures = PARVAULT_JET_FIXTURES;

QByteArray bytesOf(const std::string& file) {
    QFile f(QString::fromStdString(file));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

class CliJetFixture : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        fs::remove(dir.file("PARVLT2.mdb"));
        for (const auto& e : fs::directory_iterator(kFixtures + "/demo-jet3"))
            fs::copy_file(e.path(), dir.path() / e.path().filename());
        mainBefore = bytesOf(dir.file("PARVLT2.mdb"));
    }
    QByteArray mainBefore;
};

TEST_F(CliJetFixture, ReadAndWriteWithAJetMainDatabase) {
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "1-2,p310", "--format", "json"} + udp(), true);
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonArray rows = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object()["rows"].toArray();
    ASSERT_GE(rows.size(), 3);
    for (const auto& v : rows) {
        const QJsonObject row = v.toObject();
        EXPECT_EQ(row["value"].toString(),
                  deviceValue(row["channel"].toInt(), row["parameter"].toInt(), row["index"].toInt()).first);
        EXPECT_EQ(row["outcome"].toString(), "ok");
    }
    const CliRun w = run(QStringList{"write", "type:20", "--set", "0:8=12"} + udp());
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(model->entry({0, 8, 0})->value, "12");
    EXPECT_EQ(bytesOf(dir.file("PARVLT2.mdb")), mainBefore) << "the main database is never written";
}

TEST_F(CliJetFixture, SavingValuesIntoAJetListConvertsItOnceAndKeepsTheOriginal) {
    const std::string list = dir.file("240115093000.mdb");
    const QByteArray original = bytesOf(list);
    const CliRun first = run(QStringList{"read", "240115093000.mdb", "--rows", "1-2", "--save"} + udp());
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("240115093000.mdb.jet"), std::string::npos) << first.err;
    EXPECT_EQ(bytesOf(list + ".jet"), original);
    EXPECT_FALSE(IsJetFile(QString::fromStdString(list)));

    const CliRun second = run(QStringList{"read", "240115093000.mdb", "--rows", "1-2", "--save"} + udp());
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err.find(".jet"), std::string::npos) << "told once: " << second.err;
    // The stored values are the device's.
    const CliRun tree = run({"tree"});
    EXPECT_NE(tree.out.find("240115093000.mdb"), std::string::npos);
    EXPECT_EQ(tree.out.find(".jet"), std::string::npos) << "kept originals are not lists";
}

TEST_F(CliJetFixture, TreeNamesTheListFilesItLeavesOutAndWhy) {
    fs::copy_file(kFixtures + "/bad/damaged.mdb", dir.path() / "240120000000.mdb");
    fs::copy_file(kFixtures + "/bad/password.mdb", dir.path() / "240121000000.mdb");
    fs::copy_file(kFixtures + "/bad/other-app.mdb", dir.path() / "240122000000.mdb");
    const CliRun tree = run({"tree"});
    EXPECT_EQ(tree.status, 0) << tree.err;
    EXPECT_NE(tree.out.find("240115093000.mdb"), std::string::npos) << "the good lists are still shown";
    for (const std::string file : {"240120000000.mdb", "240121000000.mdb", "240122000000.mdb"}) {
        EXPECT_EQ(tree.out.find(file), std::string::npos) << file;
        EXPECT_NE(tree.err.find("Файл " + file + " не показан в дереве: "), std::string::npos) << tree.err;
    }
    EXPECT_NE(tree.err.find("240121000000.mdb не показан в дереве: файл защищён паролем."), std::string::npos);
}

TEST_F(CliJetFixture, ConvertTwiceChangesNothingTheSecondTime) {
    fs::copy_file(kFixtures + "/bad/other-app.mdb", dir.path() / "other-app.mdb");
    fs::copy_file(kFixtures + "/bad/damaged.mdb", dir.path() / "damaged.mdb");
    const CliRun first = run({"convert"});
    EXPECT_EQ(first.status, 1) << "a damaged file is not converted";
    EXPECT_NE(first.out.find("PARVLT2.mdb: converted, the original kept as PARVLT2.mdb.jet\n"), std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find("240116101500.mdb: converted"), std::string::npos);
    EXPECT_NE(first.out.find("other-app.mdb: not a parameter database, left as it is\n"), std::string::npos);
    EXPECT_NE(first.out.find("damaged.mdb: damaged, left as it is\n"), std::string::npos);

    // The folder's database files (the simulator's port link is there too).
    auto databaseFiles = [&] {
        std::map<std::string, QByteArray> files;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().find(".mdb") != std::string::npos)
                files[e.path().filename().string()] = bytesOf(e.path().string());
        return files;
    };
    const std::map<std::string, QByteArray> after = databaseFiles();
    const CliRun second = run({"convert"});
    EXPECT_NE(second.out.find("PARVLT2.mdb: already in the program's format\n"), std::string::npos) << second.out;
    EXPECT_EQ(second.out.find("converted"), std::string::npos) << second.out;
    EXPECT_EQ(databaseFiles(), after);

    // The converted folder reads as before.
    const CliRun r = run(QStringList{"read", "type:20", "--rows", "1"} + udp());
    EXPECT_EQ(r.status, 0) << r.err;
}

} // namespace
} // namespace parvault::clitest
