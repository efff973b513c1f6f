#include "connectdlg.h"

#include "exchangeshared.h"
#include "settingslimits.h"

#include "artwork.h"
#include "iconbutton.h"
#include "windowrules.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

namespace parvault {

namespace {

// Beside the number of a chosen port whose device is not there now.
const QString kAbsentMark = QStringLiteral(" (нет)");

constexpr int kUdpPortMin = 1;
constexpr int kUdpPortMax = 65535;
constexpr int kMaxHostLength = 253;

} // namespace

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const auto& [arrow, delta] : {std::pair{Qt::UpArrow, -1}, std::pair{Qt::DownArrow, 1}}) {
        auto* b = new QToolButton(this);
        b->setArrowType(arrow);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setObjectName(delta < 0 ? QStringLiteral("up") : QStringLiteral("down"));
        connect(b, &QToolButton::clicked, this, [this, d = delta] { emit stepped(d); });
        layout->addWidget(b);
    }
}

void UpDown::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Up)
        emit stepped(-1);
    else if (e->key() == Qt::Key_Down)
        emit stepped(1);
    else
        QWidget::keyPressEvent(e);
}

CConnectDlg::CConnectDlg(ConnectTargets targets, QWidget* parent)
    : QDialog(parent), t_(std::move(targets)) {
    if (!t_.showMessage) {
        t_.showMessage = [](QWidget* p, const QString& text) {
            QMessageBox::warning(p, QStringLiteral("Parvault"), text);
        };
    }
    CreateControls();

    // Discovery rebuilds portNumbers; keep the user's port itself chosen, not
    // whatever now sits at the old position. A chosen port whose device is
    // gone stays in the list, marked, so that neither Cancel nor OK loses it.
    const std::optional<int32_t> chosen = t_.settings.chosenPortNumber();
    const std::vector<PortListEntry> entries = DiscoverPorts(t_.settings, t_.ports);
    int32_t newIndex = -1;
    for (size_t i = 0; i < entries.size(); ++i) {
        const PortListEntry& e = entries[i];
        const int row = portList_->count();
        portList_->addItem(e.present ? e.text : e.text + kAbsentMark, e.number);
        // Which device the number is: COM numbers alone do not tell two
        // adapters apart.
        QString tip = e.text + QStringLiteral(": ") + (e.device.isEmpty() ? QStringLiteral("устройство не найдено") : e.device);
        if (!e.present)
            tip += QStringLiteral("\nСейчас порта нет; он остаётся выбранным, пока не выбран другой.");
        portList_->setItemData(row, tip, Qt::ToolTipRole);
        if (!e.present)
            portList_->setItemData(row, QColor(Qt::gray), Qt::ForegroundRole);
        if (chosen && e.number == *chosen)
            newIndex = static_cast<int32_t>(i);
    }
    t_.settings.portIndex = newIndex;

    const ConnectionSettings& s = t_.settings;
    m_.portChoice = newIndex;
    m_.speedChoice = s.speedIndex;
    m_.ownAddress = s.ownAddress & kFiveBitMask;
    m_.deviceAddress = s.deviceAddress & kFiveBitMask;
    m_.wait = s.waitSeconds & kFiveBitMask;
    m_.useAddress = s.useAddress;
    m_.useOptoport = s.useOptoport;
    m_.deviceIp = s.deviceIp;
    m_.udpPort = s.udpPort;
    m_.useIp = s.useIp;
    m_.serverMode = static_cast<int>(s.deviceServer.mode);
    m_.serverHost = QString::fromStdString(s.deviceServer.host);
    m_.serverPort = s.deviceServer.port;
    ShowValues();
    OnIpClicked();
}

