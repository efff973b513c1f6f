#include "iconbutton.h"
#include "mainwiring.h"
#include "mainwindow.h"
#include "percentbar.h"
#include "recordingposter.h"
#include "recordsets.h"
#include "tempdir.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QRegularExpression>
#include <QLabel>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

using namespace parvault;
using parvault::testing::RecordingPoster;
using parvault::testing::ScopedCwd;
using parvault::testing::TempDir;

namespace {

struct Recorded {
    std::vector<std::pair<QString, QString>> errors;
    int helpShown = 0;
};

MainWindowOptions optionsFor(Recorded& rec, char commandChar = 0, bool timers = false) {
    MainWindowOptions o;
    o.commandChar = commandChar;
    o.startTimers = timers;
    o.showError = [&rec](const QString& text, const QString& caption) {
        rec.errors.emplace_back(text, caption);
    };
    o.showHelp = [&rec](QWidget*) { ++rec.helpShown; };
    return o;
}

class RecordingHandlers : public WindowHandlers {
public:
    std::vector<int> messages;
    int deletes = 0;
    int timers = 0;
    int treeBuilds = 0;
    int closePort = 0;
    void OnExchangeMessage(int m) override { messages.push_back(m); }
    void OnDeleteKey() override { ++deletes; }
    void OnTimer() override { ++timers; }
    void BuildTree() override { ++treeBuilds; }
    void ClosePort() override { ++closePort; }
};

class MainWindowTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCwd cwd{dir.path()};
    Recorded rec;
};

} // namespace

TEST_F(MainWindowTest, MissingMainDatabaseDisablesDatabaseAndExchangeCommands) {
    CMainDlg dlg(optionsFor(rec));
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].first, QString("Ошибка: отсутствует данный файл."));
    EXPECT_EQ(rec.errors[0].second, QString("База данных PARVLT2.mdb"));
    EXPECT_FALSE(dlg.mainDatabaseFound());
    for (int id : {IDC_SAVE_LIST, IDC_READ, IDC_WRITE, IDC_STOP, IDC_SAVE_VALUES})
        EXPECT_FALSE(dlg.button(id)->isEnabled()) << id;
    for (int id : {IDC_SETTINGS, IDC_HELP, IDC_EXIT})
        EXPECT_TRUE(dlg.button(id)->isEnabled()) << id;
    EXPECT_EQ(dlg.tree()->topLevelItemCount(), 0);
    EXPECT_EQ(dlg.rows().rowCount(), 0);
    QTest::mouseClick(dlg.button(IDC_HELP), Qt::LeftButton);
    EXPECT_EQ(rec.helpShown, 1);
}

TEST_F(MainWindowTest, PresentMainDatabaseKeepsCommandsAndBuildsTree) {
    std::filesystem::copy_file(PV_DEMO_DB, dir.file("PARVLT2.mdb"));
    CMainDlg dlg(optionsFor(rec));
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_TRUE(dlg.mainDatabaseFound());
    for (int id : {IDC_SAVE_LIST, IDC_READ, IDC_WRITE, IDC_STOP, IDC_SAVE_VALUES})
        EXPECT_TRUE(dlg.button(id)->isEnabled()) << id;
    ASSERT_EQ(dlg.tree()->topLevelItemCount(), 1);
    EXPECT_GT(dlg.tree()->topLevelItem(0)->childCount(), 3) << "the demo device types";
}

TEST_F(MainWindowTest, UnreadableMainDatabaseIsReportedAndTreatedAsMissing) {
    std::ofstream(dir.file("PARVLT2.mdb")) << std::string(4096, 'x'); // not a database
    CMainDlg dlg(optionsFor(rec));
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].second, QString("База данных PARVLT2.mdb"));
    EXPECT_FALSE(dlg.mainDatabaseFound());
    for (int id : {IDC_SAVE_LIST, IDC_READ, IDC_WRITE, IDC_STOP, IDC_SAVE_VALUES})
        EXPECT_FALSE(dlg.button(id)->isEnabled()) << id;
    EXPECT_EQ(dlg.tree()->topLevelItemCount(), 0);
}

