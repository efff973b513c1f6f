// The program killed (SIGKILL) while it stores values into a list that is
// still a Jet file, which first converts the file: whatever moment the kill
// lands at, the list opens with all its rows, holding either the values it
// had or the ones being stored, and the Jet original is never lost.

#include "childkill.h"
#include "dbtestutil.h"
#include "jetconvert.h"
#include "jetimport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

using namespace parvault;
using namespace dbtest;
namespace fs = std::filesystem;

namespace {

constexpr int kJetListType = 20; // the type of the large generated list
constexpr int kRows = 10000;
// Built with AddressSanitizer every start of the reader costs seconds (the
// library maps and unmaps a large buffer for each text it reads), so that
// build kills at fewer moments; the plain build covers the full spread.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kJetKills = 4;
#else
constexpr int kJetKills = 10;
#endif
const std::string kList = "240101000000.mdb";

std::string bytesOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs a store in a child process, killed after delay (never when negative).
std::chrono::microseconds runChild(int round, std::chrono::microseconds delay) {
    return parvault::testing::RunChild([round] { parvault::testing::StoreRound(kList, kJetListType, round); }, delay);
}

// The list's values in row order, as the program loads them.
std::vector<QString> loadedValues(Workspace& w) {
    w.session.BuildTree();
    const int n = w.session.listFileTable.findFile(QString::fromStdString(kList));
    EXPECT_GT(n, 0) << "the list is gone from the tree";
    if (n <= 0)
        return {};
    w.rows.clear();
    w.session.LoadTreeItem(MakeItemData(n, kJetListType));
    std::vector<QString> values;
    for (int i = 0; i < w.rows.rowCount(); ++i)
        values.push_back(w.rows.text(i, ColValue));
    return values;
}

} // namespace

TEST(JetKill, KilledStoreIntoAJetListLeavesItWholeWithOldOrNewValuesAndTheOriginalKept) {
    Workspace w;
    makeMainDb(w.file("PARVLT2.mdb"), {{kJetListType, "Корректор"}}, {});
    const std::string original = bytesOf(PARVAULT_JET_BENCH_LIST);
    const auto freshJetList = [&] {
        fs::remove(w.file(kList));
        fs::remove(w.file(kList + ".jet"));
        fs::remove(w.file(kList + ".tmp"));
        fs::copy_file(PARVAULT_JET_BENCH_LIST, w.file(kList));
    };
    freshJetList();
    const std::vector<QString> jetValues = loadedValues(w);
    ASSERT_EQ(jetValues.size(), static_cast<size_t>(kRows));
    const auto full = runChild(1, std::chrono::microseconds(-1));
    ASSERT_EQ(loadedValues(w).front(), QStringLiteral("1,0")) << "an uninterrupted store did not store";

    int stillJet = 0, convertedOnly = 0, stored = 0;
    for (int k = 0; k < kJetKills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        freshJetList();
        const int round = 2 + k;
        runChild(round, full * k / kJetKills);
        const std::vector<QString> values = loadedValues(w);
        ASSERT_EQ(values.size(), static_cast<size_t>(kRows));
        const bool isJet = IsJetFile(QString::fromStdString(w.file(kList)));
        if (!isJet) {
            // Converted: the original is kept beside it, byte for byte.
            EXPECT_EQ(bytesOf(w.file(kList + ".jet")), original);
        }
        if (values.front() == QStringLiteral("%1,0").arg(round)) {
            EXPECT_FALSE(isJet);
            for (int i = 0; i < kRows; ++i)
                ASSERT_EQ(values[i], QStringLiteral("%1,%2").arg(round).arg(i)) << "mixed values";
            ++stored;
        } else {
            EXPECT_EQ(values, jetValues) << "neither the old values nor the new ones";
            ++(isJet ? stillJet : convertedOnly);
        }
        // A store after the kill finishes the job.
        runChild(100 + k, std::chrono::microseconds(-1));
        EXPECT_EQ(loadedValues(w).back(), QStringLiteral("%1,%2").arg(100 + k).arg(kRows - 1));
        EXPECT_EQ(bytesOf(w.file(kList + ".jet")), original);
    }
    // The kills spread over the store: some land before the file is converted.
    EXPECT_GT(stillJet, 0);
    RecordProperty("stillJet", stillJet);
    RecordProperty("convertedOnly", convertedOnly);
    RecordProperty("stored", stored);
}
