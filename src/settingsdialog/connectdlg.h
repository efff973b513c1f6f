#pragma once

#include "connectionsettings.h"
#include "portdiscovery.h"

#include <QDialog>

#include <atomic>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace parvault {

class CIconButton;
class UpDown;

// Control ids of the connection settings dialog.
enum ConnectControl : int {
    IDC_CONNECT_OK = 1,
    IDC_CONNECT_CANCEL = 2,
    IDC_OWN_ADDRESS = 1007,
    IDC_PORT_LIST = 1008,
    IDC_SPEED_LIST = 1009,
    IDC_DEVICE_ADDRESS = 1013,
    IDC_WAIT = 1014,
    IDC_WAIT_SPIN = 1020,
    IDC_DEVICE_ADDRESS_SPIN = 1016,
    IDC_USE_ADDRESS = 1017,
    IDC_OWN_ADDRESS_SPIN = 1018,
    IDC_USE_OPTOPORT = 1019,
    IDC_USE_IP = 1023,
    IDC_DEVICE_IP = 1024,
    IDC_UDP_PORT = 1025,
    IDC_SERVER_MODE = 1026, // a serial device server: none, raw TCP, RFC 2217
    IDC_SERVER_HOST = 1027,
    IDC_SERVER_PORT = 1028,
};

// What the dialog changes outside itself.
struct ConnectTargets {
    ConnectionSettings& settings;
    std::atomic<int32_t>& linkIdleTicks;
    std::function<void(const QString&)> setPortStatusText;
    PortSources ports;
    // Shows a validation message; tests replace it.
    std::function<void(QWidget* parent, const QString&)> showMessage;
};

// Edits the connection settings: OK copies the values into the record in
// memory, Cancel discards them. Port discovery runs at every opening.
class CConnectDlg : public QDialog {
    Q_OBJECT
public:
    CConnectDlg(ConnectTargets targets, QWidget* parent = nullptr);

    // The dialog's members, in the order they are taken from the controls.
    struct Members {
        int portChoice = -1;
        int speedChoice = -1;
        int ownAddress = 0;
        int useAddress = 0;
        int deviceAddress = 0;
        int useOptoport = 0;
        int wait = 1;
        int useIp = 0;
        uint32_t deviceIp = 0;
        uint32_t udpPort = 0;
        int serverMode = 0; // DeviceServer::Mode
        QString serverHost;
        int serverPort = 0;
    };
    const Members& members() const { return m_; }
    QWidget* control(int id) const;

    // Takes the values from the controls with their checks; the first failure
    // shows its message and stops, later members keep their values.
    bool TakeValues();
    void ShowValues();
    void OnIpClicked();
    void OnUseAddressClicked();
    void OnOptoportClicked();
    void OnServerModeChanged();
    // delta <= 0 is the up arrow.
    void OnUpDown(int controlId, int delta);
    void OnOk();

    static QString FormatIp(uint32_t ip);
    static bool ParseIp(const QString& text, uint32_t& ip);

private:
    void CreateControls();
    bool takeNumber(QLineEdit* edit, int lower, int upper, int& member);
    void setAddressControlsEnabled(bool on);
    // The route controls' enabled states, from the members.
    void applyRouteRules();

    ConnectTargets t_;
    Members m_;
    QComboBox* portList_ = nullptr;
    QComboBox* speedList_ = nullptr;
    QCheckBox* useOptoport_ = nullptr;
    QCheckBox* useAddress_ = nullptr;
    QLineEdit* ownAddress_ = nullptr;
    QLineEdit* deviceAddress_ = nullptr;
    QLineEdit* wait_ = nullptr;
    UpDown* ownSpin_ = nullptr;
    UpDown* deviceSpin_ = nullptr;
    UpDown* waitSpin_ = nullptr;
    QCheckBox* useIp_ = nullptr;
    QLineEdit* deviceIp_ = nullptr;
    QLineEdit* udpPort_ = nullptr;
    QComboBox* serverMode_ = nullptr;
    QLineEdit* serverHost_ = nullptr;
    QLineEdit* serverPort_ = nullptr;
    CIconButton* ok_ = nullptr;
    CIconButton* cancel_ = nullptr;
};

// A pair of arrows without a buddy or range of its own: it only reports the
// step, up as -1 and down as +1, from a click or an arrow key.
class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);
signals:
    void stepped(int delta);

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

} // namespace parvault
