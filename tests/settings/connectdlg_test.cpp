#include "connectdlg.h"
#include "tempdir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

using namespace parvault;
using parvault::testing::TempDir;

namespace {

class ConnectDlgTest : public ::testing::Test {
protected:
    TempDir links;
    ConnectionSettings settings;
    std::atomic<int32_t> linkIdle{5};
    QString portStatus = "Порт занят !";
    std::vector<QString> messages;

    void SetUp() override { settings.waitSeconds = 2; }

    // A port appears as the user's link on Linux and in the system's list of
    // COM ports on Windows, where there are no link folders.
    std::vector<std::string> systemPorts;
    static std::string comName(int n) { return "COM" + std::to_string(n); }
    void addPort(int n) {
#ifdef _WIN32
        systemPorts.push_back(comName(n));
#else
        std::filesystem::create_symlink("/dev/null", links.path() / comName(n));
#endif
    }
    void unplugPort(int n) {
#ifdef _WIN32
        std::erase(systemPorts, comName(n));
#else
        std::filesystem::remove(links.path() / comName(n));
#endif
    }

    std::unique_ptr<CConnectDlg> open() {
        PortSources sources;
        sources.linkFolder = links.path();
        sources.systemDevices = systemPorts;
        ConnectTargets t{settings, linkIdle,
                         [this](const QString& s) { portStatus = s; }, sources,
                         [this](QWidget*, const QString& m) { messages.push_back(m); }};
        return std::make_unique<CConnectDlg>(std::move(t));
    }

    static QLineEdit* edit(CConnectDlg& d, int id) { return qobject_cast<QLineEdit*>(d.control(id)); }
    static QCheckBox* check(CConnectDlg& d, int id) { return qobject_cast<QCheckBox*>(d.control(id)); }
    static QComboBox* combo(CConnectDlg& d, int id) { return qobject_cast<QComboBox*>(d.control(id)); }
    static void clickUp(CConnectDlg& d, int spinId) {
        QTest::mouseClick(d.control(spinId)->findChild<QToolButton*>("up"), Qt::LeftButton);
    }
    static void clickDown(CConnectDlg& d, int spinId) {
        QTest::mouseClick(d.control(spinId)->findChild<QToolButton*>("down"), Qt::LeftButton);
    }
};

} // namespace