QWidget* CConnectDlg::control(int id) const {
    switch (id) {
    case IDC_CONNECT_OK: return ok_;
    case IDC_CONNECT_CANCEL: return cancel_;
    case IDC_OWN_ADDRESS: return ownAddress_;
    case IDC_PORT_LIST: return portList_;
    case IDC_SPEED_LIST: return speedList_;
    case IDC_DEVICE_ADDRESS: return deviceAddress_;
    case IDC_WAIT: return wait_;
    case IDC_WAIT_SPIN: return waitSpin_;
    case IDC_DEVICE_ADDRESS_SPIN: return deviceSpin_;
    case IDC_USE_ADDRESS: return useAddress_;
    case IDC_OWN_ADDRESS_SPIN: return ownSpin_;
    case IDC_USE_OPTOPORT: return useOptoport_;
    case IDC_USE_IP: return useIp_;
    case IDC_DEVICE_IP: return deviceIp_;
    case IDC_UDP_PORT: return udpPort_;
    case IDC_SERVER_MODE: return serverMode_;
    case IDC_SERVER_HOST: return serverHost_;
    case IDC_SERVER_PORT: return serverPort_;
    default: return nullptr;
    }
}

void CConnectDlg::CreateControls() {
    setWindowTitle(QStringLiteral("Параметры соединения"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    const DialogUnits u = DialogUnits::ForFont(font());
    setFixedSize(u.toPixels(0, 0, 329, 195).size());

    auto group = [&](const QString& title, int x, int y, int w, int h) {
        auto* g = new QGroupBox(title, this);
        g->setGeometry(u.toPixels(x, y, w, h));
        g->lower();
    };
    auto label = [&](const QString& text, int x, int y, int w, int h) {
        auto* l = new QLabel(text, this);
        l->setGeometry(u.toPixels(x, y, w, h));
        l->setWordWrap(true);
        return l;
    };
    auto edit = [&](int x, int y, int w, int h) {
        auto* e = new QLineEdit(this);
        e->setGeometry(u.toPixels(x, y, w, h));
        return e;
    };
    auto check = [&](const QString& text, int x, int y, int w, int h, bool textLeft) {
        auto* c = new QCheckBox(text, this);
        c->setGeometry(u.toPixels(x, y, w, h));
        if (textLeft)
            c->setLayoutDirection(Qt::RightToLeft);
        return c;
    };
    auto spin = [&](int x, int y, int w, int h) {
        auto* s = new UpDown(this);
        s->setGeometry(u.toPixels(x, y, w, h));
        return s;
    };

    ok_ = new CIconButton(this);
    ok_->setGeometry(u.toPixels(274, 7, 48, 41));
    ok_->setDefault(true);
    cancel_ = new CIconButton(this);
    cancel_->setGeometry(u.toPixels(274, 50, 48, 41));

    group(QString(), 7, 7, 116, 65);
    label(QStringLiteral("Номер порта"), 13, 14, 46, 11);
    portList_ = new QComboBox(this);
    portList_->setGeometry(u.toPixels(63, 13, 52, 12));
    label(QStringLiteral("Скорость"), 13, 37, 39, 10);
    speedList_ = new QComboBox(this);
    speedList_->setGeometry(u.toPixels(63, 35, 52, 12));
    for (int32_t baud : SpeedTable)
        speedList_->addItem(QString::number(baud));
    useOptoport_ = check(QStringLiteral("Использовать оптопорт"), 13, 56, 99, 11, true);

    group(QString(), 7, 76, 116, 65);
    useAddress_ = check(QStringLiteral("Использовать адрес "), 13, 81, 99, 15, true);
    label(QStringLiteral("Свой адрес"), 13, 103, 63, 12);
    ownAddress_ = edit(79, 101, 26, 13);
    ownSpin_ = spin(104, 100, 11, 14);
    label(QStringLiteral("Адрес прибора"), 13, 122, 63, 12);
    deviceAddress_ = edit(79, 121, 26, 13);
    deviceSpin_ = spin(104, 120, 11, 14);
    label(QStringLiteral("Ожидание. сек"), 139, 126, 56, 11);
    wait_ = edit(201, 123, 26, 13);
    waitSpin_ = spin(227, 122, 11, 14);

    group(QString(), 129, 7, 132, 65);
    useIp_ = check(QStringLiteral("IP"), 137, 12, 23, 14, false);
    deviceIp_ = edit(137, 31, 116, 13);
    deviceIp_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral(
            R"(^((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)\.){0,3}(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)?$)")),
        deviceIp_));
    udpPort_ = edit(137, 51, 47, 13);
    label(QStringLiteral("Порт"), 193, 52, 42, 13);

    // A serial device server, in the room left between the IP group and the wait.
    group(QStringLiteral("Сервер портов"), 129, 74, 139, 46);
    serverMode_ = new QComboBox(this);
    serverMode_->setGeometry(u.toPixels(135, 85, 50, 12));
    serverMode_->addItems({QStringLiteral("нет"), QStringLiteral("TCP"), QStringLiteral("RFC 2217")});
    serverHost_ = edit(189, 85, 74, 13);
    serverHost_->setMaxLength(kMaxHostLength);
    serverPort_ = edit(135, 103, 40, 13);
    label(QStringLiteral("Порт"), 180, 104, 42, 13);

    group(QStringLiteral("ВНИМАНИЕ"), 7, 144, 315, 44);
    label(QStringLiteral("Предварительно введите с клавиатуры параметр 003 (см. справку)"), 15, 160,
          150, 23);

    const std::pair<QWidget*, const char*> tips[] = {
        {ok_, "Выход из настройки с применением изменений"},
        {cancel_, "Выход из настройки"},
        {portList_, "Выбор COM-порта"},
        {speedList_, "Скорость соединения"},
        {useAddress_, "В строку запроса подставляется адрес прибора"},
        {ownAddress_, "Адрес прибора в ТКСети"},
        {deviceAddress_, "Адрес прибора в ТКСети, к которому производится обращение. "},
        {wait_, "Период ожидания ответа от прибора. "},
        {deviceIp_, "IP адрес прибора "},
        {udpPort_, "опрашиваемый порт в IP сети "},
        {serverMode_, "Связь через сервер последовательных портов: TCP передаёт байты линии как есть, "
                      "RFC 2217 ещё и задаёт скорость линии (нужно для оптопорта)"},
        {serverHost_, "Имя или адрес IP сервера портов"},
        {serverPort_, "Порт TCP сервера портов"},
    };
    for (const auto& [w, tip] : tips)
        w->setToolTip(QString::fromUtf8(tip));

    cancel_->SetIcon(ButtonImage(ButtonArt::Cancel), true);
    ok_->SetIcon(ButtonImage(ButtonArt::Ok), true);

    connect(ok_, &QAbstractButton::clicked, this, &CConnectDlg::OnOk);
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(useIp_, &QCheckBox::clicked, this, &CConnectDlg::OnIpClicked);
    connect(useAddress_, &QCheckBox::clicked, this, &CConnectDlg::OnUseAddressClicked);
    connect(useOptoport_, &QCheckBox::clicked, this, &CConnectDlg::OnOptoportClicked);
    connect(serverMode_, &QComboBox::activated, this, &CConnectDlg::OnServerModeChanged);
    connect(ownSpin_, &UpDown::stepped, this, [this](int d) { OnUpDown(IDC_OWN_ADDRESS_SPIN, d); });
    connect(deviceSpin_, &UpDown::stepped, this,
            [this](int d) { OnUpDown(IDC_DEVICE_ADDRESS_SPIN, d); });
    connect(waitSpin_, &UpDown::stepped, this, [this](int d) { OnUpDown(IDC_WAIT_SPIN, d); });
}

