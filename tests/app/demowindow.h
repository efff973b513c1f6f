#pragma once

// The window on the demo main database, with the device simulator answering
// on UDP 127.0.0.1 for device type 20, and the helpers to drive it as a user does.

#include "devicemodel.h"
#include "iconbutton.h"
#include "mainwindow.h"
#include "mainwiring.h"
#include "percentbar.h"
#include "server.h"
#include "tempdir.h"

#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace parvault::testing {

inline QTreeWidgetItem* findItem(QTreeWidget* tree, const std::function<bool(QTreeWidgetItem*)>& pred) {
    std::function<QTreeWidgetItem*(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
        if (pred(item))
            return item;
        for (int i = 0; i < item->childCount(); ++i)
            if (QTreeWidgetItem* found = walk(item->child(i)))
                return found;
        return static_cast<QTreeWidgetItem*>(nullptr);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (QTreeWidgetItem* found = walk(tree->topLevelItem(i)))
            return found;
    return nullptr;
}

inline void doubleClick(QTreeWidget* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    const QPoint at = tree->visualItemRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

inline int rowOfParam(ParamListModel& rows, int param) {
    for (int r = 0; r < rows.rowCount(); ++r)
        if (rows.text(r, ColParam).trimmed().toInt() == param)
            return r;
    return -1;
}

class DemoWindowTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCwd cwd{dir.path()};
    devsim::ParamTable table;
    std::unique_ptr<devsim::DeviceModel> model;
    std::unique_ptr<devsim::Server> server;
    std::vector<std::pair<QString, QString>> errors;

    void SetUp() override {
        std::filesystem::copy_file(PV_DEMO_DB, dir.file("PARVLT2.mdb"));
        QString error;
        ASSERT_TRUE(table.load(PV_DEMO_PARAMS, 20, &error)) << error.toStdString();
        model = std::make_unique<devsim::DeviceModel>(table, devsim::DeviceConfig{});
        devsim::ServerOptions o;
        o.udpHost = "127.0.0.1";
        server = std::make_unique<devsim::Server>(*model, o);
        std::string why;
        ASSERT_TRUE(server->start(&why)) << why;

        ConnectionSettings s;
        s.useIp = 1;
        s.deviceIp = 0x7F000001;
        s.udpPort = server->udpPort();
        s.waitSeconds = 1;
        s.speedIndex = 9;
        SaveSettings(s);
    }
    void TearDown() override { server->stop(); }

    MainWindowOptions options() {
        MainWindowOptions o;
        o.showError = [this](const QString& t, const QString& c) { errors.emplace_back(t, c); };
        o.askListName = [] { return std::optional<QString>("Обход ТВ-20"); };
        o.askSaveFile = [this](const QString&, const QString&, const QString&) {
            return std::optional<QString>(QString::fromStdString(dir.file("таблица.txt")));
        };
        return o;
    }

    static bool waitIdle(CMainDlg& dlg) {
        return QTest::qWaitFor(
            [&] {
                return !dlg.wiring()->controller().busy() &&
                       dlg.progress()->text() == QString("Выполнено 100%");
            },
            20000);
    }
};


inline QTreeWidgetItem* findType(QTreeWidget* tree, int code) {
    return findItem(tree, [code](QTreeWidgetItem* i) { return i->data(0, Qt::UserRole).toInt() == code; });
}

} // namespace parvault::testing
