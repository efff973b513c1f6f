#include "mainwindow.h"

#include "aboutbox.h"
#include "artwork.h"
#include "connectdlg.h"
#include "exchangelogwindow.h"
#include "helpwindow.h"
#include "iconbutton.h"
#include "ipthread.h"
#include "mainwiring.h"
#include "percentbar.h"
#include "recordsets.h"
#include "valueeditdlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QTreeWidget>


#include <cstring>

namespace parvault {

namespace {

struct ButtonDef {
    int id;
    ButtonArt art;
    int x;
    const char* tooltip;
};

// In the order the buttons are created; the tooltips keep their trailing blank.
const ButtonDef kButtons[] = {
    {IDC_SAVE_LIST, ButtonArt::SaveList, 2, "Сохранить список "},
    {IDC_READ, ButtonArt::Read, 45, "Получить данные из прибора "},
    {IDC_WRITE, ButtonArt::Write, 87, "Запись данных в прибор "},
    {IDC_STOP, ButtonArt::Stop, 129, "Прекратить обмен "},
    {IDC_SAVE_VALUES, ButtonArt::SaveValues, 172, "Сохранение изменений в базе данных "},
    {IDC_SETTINGS, ButtonArt::Settings, 214, "Настройка "},
    {IDC_HELP, ButtonArt::Help, 444, "Помощь "},
    {IDC_EXIT, ButtonArt::Exit, 487, "Выход "},
};

// In the plain report style only the first column of a selected row shows
// the highlight.
class FirstColumnSelectionDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        if (index.column() != 0)
            opt.state &= ~QStyle::State_Selected;
        QStyledItemDelegate::paint(painter, opt, index);
    }
};

} // namespace

CMainDlg::CMainDlg(MainWindowOptions options, QWidget* parent)
    : QDialog(parent), options_(std::move(options)) {
    if (!options_.showError) {
        options_.showError = [this](const QString& text, const QString& caption) {
            QMessageBox::critical(this, caption, text);
        };
    }
    if (!options_.showHelp)
        options_.showHelp = [](QWidget* p) { ShowHelpWindow(p); };
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Parvault 2"));
    CreateControls();
    Startup();
    // The exchange log: a key the window's key filter leaves alone.
    auto* logKey = new QShortcut(kExchangeLogKey, this);
    connect(logKey, &QShortcut::activated, this, &CMainDlg::ShowExchangeLog);
    connect(new QShortcut(kCompareKey, this), &QShortcut::activated, this, &CMainDlg::CompareWithDevice);
    connect(new QShortcut(kCompareFilterKey, this), &QShortcut::activated, this,
            [this] { ShowOnlyDifferences(!onlyDifferences_); });
    connect(new QShortcut(kWriteStoredKey, this), &QShortcut::activated, this, &CMainDlg::WriteStoredValues);
}

CMainDlg::~CMainDlg() {
    Shutdown();
    handlers_ = &defaultHandlers_;
    delete logWindow_; // it reads the log the wiring owns
    logWindow_ = nullptr;
    wiring_.reset();
    qApp->removeEventFilter(this);
}

void CMainDlg::SetHandlers(WindowHandlers* handlers) {
    if (handlers)
        handlers_ = handlers;
    else if (wiring_)
        handlers_ = wiring_.get();
    else
        handlers_ = &defaultHandlers_;
}

CIconButton* CMainDlg::button(int id) const {
    return qobject_cast<CIconButton*>(controls_.value(id));
}

void CMainDlg::CreateControls() {
    QFont dialogFont(QStringLiteral("MS Sans Serif"), 8);
    setFont(dialogFont);
    units_ = DialogUnits::ForFont(font());
    const QRect client = units_.toPixels(0, 0, 531, 326);
    resize(client.size());

    CreateButtons();
    CreateStatusArea();
    CreateTree();
    CreateList();
    SetKeyboardOrder();
}

