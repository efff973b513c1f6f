#include "connectionsettings.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#include <vector>

using namespace parvault;
using parvault::testing::TempDir;

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ConnectionSettings sample() {
    ConnectionSettings s;
    s.portIndex = 2;
    s.speedIndex = 5;
    s.portNumbers[0] = 1;
    s.portNumbers[1] = 3;
    s.portNumbers[2] = 17;
    s.ownAddress = 1;
    s.deviceAddress = 16;
    s.waitSeconds = 3;
    s.useAddress = 1;
    s.useOptoport = 0;
    s.useIp = 1;
    s.deviceIp = 0xC0A8000A; // 192.168.0.10
    s.udpPort = 4001;
    return s;
}

} // namespace

TEST(SettingsFile, FirstRunWithoutFileKeepsStartValues) {
    TempDir dir;
    ConnectionSettings s;
    LoadSettings(s, dir.file("Parvault2.i"));
    EXPECT_EQ(s, ConnectionSettings{});
    EXPECT_EQ(s.portIndex, -1);
    EXPECT_EQ(s.waitSeconds, 1);
    EXPECT_EQ(s.speedIndex, 0);
    EXPECT_EQ(s.deviceIp, 0u);
    EXPECT_FALSE(s.chosenPortNumber());
}

TEST(SettingsFile, LayoutIsElevenLittleEndianItems) {
    const auto bytes = SerializeSettings(sample());
    ASSERT_EQ(bytes.size(), 296u);
    EXPECT_EQ(bytes[0], 2);  // portIndex
    EXPECT_EQ(bytes[4], 5);  // speedIndex
    EXPECT_EQ(bytes[8], 1);  // portNumbers[0]
    EXPECT_EQ(bytes[16], 17); // portNumbers[2]
    EXPECT_EQ(bytes[268], 16); // deviceAddress
    EXPECT_EQ(bytes[272], 3);  // waitSeconds
    // 192.168.0.10 in host order, stored little-endian.
    EXPECT_EQ(bytes[288], 0x0A);
    EXPECT_EQ(bytes[289], 0x00);
    EXPECT_EQ(bytes[290], 0xA8);
    EXPECT_EQ(bytes[291], 0xC0);
    EXPECT_EQ(bytes[292], 4001 & 0xFF);
    EXPECT_EQ(bytes[293], 4001 >> 8);
    // Negative values keep their two's complement bytes.
    ConnectionSettings none;
    const auto noneBytes = SerializeSettings(none);
    EXPECT_EQ(noneBytes[0], 0xFF);
    EXPECT_EQ(noneBytes[3], 0xFF);
}

TEST(SettingsFile, LoadThenSaveReproducesFileByteForByte) {
    TempDir dir;
    const std::string path = dir.file("Parvault2.i");
    // Odd values a foreign file might hold, including out-of-range ones.
    std::vector<uint8_t> original(296);
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<uint8_t>(i * 37 + 11);
    writeAll(path, original);

    ConnectionSettings s;
    LoadSettings(s, path);
    ASSERT_TRUE(SaveSettings(s, path));
    EXPECT_EQ(readAll(path), original);

    ConnectionSettings again;
    LoadSettings(again, path);
    EXPECT_EQ(again, s);
}

TEST(SettingsFile, ShortFileFillsOnlyWhatItCovers) {
    TempDir dir;
    const std::string path = dir.file("Parvault2.i");
    // portIndex whole, speedIndex cut after two bytes.
    writeAll(path, {0x03, 0x00, 0x00, 0x00, 0x07, 0x01});
    ConnectionSettings s;
    s.speedIndex = static_cast<int32_t>(0xAABBCCDD);
    LoadSettings(s, path);
    EXPECT_EQ(s.portIndex, 3);
    EXPECT_EQ(static_cast<uint32_t>(s.speedIndex), 0xAABB0107u);
    EXPECT_EQ(s.waitSeconds, 1);
    EXPECT_EQ(s.portNumbers[0], 0);
}

TEST(SettingsFile, BytesPastTheRecordAreIgnored) {
    TempDir dir;
    const std::string path = dir.file("Parvault2.i");
    auto bytes = SerializeSettings(sample());
    std::vector<uint8_t> longer(bytes.begin(), bytes.end());
    longer.resize(300, 0x5A);
    writeAll(path, longer);
    ConnectionSettings s;
    LoadSettings(s, path);
    EXPECT_EQ(s, sample());
    ASSERT_TRUE(SaveSettings(s, path));
    EXPECT_EQ(readAll(path).size(), 296u);
}

TEST(SettingsFile, UnwritableFileFailsSilently) {
    TempDir dir;
    EXPECT_FALSE(SaveSettings(sample(), dir.file("no-such-folder/Parvault2.i")));
}

