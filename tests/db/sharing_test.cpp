// Several programs in one working folder: list files claimed under a free
// name, leftovers of dead saves recognised by their name alone, a locked file
// waited for and then refused with the reason, a deleted list said to be gone.

#include "dbtestutil.h"
#include "folderkind.h"
#include "jetimport.h"
#include "listfileclaim.h"
#include "listheadcache.h"

#include <gtest/gtest.h>

#include <QFile>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using namespace parvault;
using namespace dbtest;

namespace {

const QDateTime kNow(QDate(2017, 3, 8), QTime(14, 5, 9));

const std::vector<TemplateRow> kSharingTemplates = {
    {0, 1, 0, 0, 0, 20, "Заводской номер"},
    {1, 10, 0, 1, 0, 20, "Температура"},
    {1, 11, 0, 1, 0, 20, "Давление"},
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Shortens the wait for locked files for one test.
struct ShortBusyWait {
    explicit ShortBusyWait(int ms) { SetDatabaseBusyWaitMs(ms); }
    ~ShortBusyWait() { SetDatabaseBusyWaitMs(kDatabaseBusyWaitMs); }
};

// Another program's connection, holding a write lock until released.
class LockHolder {
public:
    LockHolder(const std::string& file, const char* begin) {
        EXPECT_EQ(sqlite3_open(file.c_str(), &db_), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db_, begin, nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~LockHolder() { release(); }
    void release() {
        if (!db_)
            return;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
        db_ = nullptr;
    }

private:
    sqlite3* db_ = nullptr;
};

struct SharingFixture : ::testing::Test {
    Workspace w;
    void SetUp() override {
        makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}}, kSharingTemplates);
        w.session.clock = [] { return kNow; };
        w.session.BuildTree();
    }
    // A list saved through a session of its own, as another program's.
    QString saveInOtherSession(const QString& name) {
        ScriptedUi ui;
        MemoryRowTable rows;
        DbSession other(ui, rows);
        other.clock = [] { return kNow; };
        other.BuildTree();
        other.LoadTreeItem(20);
        rows.setSelected(0, true);
        ui.listNames.push_back(name);
        other.SaveList();
        EXPECT_TRUE(ui.messages.empty());
        return other.lastSavedFile();
    }
    std::vector<std::string> head(const QString& file) {
        return query(w.file(file.toStdString()), "SELECT name FROM [Список]");
    }
};

} // namespace

TEST(SaveTempName, CarriesItsOwnerAndIsNeverAListName) {
    const QString name = NewSaveTempName();
    EXPECT_FALSE(name.endsWith(QStringLiteral(".mdb"), Qt::CaseInsensitive));
    EXPECT_TRUE(name.startsWith(QLatin1Char('.')));
    EXPECT_NE(NewSaveTempName(), name);
    for (const QString& n : {name, name + QStringLiteral("-journal")}) {
        const auto owner = ParseSaveTempName(n);
        ASSERT_TRUE(owner) << n.toStdString();
        EXPECT_EQ(owner->host, ThisHostName());
        EXPECT_EQ(owner->pid, ::getpid());
    }
    for (const char* other : {"170308140509.mdb", ".parvault2-save.host.12.zz.part", ".parvault2-save.host.x.1f.part",
                              ".parvault2-save..12.1f.part", ".parvault2-save.host.12.1f.mdb", "PARVLT2.mdb"})
        EXPECT_FALSE(ParseSaveTempName(QString::fromLatin1(other))) << other;
}

TEST(SaveTempName, OnlyADeadSavesFileIsALeftover) {
    const SaveTempOwner here{QStringLiteral("pc1"), 100};
    const SaveTempOwner there{QStringLiteral("pc2"), 100};
    EXPECT_FALSE(IsDeadSaveLeftover(here, QStringLiteral("pc1"), true, 1000000));
    EXPECT_TRUE(IsDeadSaveLeftover(here, QStringLiteral("pc1"), false, 0));
    // Another machine's process cannot be asked: only age tells.
    EXPECT_FALSE(IsDeadSaveLeftover(there, QStringLiteral("pc1"), false, kForeignLeftoverAgeSeconds - 1));
    EXPECT_TRUE(IsDeadSaveLeftover(there, QStringLiteral("pc1"), true, kForeignLeftoverAgeSeconds));
}

