// The storage layer's file-system calls on the real file system: names are
// never taken from a file that has them, failures say what went wrong, and
// what identifies a file tells its names apart from its copies.

#include "fileops.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace parvault::fileops;

namespace {

class FileOpsTest : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    void write(const char* name, const QByteArray& bytes) const {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QByteArray read(const char* name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool exists(const char* name) const { return QFile::exists(path(name)); }

    QTemporaryDir dir;
};

TEST_F(FileOpsTest, RenameWithoutReplacingRefusesATakenNameAndLeavesBothFiles) {
    write("new", "new list");
    write("taken", "someone's list");
    const FsResult refused = RenameNoReplace(path("new"), path("taken"));
    EXPECT_EQ(refused.error, FsError::Exists);
    EXPECT_NE(refused.systemCode, 0);
    EXPECT_EQ(read("new"), "new list");
    EXPECT_EQ(read("taken"), "someone's list");

    EXPECT_TRUE(RenameNoReplace(path("new"), path("free")).ok());
    EXPECT_EQ(read("free"), "new list");
    EXPECT_FALSE(exists("new"));
}

TEST_F(FileOpsTest, ReplacingRenameTakesTheNameAndTheNameThenLeadsToAnotherFile) {
    write("old", "old");
    write("new", "newer");
    const std::optional<FileStatus> before = StatusOf(path("old"));
    const std::optional<FileStatus> incoming = StatusOf(path("new"));
    ASSERT_TRUE(before && incoming);
    ASSERT_TRUE(RenameReplace(path("new"), path("old")).ok());
    EXPECT_EQ(read("old"), "newer");
    const std::optional<FileStatus> after = StatusOf(path("old"));
    ASSERT_TRUE(after);
    // The list-head cache tells a replaced list by this.
    EXPECT_NE(after->fileId, before->fileId);
    EXPECT_EQ(after->fileId, incoming->fileId);
    EXPECT_EQ(after->size, 5);
}

TEST_F(FileOpsTest, TwoNamesOfOneFileAreOneFileAndACopyIsAnother) {
    write("list", "rows");
    const FsResult linked = HardLink(path("list"), path("second name"));
    if (linked.error == FsError::NotSupported)
        GTEST_SKIP() << "the temporary folder takes no hard links";
    ASSERT_TRUE(linked.ok()) << SystemErrorText(linked.systemCode).toStdString();
    EXPECT_TRUE(SameFile(path("list"), path("second name")));
    EXPECT_EQ(read("second name"), "rows");

    ASSERT_TRUE(CopyNoReplace(path("list"), path("copy")).ok());
    EXPECT_EQ(read("copy"), "rows");
    EXPECT_FALSE(SameFile(path("list"), path("copy")));
    EXPECT_FALSE(SameFile(path("list"), path("missing")));

    // A name that is taken is refused and keeps its file.
    write("taken", "other");
    EXPECT_EQ(HardLink(path("list"), path("taken")).error, FsError::Exists);
    EXPECT_EQ(read("taken"), "other");
}

TEST_F(FileOpsTest, ExclusiveCreateAndCopyNeverTouchAFileThatHasTheName) {
    write("taken", "someone's list");
    EXPECT_EQ(CreateExclusive(path("taken")).error, FsError::Exists);
    EXPECT_EQ(read("taken"), "someone's list");

    write("source", "original");
    CopyStep step = CopyStep::Read;
    EXPECT_EQ(CopyNoReplace(path("source"), path("taken"), &step).error, FsError::Exists);
    EXPECT_EQ(step, CopyStep::Write);
    EXPECT_EQ(read("taken"), "someone's list");

    ASSERT_TRUE(CreateExclusive(path("placeholder")).ok());
    EXPECT_EQ(read("placeholder"), "");
}

TEST_F(FileOpsTest, AMissingFileOrFolderIsNotFoundWithTheSystemsWords) {
    write("file", "x");
    const QString nowhere = path("нет/file");
    const std::pair<const char*, FsResult> calls[] = {
        {"rename without replacing", RenameNoReplace(path("file"), nowhere)},
        {"rename", RenameReplace(path("file"), nowhere)},
        {"hard link", HardLink(path("file"), nowhere)},
        {"exclusive create", CreateExclusive(nowhere)},
        {"remove", RemoveFile(nowhere)},
        {"copy", CopyNoReplace(path("file"), nowhere)},
        {"sync", SyncFile(nowhere)},
    };
    for (const auto& [label, r] : calls) {
        SCOPED_TRACE(label);
        EXPECT_EQ(r.error, FsError::NotFound);
        EXPECT_EQ(ClassifySystemCode(r.systemCode), FsError::NotFound);
        EXPECT_FALSE(SystemErrorText(r.systemCode).isEmpty());
    }
    EXPECT_EQ(read("file"), "x");
    EXPECT_FALSE(StatusOf(nowhere));

    CopyStep step = CopyStep::Write;
    EXPECT_EQ(CopyNoReplace(path("missing"), path("copy"), &step).error, FsError::NotFound);
    EXPECT_EQ(step, CopyStep::Read);
    EXPECT_FALSE(exists("copy"));
}

// The user's texts are chosen by kind, from a code or from the words Qt kept.
TEST(FileOpsErrors, EveryKindIsToldBackFromItsCodeAndTheKindsUsersReadFromItsWords) {
    const FsError kinds[] = {FsError::Exists,       FsError::NotFound,     FsError::NoSpace, FsError::TooLarge,
                             FsError::NotSupported, FsError::NoPermission, FsError::Other};
    for (FsError kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        const FsResult r = FailureOf(kind);
        EXPECT_EQ(r.error, kind);
        EXPECT_NE(r.systemCode, 0);
        EXPECT_EQ(ClassifySystemCode(r.systemCode), kind);
    }
    for (FsError kind : {FsError::NoSpace, FsError::TooLarge, FsError::NoPermission}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const QString qtWords = QStringLiteral("Cannot write file: ") + SystemErrorText(FailureOf(kind).systemCode);
        EXPECT_EQ(ClassifySystemErrorText(qtWords), kind);
    }
    EXPECT_EQ(ClassifySystemErrorText(QStringLiteral("Unknown error")), FsError::Other);
    EXPECT_EQ(ClassifySystemCode(0), FsError::None);
    EXPECT_TRUE(FsResult{}.ok());
}

TEST(FileOpsProcess, ThisProcessRunsAndOneThatEndedDoesNot) {
    EXPECT_TRUE(ProcessAlive(CurrentProcessId()));
    EXPECT_FALSE(ProcessAlive(0));
    EXPECT_FALSE(ProcessAlive(-1));

    QProcess child;
    child.start(QString::fromUtf8(PARVAULT_FILEOPS_CHILD), {QStringLiteral("--gtest_list_tests"),
                                                            QStringLiteral("--gtest_filter=NoSuchTest")});
    ASSERT_TRUE(child.waitForStarted());
    const int64_t pid = child.processId();
    ASSERT_TRUE(child.waitForFinished());
    EXPECT_FALSE(ProcessAlive(pid));

    EXPECT_FALSE(MachineName().isEmpty());
}

TEST(FileOpsFolders, ATemporaryFolderIsLocalAndWritable) {
    QTemporaryDir dir;
    const std::optional<bool> network = IsNetworkFolder(dir.path());
    ASSERT_TRUE(network.has_value());
    EXPECT_FALSE(*network);
    EXPECT_TRUE(MayWrite(dir.path()));
    EXPECT_TRUE(MayRead(dir.path()));
    EXPECT_FALSE(MayWrite(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(MayRead(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(WorkingFolderRemoved());
}

TEST(FileOpsFolders, OnlyAServerAndShareMakeANetworkPath) {
    const struct {
        const char* path;
        bool unc;
    } rows[] = {
        {R"(\\server\share)", true},
        {R"(\\server\share\lists\PARVLT2.mdb)", true},
        {"//server/share/lists", true},
        {R"(\\?\UNC\server\share\lists)", true},
        {R"(\\?\C:\lists)", false},
        {R"(\\.\COM3)", false},
        {R"(\\server)", false},
        {R"(\\server\)", false},
        {R"(C:\lists)", false},
        {"/home/lists", false},
        {"lists", false},
        {"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsUncPath(QString::fromUtf8(row.path)), row.unc) << row.path;
}

} // namespace
