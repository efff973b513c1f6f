// A settings file of every length from 0 to 400 bytes with random content:
// the program starts, a choice out of range is taken as none, and a read
// command either fails cleanly with a status text or runs and stops.

#include "connectionsettings.h"
#include "controller.h"
#include "iconbutton.h"
#include "mainwiring.h"
#include "mainwindow.h"
#include "tempdir.h"
#include "udppeer.h"

#include <QLabel>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace parvault;
using namespace parvault::testing;

TEST(SettingsFault, EveryLengthOfRandomSettingsStartsAndOutOfRangeMeansNone) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    std::filesystem::copy_file(PARVAULT_DEMO_DB_PATH, dir.path() / "PARVLT2.mdb");
    // No real serial device is ever opened: ports resolve inside empty folders.
    std::filesystem::create_directory(dir.path() / "links");
    std::filesystem::create_directory(dir.path() / "dev");
    // Where a UDP exchange of a random settings file is sent instead of the
    // address the file names: nothing may leave this machine.
    UdpPeer sink;
    std::mt19937 random(20260107);
    int started = 0, validPort = 0, validSpeed = 0, ranUdp = 0;

    for (int length = 0; length <= 400; ++length) {
        SCOPED_TRACE("length " + std::to_string(length));
        std::vector<uint8_t> bytes(static_cast<size_t>(length));
        for (auto& b : bytes)
            b = static_cast<uint8_t>(random());
        // Every fourth file gets small numbers where the choices lie, so that
        // in-range choices occur too.
        if (length % 4 == 1 && length >= 8) {
            bytes[0] = static_cast<uint8_t>(random() % 70);
            bytes[1] = bytes[2] = bytes[3] = 0;
            bytes[4] = static_cast<uint8_t>(random() % 12);
            bytes[5] = bytes[6] = bytes[7] = 0;
        }
        // And some choose the UDP route (the item at byte 284), the rest of
        // the record left random.
        if (length % 8 == 3 && length >= 288) {
            bytes[284] = 1;
            bytes[285] = bytes[286] = bytes[287] = 0;
        }
        {
            std::ofstream out(kSettingsFileName, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), length);
        }
        std::vector<QString> errors;
        MainWindowOptions options;
        options.startTimers = false;
        options.showError = [&](const QString& text, const QString&) { errors.push_back(text); };
        options.showHelp = [](QWidget*) {};
        options.ports = PortNaming{dir.path() / "links", dir.path() / "dev"};
        CMainDlg window(options);
        ++started;
        EXPECT_TRUE(errors.empty());
        const ConnectionSettings& s = window.settings;

        // The accessors: none for anything out of range.
        const bool portInRange = s.portIndex >= 0 && s.portIndex < kPortSlots &&
                                 s.portNumbers[static_cast<size_t>(s.portIndex)] > 0;
        EXPECT_EQ(s.chosenPortNumber().has_value(), portInRange);
        EXPECT_EQ(s.baudRate().has_value(), s.speedIndex >= 0 && s.speedIndex <= 9);
        validPort += portInRange;
        validSpeed += s.baudRate().has_value();

        // A read of the type's template rows.
        MainWiring& wiring = *window.wiring();
        wiring.db().LoadTreeItem(MakeItemData(0, 5));
        ASSERT_GT(window.rows().rowCount(), 0);
        window.list()->selectAll();
        if (window.settings.useIp == 1) {
            window.settings.deviceIp = 0x7F000001;
            window.settings.udpPort = sink.port();
            ++ranUdp;
        }
        window.button(IDC_READ)->click();
        for (int i = 0; i < 8; ++i) {
            wiring.OnTimer();
            wiring.OnExchangeMessage(MSG_TICK);
        }
        const bool serial = window.settings.useIp != 1;
        if (serial) {
            // No device behind any port of this test: the exchange never starts.
            EXPECT_EQ(window.portStatusText()->text(), QString("Нет подключения к порту"));
            EXPECT_FALSE(wiring.controller().busy());
        }
        window.button(IDC_STOP)->click();
        EXPECT_FALSE(wiring.controller().busy());
        EXPECT_EQ(window.exchange.readState.load(), STATE_IDLE);
    }
    EXPECT_EQ(started, 401);
    // The random files did reach both sides of each check.
    EXPECT_GT(validPort, 0);
    EXPECT_GT(validSpeed, 0);
    EXPECT_GT(ranUdp, 0);
}
