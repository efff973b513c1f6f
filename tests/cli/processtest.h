#pragma once

// The two programs as processes: parvault2-devsim started on a free UDP
// port, parvault2-cli run to its end in a working folder.

#include "tempdir.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>

namespace parvault::clitest {

using parvault::testing::TempDir;

inline constexpr int kStartMs = 5000;
inline constexpr int kRunMs = 20000;

struct Result {
    int status = -1;
    QString out;
    QString err;
};

class Simulator {
public:
    // The demo device of type 20 from `params` on a free UDP port, with more options.
    explicit Simulator(const QString& params, const QStringList& more = {}) {
        process_.start(PARVAULT_DEVSIM_EXE,
                       QStringList{"--params", params, "--type", "20", "--udp", "127.0.0.1:0"} + more);
        QByteArray seen;
        while (!seen.contains("ready\n") && process_.waitForReadyRead(kStartMs))
            seen += process_.readAllStandardOutput();
        const auto m = QRegularExpression("udp 127\\.0\\.0\\.1:(\\d+)").match(QString::fromUtf8(seen));
        if (m.hasMatch())
            port_ = m.captured(1);
        else
            ADD_FAILURE() << "the simulator did not start: " << process_.readAllStandardError().toStdString();
    }
    ~Simulator() {
        process_.terminate();
        if (!process_.waitForFinished(kStartMs))
            process_.kill();
    }
    QString target() const { return "127.0.0.1:" + port_; }
    QString route() const { return "udp:127.0.0.1:" + port_; }
    bool ready() const { return !port_.isEmpty(); }

private:
    QProcess process_;
    QString port_;
};

// childSetup runs in the child between fork and exec (limits, signals).
inline Result cli(const QString& workDir, const QStringList& args, const std::function<void()>& childSetup = {}) {
    QProcess p;
    p.setWorkingDirectory(workDir);
    if (childSetup)
        p.setChildProcessModifier(childSetup);
    p.start(PARVAULT_CLI_EXE, args);
    Result r;
    if (!p.waitForFinished(kRunMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace parvault::clitest
