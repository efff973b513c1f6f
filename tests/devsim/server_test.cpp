#include "devsimtest.h"
#include "server.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <string>

using namespace parvault;
using namespace parvault::devsim;
using namespace parvault::devsimtest;
using parvault::testing::TempDir;

namespace {

// Upper bound for one answer to arrive; answers normally take milliseconds.
constexpr int kSafetyMs = 3000;

const char* const kServerTable = R"(
1  52  0 | 12,5 | кг/ч
1  53  0 | 7
1  54  0 | 8 | | silent
1  55  0 | 9 | | silent=2
1  59  0 | 13 | | pieces=4
1  60  0 | 14 | | delay=200
)";

DeviceModel makeServerModel(DeviceConfig config = {}) {
    ParamTable t;
    EXPECT_TRUE(t.parse(QString::fromUtf8(kServerTable), std::nullopt, nullptr));
    return DeviceModel(std::move(t), config);
}

class UdpClient {
public:
    explicit UdpClient(uint16_t serverPort) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        server_ = a;
        server_.sin_port = htons(serverPort);
    }
    ~UdpClient() { close(fd_); }
    void send(const Bytes& b) {
        sendto(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&server_), sizeof server_);
    }
    // One datagram, or nothing within the safety bound.
    std::optional<Bytes> receive() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kSafetyMs) != 1)
            return std::nullopt;
        Bytes buf(8192);
        const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
        if (n < 0)
            return std::nullopt;
        buf.resize(static_cast<size_t>(n));
        return buf;
    }

private:
    int fd_;
    sockaddr_in server_{};
};

class PtyClient {
public:
    explicit PtyClient(const std::string& link) {
        fd_ = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0)
            setSpeed(B9600);
    }
    ~PtyClient() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void setSpeed(speed_t speed) {
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        tcsetattr(fd_, TCSANOW, &t);
    }
    void send(const Bytes& b) {
        size_t done = 0;
        while (done < b.size()) {
            const ssize_t n = write(fd_, b.data() + done, b.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else
                poll(nullptr, 0, 1);
        }
    }
    // Feeds the program's assembler until it reports a frame (or the safety bound passes).
    ParsedAnswer receiveFrame(int* reads = nullptr) {
        AnswerAssembler a;
        return receiveWith([&](std::span<const uint8_t> d) {
            auto r = a.AssembleAnswer(d);
            return r.result == ANSWER_PENDING ? std::optional<ParsedAnswer>() : r;
        }, reads).value_or(ParsedAnswer{});
    }
    int receiveLine(AnswerAssembler& a) {
        return receiveWith([&](std::span<const uint8_t> d) {
                   const int r = a.ReadIdentLine(d);
                   return r == ANSWER_PENDING ? std::optional<int>() : r;
               }).value_or(ANSWER_PENDING);
    }

private:
    template <typename F>
    auto receiveWith(F consume, int* reads = nullptr) -> decltype(consume(std::span<const uint8_t>())) {
        uint8_t buf[512];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, kSafetyMs) != 1)
                return std::nullopt;
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0)
                continue;
            if (reads)
                ++*reads;
            if (auto r = consume(std::span<const uint8_t>(buf, static_cast<size_t>(n))))
                return r;
        }
    }
    int fd_ = -1;
};

struct UdpFixture : ::testing::Test {
    DeviceModel model = makeServerModel();
    std::unique_ptr<Server> server;
    std::unique_ptr<UdpClient> client;
    void SetUp() override {
        ServerOptions o;
        o.udpHost = "127.0.0.1";
        o.pieceGapMs = 5;
        server = std::make_unique<Server>(model, o);
        std::string error;
        ASSERT_TRUE(server->start(&error)) << error;
        ASSERT_NE(server->udpPort(), 0);
        client = std::make_unique<UdpClient>(server->udpPort());
    }
    ParsedAnswer roundTrip(const Bytes& request) {
        client->send(request);
        auto d = client->receive();
        return d ? parse(*d) : ParsedAnswer{};
    }
};

} // namespace

TEST_F(UdpFixture, ReadAndWrite) {
    const auto read = roundTrip(readRequest(7, 1, 52));
    EXPECT_EQ(read.result, ANSWER_OK);
    EXPECT_EQ(read.sequence, 7);
    EXPECT_EQ(read.value, QString::fromUtf8("12,5"));
    EXPECT_EQ(read.units, QString::fromUtf8("кг/ч"));
    const auto write = roundTrip(writeRequest(8, 1, 53, 0, KindPlain, QString::fromUtf8("Я")));
    EXPECT_EQ(write.result, ANSWER_OK);
    EXPECT_EQ(write.sequence, 8);
    EXPECT_EQ(model.entry({1, 53, 0})->value, QString::fromUtf8("Я"));
}