QString CConnectDlg::FormatIp(uint32_t ip) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(ip >> 24)
        .arg((ip >> 16) & 0xFF)
        .arg((ip >> 8) & 0xFF)
        .arg(ip & 0xFF);
}

bool CConnectDlg::ParseIp(const QString& text, uint32_t& ip) {
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    uint32_t value = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const uint octet = part.toUInt(&ok);
        if (!ok || octet > 255)
            return false;
        value = (value << 8) | octet;
    }
    ip = value;
    return true;
}

bool CConnectDlg::takeNumber(QLineEdit* edit, int lower, int upper, int& member) {
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    if (!ok) {
        t_.showMessage(this, QStringLiteral("Введите целое число."));
        edit->setFocus();
        return false;
    }
    if (value < lower || value > upper) {
        t_.showMessage(this, QStringLiteral("Введите целое число от %1 до %2.").arg(lower).arg(upper));
        edit->setFocus();
        edit->selectAll();
        return false;
    }
    member = value;
    return true;
}

bool CConnectDlg::TakeValues() {
    m_.portChoice = portList_->currentIndex();
    m_.speedChoice = speedList_->currentIndex();
    if (!takeNumber(ownAddress_, 0, kMaxBusAddress, m_.ownAddress))
        return false;
    m_.useAddress = useAddress_->isChecked() ? 1 : 0;
    if (!takeNumber(deviceAddress_, 0, kMaxBusAddress, m_.deviceAddress))
        return false;
    m_.useOptoport = useOptoport_->isChecked() ? 1 : 0;
    if (!takeNumber(wait_, kMinWaitSeconds, kMaxWaitSeconds, m_.wait))
        return false;
    m_.useIp = useIp_->isChecked() ? 1 : 0;
    uint32_t ip = 0;
    if (!ParseIp(deviceIp_->text(), ip)) {
        t_.showMessage(this, QStringLiteral("Введите адрес IP из четырёх чисел от 0 до 255."));
        deviceIp_->setFocus();
        return false;
    }
    m_.deviceIp = ip;
    // A UDP port is 16 bits; a larger number would be cut to another port.
    // Without IP a port never set (0, as in a fresh settings file) is left be.
    if (m_.useIp || udpPort_->text().trimmed() != QLatin1String("0")) {
        int port = 0;
        if (!takeNumber(udpPort_, kUdpPortMin, kUdpPortMax, port))
            return false;
        m_.udpPort = static_cast<uint32_t>(port);
    } else {
        m_.udpPort = 0;
    }
    m_.serverMode = std::max(serverMode_->currentIndex(), 0);
    m_.serverHost = serverHost_->text().trimmed();
    // The server's host and port are checked only when it is the route; a
    // server never set (port 0) is left be.
    if (m_.serverMode == 0 && serverPort_->text().trimmed() == QLatin1String("0")) {
        m_.serverPort = 0;
        return true;
    }
    if (m_.serverMode != 0 && (m_.serverHost.isEmpty() || m_.serverHost.contains(QLatin1Char(' ')))) {
        t_.showMessage(this, QStringLiteral("Введите имя или адрес сервера портов."));
        serverHost_->setFocus();
        return false;
    }
    return takeNumber(serverPort_, kUdpPortMin, kUdpPortMax, m_.serverPort);
}

