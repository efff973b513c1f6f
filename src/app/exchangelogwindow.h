#pragma once

// The exchange log window: every line of the exchange log, following new
// lines while it stands at the end and keeping its place otherwise. It pulls
// from the log on a timer, so recording never waits for the window.

#include "exchangelog.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace parvault {

inline constexpr const char* kExchangeLogTitle = "Журнал обмена";
// How often the window takes what was recorded.
inline constexpr int kExchangeLogPullMs = 100;

class ExchangeLogWindow final : public QWidget {
    Q_OBJECT
public:
    explicit ExchangeLogWindow(ExchangeLog& log, QWidget* parent = nullptr);

    // Takes the new lines now (the timer does it every kExchangeLogPullMs).
    void pull();
    void clearLog();
    // The selected lines, whole, to the clipboard.
    void copySelectedLines();
    // The lines shown, as UTF-8 text with a newline after each. False when
    // the file cannot be written.
    bool saveTo(const QString& path) const;
    // Asks for a file name, then saves.
    void saveAs();

    QPlainTextEdit* view() const { return view_; }
    QStringList lines() const;
    bool atEnd() const;

private:
    void showCounts();

    ExchangeLog& log_;
    TraceReader reader_;
    QPlainTextEdit* view_ = nullptr;
    QLabel* counts_ = nullptr;
    QTimer* timer_ = nullptr;
};

} // namespace parvault