TEST_F(SharingFixture, LeftoversOfDeadSavesAreCleanedAndRunningOnesKept) {
    // A process that has ended: its pid names no running save.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const std::string host = ThisHostName().toStdString();
    const std::string dead = ".parvault2-save." + host + "." + std::to_string(child) + ".0000abcd.part";
    const std::string alive = ".parvault2-save." + host + "." + std::to_string(getpid()) + ".0000abce.part";
    const std::string youngForeign = ".parvault2-save.otherpc.1.0000abcf.part";
    const std::string oldForeign = ".parvault2-save.otherpc.2.0000abd0.part";
    for (const std::string& f : {dead, dead + "-journal", alive, youngForeign, oldForeign, std::string("x.part")})
        std::ofstream(w.file(f)) << "x";
    const utimbuf old{time(nullptr) - kForeignLeftoverAgeSeconds - 60, time(nullptr) - kForeignLeftoverAgeSeconds - 60};
    ASSERT_EQ(utime(w.file(oldForeign).c_str(), &old), 0);

    QStringList removed = CleanSaveLeftovers();
    removed.sort();
    QStringList expected{QString::fromStdString(dead), QString::fromStdString(dead + "-journal"),
                         QString::fromStdString(oldForeign)};
    expected.sort();
    EXPECT_EQ(removed, expected);
    for (const std::string& f : {alive, youngForeign, std::string("x.part"), std::string("PARVLT2.mdb")})
        EXPECT_TRUE(std::filesystem::exists(w.file(f))) << f;
}

// Each way of claiming a name, as each kind of filesystem gets it.
TEST_F(SharingFixture, EveryWayOfClaimingNeverReplacesAFileAndTakesAFreeName) {
    const std::pair<ClaimWay, const char*> ways[] = {{ClaimWay::Auto, "auto"},
                                                     {ClaimWay::RenameNoReplace, "rename without replacing"},
                                                     {ClaimWay::HardLink, "hard link"},
                                                     {ClaimWay::ExclusivePlaceholder, "exclusive placeholder"}};
    int k = 0;
    for (const auto& [way, label] : ways) {
        SCOPED_TRACE(label);
        const QString taken = QStringLiteral("17030814%1.mdb").arg(k++, 4, 10, QLatin1Char('0'));
        const QString free = QStringLiteral("17030814%1.mdb").arg(k++, 4, 10, QLatin1Char('0'));
        std::ofstream(w.file("a.part")) << "new list";
        std::ofstream(w.file(taken.toStdString())) << "someone's list";
        ClaimResult r = ClaimListFileName(QStringLiteral("a.part"), taken, way);
        EXPECT_EQ(r.status, ClaimStatus::Taken);
        EXPECT_EQ(ReadBytes(w.file(taken.toStdString())), "someone's list");
        EXPECT_EQ(ReadBytes(w.file("a.part")), "new list");

        r = ClaimListFileName(QStringLiteral("a.part"), free, way);
        EXPECT_EQ(r.status, ClaimStatus::Claimed);
        EXPECT_EQ(ReadBytes(w.file(free.toStdString())), "new list");
        EXPECT_FALSE(std::filesystem::exists(w.file("a.part")));

        // A name in a folder that is not there: a failure with the system's reason.
        std::ofstream(w.file("b.part")) << "x";
        r = ClaimListFileName(QStringLiteral("b.part"), QStringLiteral("нет/170308140511.mdb"), way);
        EXPECT_EQ(r.status, ClaimStatus::Failed);
        EXPECT_EQ(r.systemErrno, ENOENT);
        EXPECT_TRUE(std::filesystem::exists(w.file("b.part")));
    }
}

TEST_F(SharingFixture, SavesOfTwoProgramsInOneSecondEachGetTheirOwnFile) {
    w.session.LoadTreeItem(20);
    w.rows.setSelected(2, true);
    const QString first = saveInOtherSession(QStringLiteral("Чужой"));
    w.ui.listNames.push_back(QStringLiteral("Свой"));
    w.session.SaveList();
    const QString second = saveInOtherSession(QStringLiteral("Ещё чужой"));

    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(first, "170308140509.mdb");
    EXPECT_EQ(w.session.lastSavedFile(), "170308140510.mdb");
    EXPECT_EQ(second, "170308140511.mdb");
    EXPECT_EQ(head(first), std::vector<std::string>{"Чужой"});
    EXPECT_EQ(head(w.session.lastSavedFile()), std::vector<std::string>{"Свой"});
    EXPECT_EQ(query(w.file("170308140510.mdb"), "SELECT param FROM [Параметры]"), std::vector<std::string>{"11"});
    // Nothing but the lists and the main database is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.dir.path()), {}), 4);
}

