#pragma once

// The window's side of the exchange and the database commands, without a
// window: a thread-safe message queue in place of posted window messages, a
// display that remembers what it was shown, a database UI that answers from
// the command line, and the loop that drives the controller in real time.

#include "connectionsettings.h"
#include "controller.h"
#include "exchangestack.h"
#include "dbui.h"
#include "exchangeshared.h"
#include "portnaming.h"
#include "rowtable.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

namespace parvault::cli {

class HeadlessDisplay final : public ExchangeDisplay {
public:
    void setStatusText(const QString& text) override { status = text; }
    void setOpticMark(const QString& text) override { opticMark = text; }
    void setPortStatusText(const QString& text) override { portStatus = text; }
    void setProgressText(const QString& text) override { progressText = text; }
    void setProgressPos(int position) override { progressPos = position; }
    void setPortStatusToolTip(const QString& text) override { portReason = text; }

    QString status;
    QString opticMark;
    QString portStatus;
    QString portReason; // why the port could not be opened, when it could not
    QString progressText;
    int progressPos = 0;
};

// The database commands' dialogs, answered from the command line: the list
// name dialog returns the name given (or is cancelled without one), the save
// dialog returns the export path (or is cancelled without one), and message
// boxes are collected for the caller.
class HeadlessDbUi final : public DbUi {
public:
    std::optional<QString> listName;
    std::optional<QString> exportPath;
    QStringList messages; // "caption: text", in order
    QStringList notices;  // texts that report no failure, in order

    std::optional<QString> askListName() override { return listName; }
    std::optional<QString> askSaveFile(const QString&, const QString&, const QString&) override {
        return exportPath;
    }
    void message(const QString& text, const QString& caption) override;
    void notice(const QString& text, const QString&) override { notices << text.trimmed(); }
    void setTree(const TreeNode&) override {}
    void showWaitFrame(int) override {}
    void showArrowCursor() override {}
};

// An exchange stack with a display that remembers what it was shown.
class HeadlessExchange {
public:
    // With a log, every frame and exchange event is recorded into it.
    HeadlessExchange(ConnectionSettings& settings, RowTable& rows, PortNaming ports, uint32_t localIp,
                     std::function<void()> reopenDatabase, ExchangeLog* log = nullptr, Pacing pacing = {});
    HeadlessExchange(const HeadlessExchange&) = delete;
    HeadlessExchange& operator=(const HeadlessExchange&) = delete;

    HeadlessDisplay display;
    ExchangeStack stack;
    ExchangeController& controller;
};

// Drives a started exchange until the controller is idle: the 25 ms step on
// the steady clock, the 100 ms tick from its own thread, posted messages as
// they come. A raised stop flag stops the exchange as the stop button does.
// onStep runs after every 25 ms step (for a progress line). True when the
// exchange ended by itself, false when it was stopped.
bool runHeadless(HeadlessExchange& exchange, const std::atomic<bool>* stop,
                 const std::function<void()>& onStep);

// Handles what is still queued after the exchange went idle: an end message
// posted with the last step still releases the channel.
void drainMessages(HeadlessExchange& exchange);

// The address UDP requests are sent from. A device on the loopback network
// is reached from the loopback address; otherwise the host's own address, as
// the window uses.
uint32_t localIpFor(uint32_t deviceIp);

} // namespace parvault::cli
