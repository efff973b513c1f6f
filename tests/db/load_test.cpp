#include "dbtestutil.h"
#include "recordsets.h"

#include <gtest/gtest.h>

#include <QFile>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace parvault;
using namespace dbtest;

namespace {

const std::vector<TemplateRow> kLoadTemplates = {
    // Stored out of order on purpose, with another type's rows between.
    {1, 100, 2, 0, 1, 20, "Константа, точка 2"},
    {5, 30, 0, 3, 0, 20, "Расход"},
    {0, 1, 0, 0, 0, 20, "Заводской номер"},
    {1, 100, 0, 0, 1, 20, "Константа, точка 0"},
    {0, 1, 0, 0, 0, 21, "Чужая строка"},
    {1, 350, 0, 0, 25, 20, "Архив часовой"},
    {1000, 12345, 1000, 0, 0, 20, "Длинные числа"},
    {1, 100, 1, 0, 1, 20, "Константа, точка 1"},
};

void makeMain(Workspace& w) {
    makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}, {21, "Счётчик"}, {23, "Регулятор"}}, kLoadTemplates);
}

std::vector<std::array<QString, ColumnCount>> texts(const RowTable& t) {
    std::vector<std::array<QString, ColumnCount>> out;
    for (int i = 0; i < t.rowCount(); ++i)
        out.push_back(t.row(i).texts);
    return out;
}

TEST(Load, GroupLoadsTemplateRowsSortedWithTheirTextsAndKinds) {
    Workspace w;
    makeMain(w);
    w.session.BuildTree();
    w.session.LoadTreeItem(20);

    EXPECT_EQ(w.rows.resets, 1) << "one model reset for the whole load";
    EXPECT_EQ(w.session.currentTypeCode, 20);
    EXPECT_EQ(w.session.currentListNumber, 0);
    EXPECT_EQ(w.session.currentDatabase.GetName(), "PARVLT2.mdb");
    using T = std::array<QString, ColumnCount>;
    const std::vector<T> expected = {
        T{"  0", "   1", "  0", "", "", "Заводской номер"},
        T{"  1", " 100", "  0", "", "", "Константа, точка 0"},
        T{"  1", " 100", "  1", "", "", "Константа, точка 1"},
        T{"  1", " 100", "  2", "", "", "Константа, точка 2"},
        T{"  1", " 350", "  0", "", "", "Архив часовой"},
        T{"  5", "  30", "  0", "", "", "Расход"},
        T{"1000", "12345", "1000", "", "", "Длинные числа"},
    };
    EXPECT_EQ(texts(w.rows), expected);
    const std::vector<int32_t> kinds = {0, 1, 1, 1, 25, 0, 0};
    for (int i = 0; i < w.rows.rowCount(); ++i) {
        EXPECT_EQ(w.rows.kind(i), kinds[static_cast<size_t>(i)]) << i;
        EXPECT_EQ(w.rows.icon(i), IconNeutral) << i;
        EXPECT_FALSE(w.rows.isSelected(i)) << i;
    }
}

TEST(Load, ListLoadsItsRowsWithStoredValues) {
    Workspace w;
    makeMain(w);
    makeListFile(w.file("170308140509.mdb"), 20, "Мой список",
                 {{1, 11, 0, 0, 0, 20, "Вторая", "Нет данных"}, {1, 10, 0, 0, 0, 20, "Первая", "12.5"},
                  {1, 12, 0, 0, 0, 20, "Третья"}});
    w.session.BuildTree();
    w.session.LoadTreeItem(MakeItemData(1, 20));
    EXPECT_EQ(w.session.currentListNumber, 1);
    EXPECT_EQ(w.session.currentDatabase.GetName(), "170308140509.mdb");
    ASSERT_EQ(w.rows.rowCount(), 3);
    EXPECT_EQ(w.rows.text(0, ColValue), "12.5");
    EXPECT_EQ(w.rows.text(1, ColValue), "Нет данных");
    EXPECT_EQ(w.rows.text(2, ColValue), "");
    EXPECT_EQ(w.rows.text(0, ColUnits), "");
    EXPECT_EQ(w.rows.text(1, ColName), "Вторая");
}

TEST(Load, RootAndTypeWithoutRowsGiveAnEmptyListQuietly) {
    Workspace w;
    makeMain(w);
    makeListFile(w.file("170308140509.mdb"), 20, "Мой список", {{1, 10, 0, 0, 0, 20, "a", "1"}});
    w.session.BuildTree();

    w.session.LoadTreeItem(20);
    ASSERT_GT(w.rows.rowCount(), 0);
    w.session.LoadTreeItem(0);
    EXPECT_EQ(w.rows.rowCount(), 0);
    EXPECT_EQ(w.session.currentTypeCode, 0);
    EXPECT_EQ(w.session.currentListNumber, 0);
    EXPECT_EQ(w.session.currentDatabase.GetName(), "PARVLT2.mdb");

    w.session.LoadTreeItem(23); // a type with no template rows
    EXPECT_EQ(w.rows.rowCount(), 0);
    EXPECT_EQ(w.session.currentTypeCode, 23);

    EXPECT_TRUE(w.ui.messages.empty());
}