TEST_F(SharingFixture, AStoreWaitsForAnotherProgramsWriteAndIsRefusedWithTheReasonWhenItLasts) {
    const QString file = saveInOtherSession(QStringLiteral("Список"));
    w.session.BuildTree();
    w.session.LoadTreeItem(MakeItemData(1, 20));
    ASSERT_EQ(w.rows.rowCount(), 1);

    // Released while the store waits: the store goes through.
    {
        LockHolder holder(w.file(file.toStdString()), "BEGIN IMMEDIATE; UPDATE [Параметры] SET data='чужое'");
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            holder.release();
        });
        w.rows.setText(0, ColValue, QStringLiteral("42"));
        w.session.SaveValues();
        release.join();
    }
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(query(w.file(file.toStdString()), "SELECT data FROM [Параметры]"), std::vector<std::string>{"42"});

    // Held past the wait: refused, saying who holds the file; nothing written.
    ShortBusyWait wait(150);
    LockHolder holder(w.file(file.toStdString()), "BEGIN IMMEDIATE");
    w.rows.setText(0, ColValue, QStringLiteral("43"));
    w.session.SaveValues();
    holder.release();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, QStringLiteral("Данные не записываются: файл %1 занят другой программой "
                                                    "(ждали 0.15 с). Повторите позже.\n")
                                         .arg(file));
    EXPECT_EQ(query(w.file(file.toStdString()), "SELECT data FROM [Параметры]"), std::vector<std::string>{"42"});
}

TEST_F(SharingFixture, TheTreeWaitsForACommitInsteadOfLosingTheList) {
    const QString file = saveInOtherSession(QStringLiteral("Список"));
    // An exclusive lock, as while another program's commit is written.
    LockHolder holder(w.file(file.toStdString()), "BEGIN EXCLUSIVE; UPDATE [Параметры] SET data='1'");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        holder.release();
    });
    w.session.BuildTree();
    release.join();
    ASSERT_EQ(w.session.listFileTable.count, 1);
    EXPECT_EQ(w.session.listFileTable.entry(1)->fileName, file);
}

// Another program deletes the list this one has loaded: the rows stay shown,
// and storing them says the list is gone, before and after a tree rebuild.
TEST_F(SharingFixture, AListDeletedByAnotherProgramIsSaidToBeGoneWhenStoredInto) {
    const QString file = saveInOtherSession(QStringLiteral("Удаляемый"));
    w.session.BuildTree();
    w.session.LoadTreeItem(MakeItemData(1, 20));
    ASSERT_EQ(w.rows.rowCount(), 1);

    ScriptedUi otherUi;
    MemoryRowTable otherRows;
    DbSession other(otherUi, otherRows);
    other.BuildTree();
    ASSERT_TRUE(other.DeleteSelectedList(MakeItemData(1, 20), true));
    ASSERT_FALSE(std::filesystem::exists(w.file(file.toStdString())));

    const QString gone =
        QStringLiteral("Данные не записываются: списка «Удаляемый» больше нет — файл %1 удалён другой программой.\n")
            .arg(file);
    EXPECT_EQ(w.rows.rowCount(), 1);
    w.rows.setText(0, ColValue, QStringLiteral("1"));
    w.session.SaveValues();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, gone);
    EXPECT_FALSE(std::filesystem::exists(w.file(file.toStdString())));

    w.ui.messages.clear();
    w.session.BuildTree();
    EXPECT_EQ(w.session.listFileTable.count, 0);
    EXPECT_EQ(w.rows.rowCount(), 1);
    w.session.SaveValues();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, gone);
}

// Deleted while this program holds the file open: a store checks this once it
// has the lock, rather than writing into a removed file.
TEST_F(SharingFixture, AnOpenListFileKnowsWhenAnotherProgramRemovedIt) {
    const QString file = saveInOtherSession(QStringLiteral("Список"));
    w.session.BuildTree();
    w.session.LoadTreeItem(MakeItemData(1, 20));
    ASSERT_TRUE(w.session.ReopenCurrentDatabase());
    CDaoDatabase& db = w.session.currentDatabase;
    ASSERT_FALSE(db.FileIsGone());
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_TRUE(db.FileIsGone());
}

TEST_F(SharingFixture, ADeleteWaitsForAStoreAndIsRefusedWhileTheFileStaysLocked) {
    const QString file = saveInOtherSession(QStringLiteral("Список"));
    w.session.BuildTree();
    w.session.LoadTreeItem(MakeItemData(1, 20));
    ShortBusyWait wait(150);
    LockHolder holder(w.file(file.toStdString()), "BEGIN IMMEDIATE");
    EXPECT_FALSE(w.session.DeleteSelectedList(MakeItemData(1, 20), true));
    // Refused: the list stays loaded with its rows.
    EXPECT_EQ(w.rows.rowCount(), 1);
    EXPECT_EQ(w.session.currentListNumber, 1);
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text,
              QStringLiteral("Список не удаляется: файл %1 занят другой программой (ждали 0.15 с). Повторите позже.\n")
                  .arg(file));
    EXPECT_TRUE(std::filesystem::exists(w.file(file.toStdString())));
    holder.release();
    EXPECT_TRUE(w.session.DeleteSelectedList(MakeItemData(1, 20), true));
    EXPECT_FALSE(std::filesystem::exists(w.file(file.toStdString())));
    EXPECT_EQ(w.rows.rowCount(), 0);
    EXPECT_EQ(w.session.currentListNumber, 0);
}

