// The answer assembler fed arbitrary deliveries in arbitrary pieces, and
// ParseAnswer on arbitrary frames, including ones given a valid checksum so
// that the parse behind the CRC check is reached.

#include "answer.h"
#include "frame.h"
#include "fuzzcommon.h"
#include "rowtable.h"

#include <algorithm>
#include <cstring>

using namespace parvault;

namespace {

void CheckParsed(const ParsedAnswer& a) {
    // Texts are cut at the wire; one OEM byte is one character.
    if (a.value && a.value->size() > kAnswerTextMax && a.function != FN_DATA_BLOCK)
        std::abort();
    if (a.units && a.units->size() > kAnswerTextMax)
        std::abort();
    // Each digit is taken by its low four bits, so a sequence may exceed 999
    // (and then matches no row), but never 15 * 111.
    if (a.sequence != kNoSequence && (a.sequence < 0 || a.sequence > 15 * 111))
        std::abort();
    if (a.result != ANSWER_OK && a.result != ANSWER_REJECTED && a.result != ANSWER_PENDING)
        std::abort();
}

// A row table the size of a real list, so that applyAnswer writes somewhere.
MemoryRowTable& Rows() {
    static MemoryRowTable rows = [] {
        MemoryRowTable t;
        t.setRows(std::vector<ParamRow>(1001));
        return t;
    }();
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::QuietLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const int mode = fdp.ConsumeIntegralInRange<int>(0, 3);
    const int row = fdp.ConsumeIntegralInRange<int>(-2, 1001);

    if (mode == 0) {
        // The raw byte stream, in pieces up to a full transport read.
        AnswerAssembler assembler;
        for (const auto& piece : fuzzing::Pieces(fdp, kRxReadMax + 8)) {
            const ParsedAnswer a = assembler.AssembleAnswer(piece);
            CheckParsed(a);
            applyAnswer(Rows(), row, a);
            if (assembler.asmLength() < 0 || assembler.asmLength() >= AnswerAssembler::kBufferSize)
                std::abort();
        }
        return 0;
    }

    if (mode == 1) {
        // Through ExchangeShared, with an rxLength that need not be true.
        AnswerAssembler assembler;
        ExchangeShared shared;
        while (fdp.remaining_bytes() > 0) {
            const int32_t claimed = fdp.ConsumeIntegral<int32_t>();
            const auto bytes = fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(0, kRxReadMax));
            std::copy(bytes.begin(), bytes.end(), shared.rxBuffer.begin());
            shared.rxLength = claimed;
            CheckParsed(assembler.AssembleAnswer(shared));
        }
        return 0;
    }

    // A frame body made whole: DLE SOH body DLE ETX CRC, then fed in pieces
    // (mode 2) or parsed directly (mode 3).
    const size_t maxPiece = fdp.ConsumeIntegralInRange<size_t>(1, 64);
    std::vector<uint8_t> body = fdp.ConsumeRemainingBytes<uint8_t>();
    if (mode == 3) {
        const ParsedAnswer a = ParseAnswer(body);
        CheckParsed(a);
        applyAnswer(Rows(), row, a);
        return 0;
    }
    std::vector<uint8_t> frame = {DLE, SOH};
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(DLE);
    frame.push_back(ETX);
    const uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(2));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    AnswerAssembler assembler;
    for (size_t p = 0; p < frame.size(); p += maxPiece) {
        const size_t n = std::min(maxPiece, frame.size() - p);
        const ParsedAnswer a = assembler.AssembleAnswer(std::span<const uint8_t>(frame).subspan(p, n));
        CheckParsed(a);
        applyAnswer(Rows(), row, a);
    }
    return 0;
}