TEST_F(ConnectDlgTest, OpeningShowsSettingsTextsAndTooltips) {
    addPort(3);
    addPort(7);
    settings.portNumbers = {};
    settings.portNumbers[0] = 7; // stale table from an earlier run
    settings.portIndex = 0;
    settings.speedIndex = 5;
    settings.ownAddress = 33; // shown as its low five bits
    settings.deviceAddress = 16;
    settings.deviceIp = 0xC0A8000A;
    settings.udpPort = 4001;
    auto d = open();
    EXPECT_EQ(d->windowTitle(), QString("Параметры соединения"));
    EXPECT_EQ(combo(*d, IDC_PORT_LIST)->count(), 2);
    EXPECT_EQ(combo(*d, IDC_PORT_LIST)->itemText(0), QString("COM03"));
    EXPECT_EQ(combo(*d, IDC_PORT_LIST)->currentText(), QString("COM07"));
    EXPECT_EQ(combo(*d, IDC_SPEED_LIST)->currentText(), QString("9600"));
    EXPECT_EQ(combo(*d, IDC_SPEED_LIST)->count(), 10);
    EXPECT_EQ(edit(*d, IDC_OWN_ADDRESS)->text(), QString("1"));
    EXPECT_EQ(edit(*d, IDC_DEVICE_ADDRESS)->text(), QString("16"));
    EXPECT_EQ(edit(*d, IDC_DEVICE_IP)->text(), QString("192.168.0.10"));
    EXPECT_EQ(edit(*d, IDC_UDP_PORT)->text(), QString("4001"));
    EXPECT_EQ(check(*d, IDC_USE_ADDRESS)->text(), QString("Использовать адрес "));
    EXPECT_EQ(d->control(IDC_DEVICE_ADDRESS)->toolTip(),
              QString("Адрес прибора в ТКСети, к которому производится обращение. "));
    EXPECT_EQ(d->control(IDC_UDP_PORT)->toolTip(), QString("опрашиваемый порт в IP сети "));
    EXPECT_EQ(d->control(IDC_CONNECT_OK)->toolTip(),
              QString("Выход из настройки с применением изменений"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ConnectDlgTest, EnablingRulesInAndOutOfIpMode) {
    settings.useIp = 1;
    settings.useOptoport = 1;
    auto d = open();
    for (int id : {IDC_DEVICE_IP, IDC_UDP_PORT})
        EXPECT_TRUE(d->control(id)->isEnabled()) << id;
    for (int id : {IDC_PORT_LIST, IDC_SPEED_LIST, IDC_USE_OPTOPORT})
        EXPECT_FALSE(d->control(id)->isEnabled()) << id;
    for (int id : {IDC_OWN_ADDRESS, IDC_DEVICE_ADDRESS, IDC_OWN_ADDRESS_SPIN,
                   IDC_DEVICE_ADDRESS_SPIN})
        EXPECT_FALSE(d->control(id)->isEnabled()) << "use address is off: " << id;

    QTest::mouseClick(check(*d, IDC_USE_IP), Qt::LeftButton);
    EXPECT_FALSE(check(*d, IDC_USE_IP)->isChecked());
    for (int id : {IDC_PORT_LIST, IDC_USE_OPTOPORT, IDC_USE_ADDRESS})
        EXPECT_TRUE(d->control(id)->isEnabled()) << id;
    EXPECT_FALSE(d->control(IDC_SPEED_LIST)->isEnabled()) << "the optical port is still on";
    for (int id : {IDC_DEVICE_IP, IDC_UDP_PORT})
        EXPECT_FALSE(d->control(id)->isEnabled()) << id;

    QTest::mouseClick(check(*d, IDC_USE_OPTOPORT), Qt::LeftButton);
    EXPECT_TRUE(d->control(IDC_SPEED_LIST)->isEnabled());

    QTest::mouseClick(check(*d, IDC_USE_ADDRESS), Qt::LeftButton);
    for (int id : {IDC_OWN_ADDRESS, IDC_DEVICE_ADDRESS, IDC_OWN_ADDRESS_SPIN,
                   IDC_DEVICE_ADDRESS_SPIN})
        EXPECT_TRUE(d->control(id)->isEnabled()) << id;
}

TEST_F(ConnectDlgTest, UpDownStepsBetweenZeroAndThirty) {
    settings.waitSeconds = 30;
    auto d = open();
    clickUp(*d, IDC_WAIT_SPIN);
    EXPECT_EQ(edit(*d, IDC_WAIT)->text(), QString("30")) << "the up arrow stops at 30";

    edit(*d, IDC_WAIT)->setText("31");
    d->OnOk();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(settings.waitSeconds, 31) << "typing 31 is accepted";

    // Own address 31 typed, then stepped: low five bits, up stops at 30 → 31 stays 31? No:
    // 31 is not below 30, so the up arrow leaves it.
    auto d2 = open();
    edit(*d2, IDC_OWN_ADDRESS)->setText("31");
    d2->OnUpDown(IDC_OWN_ADDRESS_SPIN, -1);
    EXPECT_EQ(edit(*d2, IDC_OWN_ADDRESS)->text(), QString("31"));
    d2->OnUpDown(IDC_OWN_ADDRESS_SPIN, 1);
    EXPECT_EQ(edit(*d2, IDC_OWN_ADDRESS)->text(), QString("30"));
    edit(*d2, IDC_DEVICE_ADDRESS)->setText("0");
    d2->OnUpDown(IDC_DEVICE_ADDRESS_SPIN, 1);
    EXPECT_EQ(edit(*d2, IDC_DEVICE_ADDRESS)->text(), QString("0")) << "down stops at 0";
}

TEST_F(ConnectDlgTest, WaitSteppedToZeroIsRefusedOnOk) {
    settings.waitSeconds = 1;
    auto d = open();
    clickDown(*d, IDC_WAIT_SPIN);
    EXPECT_EQ(edit(*d, IDC_WAIT)->text(), QString("0"));
    messages.clear();
    QTest::mouseClick(qobject_cast<QAbstractButton*>(d->control(IDC_CONNECT_OK)), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("1") && messages[0].contains("31")) << messages[0].toStdString();
    EXPECT_NE(d->result(), QDialog::Accepted) << "the dialog stays open";
    EXPECT_EQ(settings.waitSeconds, 1);
}

TEST_F(ConnectDlgTest, OutOfRangeAddressAppliesNothing) {
    const ConnectionSettings before = [&] {
        auto probe = open(); // discovery has run once, as it does at every opening
        return settings;
    }();
    auto d = open();
    edit(*d, IDC_OWN_ADDRESS)->setText("45");
    edit(*d, IDC_UDP_PORT)->setText("5000");
    combo(*d, IDC_SPEED_LIST)->setCurrentIndex(9);
    d->OnOk();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("0") && messages[0].contains("31"));
    EXPECT_EQ(settings, before);
    EXPECT_EQ(portStatus, QString("Порт занят !"));

    edit(*d, IDC_UDP_PORT)->setText("x12");
    edit(*d, IDC_OWN_ADDRESS)->setText("4");
    d->OnOk();
    EXPECT_EQ(messages.size(), 2u) << "a port that does not parse is refused too";
    EXPECT_EQ(settings, before);
}

TEST_F(ConnectDlgTest, OkAppliesEverythingAndExpiresOpticalLink) {
    addPort(2);
    auto d = open();
    combo(*d, IDC_PORT_LIST)->setCurrentIndex(0);
    combo(*d, IDC_SPEED_LIST)->setCurrentIndex(3);
    check(*d, IDC_USE_OPTOPORT)->setChecked(true);
    check(*d, IDC_USE_ADDRESS)->setChecked(true);
    edit(*d, IDC_OWN_ADDRESS)->setText("2");
    edit(*d, IDC_DEVICE_ADDRESS)->setText("16");
    edit(*d, IDC_WAIT)->setText("4");
    edit(*d, IDC_DEVICE_IP)->setText("10.1.2.3");
    edit(*d, IDC_UDP_PORT)->setText("65535");
    d->OnOk();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(settings.portIndex, 0);
    EXPECT_EQ(settings.chosenPortNumber(), 2);
    EXPECT_EQ(settings.speedIndex, 3);
    EXPECT_EQ(settings.useOptoport, 1);
    EXPECT_EQ(settings.useAddress, 1);
    EXPECT_EQ(settings.ownAddress, 2);
    EXPECT_EQ(settings.deviceAddress, 16);
    EXPECT_EQ(settings.waitSeconds, 4);
    EXPECT_EQ(settings.deviceIp, 0x0A010203u);
    EXPECT_EQ(settings.udpPort, 65535u);
    EXPECT_EQ(linkIdle, 1200);
    EXPECT_EQ(portStatus, QString(" "));
}

TEST_F(ConnectDlgTest, CancelKeepsSettingsAndNoPortStoresMinusOne) {
    auto d = open();
    const ConnectionSettings afterDiscovery = settings;
    edit(*d, IDC_WAIT)->setText("9");
    check(*d, IDC_USE_IP)->setChecked(true);
    QTest::mouseClick(qobject_cast<QAbstractButton*>(d->control(IDC_CONNECT_CANCEL)),
                      Qt::LeftButton);
    EXPECT_EQ(settings, afterDiscovery);
    EXPECT_EQ(linkIdle, 5);

    auto d2 = open();
    EXPECT_EQ(combo(*d2, IDC_PORT_LIST)->count(), 0);
    d2->OnOk();
    EXPECT_EQ(settings.portIndex, -1);
}

// Discovery rebuilds the port table; the stored choice must still name the
// same port, or none when it is gone.
TEST_F(ConnectDlgTest, ChosenPortSurvivesRediscovery) {
    addPort(5);
    addPort(9);
    settings.portNumbers = {};
    settings.portNumbers[0] = 4;
    settings.portNumbers[1] = 9;
    settings.portIndex = 1; // COM9
    {
        auto d = open(); // table is now {5, 9}
        EXPECT_EQ(combo(*d, IDC_PORT_LIST)->currentText(), QString("COM09"));
        d->reject();
    }
    EXPECT_EQ(settings.chosenPortNumber(), 9) << "cancel after discovery keeps COM9";

    addPort(1); // a new port sorts in front
    {
        auto d = open();
        d->reject();
    }
    EXPECT_EQ(settings.portIndex, 2);
    EXPECT_EQ(settings.chosenPortNumber(), 9);

    unplugPort(9); // the adapter is unplugged
    {
        auto d = open();
        EXPECT_EQ(combo(*d, IDC_PORT_LIST)->currentText(), QString("COM09 (нет)")) << "still chosen, shown absent";
        d->reject();
    }
    EXPECT_EQ(settings.chosenPortNumber(), 9) << "the choice outlives a moment without its device";
}

// An adapter unplugged for a moment while the user looks at the settings:
// neither Cancel nor an OK that changes nothing may take the user's port away
// (it would be saved as "no port" at exit).
TEST_F(ConnectDlgTest, ChosenPortThatIsAbsentStaysChosen) {
    addPort(3);
    settings.portNumbers = {};
    settings.portNumbers[0] = 3;
    settings.portNumbers[1] = 5;
    settings.portIndex = 1; // COM5, whose link is not there now
    {
        auto d = open();
        QComboBox* ports = combo(*d, IDC_PORT_LIST);
        ASSERT_EQ(ports->count(), 2);
        EXPECT_EQ(ports->itemText(0), QString("COM03"));
        EXPECT_EQ(ports->currentText(), QString("COM05 (нет)"));
        EXPECT_TRUE(ports->itemData(ports->currentIndex(), Qt::ToolTipRole).toString().contains("не найдено"));
        QTest::keyClick(d.get(), Qt::Key_Escape);
    }
    EXPECT_EQ(settings.chosenPortNumber(), 5) << "Cancel changed the choice";
    {
        auto d = open();
        d->OnOk();
        EXPECT_EQ(d->result(), QDialog::Accepted);
    }
    EXPECT_EQ(settings.chosenPortNumber(), 5) << "OK without a change dropped the port";

    addPort(5); // plugged in again: listed as any other port
    {
        auto d = open();
        EXPECT_EQ(combo(*d, IDC_PORT_LIST)->currentText(), QString("COM05"));
        d->reject();
    }
    EXPECT_EQ(settings.chosenPortNumber(), 5);
}

// A UDP port is 16 bits: a larger number used to be taken and wrapped
// (70000 went to port 4464).
TEST_F(ConnectDlgTest, UdpPortOutsideOneTo65535IsRefused) {
    settings.useIp = 1;
    settings.udpPort = 4001;
    const ConnectionSettings before = [&] {
        auto probe = open();
        return settings;
    }();
    auto d = open();
    for (const char* typed : {"70000", "65536", "0"}) {
        messages.clear();
        edit(*d, IDC_UDP_PORT)->setText(typed);
        d->OnOk();
        ASSERT_EQ(messages.size(), 1u) << typed;
        EXPECT_EQ(messages[0], QString("Введите целое число от 1 до 65535.")) << typed;
        EXPECT_NE(d->result(), QDialog::Accepted) << typed;
        EXPECT_EQ(settings, before) << typed;
    }
    messages.clear();
    edit(*d, IDC_UDP_PORT)->setText("65535");
    d->OnOk();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(settings.udpPort, 65535u);

    // Without IP a port never set (0, as a fresh settings file has it) does
    // not stand in the way of the serial settings.
    settings = ConnectionSettings{};
    settings.waitSeconds = 2;
    messages.clear();
    auto serial = open();
    serial->OnOk();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(serial->result(), QDialog::Accepted);
    EXPECT_EQ(settings.udpPort, 0u);
}

TEST(ConnectDlgIp, ParseAndFormat) {
    uint32_t ip = 0;
    EXPECT_TRUE(CConnectDlg::ParseIp("192.168.0.10", ip));
    EXPECT_EQ(ip, 0xC0A8000Au);
    EXPECT_EQ(CConnectDlg::FormatIp(ip), QString("192.168.0.10"));
    EXPECT_FALSE(CConnectDlg::ParseIp("1.2.3", ip));
    EXPECT_FALSE(CConnectDlg::ParseIp("1.2.3.256", ip));
    EXPECT_FALSE(CConnectDlg::ParseIp("", ip));
}

TEST_F(ConnectDlgTest, ADeviceServerIsTheRouteAndIsCheckedOnOk) {
    addPort(3);
    settings.useIp = 1;
    settings.udpPort = 4001;
    auto d = open();
    // No server yet: its controls rest, the UDP ones are in use.
    EXPECT_EQ(combo(*d, IDC_SERVER_MODE)->currentText(), QString("нет"));
    EXPECT_FALSE(d->control(IDC_SERVER_HOST)->isEnabled());
    EXPECT_TRUE(d->control(IDC_DEVICE_IP)->isEnabled());

    combo(*d, IDC_SERVER_MODE)->setCurrentIndex(2);
    d->OnServerModeChanged();
    EXPECT_TRUE(d->control(IDC_SERVER_HOST)->isEnabled());
    EXPECT_TRUE(d->control(IDC_SERVER_PORT)->isEnabled());
    EXPECT_FALSE(d->control(IDC_USE_IP)->isEnabled());
    EXPECT_FALSE(d->control(IDC_DEVICE_IP)->isEnabled());
    EXPECT_FALSE(d->control(IDC_PORT_LIST)->isEnabled());
    EXPECT_TRUE(d->control(IDC_SPEED_LIST)->isEnabled()) << "RFC 2217 sets the line's speed";

    // OK without a host or with a port out of range applies nothing.
    d->OnOk();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.back(), QString("Введите имя или адрес сервера портов."));
    edit(*d, IDC_SERVER_HOST)->setText("ser2net.plant.example");
    edit(*d, IDC_SERVER_PORT)->setText("70000");
    d->OnOk();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages.back(), QString("Введите целое число от 1 до 65535."));
    EXPECT_FALSE(settings.deviceServer.inUse());

    edit(*d, IDC_SERVER_PORT)->setText("4001");
    d->OnOk();
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(settings.deviceServer, (DeviceServer{DeviceServer::Mode::Rfc2217, "ser2net.plant.example", 4001}));
    EXPECT_EQ(settings.useIp, 1) << "Parvault2.i keeps its own items; the server overrides them";

    // Opened again, the server is shown; back to "нет" keeps the host for later.
    auto again = open();
    EXPECT_EQ(combo(*again, IDC_SERVER_MODE)->currentText(), QString("RFC 2217"));
    EXPECT_EQ(edit(*again, IDC_SERVER_HOST)->text(), QString("ser2net.plant.example"));
    combo(*again, IDC_SERVER_MODE)->setCurrentIndex(0);
    again->OnServerModeChanged();
    again->OnOk();
    EXPECT_FALSE(settings.deviceServer.inUse());
    EXPECT_EQ(settings.deviceServer.host, "ser2net.plant.example");
}
