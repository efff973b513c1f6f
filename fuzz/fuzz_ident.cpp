// The optical reply reader: arbitrary bytes in arbitrary pieces, with the
// assembler's state carried over from frame bytes that came before, as it is
// when a handshake follows an exchange.

#include "answer.h"
#include "fuzzcommon.h"

using namespace parvault;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::QuietLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    AnswerAssembler assembler;
    const bool framesFirst = fdp.ConsumeBool();
    for (const auto& piece : fuzzing::Pieces(fdp, kRxReadMax + 8)) {
        const int r = (framesFirst && piece.size() % 2 == 0) ? assembler.AssembleAnswer(piece).result
                                                             : assembler.ReadIdentLine(piece);
        if (r != ANSWER_OK && r != ANSWER_REJECTED && r != ANSWER_PENDING)
            std::abort();
        if (assembler.asmLength() < 0 || assembler.asmLength() >= AnswerAssembler::kBufferSize)
            std::abort();
    }
    return 0;
}
