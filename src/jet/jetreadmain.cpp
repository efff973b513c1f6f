// parvault2-jetread FILE: writes the tables of a Jet file to standard output
// (the stream of jetstream.h). The program runs it rather than reading Jet
// itself, so that a file that upsets the library cannot take the program
// down. Exit status: see ReadStatus.
//
// parvault2-jetread --batch FILE...: the same for many files in one run (a
// folder's first listing would otherwise start the helper once per file);
// each file's stream is framed as jetstream.h's batch records say.

#include "jetdump.h"
#include "jetstream.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace parvault::jet;

bool writeAll(std::string_view bytes) { return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size(); }

std::string u32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

int readOne(const char* path) {
    bool writeFailed = false;
    const StreamSink sink = [&](std::string_view piece) {
        if (!writeFailed && !writeAll(piece))
            writeFailed = true;
    };
    std::string why;
    const int status = DumpJetFile(path, sink, &why);
    if (std::fflush(stdout) != 0)
        writeFailed = true;
    if (status != kReadOk) {
        std::fprintf(stderr, "parvault2-jetread: %s\n", why.c_str());
        return status;
    }
    if (writeFailed) {
        std::fputs("parvault2-jetread: cannot write the output\n", stderr);
        return kReadUsage;
    }
    return kReadOk;
}

int readBatch(int count, char** paths) {
    bool writeFailed = false;
    for (int i = 0; i < count && !writeFailed; ++i) {
        writeFailed = !writeAll(std::string(1, kTagFile) + u32(static_cast<uint32_t>(i)));
        const StreamSink sink = [&](std::string_view piece) {
            if (!writeFailed)
                writeFailed = !writeAll(std::string(1, kTagData) + u32(static_cast<uint32_t>(piece.size()))) ||
                              !writeAll(piece);
        };
        std::string why;
        const int status = DumpJetFile(paths[i], sink, &why);
        if (!writeFailed)
            writeFailed = !writeAll(std::string(1, kTagStatus) + std::string(1, static_cast<char>(status)));
        // Each file's end reaches the program as soon as it is known.
        if (std::fflush(stdout) != 0)
            writeFailed = true;
    }
    if (writeFailed) {
        std::fputs("parvault2-jetread: cannot write the output\n", stderr);
        return kReadUsage;
    }
    return kReadOk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--batch") == 0) {
#ifdef __GLIBC__
        // Memory freed after one file serves the next: handing it back to
        // the system and taking it again cost more than reading a list.
        mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
#endif
        return readBatch(argc - 2, argv + 2);
    }
    if (argc != 2) {
        std::fputs("usage: parvault2-jetread FILE\n       parvault2-jetread --batch FILE...\n", stderr);
        return kReadUsage;
    }
    return readOne(argv[1]);
}
