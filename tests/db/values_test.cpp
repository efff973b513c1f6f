#include "dbtestutil.h"
#include "listexport.h"
#include "recordsets.h"

#include <gtest/gtest.h>

#include <QFile>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace parvault;
using namespace dbtest;

namespace {

const char* kList = "170308140509.mdb";

struct ValuesFixture : ::testing::Test {
    Workspace w;
    void SetUp() override {
        makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель т/э"}}, {{1, 10, 0, 0, 0, 20, "шаблон"}});
    }
    void loadList(const std::vector<TemplateRow>& rows) {
        makeListFile(w.file(kList), 20, "Мой список", rows);
        w.session.BuildTree();
        w.session.LoadTreeItem(MakeItemData(1, 20));
    }
    std::vector<std::string> stored() {
        return query(w.file(kList), "SELECT data, flag_dt FROM [Параметры] ORDER BY canal, param, [index]");
    }
};

const std::vector<TemplateRow> kFour = {
    {1, 10, 0, 0, 0, 20, "a"}, {1, 11, 0, 0, 0, 20, "b"}, {1, 12, 0, 0, 0, 20, "c"}, {1, 13, 0, 0, 0, 20, "d"}};

TEST(DiagnosticText, PrefixesComparedCaseSensitively) {
    for (const char* t : {"Параметр не найден", "Нет данных", "Нет д", "Индекс вне границ", "Канал 3 отсутствует",
                          "Формат", "Не вводится"})
        EXPECT_TRUE(IsDiagnosticText(QString::fromUtf8(t))) << t;
    for (const char* t : {"", "12.5", "Нет", "нет данных", "Парам", " Нет данных", "Не в"})
        EXPECT_FALSE(IsDiagnosticText(QString::fromUtf8(t))) << t;
}

TEST_F(ValuesFixture, DoesNothingWithoutALoadedList) {
    w.session.BuildTree();
    w.session.SaveValues(); // nothing loaded yet
    w.session.LoadTreeItem(20);
    w.session.SaveValues(); // template rows
    w.session.LoadTreeItem(0);
    w.session.SaveValues(); // root
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_TRUE(w.ui.lastFilter.isEmpty()) << "no save dialog";
}

TEST_F(ValuesFixture, StoresValuesWithTheirFlagsAndCancelKeepsThem) {
    loadList(kFour);
    w.rows.setText(0, ColValue, QStringLiteral("12.5"));
    w.rows.setText(1, ColValue, QStringLiteral("Нет данных"));
    w.rows.setText(2, ColValue, QString());
    w.rows.setText(3, ColValue, QString(80, QLatin1Char('7')));
    const QString wd = w.session.workingDirectory;
    std::filesystem::create_directory(w.dir.path() / "elsewhere");
    QDir::setCurrent(QString::fromStdString((w.dir.path() / "elsewhere").string()));

    w.session.SaveValues(); // the dialog is cancelled
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(stored(), std::vector<std::string>({"12.5|1", "Нет данных|0", "|1", std::string(63, '7') + "|1"}));
    EXPECT_EQ(w.ui.lastDefaultName, "Тепловычислитель т_э.txt");
    EXPECT_EQ(w.ui.lastFilter, "Таблица параметров и их значений (*.txt)");
    EXPECT_EQ(w.ui.lastExtension, "txt");
    EXPECT_EQ(w.ui.cwdAtSaveDialog, wd);
    EXPECT_EQ(QDir::currentPath(), wd);
    EXPECT_FALSE(w.session.waitCursor.stepDue());
}

TEST_F(ValuesFixture, ListWithoutRecordsOrTooFewRecordsIsNotWritten) {
    loadList(kFour);
    exec(w.file(kList), "DELETE FROM [Параметры] WHERE param >= 12");
    for (int i = 0; i < 4; ++i)
        w.rows.setText(i, ColValue, QString::number(i + 100));
    w.session.SaveValues();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, "Данные не записываются\n");
    EXPECT_EQ(w.ui.messages[0].caption, "Parvault");
    EXPECT_TRUE(w.ui.lastFilter.isEmpty()) << "no export";
    EXPECT_EQ(stored(), std::vector<std::string>({"100|1", "101|1"})) << "the records updated before stay";

    exec(w.file(kList), "DELETE FROM [Параметры]");
    w.session.SaveValues();
    ASSERT_EQ(w.ui.messages.size(), 2u);
    EXPECT_EQ(w.ui.messages[1].text, "Данные не записываются\n");
}

// Mended: records beyond the list's last row are left as they are.
TEST_F(ValuesFixture, ExtraRecordsAreLeftAlone) {
    std::vector<TemplateRow> rows = kFour;
    rows[2].data = "старое";
    rows[3].data = "старое";
    loadList(rows);
    // Two more records arrive after the load.
    exec(w.file(kList), "UPDATE [Параметры] SET flag_dt=1 WHERE param>=12");
    const std::vector<ParamRow> shown = {w.rows.row(0), w.rows.row(1)};
    w.rows.setRows(shown);
    w.rows.setText(0, ColValue, QStringLiteral("1"));
    w.rows.setText(1, ColValue, QStringLiteral("2"));
    w.session.SaveValues();
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(stored(), std::vector<std::string>({"1|1", "2|1", "старое|1", "старое|1"}));
}

