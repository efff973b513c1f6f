#pragma once

// A working folder with the demo main database, a device simulator serving
// the demo device type 20 on UDP and a pty linked as COM7, and parvault2-cli
// run in-process against them.

#include "cli.h"
#include "dbsession.h"
#include "devicemodel.h"
#include "scriptedui.h"
#include "server.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

namespace parvault::clitest {

using testing::ScopedCwd;
using testing::ScriptedUi;
using testing::TempDir;

inline constexpr int kComPort = 7;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
    QString outText() const { return QString::fromStdString(out); }
};

// A file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The JSON document a run printed.
inline QJsonObject json(const CliRun& r) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out;
    return doc.object();
}

// The outcome of each row of a JSON report, keyed "channel:parameter:index".
inline std::map<QString, QString> outcomes(const QJsonObject& doc) {
    std::map<QString, QString> m;
    for (const auto& v : doc["rows"].toArray()) {
        const QJsonObject r = v.toObject();
        m[QStringLiteral("%1:%2:%3").arg(r["channel"].toInt()).arg(r["parameter"].toInt()).arg(r["index"].toInt())] =
            r["outcome"].toString();
    }
    return m;
}


// Steps the controller on a manual clock, as the controller tests do: every
// step is 25 ms of exchange time and a moment of real time for the I/O, every
// fourth one a 100 ms tick. A silent row then costs well under a second.
inline bool ManualClockDriver(cli::HeadlessExchange& ex) {
    constexpr int kMaxSteps = 6000;
    int steps = 0;
    while (ex.controller.busy() && steps < kMaxSteps) {
        ex.stack.step(++steps % 4 == 0);
        std::this_thread::sleep_for(std::chrono::microseconds(1500));
    }
    cli::drainMessages(ex);
    return !ex.controller.busy();
}

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file(PARVAULT_DEMO_DB, dir.file("PARVLT2.mdb"));
        devsim::ParamTable table;
        QString error;
        ASSERT_TRUE(table.load(QStringLiteral(PARVAULT_DEMO_PARAMS), 20, &error)) << error.toStdString();
        model = std::make_unique<devsim::DeviceModel>(std::move(table), deviceConfig());
        devsim::ServerOptions options = serverOptions();
        options.udpHost = "127.0.0.1";
        options.ptyLink = dir.file("COM" + std::to_string(kComPort));
        server = std::make_unique<devsim::Server>(*model, options);
        std::string why;
        ASSERT_TRUE(server->start(&why)) << why;
    }
    void TearDown() override {
        if (server)
            server->stop();
    }
    virtual devsim::ServerOptions serverOptions() { return {}; }
    virtual devsim::DeviceConfig deviceConfig() { return {}; }

    // The demo list's rows that the failing-row tests use: 0:8 answers with
    // an error text, 1:12 never answers.
    void failErrorAndSilentRows() {
        devsim::Failure error;
        error.errorText = QStringLiteral("Нет доступа");
        model->setRowFailure({0, 8, 0}, error);
        devsim::Failure silent;
        silent.silent = true;
        model->setRowFailure({1, 12, 0}, silent);
    }

    // One more simulated device of type 20, on a UDP port of its own.
    struct UdpDevice {
        std::unique_ptr<devsim::DeviceModel> model;
        std::unique_ptr<devsim::Server> server;
        QString route() const { return QStringLiteral("udp:127.0.0.1:%1").arg(server->udpPort()); }
    };
    UdpDevice startUdpDevice(devsim::DeviceConfig config = {}) {
        devsim::ParamTable table;
        QString error;
        EXPECT_TRUE(table.load(QStringLiteral(PARVAULT_DEMO_PARAMS), 20, &error)) << error.toStdString();
        UdpDevice d;
        d.model = std::make_unique<devsim::DeviceModel>(std::move(table), config);
        devsim::ServerOptions options;
        options.udpHost = "127.0.0.1";
        d.server = std::make_unique<devsim::Server>(*d.model, options);
        std::string why;
        EXPECT_TRUE(d.server->start(&why)) << why;
        return d;
    }
    // Writes a targets file into the working folder; returns its name.
    QString targetsFile(const QString& text) {
        const std::string path = dir.file("targets.csv");
        QFile f(QString::fromStdString(path));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
        return QString::fromStdString(path);
    }
    QString linkFolder() const { return QString::fromStdString(dir.path().string()); }

    // Runs one command line in the working folder; manual clock unless asked.
    CliRun run(QStringList args, bool realTime = false, const std::atomic<bool>* stop = nullptr) {
        std::ostringstream out, err;
        cli::CliEnvironment env{out, err};
        env.stop = stop;
        env.progressLine = progressLine;
        if (!realTime)
            env.driver = driver;
        CliRun r;
        r.status = cli::RunCli(args, env);
        r.out = out.str();
        r.err = err.str();
        return r;
    }
    QStringList udp() const {
        return {"--udp", QStringLiteral("127.0.0.1:%1").arg(server->udpPort()), "--wait", "1"};
    }
    QStringList pty() const {
        return {"--port", QStringLiteral("COM%1").arg(kComPort), "--port-links",
                QString::fromStdString(dir.path().string()), "--speed", "115200", "--wait", "1"};
    }

    // Saves the rows of type 20 picked by `rows` (list indices) as a list
    // through the window's own save command; returns its file name.
    QString saveList(const QString& name, const std::vector<int>& rows, int second = 0) {
        ScriptedUi ui;
        MemoryRowTable table;
        DbSession db(ui, table);
        db.clock = [second] { return QDateTime(QDate(2024, 3, 14), QTime(9, 41, second)); };
        EXPECT_TRUE(db.OpenMainDatabase());
        db.BuildTree();
        db.LoadTreeItem(MakeItemData(0, 20));
        for (int r : rows)
            table.setSelected(r, true);
        ui.listNames.push_back(name);
        db.SaveList();
        EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().text.toStdString();
        return ListFileNameFor(db.clock());
    }

    // The device's value and units for a key as the program receives them
    // (through code page 866).
    std::pair<QString, QString> deviceValue(int channel, int param, int index = 0) const {
        const auto e = model->entry({channel, param, index});
        if (!e)
            return {};
        return {devsim::FromOem(devsim::ToOem(e->value)), devsim::FromOem(devsim::ToOem(e->units))};
    }

    TempDir dir;
    ScopedCwd cwd{dir.path()};
    bool progressLine = false; // as on a terminal
    cli::ExchangeDriver driver = ManualClockDriver;
    std::unique_ptr<devsim::DeviceModel> model;
    std::unique_ptr<devsim::Server> server;
};

} // namespace parvault::clitest
