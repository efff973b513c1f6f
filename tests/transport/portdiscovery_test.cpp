#include "connectionsettings.h"
#include "portdiscovery.h"
#include "portnaming.h"
#include "ptypeer.h"
#include "serialchannel.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace parvault;
using parvault::testing::PtyPeer;
using parvault::testing::TempDir;

namespace {

class PortDiscoveryTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path links;
    std::string target;
    PortSources sources;
    ConnectionSettings settings;

    PortDiscoveryTest() {
        links = dir.path() / "ports";
        std::filesystem::create_directories(links);
        target = dir.file("device");
        std::ofstream(target) << "";
        sources.linkFolder = links;
        settings.portNumbers.fill(77); // a stale table from an earlier discovery
    }
    void link(const std::string& name, const std::string& to) {
        std::filesystem::create_symlink(to, links / name);
    }
    void link(int port) { link("COM" + std::to_string(port), target); }

    std::vector<int32_t> table(size_t count) const {
        return {settings.portNumbers.begin(), settings.portNumbers.begin() + static_cast<long>(count)};
    }
    static std::vector<QString> texts(const std::vector<PortListEntry>& entries) {
        std::vector<QString> out;
        for (const auto& e : entries)
            out.push_back(e.text);
        return out;
    }
    // Position k of the list and of the table must name the same port, and the
    // rest of the table must be empty.
    void expectListMatchesTable(const std::vector<PortListEntry>& entries) const {
        for (size_t k = 0; k < entries.size(); ++k) {
            EXPECT_EQ(entries[k].number, settings.portNumbers[k]) << k;
            EXPECT_EQ(entries[k].text, portListText(entries[k].number)) << k;
        }
        for (size_t k = entries.size(); k < settings.portNumbers.size(); ++k)
            EXPECT_EQ(settings.portNumbers[k], 0) << k;
    }
};

TEST(PortNamingTest, LinkNamesAreComAndAPlainNumber) {
    EXPECT_EQ(parsePortLinkName("COM1"), 1);
    EXPECT_EQ(parsePortLinkName("COM123"), 123);
    EXPECT_EQ(parsePortLinkName("COM65535"), 65535);
    for (const char* bad : {"COM", "COM0", "COM05", "COM-3", "COM+3", "COM 3", "COM3x", "com3", "LPT1",
                            "COM65536", "COM99999999999", "XCOM3"})
        EXPECT_FALSE(parsePortLinkName(bad).has_value()) << bad;
}

TEST(PortNamingTest, DeviceFamiliesHaveFixedNumbers) {
    EXPECT_EQ(portNumberForDevice("/dev/ttyS0"), 1);
    EXPECT_EQ(portNumberForDevice("/dev/ttyS31"), 32);
    EXPECT_EQ(portNumberForDevice("/dev/ttyUSB0"), 33);
    EXPECT_EQ(portNumberForDevice("/dev/ttyUSB31"), 64);
    EXPECT_EQ(portNumberForDevice("/dev/ttyACM0"), 65);
    EXPECT_EQ(portNumberForDevice("/dev/ttyACM31"), 96);
    for (const char* other : {"/dev/ttyS32", "/dev/ttyUSB32", "/dev/ttyAMA0", "/dev/ttyS", "/dev/ttyS01",
                              "/dev/tty0", "/dev/rfcomm0", "/dev/ttySx"})
        EXPECT_FALSE(portNumberForDevice(other).has_value()) << other;

    // And back: every number of a family opens the device that gives it.
    PortNaming naming;
    naming.deviceFolder = "/dev";
    for (int port = 1; port <= 96; ++port) {
        auto path = portDevicePath(port, naming);
        ASSERT_TRUE(path.has_value()) << port;
        EXPECT_EQ(portNumberForDevice(*path), port);
    }
    EXPECT_FALSE(portDevicePath(0, naming).has_value());
    EXPECT_FALSE(portDevicePath(97, naming).has_value());
}

TEST_F(PortDiscoveryTest, LinksAddPortsAndOverrideTheFamilies) {
    link(3);
    link(150);
    link("COM9", dir.file("gone")); // dangling: still the user's choice when opening
    PortNaming naming;
    naming.linkFolder = links;
    naming.deviceFolder = "/dev";
    EXPECT_EQ(portDevicePath(3, naming), links / "COM3");
    EXPECT_EQ(portDevicePath(150, naming), links / "COM150");
    EXPECT_EQ(portDevicePath(9, naming), links / "COM9");
    EXPECT_EQ(portDevicePath(4, naming), std::filesystem::path("/dev/ttyS3"));
    EXPECT_FALSE(portDevicePath(151, naming).has_value());
}