void CMainDlg::CreateButtons() {
    for (const ButtonDef& b : kButtons) {
        auto* btn = new CIconButton(this);
        btn->setGeometry(units_.toPixels(b.x, 0, 40, 37));
        btn->setObjectName(QStringLiteral("button%1").arg(b.id));
        controls_.insert(b.id, btn);
        connect(btn, &QAbstractButton::clicked, this, [this, id = b.id] {
            if (id == IDC_EXIT)
                accept();
            else if (id == IDC_HELP)
                ShowHelp();
            else if (id == IDC_SETTINGS)
                OpenSettings();
            else
                handlers_->OnCommand(id);
        });
    }
    button(IDC_EXIT)->setDefault(true);
}

void CMainDlg::CreateStatusArea() {
    frame_ = new QGroupBox(this);
    frame_->setGeometry(units_.toPixels(257, 0, 183, 37));

    auto makeLabel = [this](int id, const QString& text, QRect r, QColor colour) {
        auto* label = new QLabel(text, this);
        label->setGeometry(r);
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, colour);
        label->setPalette(pal);
        controls_.insert(id, label);
        return label;
    };
    statusText_ = makeLabel(IDC_STATUS, QString(), units_.toPixels(265, 9, 55, 9), QColor(0, 0, 128));
    opticMark_ = makeLabel(IDC_OPTIC_MARK, QStringLiteral(" "), units_.toPixels(329, 8, 9, 10),
                           QColor(240, 0, 0));
    portStatusText_ = makeLabel(IDC_PORT_STATUS, QString(), units_.toPixels(345, 9, 91, 9),
                                QColor(240, 0, 0));

    progress_ = new CPercentBar(this);
    progress_->setGeometry(units_.toPixels(258, 22, 182, 15));
    controls_.insert(IDC_PROGRESS, progress_);
}

void CMainDlg::CreateTree() {
    tree_ = new QTreeWidget(this);
    tree_->setGeometry(units_.toPixels(2, 43, 130, 276));
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setFrameShape(QFrame::StyledPanel);
    controls_.insert(IDC_TREE, tree_);
    connect(tree_, &QTreeWidget::itemDoubleClicked, this,
            [this] { handlers_->OnTreeDoubleClick(); });
}

void CMainDlg::CreateList() {
    list_ = new QTreeView(this);
    list_->setGeometry(units_.toPixels(138, 43, 389, 276));
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setModel(&rows_);
    rows_.setSelectionModel(list_->selectionModel());
    // The selection stays visible while the list has no focus.
    QPalette listPalette = list_->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        listPalette.setColor(QPalette::Inactive, role, listPalette.color(QPalette::Active, role));
    list_->setPalette(listPalette);
    controls_.insert(IDC_LIST, list_);
    connect(list_, &QAbstractItemView::doubleClicked, this, [this] {
        // A value typed by hand is no longer the one compared.
        if (EditSelectedValue(list_, rows_) && wiring_ && wiring_->compare().active())
            LeaveCompare();
    });
    for (auto signal : {&QAbstractItemModel::columnsInserted, &QAbstractItemModel::columnsRemoved})
        connect(&rows_, signal, this, &CMainDlg::FitColumns);
    connect(&rows_, &QAbstractItemModel::modelReset, this, [this] {
        onlyDifferences_ = false; // the view shows every row of new rows
        FitColumns();
    });
}

