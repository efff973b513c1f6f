// An arbitrary file in the working folder, taken either as a list file or as
// the main database: the tree build scans it, every list and device type the
// tree shows is loaded, and values are stored back into the lists.

#include "dbsession.h"
#include "fuzzcommon.h"
#include "rowtable.h"

#include <QDir>

#include <cstdio>
#include <functional>

using namespace parvault;

namespace {

class QuietUi : public DbUi {
public:
    std::optional<QString> askListName() override { return std::nullopt; }
    std::optional<QString> askSaveFile(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    void message(const QString&, const QString&) override {}
    void setTree(const TreeNode&) override {}
    void showWaitFrame(int frame) override {
        if (frame < 0 || frame >= WaitCursor::kFrameCount)
            std::abort();
    }
    void showArrowCursor() override {}
};

void WriteFile(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::QuietLogging();
    QDir::setCurrent(QString::fromStdString(fuzzing::ScratchDir().string()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const auto& dir = fuzzing::ScratchDir();
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        std::filesystem::remove_all(entry.path());

    // The first byte says what the file is; the rest is the file.
    const bool asMainDatabase = data[0] & 1;
    WriteFile(dir / (asMainDatabase ? "PARVLT2.mdb" : "l.mdb"), data + 1, size - 1);

    QuietUi ui;
    MemoryRowTable rows;
    DbSession session(ui, rows);
    session.BuildTree();
    // The folder holds one file, so at most one list.
    if (session.listFileTable.count < 0 || session.listFileTable.count > 1)
        std::abort();

    std::function<void(const TreeNode&)> visit = [&](const TreeNode& node) {
        if (node.data != 0) {
            session.LoadTreeItem(node.data);
            for (int i = 0; i < rows.rowCount(); ++i)
                rows.setText(i, ColValue, QStringLiteral("1,5"));
            session.SaveValues();
        }
        for (const TreeNode& child : node.children)
            visit(child);
    };
    visit(session.tree());
    // A list number the table does not have loads nothing.
    session.LoadTreeItem(MakeItemData(1000, 5));
    session.currentDatabase.Close();
    return 0;
}
