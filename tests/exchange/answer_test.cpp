#include "answer.h"
#include "codepage.h"
#include "requests.h"
#include "tempdir.h"
#include "wireframes.h"

#include <QFile>
#include <QLoggingCategory>
#include <QStringEncoder>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <random>
#include <thread>

using namespace parvault;
using namespace parvault::testing;

namespace {

Bytes valueAnswer(int seq, const Bytes& group) { return wireAnswer(FN_VALUE, seq, valueGroup(group)); }

ParsedAnswer parseWire(const Bytes& wire) { return ParseAnswer(assembled(wire)); }

// Feeds the bytes in the given piece sizes and returns every non-pending result.
std::vector<ParsedAnswer> feed(AnswerAssembler& a, const Bytes& bytes, const std::vector<size_t>& pieces) {
    std::vector<ParsedAnswer> out;
    size_t pos = 0;
    for (size_t n : pieces) {
        const auto r = a.AssembleAnswer(std::span<const uint8_t>(bytes).subspan(pos, n));
        if (r.result != ANSWER_PENDING)
            out.push_back(r);
        pos += n;
    }
    return out;
}

} // namespace

TEST(ParseAnswer, ValueAndUnits) {
    const auto a = parseWire(valueAnswer(7, oem("12.5") + bytesOf({HT}) + oem("kg") + bytesOf({FF})));
    EXPECT_EQ(a.result, ANSWER_OK);
    EXPECT_EQ(a.sequence, 7);
    EXPECT_EQ(a.function, FN_VALUE);
    EXPECT_EQ(a.value, QString("12.5"));
    EXPECT_EQ(a.units, QString("kg"));
}

TEST(ParseAnswer, ValueWithoutUnitsLeavesUnitsAlone) {
    const auto a = parseWire(valueAnswer(7, oem("3") + bytesOf({FF})));
    EXPECT_EQ(a.value, QString("3"));
    EXPECT_FALSE(a.units.has_value());

    MemoryRowTable table;
    ParamRow row;
    row.texts[ColUnits] = "V";
    table.setRows({row});
    applyAnswer(table, 0, parseWire(valueAnswer(0, oem("3") + bytesOf({FF}))));
    EXPECT_EQ(table.text(0, ColValue), "3");
    EXPECT_EQ(table.text(0, ColUnits), "V");
}

TEST(ParseAnswer, ValueWithEmptyUnitsClearsThem) {
    const auto a = parseWire(valueAnswer(1, oem("3") + bytesOf({HT, FF})));
    EXPECT_EQ(a.units, QString(""));
}

TEST(ParseAnswer, IndexedValueAnswer) {
    const Bytes data = bytesOf({HT, '0', '0', '0', HT, '3', '0', '0', HT, '0', '1', '2', HT, '1', FF, HT}) + oem("42") +
                       bytesOf({HT}) + oem("s") + bytesOf({FF});
    const auto a = parseWire(wireAnswer(FN_VALUE_INDEXED, 3, data));
    EXPECT_EQ(a.sequence, 3);
    EXPECT_EQ(a.value, QString("42"));
    EXPECT_EQ(a.units, QString("s"));
}

TEST(ParseAnswer, ErrorAnswers) {
    const auto ok = parseWire(wireAnswer(FN_ERROR, 5, bytesOf({HT, '0', '0', '1', FF, HT, FF})));
    EXPECT_EQ(ok.result, ANSWER_OK);
    EXPECT_EQ(ok.sequence, 5);
    EXPECT_FALSE(ok.value.has_value());
    EXPECT_FALSE(ok.units.has_value());

    const auto refused =
        parseWire(wireAnswer(FN_ERROR, 6, bytesOf({HT, '0', '0', '1', FF, HT}) + oem("no\tsuch") + bytesOf({FF})));
    EXPECT_EQ(refused.result, ANSWER_REJECTED);
    EXPECT_EQ(refused.sequence, 6);
    EXPECT_EQ(refused.value, QString("no such")); // HT does not end an error text; it shows as a blank
    EXPECT_FALSE(refused.units.has_value());
}

