#pragma once

#include "comparerun.h"
#include "controller.h"
#include "exchangestack.h"
#include "dbsession.h"
#include "dbui.h"
#include "mainwindow.h"

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
    void setStatusToolTip(const QString& text) override;
    void setPortStatusToolTip(const QString& text) override;

    DbSession& db() { return db_; }
    ExchangeController& controller() { return stack_.controller(); }
    SerialChannel& serial() { return stack_.serial(); }
    ExchangeStack& stack() { return stack_; }
    ExchangeLog& log() { return log_; }
    CompareRun& compare() { return compare_; }

private:
    // The parameter list as the database commands see it: whatever replaces
    // or empties it first ends a running exchange as Stop does, so no answer
    // can land in a row of another list, or past the end of a shorter one.
    class ExchangeSafeRows final : public RowTable {
    public:
        ExchangeSafeRows(RowTable& rows, std::function<void()> beforeReplace)
            : rows_(rows), beforeReplace_(std::move(beforeReplace)) {}
        int rowCount() const override { return rows_.rowCount(); }
        const ParamRow& row(int r) const override { return rows_.row(r); }
        void setText(int r, int column, const QString& text) override { rows_.setText(r, column, text); }
        void setIcon(int r, int icon) override { rows_.setIcon(r, icon); }
        bool isSelected(int r) const override { return rows_.isSelected(r); }
        void setSelected(int r, bool selected) override { rows_.setSelected(r, selected); }
        void setRows(std::vector<ParamRow> rows) override {
            beforeReplace_();
            rows_.setRows(std::move(rows));
        }

    private:
        RowTable& rows_;
        std::function<void()> beforeReplace_;
    };

    std::optional<int32_t> selectedTreeData() const;
    // Lets the compare notice the end of a pass, and the window its change.
    void afterExchangeStep();
    void EndExchangeForNewRows();

    CMainDlg& window_;
    ExchangeSafeRows dbRows_;
    DbSession db_;
    ExchangeLog log_; // every exchange of the window, for the log window
    CompareRun compare_; // before the stack: the controller acts on its rows
    ExchangeStack stack_;
    QList<QCursor> waitFrames_;
    bool overrideCursor_ = false;
};

// The 13 frames of the wait cursor: an hourglass whose sand runs down.
QList<QCursor> WaitCursorFrames();

} // namespace parvault
