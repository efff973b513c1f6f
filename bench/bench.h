#pragma once

// The benchmarks the driver runs, each in a process of its own.

#include "benchutil.h"

namespace parvault::bench {

struct ExchangeRoute {
    QString name;
    bool udp = false;
    int speedIndex = 9; // into SpeedTable, for the serial routes
    bool logOpen = false; // the exchange log window open (and recording) throughout
    bool throughSer2net = false; // raw TCP to ser2net in front of the simulator's pty (pacing only)
};

struct ExchangeRun {
    int rowsRead = 0;
    double elapsedMs = 0;
    double rowsPerSecond = 0;
    double boundRowsPerSecond = 0;
    double meanLineMs = 0;
    std::pair<double, double> lineRangeMs; // shortest and longest row
    double maxStallMs = 0;
    std::vector<std::pair<double, double>> stallsOver; // (ms after start, ms stalled)
    QString error;
    int logLines = 0; // lines the log window showed at the end, with logOpen
};

// Reads n rows through the window from the simulator program.
ExchangeRun RunExchange(const ExchangeRoute& route, int n, bool probeStalls);

Figure CadenceFigure(const ExchangeRoute& route, int n);
// The stack without a window, with the window's or the fast pacing.
Figure PacingFigure(const ExchangeRoute& route, int n, bool fast);
std::vector<Figure> ListLoadFigures(int rows, int repeats);
std::vector<Figure> TreeBuildFigures(int repeats);
// The 10,000-row Jet list against the same list in the program's format.
Figure JetListLoadFigure(int repeats);
// The tree of 2,000 Jet lists against 2,000 own lists; the window's start with each.
std::vector<Figure> ManyListsFigures(int repeats);
std::vector<Figure> ResponsivenessFigures(int exchangeRows, int listRows);
// The longest stall of the window during a 300-baud exchange.
Figure ExchangeStallFigure(int exchangeRows, bool logOpen);
std::vector<Figure> MemoryFigures(int listRows);
// The window's compare of a listRows-row list with the simulator.
std::vector<Figure> CompareFigures(int listRows);

} // namespace parvault::bench