TEST(PortNamingTest, DefaultLinkFolderIsInTheUsersHome) {
    auto folder = defaultPortLinkFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.filename(), "ports");
    EXPECT_EQ(folder.parent_path().filename(), ".parvault2");
}

TEST_F(PortDiscoveryTest, SystemPortsAreListedInAscendingOrder) {
    sources.systemDevices = {"/dev/ttyS2", "/dev/ttyS0", "/dev/ttyS9"};
    auto entries = DiscoverPorts(settings, sources);
    EXPECT_EQ(texts(entries), (std::vector<QString>{"COM01", "COM03", "COM10"}));
    EXPECT_EQ(table(4), (std::vector<int32_t>{1, 3, 10, 0}));
    expectListMatchesTable(entries);
}

TEST_F(PortDiscoveryTest, PortInBothPlacesIsListedOnce) {
    link(3);
    link(33);
    sources.systemDevices = {"/dev/ttyS2", "/dev/ttyUSB0", "/dev/ttyS2"};
    auto entries = DiscoverPorts(settings, sources);
    EXPECT_EQ(texts(entries), (std::vector<QString>{"COM03", "COM33"}));
    expectListMatchesTable(entries);
}

TEST_F(PortDiscoveryTest, NamesThatAreNoPortAndDanglingLinksAreSkipped) {
    for (const char* name : {"COM", "LPT1", "COM0", "COM05", "com7", "COMx", "readme"})
        link(name, target);
    link("COM8", dir.file("unplugged"));
    link(4);
    sources.systemDevices = {"/dev/ttyAMA0", "/dev/rfcomm0", "/dev/ttyS40"};
    auto entries = DiscoverPorts(settings, sources);
    EXPECT_EQ(texts(entries), (std::vector<QString>{"COM04"}));
    expectListMatchesTable(entries);
}

TEST_F(PortDiscoveryTest, NothingFoundLeavesAnEmptyListAndAnEmptyTable) {
    sources.linkFolder = dir.path() / "no-such-folder";
    auto entries = DiscoverPorts(settings, sources);
    EXPECT_TRUE(entries.empty());
    expectListMatchesTable(entries);
}

TEST_F(PortDiscoveryTest, PortsAbove100KeepListAndTableInStep) {
    for (int port : {100, 11, 2, 123, 1000})
        link(port);
    auto entries = DiscoverPorts(settings, sources);
    // Text order would put COM100 before COM11 and make position 2 open another port.
    EXPECT_EQ(texts(entries), (std::vector<QString>{"COM02", "COM11", "COM100", "COM123", "COM1000"}));
    expectListMatchesTable(entries);
}

TEST_F(PortDiscoveryTest, MoreThan32PortsAreAllSorted) {
    for (int k = 31; k >= 0; --k)
        sources.systemDevices.push_back("/dev/ttyUSB" + std::to_string(k));
    for (int k = 7; k >= 0; --k)
        sources.systemDevices.push_back("/dev/ttyS" + std::to_string(k));
    auto entries = DiscoverPorts(settings, sources);
    ASSERT_EQ(entries.size(), 40u);
    for (size_t k = 1; k < entries.size(); ++k)
        EXPECT_LT(entries[k - 1].number, entries[k].number) << k;
    EXPECT_EQ(entries.front().number, 1);
    EXPECT_EQ(entries.back().number, 64);
    expectListMatchesTable(entries);
}

TEST_F(PortDiscoveryTest, AtMost64PortsAndTheUsersLinksAreKept) {
    link(200);
    link(500);
    for (const char* family : {"ttyS", "ttyUSB", "ttyACM"})
        for (int k = 0; k < 32; ++k)
            sources.systemDevices.push_back(std::string("/dev/") + family + std::to_string(k));
    auto entries = DiscoverPorts(settings, sources);
    ASSERT_EQ(entries.size(), static_cast<size_t>(kMaxListedPorts));
    EXPECT_EQ(entries[62].number, 200);
    EXPECT_EQ(entries[63].number, 500);
    EXPECT_EQ(entries[61].number, 62);
    expectListMatchesTable(entries);
}