// Mended: a list deleted while current is no longer acted on.
TEST_F(ValuesFixture, DeletedCurrentListIsNotRecreatedOrWritten) {
    loadList(kFour);
    ASSERT_TRUE(w.session.DeleteSelectedList(MakeItemData(1, 20), true));
    w.session.SaveValues();
    EXPECT_FALSE(QFile::exists(kList));
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_TRUE(w.ui.lastFilter.isEmpty());
    EXPECT_TRUE(w.session.ReopenCurrentDatabase());
    EXPECT_EQ(w.session.currentDatabase.GetName(), "PARVLT2.mdb");
}

// A list file removed by other means is reported as gone, not re-created.
TEST_F(ValuesFixture, ListFileRemovedByOtherMeansIsReported) {
    loadList(kFour);
    QFile::remove(QString::fromLatin1(kList));
    w.session.SaveValues();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, "Данные не записываются: списка «Мой список» больше нет — файл 170308140509.mdb "
                                     "удалён другой программой.\n");
    EXPECT_FALSE(QFile::exists(kList));
    EXPECT_TRUE(w.ui.lastFilter.isEmpty());
}

// List numbers change when a rebuild inserts a list before the loaded one;
// the values still go to the file the rows came from.
TEST_F(ValuesFixture, ValuesGoToTheLoadedFileAfterTheTreeChanged) {
    makeListFile(w.file("990101000000.mdb"), 20, "Поздний", {{1, 10, 0, 0, 0, 20, "a"}});
    w.session.BuildTree();
    w.session.LoadTreeItem(MakeItemData(1, 20));
    w.session.clock = [] { return QDateTime(QDate(2017, 3, 8), QTime(14, 5, 9)); };
    w.rows.setSelected(0, true);
    w.ui.listNames.push_back(QStringLiteral("Ранний"));
    w.session.SaveList(); // 170308140509.mdb sorts first
    EXPECT_EQ(w.session.currentListNumber, 2);
    w.rows.setText(0, ColValue, QStringLiteral("42"));
    w.session.SaveValues();
    EXPECT_EQ(query(w.file("990101000000.mdb"), "SELECT data FROM [Параметры]"), std::vector<std::string>({"42"}));
    EXPECT_EQ(query(w.file(kList), "SELECT data FROM [Параметры]"), std::vector<std::string>({"NULL"}));
}

TEST_F(ValuesFixture, ExportMatchesTheGoldenFileByteForByte) {
    loadList({{5, 30, 0, 0, 0, 20, "Расход"},
              {1, 100, 2, 0, 1, 20, "Константа датчика расхода для точки номер два, доп."},
              {12, 1234, 0, 0, 0, 20, "Длинная единица"},
              {0, 1, 0, 0, 0, 20, "Пусто"}});
    // Rows as loaded: sorted by channel, parameter, index.
    ASSERT_EQ(w.rows.text(2, ColName), "Расход");
    w.rows.setText(1, ColValue, QStringLiteral("Нет данных"));
    w.rows.setText(2, ColValue, QStringLiteral("1234567890"));
    w.rows.setText(2, ColUnits, QStringLiteral("м3/ч"));
    w.rows.setText(3, ColValue, QString(70, QLatin1Char('x')));
    w.rows.setText(3, ColUnits, QStringLiteral("единица измерения, очень длинная!!"));
    w.ui.saveFiles.push_back(QStringLiteral("out.txt"));
    w.session.SaveValues();
    EXPECT_TRUE(w.ui.messages.empty());

    QFile golden(QStringLiteral(PARVAULT_DB_TEST_DATA "/export-golden.txt"));
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly));
    QFile out(QString::fromStdString(w.file("out.txt")));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray got = out.readAll();
    if (std::getenv("PARVAULT_KEEP_EXPORT")) {
        QFile keep(QString::fromUtf8(std::getenv("PARVAULT_KEEP_EXPORT")));
        if (keep.open(QIODevice::WriteOnly))
            keep.write(got);
    }
    EXPECT_EQ(got, golden.readAll());
    // A row of texts no longer than their widths is 137 characters.
    EXPECT_EQ(got.split('\n').at(2).size(), 137 + 1);
    EXPECT_TRUE(got.split('\n').at(4).startsWith("   5  "));

    // Overwritten without a question, truncated to the new content.
    w.rows.setRows({});
    w.ui.saveFiles.push_back(QStringLiteral("out.txt"));
    w.session.SaveValues();
    out.close();
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), ExportTitleLine(QStringLiteral("Мой список"), QString::fromLatin1(kList)) +
                                 ExportColumnLine());
}