// Silence is shown by what comes next, not by waiting: the answer that
// arrives first is the one for the request after the silent ones.
TEST_F(UdpFixture, SilentRowSendsNoDatagram) {
    client->send(readRequest(1, 1, 54));
    client->send(readRequest(2, 1, 53));
    auto d = client->receive();
    ASSERT_TRUE(d);
    EXPECT_EQ(parse(*d).sequence, 2);
    EXPECT_EQ(model.requestCount({1, 54, 0}), 1);
}

TEST_F(UdpFixture, SilentFirstRequestsOfARowGoUnanswered) {
    client->send(readRequest(2, 1, 55));
    client->send(readRequest(3, 1, 55));
    client->send(readRequest(4, 1, 55));
    auto d = client->receive();
    ASSERT_TRUE(d);
    EXPECT_EQ(parse(*d).sequence, 4);
    EXPECT_EQ(parse(*d).value, "9");
    EXPECT_EQ(model.requestCount({1, 55, 0}), 3);
}

TEST_F(UdpFixture, DelayDoesNotHoldBackAPromptAnswer) {
    client->send(readRequest(5, 1, 60));
    client->send(readRequest(6, 1, 52));
    auto first = client->receive();
    auto second = client->receive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(parse(*first).sequence, 6);
    EXPECT_EQ(parse(*second).sequence, 5);
}

TEST_F(UdpFixture, PiecesArriveAsSeparateDatagrams) {
    client->send(readRequest(9, 1, 59));
    AnswerAssembler a;
    int datagrams = 0;
    ParsedAnswer r;
    while (r.result == ANSWER_PENDING) {
        auto d = client->receive();
        ASSERT_TRUE(d);
        ++datagrams;
        r = a.AssembleAnswer(*d);
    }
    EXPECT_EQ(datagrams, 4);
    EXPECT_EQ(r.sequence, 9);
    EXPECT_EQ(r.value, "13");
}

TEST(ServerPty, AnswersOnThePtyAndReadsTheSetSpeed) {
    TempDir dir;
    DeviceModel model = makeServerModel();
    ServerOptions o;
    o.ptyLink = dir.file("ports/COM7"); // the folder does not exist yet
    o.pieceGapMs = 5;
    Server server(model, o);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    ASSERT_TRUE(std::filesystem::is_symlink(*o.ptyLink));
    EXPECT_EQ(std::filesystem::read_symlink(*o.ptyLink).string(), server.ptySlavePath());

    PtyClient pty(*o.ptyLink);
    ASSERT_TRUE(pty.ok());
    pty.setSpeed(B4800);
    EXPECT_EQ(server.lineBaud(), 4800);
    pty.setSpeed(B9600);
    EXPECT_EQ(server.lineBaud(), 9600);

    pty.send(readRequest(7, 1, 52));
    const auto a = pty.receiveFrame();
    EXPECT_EQ(a.sequence, 7);
    EXPECT_EQ(a.value, QString::fromUtf8("12,5"));

    pty.send(readRequest(8, 1, 59));
    const auto pieces = pty.receiveFrame();
    EXPECT_EQ(pieces.sequence, 8);
    EXPECT_EQ(pieces.value, "13");

    // Silent rows, then one that answers: only the last one comes back.
    pty.send(readRequest(1, 1, 54));
    pty.send(readRequest(2, 1, 53));
    EXPECT_EQ(pty.receiveFrame().sequence, 2);

    server.stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(*o.ptyLink)));
}

TEST(ServerPty, SlowLineDeliversWholeAnswersAtTheSetSpeed) {
    TempDir dir;
    DeviceModel model = makeServerModel();
    ServerOptions o;
    o.ptyLink = dir.file("COM8");
    o.slowLine = true;
    Server server(model, o);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    PtyClient pty(*o.ptyLink);
    ASSERT_TRUE(pty.ok());
    pty.setSpeed(B115200);
    for (int k = 0; k < 3; ++k) {
        pty.send(readRequest(k, 1, 52));
        const auto a = pty.receiveFrame();
        EXPECT_EQ(a.result, ANSWER_OK) << k;
        EXPECT_EQ(a.sequence, k);
    }
}

TEST(ServerPty, OpticalHandshakeThenFramesAtTheNewSpeed) {
    TempDir dir;
    DeviceModel model = makeServerModel();
    ServerOptions o;
    o.ptyLink = dir.file("COM9");
    o.optical = {true, '6'};
    Server server(model, o);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    PtyClient pty(*o.ptyLink);
    ASSERT_TRUE(pty.ok());
    pty.setSpeed(B300);

    AnswerAssembler program;
    pty.send(signOnMessage());
    ASSERT_EQ(pty.receiveLine(program), ANSWER_OK);
    ASSERT_EQ(program.asmBuffer()[0], '/');
    const int speed = identSpeedIndex(program.asmBuffer()[12]);
    EXPECT_EQ(speed, 6);
    pty.send(optionSelectMessage(speed));
    ASSERT_EQ(pty.receiveLine(program), ANSWER_OK);
    EXPECT_EQ(program.asmBuffer()[0], ACK);

    // A frame at the old speed is noise; at 19200 baud the device answers.
    pty.send(readRequest(1, 1, 52));
    // The device judges the speed when it takes the bytes: let it take them first.
    for (int k = 0; k < kSafetyMs && model.log().back().note.find("agreed 19200") == std::string::npos; ++k)
        usleep(1000);
    EXPECT_EQ(model.log().back().note, "at 300 baud, agreed 19200");
    pty.setSpeed(B19200);
    pty.send(readRequest(2, 1, 52));
    EXPECT_EQ(pty.receiveFrame().sequence, 2);
}