void CMainDlg::SetKeyboardOrder() {
    // Keyboard order: exit, tree, list, then the command buttons.
    QWidget* order[] = {button(IDC_EXIT),        tree_,
                        list_,                   button(IDC_SAVE_LIST),
                        button(IDC_READ),        button(IDC_WRITE),
                        button(IDC_STOP),        button(IDC_SAVE_VALUES),
                        button(IDC_SETTINGS),    button(IDC_HELP)};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void CMainDlg::Startup() {
    // The system menu of our platform belongs to the window manager; the
    // About command lives in the window's context menu instead.
    setWindowIcon(ProgramIcon());
    exchange.opticState = STATE_IDLE;
    workingDirectory = QDir::currentPath();

    for (const ButtonDef& b : kButtons)
        button(b.id)->SetIcon(ButtonImage(b.art), true);

    SetStartDefaults();
    localIp = localIpFromHostName();
    wiring_ = std::make_unique<MainWiring>(*this, options_.ports);
    handlers_ = wiring_.get();
    LoadSettings(settings);
    LoadRouteSettings(settings);

    metrics_ = LayoutMetrics::Measure(QRect(QPoint(0, 0), size()), list_->geometry(),
                                      tree_->geometry());

    progress_->SetRange(0, 100);
    progress_->SetPos(0);
    progress_->SetShowText(true);
    progress_->SetText(QStringLiteral("Выполнено 0%"));

    OpenMainDatabaseAtStart();
    SetUpListColumns();
    tree_->setIconSize(QSize(16, 16));

    if (mainDatabaseFound_)
        handlers_->BuildTree();

    if (options_.startTimers)
        StartTimers();

    // Help stays enabled: the program ships its own help viewer.
    for (const ButtonDef& b : kButtons)
        button(b.id)->setToolTip(QString::fromUtf8(b.tooltip));

    qApp->installEventFilter(this);
    button(IDC_EXIT)->setFocus();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void CMainDlg::SetStartDefaults() {
    // Start defaults, overridden by the settings file where it has them.
    exchange.readState = STATE_IDLE;
    exchange.writeState = STATE_IDLE;
    exchange.rxLength = 0;
    exchange.linkIdleTicks = kLinkIdleExpired;
    settings.waitSeconds = 1;
    settings.portIndex = -1;
    exchange.lastSocketError = 0;
}

void CMainDlg::OpenMainDatabaseAtStart() {
    mainDatabaseFound_ = QFileInfo::exists(QString::fromLatin1(kMainDatabaseName));
    if (!mainDatabaseFound_) {
        options_.showError(QStringLiteral("Ошибка: отсутствует данный файл."),
                           QStringLiteral("База данных PARVLT2.mdb"));
        for (int id : {IDC_SAVE_LIST, IDC_READ, IDC_WRITE, IDC_STOP, IDC_SAVE_VALUES})
            button(id)->setEnabled(false);
    } else if (!handlers_->OpenMainDatabase()) {
        // There but unusable (damaged, locked, not a database, or without
        // its tables): say so once and go on as without it, so that nothing
        // acts on a broken file.
        mainDatabaseFound_ = false;
        QString text = QStringLiteral("Ошибка: файл не открывается.");
        if (const QString why = handlers_->MainDatabaseProblem(); !why.isEmpty())
            text += QLatin1Char('\n') + why;
        options_.showError(text, QStringLiteral("База данных PARVLT2.mdb"));
        for (int id : {IDC_SAVE_LIST, IDC_READ, IDC_WRITE, IDC_STOP, IDC_SAVE_VALUES})
            button(id)->setEnabled(false);
    }
}

void CMainDlg::SetUpListColumns() {
    rows_.setRowImages(RowImages());
    list_->header()->setStretchLastSection(false);
    // The in-place edit box is placed by column position: columns stay put.
    list_->header()->setSectionsMovable(false);
    list_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < ColumnCount; ++c)
        list_->setColumnWidth(c, ParamListModel::kWidths[c]);

    fullRowSelection_ = FullRowSelection(options_.commandChar);
    list_->setAllColumnsShowFocus(fullRowSelection_);
    if (!fullRowSelection_)
        list_->setItemDelegate(new FirstColumnSelectionDelegate(list_));
}

void CMainDlg::StartTimers() {
    exchangeTimerId_ = startTimer(kExchangeTimerMs, Qt::PreciseTimer);
    tick_.start(std::chrono::milliseconds(kTickMs), [this] {
        exchange.TickCallback(*this);
        wiring_->OnTickThread();
    });
}

void CMainDlg::post(int message) {
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(message)));
}