// The serial port library opens each built-in port to see whether it is
// real; the port we hold exclusively fails that and would drop out of the
// list, so that opening the settings during an exchange lost the user's port.
TEST_F(PortDiscoveryTest, PortThisProgramHoldsOpenIsListed) {
    PtyPeer pty;
    PortNaming naming;
    naming.linkFolder = links;
    naming.deviceFolder = dir.path() / "dev";
    std::filesystem::create_directories(naming.deviceFolder);
    // A built-in port the library does not list on this machine stands for
    // the one it leaves out.
    const std::vector<std::string> machine = systemPortSources(naming).systemDevices;
    int k = 0;
    while (k < 32 && std::find(machine.begin(), machine.end(), "/dev/ttyS" + std::to_string(k)) != machine.end())
        ++k;
    if (k == 32)
        GTEST_SKIP() << "every built-in port number is taken on this machine";
    const int port = k + 1;
    std::filesystem::create_symlink(pty.slavePath(), naming.deviceFolder / ("ttyS" + std::to_string(k)));
    auto listed = [&] {
        std::vector<int32_t> numbers;
        for (const auto& e : DiscoverPorts(settings, systemPortSources(naming)))
            numbers.push_back(e.number);
        return std::find(numbers.begin(), numbers.end(), port) != numbers.end();
    };
    {
        SerialChannel channel(naming);
        ASSERT_EQ(ComOpen(channel, static_cast<uint16_t>(port), 9600), COM_OPEN_OK);
        EXPECT_TRUE(listed()) << "the open port is always in the list";
        ASSERT_EQ(ComClose(channel), 0);
    }
    EXPECT_FALSE(listed()) << "once closed it is up to the library again";
}

// Two adapters can swap numbers after a replug; the list must say which
// device each number is.
TEST_F(PortDiscoveryTest, EachEntrySaysWhichDeviceItIs) {
    const auto dev = dir.path() / "dev";
    const auto byId = dir.path() / "by-id";
    std::filesystem::create_directories(dev);
    std::filesystem::create_directories(byId);
    { std::ofstream(dev / "ttyUSB0") << ""; }
    { std::ofstream(dev / "ttyUSB1") << ""; }
    const auto stable = byId / "usb-Maker_Adapter_A1234-if00-port0";
    std::filesystem::create_symlink(dev / "ttyUSB1", stable);
    link("COM5", stable.string()); // pinned by the user
    sources.byIdFolder = byId;
    sources.systemDevices = {(dev / "ttyUSB0").string(), (dev / "ttyUSB1").string()};
    sources.deviceInfo[(dev / "ttyUSB1").string()] = "FT232R USB UART";
    sources.naming.deviceFolder = dev;
    settings.portIndex = -1;

    const auto entries = DiscoverPorts(settings, sources);
    ASSERT_EQ(texts(entries), (std::vector<QString>{"COM05", "COM33", "COM34"}));
    const QString pinned = entries[0].device;
    EXPECT_TRUE(pinned.contains(QString::fromStdString(stable.string()))) << pinned.toStdString();
    EXPECT_TRUE(pinned.contains(QString::fromStdString((dev / "ttyUSB1").string()))) << pinned.toStdString();
    EXPECT_TRUE(pinned.contains("FT232R USB UART")) << pinned.toStdString();
    EXPECT_TRUE(entries[1].device.contains("ttyUSB0")) << entries[1].device.toStdString();
    EXPECT_FALSE(entries[1].device.contains("Maker")) << "another adapter's name";
    EXPECT_TRUE(entries[2].device.contains(QString::fromStdString(stable.string())));
    for (const auto& e : entries)
        EXPECT_TRUE(e.present);
}

TEST_F(PortDiscoveryTest, ChosenPortWithoutItsDeviceStaysInTheTable) {
    link(3);
    settings.portNumbers.fill(0);
    settings.portNumbers[0] = 9;
    settings.portIndex = 0;
    const auto entries = DiscoverPorts(settings, sources);
    ASSERT_EQ(texts(entries), (std::vector<QString>{"COM03", "COM09"}));
    EXPECT_TRUE(entries[0].present);
    EXPECT_FALSE(entries[1].present);
    expectListMatchesTable(entries);
}

} // namespace