TEST(ParseAnswer, OtherFunctionsAndFramesWithoutFunction) {
    const auto other = parseWire(wireAnswer(0x1D, 7, valueGroup(oem("1") + bytesOf({FF}))));
    EXPECT_EQ(other.result, ANSWER_OK);
    EXPECT_EQ(other.sequence, kNoSequence);
    EXPECT_FALSE(other.value.has_value());
    EXPECT_FALSE(other.matchesRow(7));

    EXPECT_EQ(ParseAnswer(bytesOf({DLE, STX, 'a', DLE, ETX})).sequence, kNoSequence);
    EXPECT_EQ(ParseAnswer(bytesOf({DLE, US})).sequence, kNoSequence);
    EXPECT_EQ(ParseAnswer(Bytes{}).result, ANSWER_OK);
    // A frame cut right after the function code names no row, and is never read past its end.
    EXPECT_EQ(ParseAnswer(bytesOf({DLE, US, FN_VALUE, '4'})).sequence, kNoSequence);
}

// Answers from a device that does not keep to the layout: nothing runs past
// the data, nothing but three digits names a row, and no control byte reaches
// the list.
TEST(ParseAnswer, AnswersThatBreakTheLayout) {
    // No closing FF: the value ends with the data, not with ETX and the checksum.
    const auto open = parseWire(valueAnswer(7, oem("12,5")));
    EXPECT_EQ(open.value, QString("12,5"));
    const auto openUnits = parseWire(valueAnswer(7, oem("12,5") + bytesOf({HT}) + oem("kg")));
    EXPECT_EQ(openUnits.units, QString("kg"));
    const auto openError = parseWire(wireAnswer(FN_ERROR, 7, valueGroup(oem("bad"))));
    EXPECT_EQ(openError.value, QString("bad"));

    // Sequence fields that are not exactly three digits.
    auto withSequence = [](const Bytes& digits) {
        Bytes f = bytesOf({DLE, US, FN_VALUE}) + digits + bytesOf({DLE, STX}) +
                  valueGroup(oem("1") + bytesOf({FF})) + bytesOf({DLE, ETX});
        return ParseAnswer(withCrc(f, 0));
    };
    EXPECT_EQ(withSequence(oem("007")).sequence, 7);
    EXPECT_EQ(withSequence(oem("0071")).sequence, kNoSequence) << "three right digits and more";
    EXPECT_EQ(withSequence(bytesOf({'0', DLE, '7'})).sequence, kNoSequence) << "a DLE among them";
    EXPECT_EQ(withSequence(oem("0 7")).sequence, kNoSequence);
    EXPECT_EQ(withSequence(oem("07")).sequence, kNoSequence);

    // Control bytes in a device's texts show as blanks.
    const auto lines = parseWire(valueAnswer(7, oem("1\r\n2") + bytesOf({HT}) + oem("k\x01g") + bytesOf({FF})));
    EXPECT_EQ(lines.value, QString("1  2"));
    EXPECT_EQ(lines.units, QString("k g"));
}

// Own or device address 31 puts 0x1F into the address block; the function
// code follows DLE US, not the first 0x1F.
TEST(ParseAnswer, AddressBlockHolding1F) {
    for (const Bytes& block : {bytesOf({0x1F, 0x81}), bytesOf({0x01, 0x9F}), bytesOf({0x1F, 0x9F}),
                               bytesOf({DLE, DLE, 0x9F})}) {
        Bytes f = block + bytesOf({DLE, US, FN_VALUE, '0', '0', '7', DLE, STX}) +
                  valueGroup(oem("5") + bytesOf({FF})) + bytesOf({DLE, ETX});
        const auto a = ParseAnswer(withCrc(f, 0));
        EXPECT_EQ(a.function, FN_VALUE) << int(block[0]);
        EXPECT_EQ(a.sequence, 7) << int(block[0]);
        EXPECT_EQ(a.value, QString("5")) << int(block[0]);
    }
}

TEST(ParseAnswer, LongTextsAreCut) {
    const Bytes longValue(300, 'v');
    const Bytes longUnits(200, 'u');
    const auto a = parseWire(valueAnswer(1, longValue + bytesOf({HT}) + longUnits + bytesOf({FF})));
    EXPECT_EQ(a.value->size(), kAnswerTextMax);
    EXPECT_EQ(a.units->size(), kAnswerTextMax); // the units are still found after a cut value
    const auto e = parseWire(wireAnswer(FN_ERROR, 1, bytesOf({FF, HT}) + Bytes(500, 'e') + bytesOf({FF})));
    EXPECT_EQ(e.value->size(), kAnswerTextMax);
}

