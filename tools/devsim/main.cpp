// parvault2-devsim: a device on the bus, for tests and the demo.

#include "devicemodel.h"
#include "server.h"

#include <csignal>
#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <iostream>
#include <sstream>
#include <memory>
#include <vector>
#include <string>

using namespace parvault::devsim;

namespace {

// --help in three pieces around what the failure mode catalogue writes: the
// list of modes after --fail, and the "Failure modes:" block.
const char* const kHelpHead = R"(Usage: parvault2-devsim [options]

A simulated bus device. It answers read and write requests from a table of
parameters, on a UDP socket and/or on a pseudo-terminal, until it gets
SIGINT or SIGTERM. On start it prints one line per channel and then "ready":
  udp 127.0.0.1:40123
  pty /tmp/COM7 -> /dev/pts/5
  ready

Options:
  --params FILE      parameter file (format below); without it the table is empty
  --type N           use only the lines before any section and those of [type N]
  --udp HOST:PORT    answer UDP datagrams on HOST:PORT (PORT 0: a free port, printed)
  --pty LINK         create a pseudo-terminal; LINK becomes a symbolic link to
                     its slave, which the program opens as a serial port
                     (LINK's folder is created when missing)
  --address N        own device address (default 0); a request with an address
                     block for another device is not answered; a request
                     without an address block always is. Repeated: one more
                     device on the same line and UDP address for each further
                     N, with its own copy of the table
  --answer-any       parameters missing from the table read as "0", and a write
                     creates them
  --fail MODE        failure for every row (may be repeated; a row's own
)";

const char* const kHelpOptionsAfterFail = R"(  --piece-gap MS     pause between the pieces of a cut answer (default 20)
  --slow-line        the pty carries bytes at the baud rate the program set on
                     it (10 bit times a byte, both directions)
  --optical          optical mode on the pty: a sign-on at 300 baud is answered
                     with the identification line, the option select with ACK,
                     and frames are answered only at the agreed speed
  --optical-speed C  character 12 of the identification line (default 5);
                     its low four bits name the speed index, ':' means 10
  --log-frames       log every request received and answer sent, in hex, to stderr
  --help             this text

Failure modes:
)";

const char* const kHelpTail = R"(
Requests and answers (bytes after DLE SOH up to DLE ETX, then CRC-16/XMODEM
high byte first; texts in code page 866; [A] the address block when the
request had one, answered as program address, device address | 0x80):
  read       1D ddd: HT CCC HT PPP FF
         ->  03 ddd: HT CCC HT PPP FF HT value [HT units] FF
  read idx   0C ddd: HT CCC HT PPP HT III HT '1' FF
         ->  14 ddd: HT CCC HT PPP HT III HT '1' FF HT value [HT units] FF
  block      19 ddd: HT CCC HT 65530 FF
         ->  21 ddd: HT CCC HT 65530 FF HT block text FF
  write      03 ddd: HT CCC HT PPP FF HT value FF
  write idx  14 ddd: HT CCC HT PPP HT III HT '1' FF HT value FF
         ->  7F ddd: <request fields> FF HT FF              (written and kept)
         ->  7F ddd: <request fields> FF HT error text FF   (refused)
  The answer's value group starts after the first FF and the byte after it;
  units are sent only when the table has them. Read-only parameters refuse
  writes with "Параметр только для чтения", unknown ones answer
  "Нет такого параметра", malformed requests "Неверный запрос", other
  function codes "Неизвестная функция". A request with a bad CRC is ignored.

Optical sign-on (7-bit characters, even parity in bit 7, at 300 baud):
  "/?!" CR LF  ->  "/PV2-DEVSIM-" C CR LF   (C = --optical-speed)
  ACK '0' Z '3' CR LF  ->  ACK; frames then only at speed index Z

Parameter file (UTF-8):
  # comment
  [type 5]                       section; see --type
  CH PARAM INDEX | value | units | options
  1    52   0 | 12,5 | кг/ч
  1   310   3 | 7    | шт   | ro
  2 65530   0 | Блок данных\tстрока 2 |  |
  3   100   0 | 0    |      | silent=2 delay=300
  CH 0..999, PARAM 0..99999 (65530: the data block of that channel, INDEX 0),
  INDEX 0..999 (0 for plain parameters). In value and units \t \n \r \\ \|
  are escapes. Options: ro (writes refused) and the failure modes above.
  A later line for the same channel, parameter and index replaces an earlier one.
)";