// A list that cannot be loaded used to empty the list without a word.
TEST(Load, AListFileThatCannotBeOpenedIsNamedWithTheReason) {
    Workspace w;
    makeMain(w);
    const std::vector<TemplateRow> rows = {{1, 10, 0, 0, 0, 20, "a", "1"}};
    for (const char* f : {"170308140509.mdb", "170308140510.mdb", "170308140511.mdb", "170308140512.mdb"})
        makeListFile(w.file(f), 20, f, rows);
    w.session.BuildTree();
    ASSERT_EQ(w.session.listFileTable.count, 4);

    QFile::remove("170308140509.mdb"); // removed by other means
    std::ofstream(w.file("170308140510.mdb"), std::ios::trunc) << "испорчен";
    exec(w.file("170308140511.mdb"), "DROP TABLE [Параметры]");
    const std::pair<int, QString> expected[] = {
        {1, "Список не загружается: файл 170308140509.mdb не открывается — файла больше нет.\n"},
        {2, "Список не загружается: файл 170308140510.mdb не открывается — файл повреждён.\n"},
        {3, "Список не загружается: файл 170308140511.mdb не открывается — в файле нет таблицы «Параметры».\n"},
    };
    for (const auto& [list, text] : expected) {
        w.session.LoadTreeItem(MakeItemData(4, 20));
        ASSERT_EQ(w.rows.rowCount(), 1);
        w.ui.messages.clear();
        w.session.LoadTreeItem(MakeItemData(list, 20));
        EXPECT_EQ(w.rows.rowCount(), 0) << list;
        EXPECT_EQ(w.session.currentListNumber, 0) << "a list that cannot be read is not loaded";
        EXPECT_EQ(w.session.currentTypeCode, 0);
        ASSERT_EQ(w.ui.messages.size(), 1u) << list;
        EXPECT_EQ(w.ui.messages[0].text, text);
        EXPECT_EQ(w.ui.messages[0].caption, "Parvault");
        EXPECT_FALSE(w.session.waitCursor.stepDue());
    }
    EXPECT_FALSE(QFile::exists("170308140509.mdb")) << "loading must not create the file";
    EXPECT_EQ(query(w.file("170308140511.mdb"), "SELECT name FROM [Список]"),
              std::vector<std::string>{"170308140511.mdb"}) << "the files are left as they are";
}

// Permissions need a user they apply to: as the superuser, this runs in a
// child that has become "nobody".
TEST(Load, AListFileWithoutReadPermissionIsNamedWithTheReason) {
    Workspace w;
    makeMain(w);
    makeListFile(w.file("170308140509.mdb"), 20, "Чужой", {{1, 10, 0, 0, 0, 20, "a", "1"}});
    w.session.BuildTree();
    ASSERT_EQ(chmod(w.file("170308140509.mdb").c_str(), 0200), 0);
    ASSERT_EQ(chmod(w.file("PARVLT2.mdb").c_str(), 0666), 0);
    ASSERT_EQ(chmod(w.dir.path().c_str(), 0777), 0);
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(10);
            w.session.LoadTreeItem(MakeItemData(1, 20));
            if (w.rows.rowCount() != 0 || w.ui.messages.size() != 1)
                _exit(11);
            _exit(w.ui.messages[0].text ==
                          "Список не загружается: файл 170308140509.mdb не открывается — нет права чтения файла.\n"
                      ? 0
                      : 12);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Load, TenThousandRowsAreOneResetInOrder) {
    Workspace w;
    makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}}, {});
    std::vector<TemplateRow> many;
    for (int i = 9999; i >= 0; --i)
        many.push_back({i / 1000, i % 1000, 0, 0, 0, 20, "p" + std::to_string(i)});
    makeListFile(w.file("170308140509.mdb"), 20, "Большой", many);
    w.session.BuildTree();
    w.rows.resets = 0;
    w.session.LoadTreeItem(MakeItemData(1, 20));
    EXPECT_EQ(w.rows.resets, 1);
    ASSERT_EQ(w.rows.rowCount(), 10000);
    EXPECT_EQ(w.rows.text(0, ColName), "p0");
    EXPECT_EQ(w.rows.text(4321, ColName), "p4321");
    EXPECT_EQ(w.rows.text(9999, ColCanal), "  9");
    EXPECT_EQ(w.rows.text(9999, ColParam), " 999");
}

TEST(Load, AShortLoadShowsTheFirstFrameAtMostThenTheArrow) {
    Workspace w;
    makeMain(w);
    w.session.BuildTree();
    w.ui.frames.clear();
    w.ui.arrows = 0;
    w.session.LoadTreeItem(20);
    EXPECT_EQ(w.ui.frames, std::vector<int>({0}));
    EXPECT_EQ(w.ui.arrows, 1);
    EXPECT_FALSE(w.session.waitCursor.stepDue());
}

TEST(WaitCursorFrames, PacedByTheTickAndWrappingAfterThirteen) {
    ScriptedUi ui;
    WaitCursor c(&ui);
    c.step(); // never started: nothing is due
    EXPECT_TRUE(ui.frames.empty());

    c.start();
    c.step();
    c.step();
    EXPECT_EQ(ui.frames, std::vector<int>({0})) << "a second step without a tick shows nothing";
    for (int i = 0; i < 9; ++i)
        c.tick();
    c.step();
    EXPECT_EQ(ui.frames.size(), 1u) << "nine ticks are not enough";
    c.tick();
    EXPECT_TRUE(c.stepDue());
    for (int i = 0; i < 25; ++i)
        c.tick(); // ticks while a step is due do not count
    c.step();
    c.step();
    EXPECT_EQ(ui.frames, std::vector<int>({0, 1}));

    for (int k = 0; k < 13; ++k) {
        for (int i = 0; i < WaitCursor::kTicksPerFrame; ++i)
            c.tick();
        c.step();
    }
    EXPECT_EQ(ui.frames, std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 1}));

    for (int i = 0; i < WaitCursor::kTicksPerFrame; ++i)
        c.tick();
    c.stop();
    EXPECT_FALSE(c.stepDue());
    EXPECT_EQ(ui.arrows, 1);
    c.step();
    EXPECT_EQ(ui.frames.size(), 15u);
    c.start();
    c.step();
    EXPECT_EQ(ui.frames.back(), 0) << "start begins with the first frame again";
}

} // namespace