#ifndef _WIN32
// A disk that fills while the settings are written (a file size limit stands
// in for it): the older settings stay whole and nothing is left beside them.
TEST(SettingsFile, AFailedWriteKeepsTheOlderFile) {
    TempDir dir;
    const std::string path = dir.file("Parvault2.i");
    const std::vector<uint8_t> older(296, 0x5A);
    writeAll(path, older);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = SaveSettings(sample(), path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(readAll(path), older);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u) << "no temporary file is left";
}
#endif

TEST(SettingsFile, DefaultPathFollowsTheCurrentDirectory) {
    TempDir a, b;
    {
        parvault::testing::ScopedCwd cwd(a.path());
        SaveSettings(sample());
    }
    {
        parvault::testing::ScopedCwd cwd(b.path());
        ConnectionSettings s;
        LoadSettings(s);
        EXPECT_EQ(s.portIndex, -1) << "nothing in the second folder yet";
        SaveSettings(sample());
    }
    EXPECT_EQ(readAll(b.file("Parvault2.i")).size(), 296u);
}

TEST(SettingsRecord, OutOfRangeIndexesAreNoChoice) {
    ConnectionSettings s = sample();
    EXPECT_EQ(s.chosenPortNumber(), 17);
    EXPECT_EQ(s.baudRate(), 9600);

    for (int32_t bad : {-1, -2, 64, 1000, INT32_MIN, INT32_MAX}) {
        s.portIndex = bad;
        EXPECT_FALSE(s.chosenPortNumber()) << bad;
    }
    s.portIndex = 5; // valid index, empty slot
    EXPECT_FALSE(s.chosenPortNumber());
    s.portIndex = 63;
    s.portNumbers[63] = 200;
    EXPECT_EQ(s.chosenPortNumber(), 200);

    for (int32_t bad : {-1, 10, 99}) {
        s.speedIndex = bad;
        EXPECT_FALSE(s.baudRate()) << bad;
    }
    s.speedIndex = 0;
    EXPECT_EQ(s.baudRate(), 300);
    s.speedIndex = 9;
    EXPECT_EQ(s.baudRate(), 115200);
    s.udpPort = 0x12345678;
    EXPECT_EQ(s.udpPortNumber(), 0x5678);
}

// The device server's settings live beside Parvault2.i, which keeps its 296
// bytes whatever route is chosen.
TEST(RouteFile, KeptBesideTheSettingsFileWhichKeepsItsLayout) {
    TempDir dir;
    const std::string settingsPath = dir.file("Parvault2.i");
    const std::string routePath = dir.file("Parvault2.route");
    ConnectionSettings s = sample();
    ASSERT_TRUE(SaveSettings(s, settingsPath));
    const auto before = readAll(settingsPath);

    s.deviceServer = {DeviceServer::Mode::Rfc2217, "ser2net.plant.example", 4001};
    ASSERT_TRUE(SaveSettings(s, settingsPath));
    ASSERT_TRUE(SaveRouteSettings(s, routePath));
    EXPECT_EQ(readAll(settingsPath), before) << "the server is not in Parvault2.i";

    ConnectionSettings loaded;
    LoadSettings(loaded, settingsPath);
    LoadRouteSettings(loaded, routePath);
    EXPECT_EQ(loaded, s);

    // Another route chosen later: the host is kept for the next time.
    s.deviceServer.mode = DeviceServer::Mode::None;
    ASSERT_TRUE(SaveRouteSettings(s, routePath));
    ConnectionSettings again;
    LoadRouteSettings(again, routePath);
    EXPECT_FALSE(again.deviceServer.inUse());
    EXPECT_EQ(again.deviceServer.host, "ser2net.plant.example");

    // Nothing to keep: no file is left behind.
    ASSERT_TRUE(SaveRouteSettings(ConnectionSettings{}, routePath));
    EXPECT_FALSE(std::filesystem::exists(routePath));
}

TEST(RouteFile, MalformedLinesChangeNothing) {
    DeviceServer d{DeviceServer::Mode::Raw, "a", 1};
    ApplyRouteSettingsText(d, "route=telnet\nport=70000\nport=12x\nhost=two words\ngarbage\n# host=b\n");
    EXPECT_EQ(d, (DeviceServer{DeviceServer::Mode::Raw, "a", 1}));
    ApplyRouteSettingsText(d, "\xEF\xBB\xBFroute = rfc2217\r\nhost=10.0.0.7\r\nport= 950\r\n");
    EXPECT_EQ(d.host, "10.0.0.7");
    EXPECT_EQ(d.port, 950);
    EXPECT_EQ(d.mode, DeviceServer::Mode::Rfc2217);
    DeviceServer back;
    ApplyRouteSettingsText(back, SerializeRouteSettings(d));
    EXPECT_EQ(back, d);
}
