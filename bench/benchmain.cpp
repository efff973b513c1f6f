// parvault2-bench: prints a table of the program's speed figures, each set
// against a bound or a baseline measured in the same run (the machines are
// shared and noisy, so absolute times alone say little).
//
//   parvault2-bench            every benchmark, each in a process of its own
//   parvault2-bench --quick    fewer rows, for a smoke run
//   parvault2-bench --only NAME[,NAME...]   some of: cadence-udp cadence-115200
//                              cadence-9600 cadence-log load tree responsiveness
//                              stall-log memory compare
// The window runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "bench.h"

#include <QApplication>
#include <QProcess>

#include <cstdio>
#include <cstring>

using namespace parvault::bench;

namespace {

const char* const kAll[] = {"cadence-udp",    "cadence-115200", "cadence-9600", "cadence-log",
                            "pacing-udp",     "pacing-115200",  "pacing-9600",  "pacing-ser2net",  "load",         "load-jet",
                            "tree",           "many-lists",     "responsiveness", "stall-log",    "memory",
                            "compare"};

int RunOne(const QString& name, bool quick) {
    const int exchangeRows = quick ? 100 : 500;
    const int slowRows = quick ? 5 : 50;
    const int listRows = 10000;
    const int repeats = quick ? 3 : 7;
    std::vector<Figure> figures;
    if (name == "cadence-udp")
        figures.push_back(CadenceFigure({QStringLiteral("UDP 127.0.0.1"), true, 9}, exchangeRows));
    else if (name == "cadence-115200")
        figures.push_back(CadenceFigure({QStringLiteral("pty 115200 baud"), false, 9}, exchangeRows));
    else if (name == "cadence-9600")
        figures.push_back(CadenceFigure({QStringLiteral("pty 9600 baud"), false, 5}, exchangeRows));
    else if (name == "pacing-ser2net") {
        ExchangeRoute route{QStringLiteral("ser2net raw TCP, pty 115200 baud"), false, 9};
        route.throughSer2net = true;
        figures.push_back(PacingFigure(route, exchangeRows, false));
        figures.push_back(PacingFigure(route, exchangeRows, true));
    } else if (name == "pacing-udp" || name == "pacing-115200" || name == "pacing-9600") {
        const ExchangeRoute route = name == "pacing-udp"      ? ExchangeRoute{QStringLiteral("UDP 127.0.0.1"), true, 9}
                                    : name == "pacing-115200" ? ExchangeRoute{QStringLiteral("pty 115200 baud"), false, 9}
                                                              : ExchangeRoute{QStringLiteral("pty 9600 baud"), false, 5};
        figures.push_back(PacingFigure(route, exchangeRows, false));
        figures.push_back(PacingFigure(route, exchangeRows, true));
    } else if (name == "cadence-log") {
        ExchangeRoute udp{QStringLiteral("UDP 127.0.0.1, log window open"), true, 9};
        udp.logOpen = true;
        ExchangeRoute pty{QStringLiteral("pty 115200 baud, log window open"), false, 9};
        pty.logOpen = true;
        figures.push_back(CadenceFigure(udp, exchangeRows));
        figures.push_back(CadenceFigure(pty, exchangeRows));
    } else if (name == "stall-log")
        figures.push_back(ExchangeStallFigure(slowRows, true));
    else if (name == "load")
        figures = ListLoadFigures(listRows, repeats);
    else if (name == "load-jet")
        figures.push_back(JetListLoadFigure(repeats));
    else if (name == "tree")
        figures = TreeBuildFigures(repeats);
    else if (name == "many-lists")
        figures = ManyListsFigures(quick ? 1 : 3);
    else if (name == "responsiveness")
        figures = ResponsivenessFigures(slowRows, listRows);
    else if (name == "memory")
        figures = MemoryFigures(listRows);
    else if (name == "compare")
        figures = CompareFigures(listRows);
    else {
        std::fprintf(stderr, "unknown benchmark %s\n", name.toUtf8().constData());
        return 2;
    }
    bool met = true;
    for (const Figure& f : figures) {
        PrintFigure(f);
        met = met && f.met;
    }
    return met ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bool quick = false;
    QString run, only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick"))
            quick = true;
        else if (!std::strcmp(argv[i], "--run") && i + 1 < argc)
            run = QString::fromLocal8Bit(argv[++i]);
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = QString::fromLocal8Bit(argv[++i]);
        else {
            std::fprintf(stderr, "usage: parvault2-bench [--quick] [--only NAME,...]\n");
            return 2;
        }
    }
    if (!run.isEmpty()) {
        QApplication app(argc, argv);
        return RunOne(run, quick);
    }

    // The driver: every benchmark in a fresh process, so that one's memory
    // and threads do not colour the next one's figures.
    QStringList names;
    for (const char* n : kAll)
        names << QString::fromLatin1(n);
    if (!only.isEmpty())
        names = only.split(',', Qt::SkipEmptyParts);
    PrintTableHead();
    int failures = 0;
    for (const QString& name : names) {
        QStringList args = {QStringLiteral("--run"), name};
        if (quick)
            args << QStringLiteral("--quick");
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QString::fromLocal8Bit(argv[0]), args);
        child.waitForFinished(-1);
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            ++failures;
    }
    std::printf("\n%d of %lld benchmarks missed a target or failed.\n", failures, static_cast<long long>(names.size()));
    return failures ? 1 : 0;
}