// Characters Windows-1251 has no byte for used to be written as 0x1A (an
// end-of-file mark to the programs that read such tables), and a character
// outside the basic plane pushed every later column one place right.
TEST(Export, CharactersWithoutAWindows1251ByteAreQuestionMarksAndColumnsStay) {
    const int starts[] = {1, 9, 19, 26, 91, 105};
    auto fields = [&](const QByteArray& line) {
        std::vector<QByteArray> out;
        for (int c = 0; c < ColumnCount; ++c) {
            const int end = c + 1 < ColumnCount ? starts[c + 1] : 137;
            out.push_back(line.mid(starts[c], end - starts[c]).trimmed());
        }
        return out;
    };
    ParamRow row;
    row.texts = {QStringLiteral("  1"), QStringLiteral("  10"), QStringLiteral("  0"),
                 QStringLiteral("12,5 € 😀 中"), QStringLiteral("°C №"), QStringLiteral("Тёплый ✓ 𝔸 канал")};
    const QByteArray line = ExportRowLine(row);
    EXPECT_FALSE(line.contains('\x1A'));
    ASSERT_EQ(line.size(), 137 + 2) << line.toStdString();
    EXPECT_TRUE(line.endsWith("\r\n"));
    const std::vector<QByteArray> f = fields(line);
    EXPECT_EQ(f[3], QByteArray("12,5 \x88 ? ?"));
    EXPECT_EQ(f[4], QByteArray("\xB0" "C \xB9"));
    EXPECT_EQ(f[5], QByteArray("\xD2\xB8\xEF\xEB\xFB\xE9 ? ? \xEA\xE0\xED\xE0\xEB"));

    // Cut in Windows-1251 bytes too: a 63-byte value keeps one byte per
    // character whatever plane the characters come from.
    QString value;
    for (int i = 0; i < 40; ++i)
        value += QStringLiteral("😀ж");
    row.texts[ColValue] = value;
    row.texts[ColName] = QString(30, QChar(0x4E2D)) + QStringLiteral("конец имени, ещё слова") + QString(10, u'x');
    const QByteArray cut = ExportRowLine(row);
    ASSERT_EQ(cut.size(), 137 + 2 + 15) << "the name runs on past its pad, the value fits its own";
    EXPECT_EQ(cut.mid(26, 64), QByteArray("?\xE6").repeated(31) + QByteArray("? "));
    EXPECT_EQ(cut.mid(91, 14), QByteArray("\xB0" "C \xB9      ") + QByteArray("    "));
    EXPECT_EQ(cut.mid(105, 47), QByteArray(30, '?') + QByteArray("\xEA\xEE\xED\xE5\xF6 \xE8\xEC\xE5\xED\xE8, \xE5\xF9\xB8 "));

    // The title line is written the same way.
    EXPECT_EQ(ExportTitleLine(QStringLiteral("Узел 😀"), QStringLiteral("1.mdb")),
              QByteArray(32, ' ') + "\xCF\xF0\xE8\xE1\xEE\xF0: \xD3\xE7\xE5\xEB ? (1.mdb)\r\n");
}

TEST_F(ValuesFixture, ExportFileThatCannotBeOpenedShowsMinusOne) {
    loadList(kFour);
    w.ui.saveFiles.push_back(QStringLiteral("no-such-folder/out.txt"));
    w.session.SaveValues();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, "-1");
    EXPECT_EQ(w.ui.messages[0].caption, "Ошибка при открытии файла.");
    EXPECT_EQ(QDir::currentPath(), w.session.workingDirectory);
}

// Mended: a program that dies while storing leaves the old values, not half of the new.
TEST_F(ValuesFixture, DyingHalfWayLeavesTheOldValues) {
    std::vector<TemplateRow> rows;
    for (int i = 0; i < 50; ++i)
        rows.push_back({1, i, 0, 0, 0, 20, "p", "old"});
    loadList(rows);
    for (int i = 0; i < 50; ++i)
        w.rows.setText(i, ColValue, QStringLiteral("new"));

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        DyingUi ui(20); // at the 20th row
        CountingRowTable table;
        DbSession s(ui, table);
        s.BuildTree();
        s.LoadTreeItem(MakeItemData(1, 20));
        for (int i = 0; i < 50; ++i)
            table.setText(i, ColValue, QStringLiteral("new"));
        ui.cursor = &s.waitCursor;
        s.SaveValues();
        _exit(1); // not reached when the display ends the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the child did not die half-way";
    EXPECT_EQ(query(w.file(kList), "SELECT count(*) FROM [Параметры] WHERE data='old'"),
              std::vector<std::string>({"50"}));
    // And the next run stores them whole.
    w.session.SaveValues();
    EXPECT_EQ(query(w.file(kList), "SELECT count(*) FROM [Параметры] WHERE data='new'"),
              std::vector<std::string>({"50"}));
}

} // namespace