TEST(ParseAnswer, OemCyrillicBecomesAnsi) {
    Bytes letters;
    for (int b = 0x80; b <= 0xAF; ++b)
        letters.push_back(static_cast<uint8_t>(b));
    const auto a = parseWire(valueAnswer(1, letters + bytesOf({FF})));
    ASSERT_TRUE(a.value.has_value());
    ASSERT_EQ(a.value->size(), 48);
    EXPECT_EQ(a.value->at(0), QChar(0x0410));  // А
    EXPECT_EQ(a.value->at(47), QChar(0x043F)); // п
    // In the list's Windows-1251 these are 0xC0..0xEF, and back to OEM gives 0x80..0xAF.
    const QByteArray ansi = toAnsiBytes(*a.value);
    for (int k = 0; k < 48; ++k)
        EXPECT_EQ(static_cast<uint8_t>(ansi[k]), 0xC0 + k);
    EXPECT_EQ(AnsiToOem(*a.value), letters);
}

TEST(ParseAnswer, DataBlockKeepsTheWholeFrame) {
    TempDir dir;
    const Bytes wire = wireAnswer(FN_DATA_BLOCK, 12, bytesOf({HT, '0', '0', '3', HT}) + oem("65530") +
                                                         bytesOf({FF, HT, 0x10, 0x00, 0xFF, 'z', FF}));
    const auto a = parseWire(wire);
    EXPECT_EQ(a.result, ANSWER_OK);
    EXPECT_EQ(a.sequence, 12);
    EXPECT_EQ(a.value, QString("-OK-"));
    EXPECT_FALSE(a.units.has_value());
    EXPECT_EQ(a.dataBlock, assembled(wire));

    const QString path = QString::fromStdString(dir.file("__data.hh"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'x')); // an older, longer block must not survive
    }
    ASSERT_TRUE(saveDataBlock(a, path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray stored = f.readAll();
    EXPECT_EQ(Bytes(stored.begin(), stored.end()), assembled(wire));

    EXPECT_FALSE(saveDataBlock(parseWire(valueAnswer(1, oem("1") + bytesOf({FF}))), path));
    EXPECT_FALSE(saveDataBlock(a, QString::fromStdString(dir.file("missing/dir/__data.hh"))));
}

// A late answer for an earlier row must not reach the current row.
TEST(applyAnswer, OnlyTheRowWhoseSequenceMatches) {
    MemoryRowTable table;
    std::vector<ParamRow> rows(1006);
    rows[5].texts[ColValue] = "old";
    rows[1005].texts[ColValue] = "current";
    table.setRows(rows);
    const auto late = parseWire(valueAnswer(4, oem("99") + bytesOf({HT}) + oem("kg") + bytesOf({FF})));
    EXPECT_FALSE(applyAnswer(table, 5, late));
    EXPECT_EQ(table.text(5, ColValue), "old");
    EXPECT_EQ(table.text(5, ColUnits), "");

    const auto right = parseWire(valueAnswer(5, oem("7") + bytesOf({FF})));
    EXPECT_TRUE(applyAnswer(table, 1005, right)); // 1005 carries the digits 0 0 5
    EXPECT_EQ(table.text(1005, ColValue), "7");
    EXPECT_FALSE(applyAnswer(table, 1006, right));
    EXPECT_FALSE(applyAnswer(table, -1, right));

    const auto error = parseWire(wireAnswer(FN_ERROR, 5, bytesOf({FF, HT}) + oem("bad") + bytesOf({FF})));
    EXPECT_TRUE(applyAnswer(table, 5, error));
    EXPECT_EQ(table.text(5, ColValue), "bad");
}

TEST(AnswerAssembler, WholeOneByteAtATimeAndRandomPieces) {
    const Bytes wire = valueAnswer(42, oem("1.5") + bytesOf({HT}) + oem("V") + bytesOf({FF}));
    AnswerAssembler whole;
    const auto all = feed(whole, wire, {wire.size()});
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].result, ANSWER_OK);
    EXPECT_EQ(all[0].sequence, 42);
    EXPECT_EQ(whole.asmLength(), static_cast<int>(wire.size() - 2));

    AnswerAssembler single;
    for (size_t k = 0; k < wire.size(); ++k) {
        const auto r = single.AssembleAnswer(std::span<const uint8_t>(wire).subspan(k, 1));
        if (k + 1 < wire.size()) {
            ASSERT_EQ(r.result, ANSWER_PENDING) << "byte " << k;
        } else {
            EXPECT_EQ(r.result, ANSWER_OK);
            EXPECT_EQ(r.value, all[0].value);
            EXPECT_EQ(r.units, all[0].units);
        }
    }

    std::mt19937 rng(1234);
    AnswerAssembler pieces; // one assembler across several frames: state carries over
    for (int round = 0; round < 50; ++round) {
        const Bytes w = valueAnswer(round, oem("val") + bytesOf({FF}));
        std::vector<size_t> cuts;
        size_t left = w.size();
        while (left > 0) {
            const size_t n = std::min(left, static_cast<size_t>(rng() % 6 + 1));
            cuts.push_back(n);
            left -= n;
        }
        const auto r = feed(pieces, w, cuts);
        ASSERT_EQ(r.size(), 1u) << round;
        EXPECT_EQ(r[0].sequence, round);
    }
}