void CConnectDlg::ShowValues() {
    portList_->setCurrentIndex(m_.portChoice < portList_->count() ? m_.portChoice : -1);
    speedList_->setCurrentIndex(m_.speedChoice < speedList_->count() ? m_.speedChoice : -1);
    ownAddress_->setText(QString::number(m_.ownAddress));
    useAddress_->setChecked(m_.useAddress != 0);
    deviceAddress_->setText(QString::number(m_.deviceAddress));
    useOptoport_->setChecked(m_.useOptoport != 0);
    wait_->setText(QString::number(m_.wait));
    useIp_->setChecked(m_.useIp != 0);
    deviceIp_->setText(FormatIp(m_.deviceIp));
    udpPort_->setText(QString::number(m_.udpPort));
    serverMode_->setCurrentIndex(m_.serverMode >= 0 && m_.serverMode < serverMode_->count() ? m_.serverMode : 0);
    serverHost_->setText(m_.serverHost);
    serverPort_->setText(QString::number(m_.serverPort));
}

void CConnectDlg::setAddressControlsEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{ownAddress_, deviceAddress_, ownSpin_,
                                                      deviceSpin_})
        w->setEnabled(on);
}

void CConnectDlg::OnIpClicked() {
    TakeValues();
    applyRouteRules();
    ShowValues();
}