bool CMainDlg::event(QEvent* e) {
    // Exchange messages come before any other handling.
    switch (static_cast<int>(e->type())) {
    case MSG_TICK:
    case MSG_READ_TIMEOUT:
    case MSG_WRITE_TIMEOUT:
    case MSG_WRITE_ANSWER:
    case MSG_WRITE_END:
        if (!shutDown_)
            handlers_->OnExchangeMessage(static_cast<int>(e->type()));
        return true;
    default:
        return QDialog::event(e);
    }
}

bool CMainDlg::ownsKeyEvent(QObject* watched) const {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return false;
    // While one of our modal dialogs is open, its own keys come first.
    const QWidget* modal = QApplication::activeModalWidget();
    return modal == nullptr || modal == this;
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress && ownsKeyEvent(watched)) {
        const auto* key = static_cast<QKeyEvent*>(e);
        switch (FilterKey(key->key(), key->modifiers().testFlag(Qt::KeypadModifier))) {
        case KeyVerdict::Pass:
            break;
        case KeyVerdict::DeleteThenConsume:
            // A held key repeats: one press, one deletion at most.
            if (!key->isAutoRepeat())
                handlers_->OnDeleteKey();
            return true;
        case KeyVerdict::Consume:
            return true;
        }
    }
    // Key releases and shortcut overrides of the swallowed keys go nowhere either.
    if (e->type() == QEvent::ShortcutOverride && ownsKeyEvent(watched)) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if (FilterKey(key->key(), key->modifiers().testFlag(Qt::KeypadModifier)) !=
            KeyVerdict::Pass) {
            e->accept();
            return false;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void CMainDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    if (skipFirstSize_) {
        skipFirstSize_ = false;
        return;
    }
    const int cx = width();
    const int cy = height();
    list_->resize(metrics_.ListSize(cx, cy));
    tree_->resize(metrics_.TreeSize(cx, cy));
}

void CMainDlg::timerEvent(QTimerEvent* e) {
    if (e->timerId() == exchangeTimerId_) {
        handlers_->OnTimer();
        return;
    }
    QDialog::timerEvent(e);
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* e) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("&About Parvault..."), this, &CMainDlg::ShowAbout);
    QAction* log = menu.addAction(QString::fromUtf8(kExchangeLogTitle), this, &CMainDlg::ShowExchangeLog);
    log->setShortcut(kExchangeLogKey);
    log->setEnabled(wiring_ != nullptr);
    const bool comparing = wiring_ && wiring_->compare().active();
    const bool idle = wiring_ && !wiring_->controller().busy();
    QAction* compare = menu.addAction(QString::fromUtf8(kCompareCommand), this, &CMainDlg::CompareWithDevice);
    compare->setShortcut(kCompareKey);
    compare->setEnabled(idle && mainDatabaseFound_ && wiring_->db().currentListNumber > 0 &&
                        rows_.rowCount() > 0);
    if (comparing) {
        QAction* filter = menu.addAction(QString::fromUtf8(kCompareFilterCommand), this,
                                         &CMainDlg::ShowOnlyDifferences);
        filter->setCheckable(true);
        filter->setChecked(onlyDifferences_);
        filter->setShortcut(kCompareFilterKey);
        QAction* write = menu.addAction(QString::fromUtf8(kWriteStoredCommand), this, &CMainDlg::WriteStoredValues);
        write->setShortcut(kWriteStoredKey);
        write->setEnabled(idle);
        menu.addAction(QString::fromUtf8(kLeaveCompareCommand), this, &CMainDlg::LeaveCompare);
    }
    menu.exec(e->globalPos());
}