TEST(AnswerAssembler, NoiseBeforeDleSohIsDropped) {
    // Anything but DLE ETX (which would start the end of a frame) and DLE SOH.
    const Bytes noise = bytesOf({0x00, 0x10, 0x55, 0xFF, 0x03, 0x10, 0x10, 0x1F, 0x02, 0x0C});
    const Bytes wire = valueAnswer(3, oem("9") + bytesOf({FF}));
    AnswerAssembler a;
    const auto r = feed(a, noise + wire, {noise.size() + wire.size()});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].result, ANSWER_OK);
    EXPECT_EQ(r[0].value, QString("9"));
}

TEST(AnswerAssembler, ChangedByteIsRejected) {
    const Bytes wire = valueAnswer(3, oem("123") + bytesOf({FF}));
    for (size_t k = 2; k < wire.size(); ++k) {
        Bytes bad = wire;
        // Change a byte without turning it into a framing byte, so the frame still ends where it did.
        if (bad[k] == DLE || bad[k] == ETX || bad[k] == SOH || k >= wire.size() - 2)
            continue;
        bad[k] ^= 0x40;
        AnswerAssembler a;
        const auto r = a.AssembleAnswer(bad);
        EXPECT_EQ(r.result, ANSWER_REJECTED) << k;
        EXPECT_TRUE(r.crcFailed);
        EXPECT_EQ(r.sequence, kNoSequence);
    }
    Bytes badCrc = wire;
    badCrc.back() ^= 1;
    AnswerAssembler a;
    EXPECT_EQ(a.AssembleAnswer(badCrc).result, ANSWER_REJECTED);
}

TEST(AnswerAssembler, BareEtxAndDleSohInCrcDoNotEndOrRestart) {
    // A bare ETX in the data is ordinary data.
    const Bytes withEtx = valueAnswer(1, bytesOf({'1', ETX, '2', FF}));
    AnswerAssembler a;
    const auto r = a.AssembleAnswer(withEtx);
    EXPECT_EQ(r.result, ANSWER_OK);
    EXPECT_EQ(r.value->size(), 3);

    // Find a value whose CRC is 10 01 (DLE SOH) and check the frame still completes.
    Bytes found;
    for (int x = 0; x < (1 << 21) && found.empty(); ++x) {
        const Bytes w =
            valueAnswer(2, bytesOf({0x80 + (x & 0x7F), 0x80 + ((x >> 7) & 0x7F), 0x80 + ((x >> 14) & 0x7F), FF}));
        if (w[w.size() - 2] == DLE && w[w.size() - 1] == SOH)
            found = w;
    }
    ASSERT_FALSE(found.empty());
    AnswerAssembler b;
    const auto r2 = b.AssembleAnswer(found);
    EXPECT_EQ(r2.result, ANSWER_OK);
    EXPECT_EQ(r2.sequence, 2);
}

TEST(AnswerAssembler, BytesAfterTheCompletingByteAreDropped) {
    const Bytes first = valueAnswer(1, oem("a") + bytesOf({FF}));
    const Bytes second = valueAnswer(2, oem("b") + bytesOf({FF}));
    AnswerAssembler a;
    const auto r = a.AssembleAnswer(first + second);
    EXPECT_EQ(r.sequence, 1);
    EXPECT_EQ(a.AssembleAnswer(second).sequence, 2);
}

namespace {
QStringList gLogged;
void capture(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (QByteArray(context.category) == "parvault.exchange")
        gLogged << message;
}
} // namespace

