#pragma once

#include "connectionsettings.h"
#include "exchangeshared.h"
#include "paramlistmodel.h"
#include "portdiscovery.h"
#include "ticker.h"
#include "windowrules.h"

#include <QDialog>
#include <QKeySequence>
#include <QHash>

#include <cstdint>
#include <functional>
#include <optional>
#include <memory>

class QLabel;
class QGroupBox;
class QTreeWidget;
class QTreeView;

namespace parvault {

class CIconButton;
class CPercentBar;
class MainWiring;

// Control ids of the main window.
enum ControlId : int {
    IDC_EXIT = 1,
    IDC_TREE = 1000,
    IDC_LIST = 1002,
    IDC_SAVE_LIST = 1003,
    IDC_READ = 1004,
    IDC_WRITE = 1005,
    IDC_STOP = 1006,
    IDC_STATUS = 1010,
    IDC_SAVE_VALUES = 1012,
    IDC_SETTINGS = 1015,
    IDC_PORT_STATUS = 1018,
    IDC_HELP = 1019,
    IDC_PROGRESS = 1020,
    IDC_OPTIC_MARK = 1022,
};

inline constexpr int EXCHANGE_TIMER = 17;
inline constexpr int ABOUT_COMMAND = 16;

// What the exchange and the database subsystems plug into the window. The
// window forwards its timer, tick, posted messages and commands; every
// member has a harmless default.
class WindowHandlers {
public:
    virtual ~WindowHandlers() = default;
    virtual void OnTimer() {}
    virtual void OnExchangeMessage(int /*message*/) {}
    virtual void OnCommand(int /*controlId*/) {}
    virtual void OnTreeDoubleClick() {}
    virtual void OnDeleteKey() {}
    virtual void BuildTree() {}
    virtual bool OpenMainDatabase() { return true; }
    // Why the main database was refused beyond not opening (missing tables), or empty.
    virtual QString MainDatabaseProblem() { return {}; }
    virtual void ClosePort() {}
    virtual void StopUdpThread() {}
};

struct MainWindowOptions {
    char commandChar = 0;
    // Shows an error message box; tests replace it to keep the run unattended.
    std::function<void(const QString& text, const QString& caption)> showError;
    // Opens the help page; tests replace it.
    std::function<void(QWidget* parent)> showHelp;
    // Where the settings dialog finds the serial ports; tests point it at a folder.
    std::function<PortSources()> portSources;
    // Shows a dialog's validation message; tests replace it.
    std::function<void(QWidget* parent, const QString& text)> showMessage;
    // The list name and save-file dialogs; tests replace them.
    std::function<std::optional<QString>()> askListName;
    std::function<std::optional<QString>(const QString& defaultName, const QString& filter,
                                         const QString& defaultExtension)>
        askSaveFile;
    // How port numbers name devices.
    PortNaming ports = defaultPortNaming();
    bool startTimers = true;
};

class ExchangeLogWindow;

// Opens the exchange log window; the window's key filter passes it through.
inline const QKeySequence kExchangeLogKey{Qt::CTRL | Qt::Key_L};
// The compare with the device, its filter and its write-back.
inline const QKeySequence kCompareKey{Qt::CTRL | Qt::Key_D};
inline const QKeySequence kCompareFilterKey{Qt::CTRL | Qt::SHIFT | Qt::Key_D};
inline const QKeySequence kWriteStoredKey{Qt::CTRL | Qt::SHIFT | Qt::Key_W};
inline const char kCompareCommand[] = "Сравнить с прибором";
inline const char kCompareFilterCommand[] = "Только отличающиеся и непрочитанные";
inline const char kWriteStoredCommand[] = "Записать сохранённые значения";
inline const char kLeaveCompareCommand[] = "Закончить сравнение";

class CMainDlg : public QDialog, public MessagePoster {
    Q_OBJECT
public:
    explicit CMainDlg(MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // MessagePoster: safe from any thread.
    void post(int message) override;

    // Replaces the subsystems' handlers (tests); nullptr puts back the real ones.
    void SetHandlers(WindowHandlers* handlers);
    MainWiring* wiring() const { return wiring_.get(); }
    const MainWindowOptions& options() const { return options_; }

    // The controls and state the other subsystems act on.
    QWidget* control(int id) const { return controls_.value(id); }
    CIconButton* button(int id) const;
    QTreeWidget* tree() const { return tree_; }
    QTreeView* list() const { return list_; }
    ParamListModel& rows() { return rows_; }
    CPercentBar* progress() const { return progress_; }
    QLabel* statusText() const { return statusText_; }
    QLabel* opticMark() const { return opticMark_; }
    QLabel* portStatusText() const { return portStatusText_; }

    ConnectionSettings settings;
    ExchangeShared exchange;
    uint32_t localIp = 0;
    QString workingDirectory;
    bool mainDatabaseFound() const { return mainDatabaseFound_; }
    bool fullRowSelection() const { return fullRowSelection_; }
    bool tickRunning() const { return tick_.running(); }
    int timerId() const { return exchangeTimerId_; }

    void ShowAbout();
    void ShowHelp();
    // Opens the exchange log window (or brings it up); it stays across exchanges.
    void ShowExchangeLog();
    ExchangeLogWindow* exchangeLogWindow() const { return logWindow_; }
    void OpenSettings();

    // The compare with the device (see CompareRun). Each says no in a
    // message when it cannot act.
    void CompareWithDevice();
    void WriteStoredValues();
    void LeaveCompare();
    // Shows only the rows that differ or were not read, or all rows again.
    void ShowOnlyDifferences(bool only);
    bool onlyDifferences() const { return onlyDifferences_; }
    // The compare started, ended a pass or was left.
    void CompareChanged();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void done(int result) override;

private:
    void CreateControls();
    // CreateControls' steps, in the order the controls are made.
    void CreateButtons();
    void CreateStatusArea(); // the frame, its texts and the progress bar
    void CreateTree();
    void CreateList();
    void SetKeyboardOrder();
    void Startup();
    // Startup's steps.
    void SetStartDefaults();
    // Looks for the main database and opens it; without a usable one the
    // user is told and the commands that need it are disabled.
    void OpenMainDatabaseAtStart();
    void SetUpListColumns();
    void StartTimers(); // the exchange step and the tick thread
    void Shutdown();
    bool ownsKeyEvent(QObject* watched) const;
    // Column widths anew when the compare column comes or goes.
    void FitColumns();
    void ApplyCompareFilter();

    MainWindowOptions options_;
    WindowHandlers defaultHandlers_;
    WindowHandlers* handlers_ = &defaultHandlers_;
    std::unique_ptr<MainWiring> wiring_;
    ExchangeLogWindow* logWindow_ = nullptr; // a separate window, made when first asked for

    QHash<int, QWidget*> controls_;
    QTreeWidget* tree_ = nullptr;
    QTreeView* list_ = nullptr;
    ParamListModel rows_;
    CPercentBar* progress_ = nullptr;
    QLabel* statusText_ = nullptr;
    QLabel* opticMark_ = nullptr;
    QLabel* portStatusText_ = nullptr;
    QGroupBox* frame_ = nullptr;

    DialogUnits units_;
    LayoutMetrics metrics_;
    bool skipFirstSize_ = true;
    bool mainDatabaseFound_ = false;
    bool fullRowSelection_ = false;
    bool shutDown_ = false;
    bool onlyDifferences_ = false;
    int shownColumns_ = ColumnCount;
    int exchangeTimerId_ = 0;
    TickThread tick_;
};

} // namespace parvault
