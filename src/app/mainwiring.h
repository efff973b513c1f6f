#pragma once

#include "controller.h"
#include "dbsession.h"
#include "dbui.h"
#include "ipthread.h"
#include "mainwindow.h"
#include "serialchannel.h"

#include <QCursor>
#include <QList>

namespace parvault {

// Joins the window to the database commands and the exchange controller:
// the window forwards its events here, and this class shows what the
// subsystems report through the window's controls.
class MainWiring final : public WindowHandlers, public DbUi, public ExchangeDisplay {
public:
    MainWiring(CMainDlg& window, PortNaming ports);
    ~MainWiring() override;

    // WindowHandlers
    void OnTimer() override;
    void OnExchangeMessage(int message) override;
    void OnCommand(int controlId) override;
    void OnTreeDoubleClick() override;
    void OnDeleteKey() override;
    void BuildTree() override;
    bool OpenMainDatabase() override;
    QString MainDatabaseProblem() override { return db_.MainDatabaseProblemText(); }
    void ClosePort() override;
    void StopUdpThread() override;
    // On the tick thread, every 100 ms.
    void OnTickThread() { db_.waitCursor.tick(); }

    // DbUi
    std::optional<QString> askListName() override;
    std::optional<QString> askSaveFile(const QString& defaultName, const QString& filter,
                                       const QString& defaultExtension) override;
    void message(const QString& text, const QString& caption) override;
    void setTree(const TreeNode& root) override;
    void showWaitFrame(int frame) override;
    void showArrowCursor() override;

    // ExchangeDisplay
    void setStatusText(const QString& text) override;
    void setOpticMark(const QString& text) override;
    void setPortStatusText(const QString& text) override;
    void setProgressText(const QString& text) override;
    void setProgressPos(int position) override;

    DbSession& db() { return db_; }
    ExchangeController& controller() { return controller_; }
    SerialChannel& serial() { return serial_; }

private:
    std::optional<int32_t> selectedTreeData() const;

    CMainDlg& window_;
    DbSession db_;
    SerialChannel serial_;
    UdpChannel udp_;
    ExchangeController controller_;
    QList<QCursor> waitFrames_;
    bool overrideCursor_ = false;
};

// The 13 frames of the wait cursor: an hourglass whose sand runs down.
QList<QCursor> WaitCursorFrames();

} // namespace parvault