TEST(AnswerAssembler, EmptyDeliveryIsPendingAndLogged) {
    QLoggingCategory::setFilterRules("parvault.exchange.debug=true");
    gLogged.clear();
    const auto previous = qInstallMessageHandler(capture);
    AnswerAssembler a;
    ExchangeShared shared;
    shared.rxLength = 0;
    EXPECT_EQ(a.AssembleAnswer(shared).result, ANSWER_PENDING);
    EXPECT_EQ(a.ReadIdentLine(shared), ANSWER_PENDING);
    shared.rxLength = -5; // never read before the buffer
    EXPECT_EQ(a.AssembleAnswer(shared).result, ANSWER_PENDING);
    qInstallMessageHandler(previous);
    ASSERT_EQ(gLogged.size(), 3);
    EXPECT_EQ(gLogged[0], "Read 0 bytes and didn't overlap.\n\r");
}

TEST(AnswerAssembler, DeliveryIsCappedAt6140Bytes) {
    const Bytes wire = valueAnswer(9, oem("x") + bytesOf({FF}));
    for (size_t lastIndex : {6139u, 6140u}) {
        ExchangeShared shared;
        const size_t start = lastIndex + 1 - wire.size();
        std::fill(shared.rxBuffer.begin(), shared.rxBuffer.end(), 0x55);
        std::copy(wire.begin(), wire.end(), shared.rxBuffer.begin() + static_cast<std::ptrdiff_t>(start));
        shared.rxLength = kRxReadMax + 100; // a count beyond the buffer is clamped too
        AnswerAssembler a;
        const auto r = a.AssembleAnswer(shared);
        EXPECT_EQ(r.result, lastIndex == 6139u ? ANSWER_OK : ANSWER_PENDING) << lastIndex;
    }
}

TEST(AnswerAssembler, RunawayInputWrapsToStart) {
    AnswerAssembler a;
    a.AssembleAnswer(Bytes(6000, 'n'));
    a.AssembleAnswer(Bytes(142, 'n'));
    EXPECT_EQ(a.asmLength(), 6142);
    a.AssembleAnswer(bytesOf({'n'}));
    EXPECT_EQ(a.asmLength(), 0);
    // Still usable afterwards.
    const auto r = a.AssembleAnswer(valueAnswer(8, oem("ok") + bytesOf({FF})));
    EXPECT_EQ(r.sequence, 8);
}

TEST(ReadIdentLine, IdentificationLineAndItsSpeed) {
    Bytes line = oem("/PV2-DEVSIM-5XYZ");
    line.push_back(CR);
    line.push_back(LF);
    Bytes withParity;
    for (uint8_t c : line)
        withParity.push_back(withEvenParity(c));
    AnswerAssembler a;
    EXPECT_EQ(a.ReadIdentLine(std::span<const uint8_t>(withParity).first(7)), ANSWER_PENDING);
    EXPECT_EQ(a.ReadIdentLine(std::span<const uint8_t>(withParity).subspan(7)), ANSWER_OK);
    EXPECT_EQ(a.asmBuffer()[0] & 0x7F, '/');
    EXPECT_EQ(identSpeedIndex(a.asmBuffer()[12]), 5);

    Bytes lfOnly = oem("/PV2-DEVSIM-5XYZ");
    lfOnly.push_back(LF);
    AnswerAssembler b;
    EXPECT_EQ(b.ReadIdentLine(lfOnly), ANSWER_REJECTED);
}

TEST(ReadIdentLine, AckEndsAtOnce) {
    AnswerAssembler a;
    const Bytes bytes = bytesOf({'x', 'y', withEvenParity(ACK), '/', 'z', CR, LF});
    EXPECT_EQ(a.ReadIdentLine(bytes), ANSWER_OK);
    EXPECT_EQ(a.asmBuffer()[0], ACK);
    EXPECT_EQ(a.asmLength(), 1);
    EXPECT_FALSE(a.identStarted());
}

TEST(ReadIdentLine, NoiseBeforeSlashIsDiscarded) {
    AnswerAssembler a;
    Bytes bytes = oem("garbage/ABCDEFGHIJK9");
    bytes.push_back(CR);
    bytes.push_back(LF);
    EXPECT_EQ(a.ReadIdentLine(bytes), ANSWER_OK);
    EXPECT_EQ(a.asmBuffer()[0], '/');
    EXPECT_EQ(a.asmBuffer()[12], '9');
}

