// Fast pacing on the command line: in real time against the simulator on UDP
// and on a pty, the same rows and outcomes as the window's pacing.

#include "clitest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace parvault;
using namespace parvault::clitest;

namespace {

QJsonArray rowsOf(const CliRun& r) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object()["rows"].toArray();
}

} // namespace

TEST_F(CliFixture, FastPaceReadsWhatTheWindowsPaceReadsOverUdpAndPty) {
    // A silent row on the first route only: its three waits of a second are
    // most of the run, and the controller tests hold the silent row's fast
    // pace on both routes.
    devsim::Failure silent;
    silent.silent = true;
    model->setRowFailure({0, 4, 0}, silent);
    const QStringList read = {"read", "type:20", "--rows", "1-8,p310", "--format", "json"};
    for (const QStringList& route : {udp(), pty()}) {
        const bool withSilentRow = route == udp();
        const CliRun paced = run(read + route, /*realTime=*/true);
        const CliRun fast = run(read + route + QStringList{"--pace", "fast"}, /*realTime=*/true);
        EXPECT_EQ(paced.status, withSilentRow ? 1 : 0) << paced.err;
        EXPECT_EQ(fast.status, withSilentRow ? 1 : 0) << fast.err;
        const QJsonArray a = rowsOf(paced), b = rowsOf(fast);
        ASSERT_EQ(a.size(), b.size());
        ASSERT_GT(a.size(), 8);
        for (qsizetype i = 0; i < a.size(); ++i)
            EXPECT_EQ(a[i].toObject(), b[i].toObject()) << route.join(' ').toStdString() << " row " << i;
        model->setRowFailure({0, 4, 0}, {});
    }
    EXPECT_EQ(model->requestCount({0, 4, 0}), 2 * 3 + 2) << "three requests for the silent row in each UDP run";
}

TEST_F(CliFixture, FastPaceWithAGapWritesAndConfirms) {
    for (const QStringList& route : {udp(), pty()}) {
        const CliRun r = run(QStringList{"write", "type:20", "--set", "0:8=17", "--set", "0:310:2=0,25",
                                         "--pace", "fast", "--gap", "5", "--format", "json"} +
                                 route,
                             /*realTime=*/true);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto& v : rowsOf(r))
            EXPECT_EQ(v.toObject()["outcome"].toString(), "written");
        EXPECT_EQ(model->entry({0, 8, 0})->value, "17");
        EXPECT_EQ(model->entry({0, 310, 2})->value, "0,25");
        model->setEntry({0, 8, 0}, {"0", "", false, {}});
    }
}