TEST(FolderKind, NetworkFilesystemsAreToldByTheirStatfsMagic) {
    struct Row {
        int64_t magic;
        FolderKind kind;
        const char* name;
    };
    const Row rows[] = {
        {0x6969, FolderKind::Network, "nfs"},
        {0xFF534D42, FolderKind::Network, "cifs"},
        {static_cast<int64_t>(static_cast<int32_t>(0xFF534D42)), FolderKind::Network, "cifs, signed f_type"},
        {0xFE534D42, FolderKind::Network, "smb2"},
        {0x517B, FolderKind::Network, "smbfs"},
        {0x65735546, FolderKind::Network, "fuse (sshfs)"},
        {0xEF53, FolderKind::Local, "ext4"},
        {0x01021994, FolderKind::Local, "tmpfs"},
        {0x58465342, FolderKind::Local, "xfs"},
        {0x9123683E, FolderKind::Local, "btrfs"},
        {0x794C7630, FolderKind::Local, "overlayfs"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(FolderKindOfMagic(r.magic), r.kind) << r.name;
    // The test folder is on this machine's own disk.
    EXPECT_EQ(FolderKindOf(QString::fromStdString(std::filesystem::temp_directory_path().string())), FolderKind::Local);
}

// The tree remembers each file's head by its stamp: a Jet list is read by the
// helper once, then shown from the cache kept outside the working folder,
// also by the next program; a changed file is read again.
TEST(ListHeadCacheTest, JetHeadsAreReadOnceAndAgainOnlyWhenTheFileChanges) {
    parvault::testing::TempDir cacheDir;
    Workspace w;
    std::filesystem::copy_file(std::string(PARVAULT_JET_FIXTURES) + "/demo-jet3/PARVLT2.mdb", w.file("PARVLT2.mdb"));
    std::filesystem::copy_file(std::string(PARVAULT_JET_FIXTURES) + "/demo-jet3/240116101500.mdb",
                               w.file("240116101500.mdb"));
    const QString store = QString::fromStdString(cacheDir.file("parvault2/listheads.sqlite"));
    auto scan = [&] {
        ListHeadCache cache(store);
        ListFileTable table;
        ScanListFiles(table, &cache);
        return table;
    };
    const ListFileTable first = scan();
    ASSERT_EQ(first.count, 1);
    EXPECT_TRUE(first.unreadable.empty());
    EXPECT_TRUE(std::filesystem::exists(store.toStdString()));
    // Nothing of the cache in the working folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.dir.path()), {}), 2);

    // Without the helper, the unchanged file still shows, from the cache.
    qputenv(kJetReaderVariable, "/nonexistent/parvault2-jetread");
    const ListFileTable second = scan();
    ASSERT_EQ(second.count, 1);
    EXPECT_EQ(second.entry(1)->listName, first.entry(1)->listName);
    EXPECT_EQ(second.entry(1)->typeCode, first.entry(1)->typeCode);

    // Touched: read again, and now the missing helper shows.
    const utimbuf later{time(nullptr) + 10, time(nullptr) + 10};
    ASSERT_EQ(utime(w.file("240116101500.mdb").c_str(), &later), 0);
    const ListFileTable third = scan();
    qunsetenv(kJetReaderVariable);
    EXPECT_EQ(third.count, 0);
    ASSERT_EQ(third.unreadable.size(), 1u);
    EXPECT_EQ(third.unreadable[0].sqliteCode, SQLITE_CANTOPEN);
}

// A refresh within one program reads only what changed: a list replaced
// behind the cache's back under the same stamp would show its old head, so a
// file that changed is what the stamp must catch.
TEST(ListHeadCacheTest, AListReplacedUnderItsNameIsReadAgain) {
    Workspace w;
    makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}}, kSharingTemplates);
    makeListFile(w.file("170308140509.mdb"), 20, "Первый");
    ListHeadCache cache{QString()};
    ListFileTable table;
    ScanListFiles(table, &cache);
    ASSERT_EQ(table.count, 1);
    EXPECT_EQ(table.entry(1)->listName, "Первый");
    // Another program deletes it and a new list takes the name.
    std::filesystem::remove(w.file("170308140509.mdb"));
    makeListFile(w.file("170308140509.mdb"), 20, "Второй");
    ScanListFiles(table, &cache);
    ASSERT_EQ(table.count, 1);
    EXPECT_EQ(table.entry(1)->listName, "Второй");
}