// Half a frame from a stopped exchange must not complete a bogus one.
TEST(AnswerAssembler, ResetForgetsAFrameInItsChecksum) {
    AnswerAssembler a;
    const Bytes answer = valueAnswer(0, oem("5") + bytesOf({FF}));
    a.AssembleAnswer(std::span<const uint8_t>(answer).first(answer.size() - 1));
    ASSERT_EQ(a.endPhase(), 2);
    a.reset();
    const auto r = a.AssembleAnswer(answer);
    EXPECT_EQ(r.result, ANSWER_OK);
    EXPECT_EQ(r.value, QString("5"));
}

// Several devices of one command line run save their data blocks at the same
// time into the one file while another program reads it: whoever looks at it
// finds one whole block, never a cut or mixed one, and no save is lost.
TEST(saveDataBlock, ConcurrentSavesLeaveOneWholeBlock) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("__data.hh"));
    auto block = [](uint8_t fill, size_t size) {
        ParsedAnswer a;
        a.function = FN_DATA_BLOCK;
        a.dataBlock.assign(size, fill);
        return a;
    };
    const ParsedAnswer a = block('A', 40000), b = block('B', 60000);
    ASSERT_TRUE(saveDataBlock(a, path));
    std::atomic<bool> done{false};
    std::atomic<int> bad{0}, reads{0}, failedSaves{0};
    std::thread reader([&] {
        while (!done) {
            QFile f(path);
            // Windows may refuse an open for the moment a rename replaces
            // the file; the reader simply looks again.
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QByteArray got = f.readAll();
            f.close();
            const bool whole = (got == QByteArray(40000, 'A')) || (got == QByteArray(60000, 'B'));
            bad += whole ? 0 : 1;
            ++reads;
            // Another program looks many times a second, but does not hold
            // the file without a break (Windows lets no save replace it then).
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    auto writer = [&](const ParsedAnswer& mine) {
        for (int i = 0; i < 300; ++i)
            failedSaves += saveDataBlock(mine, path) ? 0 : 1;
    };
    std::thread writerA(writer, std::cref(a));
    std::thread writerB(writer, std::cref(b));
    writerA.join();
    writerB.join();
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(failedSaves, 0) << "a save lost its block while the file was being read";
    EXPECT_GT(reads, 0);
}

// What an answer must repeat of its request: requests as the program lays
// them out, answers as a device sends them.
namespace {

ParamRow plainRow(const char* canal, const char* param, int32_t kind = KindPlain, const char* index = "  0") {
    ParamRow r;
    r.texts[ColCanal] = QString::fromLatin1(canal);
    r.texts[ColParam] = QString::fromLatin1(param);
    r.texts[ColIndex] = QString::fromLatin1(index);
    r.kind = kind;
    return r;
}

RequestEcho echoOf(const std::vector<uint8_t>& request) {
    const auto echo = echoOfRequest(request);
    EXPECT_TRUE(echo.has_value());
    return echo.value_or(RequestEcho{});
}

// An answer from the device: the address block given, the request's head
// repeated, then the value group.
Bytes deviceAnswer(const Bytes& address, uint8_t function, const Bytes& head, const Bytes& group) {
    return withCrc(bytesOf({DLE, SOH}) + address + bytesOf({DLE, US, function, '0', '0', '7', DLE, STX}) + head +
                   bytesOf({FF, HT}) + group + bytesOf({FF, DLE, ETX}));
}

} // namespace

TEST(answersRequest, SameDeviceFunctionAndFieldsOnly) {
    const Bytes head = oem("\t001\t052");
    const RequestEcho plain = echoOf(layoutReadRequest(plainRow("  1", "  52"), 7, {}));
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE, head, oem("12,5"))), plain));
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer({}, FN_ERROR, head, oem("Нет"))), plain));
    // Another parameter, another channel, no fields at all, another function family.
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE, oem("\t001\t053"), oem("1"))), plain));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE, oem("\t002\t052"), oem("1"))), plain));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE, {}, oem("1"))), plain));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE_INDEXED, head, oem("1"))), plain));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer({}, FN_DATA_BLOCK, head, oem("1"))), plain));
    // A device that writes its numbers shorter still names the same field.
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE, oem("\t1\t52"), oem("1"))), plain));

    // Indexed: the index is compared, the constant field after it is not.
    const RequestEcho indexed = echoOf(layoutReadRequest(plainRow("  1", " 100", KindIndexed, "  2"), 7, {}));
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE_INDEXED, oem("\t001\t100\t002\t1"), oem("1"))),
                               indexed));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE_INDEXED, oem("\t001\t100\t003\t1"), oem("1"))),
                                indexed));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE_INDEXED, oem("\t001\t100"), oem("1"))), indexed));

    // A write of kind 0 is confirmed by an empty error answer or a value answer.
    ParamRow written = plainRow("  1", "  52");
    written.texts[ColValue] = QStringLiteral("3");
    const RequestEcho write = echoOf(layoutWriteRequest(written, 7, {}).frame);
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer({}, FN_ERROR, head, {})), write));
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE, head, oem("3"))), write));
}

