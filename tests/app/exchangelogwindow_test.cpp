// The exchange log window, offscreen: it follows the end, keeps its place
// when scrolled back, and saves what the command line's trace writes.

#include "clitest.h"

#include "exchangelogwindow.h"
#include "mainwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTest>

using namespace parvault;
using namespace parvault::clitest;

namespace {

void record(ExchangeLog& log, int count) {
    const uint8_t frame[] = {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x30, 0x30, 0x30};
    for (int i = 0; i < count; ++i)
        log.frame(EntryKind::Sent, QStringLiteral("COM7 9600 бод"), frame);
}

TEST(ExchangeLogWindow, FollowsTheEndAndKeepsThePlaceOtherwise) {
    ExchangeLog log;
    ExchangeLogWindow window(log);
    window.resize(600, 300);
    window.show();
    record(log, 300);
    window.pull();
    ASSERT_EQ(window.lines().size(), 300);
    QScrollBar* bar = window.view()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_TRUE(window.atEnd());

    record(log, 50);
    window.pull();
    EXPECT_EQ(window.lines().size(), 350);
    EXPECT_TRUE(window.atEnd()) << "at the end, it follows new lines";

    bar->setValue(10);
    record(log, 50);
    window.pull();
    EXPECT_EQ(window.lines().size(), 400);
    EXPECT_EQ(bar->value(), 10) << "scrolled back, it stays where the reader is";
    EXPECT_FALSE(window.atEnd());

    window.clearLog();
    EXPECT_TRUE(window.lines().isEmpty());
    EXPECT_EQ(log.size(), 0u);
    record(log, 1);
    window.pull();
    EXPECT_EQ(window.lines().size(), 1);
}

TEST(ExchangeLogWindow, CopiesTheSelectedLinesWhole) {
    ExchangeLog log;
    log.event(ExchangeEvent::Started, 0);
    log.event(ExchangeEvent::Resent, 2, 2);
    log.event(ExchangeEvent::TimedOut, 2);
    ExchangeLogWindow window(log);
    // A selection from the middle of the second line into the third.
    QTextCursor cursor(window.view()->document()->findBlockByNumber(1));
    cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 5);
    cursor.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor);
    window.view()->setTextCursor(cursor);
    window.copySelectedLines();
    const QStringList lines = window.lines();
    EXPECT_EQ(QApplication::clipboard()->text(), lines[1] + "\n" + lines[2] + "\n");
}

TEST(ExchangeLogWindow, DroppedEntriesAreSaid) {
    ExchangeLog log(100);
    record(log, 150);
    ExchangeLogWindow window(log);
    const QStringList lines = window.lines();
    ASSERT_EQ(lines.size(), 101);
    EXPECT_EQ(lines[0], DroppedLine(50));
}

// The window's file and the command line's trace of one exchange (a read
// with a silent and an error row) are the same bytes.
TEST_F(CliFixture, LogWindowSavesWhatTheTraceWrites) {
    failErrorAndSilentRows();

    ExchangeLog log;
    ExchangeLogWindow window(log);
    window.show();
    std::ostringstream out, err;
    cli::CliEnvironment env{out, err};
    env.driver = [&window](cli::HeadlessExchange& ex) {
        const bool done = ManualClockDriver(ex);
        window.pull(); // as its timer would have meanwhile
        return done;
    };
    env.log = &log;
    const int status = cli::RunCli(QStringList{"read", "type:20", "--rows", "0:1,0:8,1:12", "--trace", "trace.txt"} +
                                       pty(),
                                   env);
    EXPECT_EQ(status, 1) << err.str();
    window.pull();
    ASSERT_TRUE(window.saveTo(QString::fromStdString(dir.file("window.txt"))));

    QFile trace(QString::fromStdString(dir.file("trace.txt")));
    QFile saved(QString::fromStdString(dir.file("window.txt")));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray traced = trace.readAll();
    EXPECT_GT(traced.count('\n'), 10);
    EXPECT_TRUE(traced.contains("ошибка «Нет доступа»"));
    EXPECT_EQ(saved.readAll(), traced);
}

TEST(ExchangeLogWindow, OpenedFromTheMainWindowByItsKey) {
    TempDir folder;
    ScopedCwd cwd(folder.path());
    MainWindowOptions options;
    options.startTimers = false;
    options.showError = [](const QString&, const QString&) {};
    CMainDlg dlg(options);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ASSERT_EQ(dlg.exchangeLogWindow(), nullptr);
    dlg.activateWindow();
    QTest::keyClick(&dlg, Qt::Key_L, Qt::ControlModifier);
    ASSERT_NE(dlg.exchangeLogWindow(), nullptr);
    EXPECT_TRUE(dlg.exchangeLogWindow()->isVisible());
    EXPECT_EQ(dlg.exchangeLogWindow()->windowTitle(), QStringLiteral("Журнал обмена"));
    EXPECT_TRUE(dlg.exchangeLogWindow()->isWindow());
}

} // namespace