constexpr size_t kHelpWidth = 79;

// The words of text on lines of at most kHelpWidth characters, each indented
// to the help column.
std::string helpLines(const std::string& text) {
    std::string out, line;
    std::istringstream words(text);
    for (std::string w; words >> w;) {
        if (!line.empty() && kHelpColumn + line.size() + 1 + w.size() > kHelpWidth) {
            out += std::string(kHelpColumn, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + w;
    }
    return out + std::string(kHelpColumn, ' ') + line + "\n";
}

std::string helpText() {
    std::string modes;
    for (const FailureMode& m : FailureModes()) {
        std::string label = FailureModeLabel(m);
        std::erase(label, '"');
        modes += (modes.empty() ? "" : ", ") + label;
    }
    return kHelpHead + helpLines("options take precedence): " + modes + " (see below)") +
           kHelpOptionsAfterFail + FailureModesHelp() + kHelpTail;
}

bool parseHostPort(const std::string& s, std::string& host, uint16_t& port) {
    const auto colon = s.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = s.substr(0, colon);
    char* end = nullptr;
    const long p = std::strtol(s.c_str() + colon + 1, &end, 10);
    if (*end || p < 0 || p > 65535 || host.empty())
        return false;
    port = static_cast<uint16_t>(p);
    return true;
}

int usage(const std::string& why) {
    std::cerr << "parvault2-devsim: " << why << "\n(see --help)\n";
    return 2;
}

} // namespace

// Runs until the user stops it: SIGINT or SIGTERM, or Ctrl+C / Ctrl+Break /
// closing the console on Windows.
#ifdef _WIN32
HANDLE g_stopEvent = nullptr;

BOOL WINAPI onConsoleEvent(DWORD) {
    ::SetEvent(g_stopEvent);
    return TRUE;
}

struct StopWait {
    StopWait() {
        g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    }
    void wait() { ::WaitForSingleObject(g_stopEvent, INFINITE); }
};
#else
struct StopWait {
    // Taken by sigwait, not by a handler: blocked in every thread made after this.
    StopWait() {
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    }
    void wait() {
        int signal = 0;
        sigwait(&stopSignals, &signal);
    }
    sigset_t stopSignals;
};
#endif

namespace {

// What the command line asked for.
struct Arguments {
    ServerOptions options;
    DeviceConfig config;
    std::optional<int> type;
    QString paramsPath;
    bool logFrames = false;
    std::vector<int> addresses;
};

// The words of the command line in turn, an option's value taken with it.
struct WordReader {
    int argc;
    char** argv;
    int i; // the word being read

    std::optional<std::string> value() {
        if (i + 1 >= argc)
            return std::nullopt;
        return std::string(argv[++i]);
    }
    bool number(int& out) {
        const auto v = value();
        if (!v)
            return false;
        char* end = nullptr;
        const long n = std::strtol(v->c_str(), &end, 10);
        if (*end || v->empty())
            return false;
        out = static_cast<int>(n);
        return true;
    }
};

// Reads the options into args. The exit code when the program ends here
// (--help, or a refusal), nothing when it goes on.
std::optional<int> parseArguments(int argc, char** argv, Arguments& args) {
    ServerOptions& options = args.options;
    DeviceConfig& config = args.config;
    WordReader words{argc, argv, 1};
    for (int& i = words.i; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&] { return words.value(); };
        const auto number = [&](int& out) { return words.number(out); };
        if (a == "--help" || a == "-h") {
            std::cout << helpText();
            return 0;
        } else if (a == "--params") {
            const auto v = value();
            if (!v)
                return usage("--params needs a file");
            args.paramsPath = QString::fromLocal8Bit(*v);
        } else if (a == "--type") {
            int t = 0;
            if (!number(t))
                return usage("--type needs a number");
            args.type = t;
        } else if (a == "--udp") {
            const auto v = value();
            std::string host;
            if (!v || !parseHostPort(*v, host, options.udpPort))
                return usage("--udp needs HOST:PORT");
            options.udpHost = host;
        } else if (a == "--pty") {
            const auto v = value();
            if (!v)
                return usage("--pty needs a link path");
            options.ptyLink = *v;
        } else if (a == "--address") {
            int n = 0;
            if (!number(n) || n < 0 || n > 255)
                return usage("--address needs 0..255");
            if (std::find(args.addresses.begin(), args.addresses.end(), n) != args.addresses.end())
                return usage("--address " + std::to_string(n) + " given twice");
            args.addresses.push_back(n);
        } else if (a == "--answer-any") {
            config.answerAny = true;
        } else if (a == "--fail") {
            const auto v = value();
            QString why;
            if (!v || !config.runFailure.parseOption(QString::fromLocal8Bit(*v), &why))
                return usage("--fail: " + why.toStdString());
        } else if (a == "--piece-gap") {
            if (!number(options.pieceGapMs) || options.pieceGapMs < 0)
                return usage("--piece-gap needs milliseconds");
        } else if (a == "--slow-line") {
            options.slowLine = true;
        } else if (a == "--optical") {
            options.optical.enabled = true;
        } else if (a == "--optical-speed") {
            const auto v = value();
            if (!v || v->size() != 1)
                return usage("--optical-speed needs one character");
            options.optical.speedChar = (*v)[0];
        } else if (a == "--log-frames") {
            args.logFrames = true;
        } else {
            return usage("unknown option " + a);
        }
    }
    if (!options.udpHost && !options.ptyLink)
        return usage("give --udp, --pty or both");
    return std::nullopt;
}

// With --log-frames every device writes its frames to stderr; with several
// devices on the line each line says whose it is.
void logFramesOf(DeviceModel& model, const std::vector<DeviceModel*>& neighbours, const std::vector<int>& addresses) {
    std::vector<DeviceModel*> all{&model};
    all.insert(all.end(), neighbours.begin(), neighbours.end());
    for (size_t k = 0; k < all.size(); ++k) {
        const std::string who = all.size() > 1 ? " [" + std::to_string(addresses[k]) + "]" : std::string();
        all[k]->setLogSink([who](const LoggedFrame& f) {
            std::cerr << f.channel << who << (f.incoming ? " rx " : " tx ") << Hex(f.bytes)
                      << (f.note.empty() ? "" : "  (" + f.note + ")") << std::endl;
        });
    }
}

// Serves until the user stops the program; prints the channels and "ready".
int serve(DeviceModel& model, const ServerOptions& options) {
    StopWait stopWait;

    Server server(model, options);
    std::string error;
    if (!server.start(&error)) {
        std::cerr << "parvault2-devsim: " << error << "\n";
        return 1;
    }
    if (options.udpHost)
        std::cout << "udp " << *options.udpHost << ":" << server.udpPort() << "\n";
    if (options.ptyLink)
        std::cout << "pty " << *options.ptyLink << " -> " << server.ptySlavePath() << "\n";
    std::cout << "ready" << std::endl;

    stopWait.wait();
    server.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (const std::optional<int> exitCode = parseArguments(argc, argv, args))
        return *exitCode;

    ParamTable table;
    if (!args.paramsPath.isEmpty()) {
        QString error;
        if (!table.load(args.paramsPath, args.type, &error)) {
            std::cerr << "parvault2-devsim: " << args.paramsPath.toStdString() << ": " << error.toStdString() << "\n";
            return 1;
        }
    }
    DeviceConfig& config = args.config;
    if (!args.addresses.empty())
        config.deviceAddress = args.addresses.front();
    // Every further address is another device on the same line.
    std::vector<std::unique_ptr<DeviceModel>> neighbours;
    for (size_t k = 1; k < args.addresses.size(); ++k) {
        DeviceConfig own = config;
        own.deviceAddress = args.addresses[k];
        neighbours.push_back(std::make_unique<DeviceModel>(table, own));
        args.options.neighbours.push_back(neighbours.back().get());
    }
    DeviceModel model(std::move(table), config);
    if (args.logFrames)
        logFramesOf(model, args.options.neighbours, args.addresses);
    return serve(model, args.options);
}
