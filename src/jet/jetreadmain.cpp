// parvault2-jetread FILE: writes the tables of a Jet file to standard output
// (the stream of jetstream.h). The program runs it rather than reading Jet
// itself, so that a file that upsets the library cannot take the program
// down. Exit status: see ReadStatus.

#include "jetdump.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    using namespace parvault::jet;
    if (argc != 2) {
        std::fputs("usage: parvault2-jetread FILE\n", stderr);
        return kReadUsage;
    }
    bool writeFailed = false;
    const StreamSink sink = [&](std::string_view piece) {
        if (!writeFailed && std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size())
            writeFailed = true;
    };
    std::string why;
    const int status = DumpJetFile(argv[1], sink, &why);
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
