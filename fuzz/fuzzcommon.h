#pragma once

// Shared bits of the fuzz targets: quiet logging, a scratch folder, and
// cutting the input into deliveries the way a transport would.

#include <fuzzer/FuzzedDataProvider.h>

#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace fuzzing {

// The exchange logs every empty delivery; at a million runs a minute that
// would be all the fuzzer does.
inline void QuietLogging() {
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
}

// A private folder for targets that need files; removed at exit.
inline const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pvfuzz-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        std::filesystem::path p(tmpl);
        static std::filesystem::path toRemove = p;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(toRemove, ec);
        });
        return p;
    }();
    return dir;
}

// The rest of the input cut into pieces of 0..maxPiece bytes, sizes taken
// from the front of the input: a frame may arrive in any number of reads.
inline std::vector<std::vector<uint8_t>> Pieces(FuzzedDataProvider& fdp, size_t maxPiece) {
    std::vector<std::vector<uint8_t>> out;
    while (fdp.remaining_bytes() > 0) {
        const size_t n = fdp.ConsumeIntegralInRange<size_t>(0, maxPiece);
        out.push_back(fdp.ConsumeBytes<uint8_t>(n));
        if (out.size() > 4096)
            break;
    }
    return out;
}

} // namespace fuzzing