void CMainDlg::CompareWithDevice() {
    if (!wiring_ || !mainDatabaseFound_)
        return;
    const QString caption = QString::fromUtf8(kCompareCommand);
    if (wiring_->db().currentListNumber <= 0 || rows_.rowCount() == 0) {
        options_.showError(QStringLiteral("Сравнивается сохранённый список: загрузите его из дерева."), caption);
        return;
    }
    if (wiring_->controller().busy()) {
        options_.showError(QStringLiteral("Идёт обмен: дождитесь его конца или остановите его."), caption);
        return;
    }
    ShowOnlyDifferences(false);
    wiring_->compare().start();
    CompareChanged();
}

void CMainDlg::WriteStoredValues() {
    if (!wiring_ || !wiring_->compare().active())
        return;
    const QString caption = QString::fromUtf8(kWriteStoredCommand);
    if (wiring_->controller().busy()) {
        options_.showError(QStringLiteral("Идёт обмен: дождитесь его конца или остановите его."), caption);
        return;
    }
    if (!wiring_->compare().writeStored())
        options_.showError(QStringLiteral("Выделите строки, значения которых отличаются от сохранённых."), caption);
    CompareChanged();
}

void CMainDlg::LeaveCompare() {
    if (!wiring_)
        return;
    wiring_->compare().leave();
    CompareChanged();
}

void CMainDlg::ShowOnlyDifferences(bool only) {
    onlyDifferences_ = only && wiring_ && wiring_->compare().active();
    ApplyCompareFilter();
}

void CMainDlg::CompareChanged() {
    if (!wiring_ || !wiring_->compare().active())
        onlyDifferences_ = false;
    ApplyCompareFilter();
}

void CMainDlg::ApplyCompareFilter() {
    const bool comparing = rows_.comparing();
    list_->setUpdatesEnabled(false);
    for (int r = 0; r < rows_.rowCount(); ++r) {
        const bool hide = onlyDifferences_ && comparing && !NeedsAttention(rows_.compareCell(r).mark);
        if (list_->isRowHidden(r, {}) != hide)
            list_->setRowHidden(r, {}, hide);
    }
    list_->setUpdatesEnabled(true);
}

void CMainDlg::FitColumns() {
    const int count = rows_.columnCount();
    if (count == shownColumns_)
        return;
    shownColumns_ = count;
    for (int c = 0; c < ColumnCount; ++c)
        list_->setColumnWidth(rows_.viewColumn(c), ParamListModel::kWidths[c]);
    if (rows_.comparing())
        list_->setColumnWidth(ParamListModel::kDeviceColumn, ParamListModel::kDeviceColumnWidth);
}

void CMainDlg::ShowExchangeLog() {
    if (!wiring_)
        return;
    if (!logWindow_)
        logWindow_ = new ExchangeLogWindow(wiring_->log(), this);
    logWindow_->show();
    logWindow_->raise();
    logWindow_->activateWindow();
}

void CMainDlg::ShowAbout() {
    CAboutBox box(this);
    box.exec();
}

void CMainDlg::OpenSettings() {
    ConnectTargets targets{settings, exchange.linkIdleTicks,
                           [this](const QString& text) { portStatusText_->setText(text); },
                           options_.portSources ? options_.portSources() : systemPortSources(),
                           options_.showMessage};
    CConnectDlg dialog(std::move(targets), this);
    dialog.exec();
}

void CMainDlg::ShowHelp() {
    options_.showHelp(this);
}

void CMainDlg::done(int result) {
    Shutdown();
    QDialog::done(result);
}

void CMainDlg::Shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    handlers_->ClosePort();
    if (exchangeTimerId_ != 0) {
        killTimer(exchangeTimerId_);
        exchangeTimerId_ = 0;
    }
    tick_.stop();
    SaveSettings(settings);
    SaveRouteSettings(settings);
    handlers_->StopUdpThread();
}

} // namespace parvault