TEST(answersRequest, AddressBlockNamesTheDeviceAsked) {
    const Bytes head = oem("\t001\t052");
    const ParamRow row = plainRow("  1", "  52");
    const RequestEcho toTwo = echoOf(layoutReadRequest(row, 7, BusAddress{true, 2, 0}));
    // From device 2 to us (own address 0), or the request's block repeated as it came.
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer(bytesOf({0x00, 0x82}), FN_VALUE, head, oem("1"))), toTwo));
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer(bytesOf({0x02, 0x80}), FN_VALUE, head, oem("1"))), toTwo));
    // Device 1's answer, and answers without a block where one was asked for, and the other way round.
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer(bytesOf({0x00, 0x81}), FN_VALUE, head, oem("1"))), toTwo));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer({}, FN_VALUE, head, oem("1"))), toTwo));
    const RequestEcho noBlock = echoOf(layoutReadRequest(row, 7, {}));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer(bytesOf({0x00, 0x82}), FN_VALUE, head, oem("1"))), noBlock));

    // Device 16 (sent as DLE DLE), answering own address 16 with 0x10 doubled.
    const RequestEcho toSixteen = echoOf(layoutReadRequest(row, 7, BusAddress{true, 16, 16}));
    EXPECT_TRUE(answersRequest(parseWire(deviceAnswer(bytesOf({DLE, DLE, 0x90}), FN_VALUE, head, oem("1"))),
                               toSixteen));
    EXPECT_FALSE(answersRequest(parseWire(deviceAnswer(bytesOf({DLE, DLE, 0x91}), FN_VALUE, head, oem("1"))),
                                toSixteen));

    // The optical messages are no bus requests.
    EXPECT_FALSE(echoOfRequest(signOnMessage()).has_value());
}

TEST(ParseAnswer, ControlCharactersOfTheCodePageBecomeBlanks) {
    // 0x7F is a control character once converted, as are the bytes below 0x20.
    const ParsedAnswer a = parseWire(valueAnswer(7, bytesOf({'1', 0x7F, '2', 0x1A, '3', HT, 'k', 0x7F, FF})));
    ASSERT_TRUE(a.value && a.units);
    EXPECT_EQ(*a.value, QStringLiteral("1 2 3"));
    EXPECT_EQ(*a.units, QStringLiteral("k "));
}

TEST(AnswerAssembler, AfterResyncTheTailOfACutFrameIsNoFrame) {
    const Bytes wire = valueAnswer(7, bytesOf({'5', FF}));
    AnswerAssembler a;
    // The head went with the bytes thrown away; its tail alone completes nothing.
    a.resync();
    EXPECT_TRUE(feed(a, Bytes(wire.begin() + 9, wire.end()), {wire.size() - 9}).empty());
    // The next whole frame is taken as ever.
    const auto taken = feed(a, wire, {wire.size()});
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].result, ANSWER_OK);
    EXPECT_EQ(*taken[0].value, QStringLiteral("5"));
}

#ifndef _WIN32
// A disk that fills while the block is written: the older block stays whole.
// A file size limit stands in for the full disk (SIGXFSZ ignored, so the
// write fails with EFBIG as a full disk fails with ENOSPC).
TEST(saveDataBlock, AFailedWriteKeepsTheOlderBlock) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("__data.hh"));
    ParsedAnswer older;
    older.function = FN_DATA_BLOCK;
    older.dataBlock.assign(109, 'o');
    ASSERT_TRUE(saveDataBlock(older, path));
    ParsedAnswer newer = older;
    newer.dataBlock.assign(5000, 'n');

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved1 = saveDataBlock(newer, path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved1);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray(109, 'o'));
}
#endif