TEST_F(MainWindowTest, MainDatabaseWithoutTheDeviceTypeTableIsReportedAsUnreadable) {
    // A zero-byte file, and a saved list put in the main database's place.
    for (const bool zeroBytes : {true, false}) {
        SCOPED_TRACE(zeroBytes ? "zero bytes" : "a list file");
        std::filesystem::remove(dir.file("PARVLT2.mdb"));
        if (zeroBytes) {
            std::ofstream(dir.file("PARVLT2.mdb"));
        } else {
            CDaoDatabase list;
            list.Create(QString::fromStdString(dir.file("PARVLT2.mdb")));
            CreateParamsTable(list);
            CreateListHeadTable(list);
        }
        rec.errors.clear();
        CMainDlg dlg(optionsFor(rec));
        ASSERT_EQ(rec.errors.size(), 1u);
        const QStringList lines = rec.errors[0].first.split('\n');
        EXPECT_EQ(lines.value(0), QString("Ошибка: файл не открывается."));
        EXPECT_EQ(lines.value(1), QString("Нет таблицы «ТипыПриборов»."));
        EXPECT_EQ(rec.errors[0].second, QString("База данных PARVLT2.mdb"));
        EXPECT_FALSE(dlg.mainDatabaseFound());
        for (int id : {IDC_SAVE_LIST, IDC_READ, IDC_WRITE, IDC_STOP, IDC_SAVE_VALUES})
            EXPECT_FALSE(dlg.button(id)->isEnabled()) << id;
        EXPECT_EQ(dlg.tree()->topLevelItemCount(), 0);
    }
}

TEST_F(MainWindowTest, ControlsTextsAndStartState) {
    CMainDlg dlg(optionsFor(rec));
    EXPECT_EQ(dlg.windowTitle(), QString("Parvault 2"));
    const std::pair<int, const char*> tips[] = {
        {IDC_EXIT, "Выход "},
        {IDC_SAVE_LIST, "Сохранить список "},
        {IDC_READ, "Получить данные из прибора "},
        {IDC_WRITE, "Запись данных в прибор "},
        {IDC_STOP, "Прекратить обмен "},
        {IDC_SAVE_VALUES, "Сохранение изменений в базе данных "},
        {IDC_SETTINGS, "Настройка "},
        {IDC_HELP, "Помощь "},
    };
    for (const auto& [id, tip] : tips)
        EXPECT_EQ(dlg.button(id)->toolTip(), QString::fromUtf8(tip)) << id;

    const char* headers[] = {"Канал", "Параметр", "Индекс", "Значение", "Единицы", " Наименование"};
    const int widths[] = {50, 75, 50, 160, 60, 225};
    for (int c = 0; c < ColumnCount; ++c) {
        EXPECT_EQ(dlg.rows().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
                  QString::fromUtf8(headers[c]));
        EXPECT_EQ(dlg.list()->columnWidth(c), widths[c]);
    }
    EXPECT_EQ(dlg.progress()->text(), QString("Выполнено 0%"));
    EXPECT_EQ(dlg.progress()->lower(), 0);
    EXPECT_EQ(dlg.progress()->upper(), 100);
    EXPECT_EQ(dlg.opticMark()->text(), QString(" "));
    EXPECT_EQ(dlg.statusText()->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_EQ(dlg.portStatusText()->palette().color(QPalette::WindowText), QColor(240, 0, 0));
    EXPECT_EQ(dlg.opticMark()->palette().color(QPalette::WindowText), QColor(240, 0, 0));

    EXPECT_EQ(dlg.exchange.readState, STATE_IDLE);
    EXPECT_EQ(dlg.exchange.writeState, STATE_IDLE);
    EXPECT_EQ(dlg.exchange.opticState, STATE_IDLE);
    EXPECT_EQ(dlg.exchange.linkIdleTicks, 1200);
    EXPECT_EQ(dlg.settings.portIndex, -1);
    EXPECT_EQ(dlg.settings.waitSeconds, 1);
    ASSERT_NE(dlg.wiring(), nullptr);
    EXPECT_EQ(dlg.wiring()->db().currentTypeCode, 0) << "no list loaded";
    EXPECT_EQ(dlg.wiring()->db().currentListNumber, 0);

    // Keyboard order starts at the exit button.
    QWidget* expected[] = {dlg.button(IDC_EXIT), dlg.tree(), dlg.list(),
                           dlg.button(IDC_SAVE_LIST), dlg.button(IDC_READ),
                           dlg.button(IDC_WRITE), dlg.button(IDC_STOP),
                           dlg.button(IDC_SAVE_VALUES), dlg.button(IDC_SETTINGS),
                           dlg.button(IDC_HELP)};
    // Walk the chain and keep the widgets that take focus by tab.
    std::vector<QWidget*> chain;
    QWidget* w = expected[0];
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->window() == &dlg &&
            w->focusProxy() == nullptr && !w->isWindow())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != expected[0] && chain.size() < 50);
    EXPECT_EQ(chain, std::vector<QWidget*>(std::begin(expected), std::end(expected)));
}