TEST(ServerPty, RefusesToReplaceAFile) {
    TempDir dir;
    const std::string path = dir.file("COM1");
    { std::FILE* f = std::fopen(path.c_str(), "w"); std::fclose(f); }
    DeviceModel model = makeServerModel();
    ServerOptions o;
    o.ptyLink = path;
    Server server(model, o);
    std::string error;
    EXPECT_FALSE(server.start(&error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

// The program as other tests start it: a process that prints where it listens.
TEST(DevsimProcess, ServesUdpAndPtyUntilTerminated) {
    TempDir dir;
    const std::string link = dir.file("COM3");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl(PARVAULT_DEVSIM_EXE, PARVAULT_DEVSIM_EXE, "--params", PARVAULT_DEMO_PARAMS, "--type", "20", "--udp",
              "127.0.0.1:0", "--pty", link.c_str(), "--address", "16", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[256];
    while (text.find("ready\n") == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, kSafetyMs), 1) << text;
        const ssize_t n = read(out[0], buf, sizeof buf);
        ASSERT_GT(n, 0) << text;
        text.append(buf, static_cast<size_t>(n));
    }
    const auto at = text.find("udp 127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << text;
    const int port = std::stoi(text.substr(at + 14));
    EXPECT_NE(text.find("pty " + link + " -> /dev/pts/"), std::string::npos) << text;

    UdpClient udp(static_cast<uint16_t>(port));
    udp.send(readRequest(5, 1, 10, 0, KindPlain, {true, 16, 1}));
    auto d = udp.receive();
    ASSERT_TRUE(d);
    EXPECT_EQ(parse(*d).value, QString::fromUtf8("71,4"));

    {
        PtyClient pty(link);
        ASSERT_TRUE(pty.ok());
        pty.send(readRequest(6, 0, 310, 2, KindIndexed, {true, 16, 1}));
        const auto a = pty.receiveFrame();
        EXPECT_EQ(a.sequence, 6);
        EXPECT_EQ(a.value, QString::fromUtf8("0,115"));
        EXPECT_EQ(a.units, QString::fromUtf8("Гкал/ч"));
    }

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    close(out[0]);
}

namespace {

struct ProcessResult {
    int status = -1; // exit status, -1 when it did not exit
    std::string out;
    std::string err;
};

// Runs the program to its end; only for arguments that make it end at once.
ProcessResult runDevsim(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(PARVAULT_DEVSIM_EXE)};
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(PARVAULT_DEVSIM_EXE, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    ProcessResult r;
    // Both pipes at once: a full one would stall the program.
    pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* text[2] = {&r.out, &r.err};
    for (int open = 2; open > 0 && poll(p, 2, kSafetyMs) > 0;) {
        for (int k = 0; k < 2; ++k) {
            if (!p[k].revents)
                continue;
            char buf[4096];
            const ssize_t n = read(p[k].fd, buf, sizeof buf);
            if (n > 0) {
                text[k]->append(buf, static_cast<size_t>(n));
            } else {
                p[k].fd = -1;
                --open;
            }
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace

TEST(DevsimProcess, HelpDocumentsTheAnswerLayout) {
    const auto r = runDevsim({"--help"});
    EXPECT_EQ(r.status, 0);
    const std::string& text = r.out;
    EXPECT_NE(text.find("03 ddd: HT CCC HT PPP FF HT value [HT units] FF"), std::string::npos);
    // Every mode under "Failure modes:", and named in --fail's list.
    const size_t fail = text.find("--fail MODE");
    const size_t block = text.find("\nFailure modes:\n");
    ASSERT_NE(fail, std::string::npos);
    ASSERT_NE(block, std::string::npos);
    const std::string failOption = text.substr(fail, text.find("--piece-gap") - fail);
    for (const FailureMode& m : FailureModes()) {
        std::string label = FailureModeLabel(m);
        EXPECT_NE(text.find("\n  " + label + " ", block), std::string::npos) << label;
        std::erase(label, '"');
        EXPECT_NE(failOption.find(label), std::string::npos) << label;
    }
}

TEST(DevsimProcess, BadFailOptionEndsTheProgramWithTheReason) {
    const auto r = runDevsim({"--udp", "127.0.0.1:0", "--fail", "wrongseq=1000"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--fail: bad number in \"wrongseq=1000\" (1..999)"), std::string::npos)
        << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out; // never got as far as "ready"
}
