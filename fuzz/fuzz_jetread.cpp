// An arbitrary file given to the Jet reader: the header check, then libmdb
// reading every table and the stream being written. The reader runs in a
// process of its own in the program, so what crashes here costs a failed
// open there, not the program; this target measures how often that is.

#include "jetdump.h"
#include "jetprobe.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

const std::string& ScratchFile() {
    static const std::string file = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pvfuzz-jet-XXXXXX").string();
        const int fd = mkstemp(tmpl.data());
        if (fd < 0)
            std::abort();
        ::close(fd);
        std::atexit([] { std::remove(ScratchFile().c_str()); });
        return tmpl;
    }();
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace parvault::jet;
    // The header check stops every file that is not a whole number of pages;
    // padding the input to whole pages lets the library see the rest.
    const JetHeader h = ProbeJetHeader(data, size, size);
    size_t padded = size;
    if (h.kind == JetKind::Damaged && size >= kProbeBytes) {
        const size_t page = data[0x14] == 0 ? kJet3PageSize : kJet4PageSize;
        padded = std::max<size_t>((size + page - 1) / page, 3) * page;
    }
    std::FILE* f = std::fopen(ScratchFile().c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    for (size_t i = size; i < padded; ++i)
        std::fputc(0, f);
    std::fclose(f);

    size_t written = 0;
    const StreamSink sink = [&](std::string_view piece) { written += piece.size(); };
    std::string why;
    const int status = DumpJetFile(ScratchFile(), sink, &why);
    if (status != kReadOk && why.empty())
        std::abort();
    return 0;
}