// A device server, when chosen, is the route: the serial port and UDP
// controls rest; its speed list follows the optical-port rule as the serial
// port's does.
void CConnectDlg::applyRouteRules() {
    const bool server = m_.serverMode != 0;
    serverHost_->setEnabled(server);
    serverPort_->setEnabled(server);
    useIp_->setEnabled(!server);
    if (server) {
        useAddress_->setEnabled(true);
        useOptoport_->setEnabled(true);
        portList_->setEnabled(false);
        deviceIp_->setEnabled(false);
        udpPort_->setEnabled(false);
        speedList_->setEnabled(!m_.useOptoport);
    } else if (m_.useIp) {
        deviceIp_->setEnabled(true);
        udpPort_->setEnabled(true);
        portList_->setEnabled(false);
        speedList_->setEnabled(false);
        useOptoport_->setEnabled(false);
    } else {
        useAddress_->setEnabled(true);
        useOptoport_->setEnabled(true);
        portList_->setEnabled(true);
        deviceIp_->setEnabled(false);
        udpPort_->setEnabled(false);
        speedList_->setEnabled(!m_.useOptoport);
    }
    setAddressControlsEnabled(m_.useAddress != 0);
}

// Choosing a server only switches the controls over: its host and port are
// still to be typed, so nothing is taken (and no message shown) until OK.
void CConnectDlg::OnServerModeChanged() {
    m_.serverMode = std::max(serverMode_->currentIndex(), 0);
    applyRouteRules();
}

void CConnectDlg::OnUseAddressClicked() {
    TakeValues();
    setAddressControlsEnabled(m_.useAddress != 0);
    ShowValues();
}

void CConnectDlg::OnOptoportClicked() {
    TakeValues();
    speedList_->setEnabled(!m_.useOptoport);
    ShowValues();
}

void CConnectDlg::OnUpDown(int controlId, int delta) {
    TakeValues();
    int* member = controlId == IDC_OWN_ADDRESS_SPIN      ? &m_.ownAddress
                  : controlId == IDC_DEVICE_ADDRESS_SPIN ? &m_.deviceAddress
                                                         : &m_.wait;
    *member &= kFiveBitMask;
    if (delta <= 0 && *member < 30)
        ++*member;
    else if (delta > 0 && *member > 0)
        --*member;
    ShowValues();
}

void CConnectDlg::OnOk() {
    if (!TakeValues())
        return;
    ConnectionSettings& s = t_.settings;
    s.speedIndex = m_.speedChoice;
    if (t_.setPortStatusText)
        t_.setPortStatusText(QStringLiteral(" "));
    ShowValues();
    s.portIndex = m_.portChoice;
    s.ownAddress = m_.ownAddress;
    s.deviceAddress = m_.deviceAddress;
    s.waitSeconds = m_.wait & kFiveBitMask;
    s.useAddress = m_.useAddress;
    s.useOptoport = m_.useOptoport;
    s.deviceIp = m_.deviceIp;
    s.udpPort = m_.udpPort;
    s.useIp = m_.useIp;
    s.deviceServer.mode = static_cast<DeviceServer::Mode>(m_.serverMode);
    s.deviceServer.host = m_.serverHost.toStdString();
    s.deviceServer.port = static_cast<uint16_t>(m_.serverPort);
    if (s.useOptoport == 1)
        t_.linkIdleTicks = kLinkIdleExpired;
    accept();
}

} // namespace parvault