TEST_F(MainWindowTest, SettingsFileIsReadAtStart) {
    ConnectionSettings stored;
    stored.portIndex = 4;
    stored.speedIndex = 7;
    stored.waitSeconds = 9;
    stored.deviceIp = 0x7F000001;
    SaveSettings(stored, dir.file("Parvault2.i"));
    CMainDlg dlg(optionsFor(rec));
    EXPECT_EQ(dlg.settings, stored);
}

TEST_F(MainWindowTest, SelectionModeFromCommandCharacter) {
    {
        CMainDlg plain(optionsFor(rec, 0));
        EXPECT_FALSE(plain.fullRowSelection());
    }
    {
        CMainDlg full(optionsFor(rec, 'X'));
        EXPECT_TRUE(full.fullRowSelection());
        EXPECT_TRUE(full.list()->allColumnsShowFocus());
    }
}

TEST_F(MainWindowTest, EscapeAndEnterNeverCloseTheWindow) {
    CMainDlg dlg(optionsFor(rec));
    RecordingHandlers handlers;
    dlg.SetHandlers(&handlers);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QTest::keyClick(dlg.button(IDC_EXIT), Qt::Key_Escape);
    QTest::keyClick(dlg.button(IDC_EXIT), Qt::Key_Return);
    QTest::keyClick(dlg.list(), Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(dlg.tree(), Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_FALSE(QFile::exists(dir.file("Parvault2.i").c_str())) << "no shutdown happened";

    QTest::keyClick(dlg.tree(), Qt::Key_Delete);
    EXPECT_EQ(handlers.deletes, 1);
    dlg.reject();
}

TEST_F(MainWindowTest, FirstSizeChangeIsSwallowedThenListAndTreeFollowTheEdges) {
    CMainDlg dlg(optionsFor(rec));
    const QRect list0 = dlg.list()->geometry();
    const QRect tree0 = dlg.tree()->geometry();
    const QRect button0 = dlg.button(IDC_SETTINGS)->geometry();
    const QRect progress0 = dlg.progress()->geometry();
    const QSize start = dlg.size();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(dlg.list()->geometry(), list0) << "the size change of creation moves nothing";

    dlg.resize(start + QSize(100, 50));
    QApplication::processEvents();
    EXPECT_EQ(dlg.list()->geometry(), QRect(list0.topLeft(), list0.size() + QSize(100, 50)));
    EXPECT_EQ(dlg.tree()->geometry(), QRect(tree0.topLeft(), tree0.size() + QSize(0, 50)));
    EXPECT_EQ(dlg.button(IDC_SETTINGS)->geometry(), button0);
    EXPECT_EQ(dlg.progress()->geometry(), progress0);

    dlg.resize(start);
    QApplication::processEvents();
    EXPECT_EQ(dlg.list()->geometry(), list0);
    EXPECT_EQ(dlg.tree()->geometry(), tree0);
    dlg.reject();
}

TEST_F(MainWindowTest, ExchangeMessagesReachTheHandlersFirst) {
    CMainDlg dlg(optionsFor(rec));
    RecordingHandlers handlers;
    dlg.SetHandlers(&handlers);
    for (int m : {MSG_READ_TIMEOUT, MSG_WRITE_TIMEOUT, MSG_WRITE_ANSWER, MSG_WRITE_END, MSG_TICK})
        dlg.post(m);
    QApplication::processEvents();
    EXPECT_EQ(handlers.messages,
              (std::vector<int>{MSG_READ_TIMEOUT, MSG_WRITE_TIMEOUT, MSG_WRITE_ANSWER,
                                MSG_WRITE_END, MSG_TICK}));
    dlg.SetHandlers(nullptr);
}

TEST(TickCallback, CountsTicksAndPostsTick) {
    RecordingPoster poster;
    ExchangeShared shared;
    shared.waitTicks = 0;
    for (int i = 0; i < 10; ++i)
        shared.TickCallback(poster);
    EXPECT_EQ(shared.waitTicks, 10);
    EXPECT_EQ(shared.linkIdleTicks, 1210);
    EXPECT_EQ(poster.messages(), std::vector<int>(10, MSG_TICK));
}

TEST_F(MainWindowTest, TimersRunAndStopAtShutdown) {
    CMainDlg dlg(optionsFor(rec, 0, true));
    RecordingHandlers handlers;
    dlg.SetHandlers(&handlers);
    EXPECT_TRUE(dlg.tickRunning());
    EXPECT_NE(dlg.timerId(), 0);
    // A few ticks and steps arrive within half a second.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return handlers.timers >= 2 && !handlers.messages.empty(); }, 2000));
    EXPECT_GE(handlers.timers, 2);
    EXPECT_EQ(handlers.messages.front(), MSG_TICK);
    dlg.reject();
    EXPECT_FALSE(dlg.tickRunning());
    EXPECT_EQ(dlg.timerId(), 0);
    EXPECT_EQ(handlers.closePort, 1);
    dlg.SetHandlers(nullptr);
}

// The settings file is written however the window closes.
TEST_F(MainWindowTest, SettingsWrittenOnExitButtonCloseBoxAndKeyboard) {
    enum class Route { ExitButton, CloseBox, Keyboard };
    for (Route route : {Route::ExitButton, Route::CloseBox, Route::Keyboard}) {
        QFile::remove(dir.file("Parvault2.i").c_str());
        CMainDlg dlg(optionsFor(rec));
        dlg.settings.speedIndex = 3;
        dlg.settings.deviceIp = 0xC0A8000A;
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        switch (route) {
        case Route::ExitButton:
            QTest::mouseClick(dlg.button(IDC_EXIT), Qt::LeftButton);
            break;
        case Route::CloseBox:
            dlg.close();
            break;
        case Route::Keyboard:
            // Focus starts on the exit button, so the space bar presses it.
            EXPECT_EQ(dlg.focusWidget(), dlg.button(IDC_EXIT));
            QTest::keyClick(dlg.focusWidget(), Qt::Key_Space);
            break;
        }
        EXPECT_FALSE(dlg.isVisible()) << int(route);
        ConnectionSettings saved;
        LoadSettings(saved, dir.file("Parvault2.i"));
        EXPECT_EQ(saved.speedIndex, 3) << int(route);
        EXPECT_EQ(saved.deviceIp, 0xC0A8000Au) << int(route);
    }
}

// Every picture the help page shows is built into the program (and, for the
// package, installed beside the page); a missing one shows as a broken icon.
TEST(HelpPage, EveryPictureItShowsIsThere) {
    QFile page(":/help/index.html");
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    static const QRegularExpression img(QStringLiteral("<img src=\"([^\"]+)\""));
    int pictures = 0;
    for (auto m = img.globalMatch(html); m.hasNext();) {
        const QString src = m.next().captured(1);
        EXPECT_TRUE(QImage(":/help/" + src).width() > 0) << src.toStdString();
        ++pictures;
    }
    EXPECT_GE(pictures, 1);
}
