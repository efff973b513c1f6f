// The failure modes one by one, as a row's option and as the run's (--fail),
// and the option words that choose them.

#include "devsimtest.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <functional>
#include <ostream>

namespace parvault::devsim {
// Test names and messages show a mode by its --help label.
void PrintTo(const FailureMode& mode, std::ostream* os) {
    *os << FailureModeLabel(mode);
}
} // namespace parvault::devsim

using namespace parvault;
using namespace parvault::devsim;
using namespace parvault::devsimtest;

namespace {

// The row under test, and one that has no failure of its own.
const ParamKey kRow{1, 70, 0};
const ParamKey kCleanRow{1, 52, 0};
const char* const kRows = "1 52 0 | 12,5 | кг/ч\n1 70 0 | 15 | В";

DeviceModel modelWithRowOption(const QString& option) {
    ParamTable t;
    QString error;
    // Quoted as a parameter file needs it when the option holds blanks.
    EXPECT_TRUE(t.parse(QString::fromUtf8(kRows) + " | \"" + option + "\"", std::nullopt, &error))
        << error.toStdString();
    return DeviceModel(std::move(t), {});
}

DeviceModel modelWithRunOption(const QString& option) {
    ParamTable t;
    EXPECT_TRUE(t.parse(QString::fromUtf8(kRows), std::nullopt, nullptr));
    DeviceConfig config;
    QString why;
    EXPECT_TRUE(config.runFailure.parseOption(option, &why)) << why.toStdString();
    return DeviceModel(std::move(t), config);
}

std::optional<Reply> replyTo(DeviceModel& m, const Bytes& request) {
    return m.handleFrame(request, "test");
}

ParsedAnswer answerTo(DeviceModel& m, const Bytes& request) {
    const auto reply = replyTo(m, request);
    return reply ? parse(reply->bytes) : ParsedAnswer{};
}

// What a device with the failure does for the row under test.
struct ModeCase {
    const char* label;  // the mode as --help names it
    const char* option; // the option word that sets it
    std::function<void(DeviceModel&)> check;
};

const std::vector<ModeCase>& modeCases() {
    static const std::vector<ModeCase> cases = {
        {"silent", "silent",
         [](DeviceModel& m) {
             for (int seq = 1; seq <= 3; ++seq)
                 EXPECT_FALSE(replyTo(m, readRequest(seq, 1, 70))) << seq;
             EXPECT_FALSE(replyTo(m, writeRequest(4, 1, 70, 0, KindPlain, "99")));
             EXPECT_EQ(m.entry(kRow)->value, "15"); // a write it does not answer is not kept either
             EXPECT_EQ(m.requestCount(kRow), 4);
             EXPECT_EQ(m.log().back().note, "silent");
         }},
        {"silent=N", "silent=2",
         [](DeviceModel& m) {
             EXPECT_FALSE(replyTo(m, readRequest(1, 1, 70)));
             EXPECT_FALSE(replyTo(m, readRequest(2, 1, 70)));
             const auto third = answerTo(m, readRequest(3, 1, 70));
             EXPECT_EQ(third.sequence, 3);
             EXPECT_EQ(third.value, "15");
             EXPECT_EQ(m.requestCount(kRow), 3);
             EXPECT_EQ(m.log()[0].note, "silent, attempt 1");
         }},
        {"error=\"TEXT\"", "error=Ошибка\\tсвязи",
         [](DeviceModel& m) {
             const auto read = answerTo(m, readRequest(3, 1, 70));
             EXPECT_EQ(read.result, ANSWER_REJECTED);
             EXPECT_EQ(read.sequence, 3);
             // The tab went over the line; the program shows it as a blank.
             EXPECT_EQ(read.value, QString::fromUtf8("Ошибка связи"));
             const auto write = answerTo(m, writeRequest(4, 1, 70, 0, KindPlain, "99"));
             EXPECT_EQ(write.result, ANSWER_REJECTED);
             EXPECT_EQ(m.entry(kRow)->value, "15");
         }},
        {"badcrc", "badcrc",
         [](DeviceModel& m) {
             const auto reply = replyTo(m, readRequest(5, 1, 70));
             ASSERT_TRUE(reply);
             const auto spoiled = parse(reply->bytes);
             EXPECT_EQ(spoiled.result, ANSWER_REJECTED);
             EXPECT_TRUE(spoiled.crcFailed);
             // Only the low byte of the CRC is spoiled: mended, the answer is whole.
             Bytes mended = reply->bytes;
             mended.back() ^= 0xFF;
             const auto good = parse(mended);
             EXPECT_EQ(good.result, ANSWER_OK);
             EXPECT_EQ(good.sequence, 5);
             EXPECT_EQ(good.value, "15");
         }},
        {"wrongseq[=K]", "wrongseq",
         [](DeviceModel& m) {
             const auto a = answerTo(m, readRequest(3, 1, 70));
             EXPECT_EQ(a.result, ANSWER_OK);
             EXPECT_EQ(a.sequence, 4);
             EXPECT_EQ(a.value, "15");
             EXPECT_EQ(answerTo(m, readRequest(999, 1, 70)).sequence, 0); // reduced below 1000
         }},
        {"pieces=N", "pieces=4",
         [](DeviceModel& m) {
             const auto reply = replyTo(m, readRequest(6, 1, 70));
             ASSERT_TRUE(reply);
             EXPECT_EQ(reply->pieces, 4);
             EXPECT_EQ(reply->delayMs, 0);
             EXPECT_EQ(parse(reply->bytes).value, "15");
         }},
        {"otherdevice[=K]", "otherdevice=2",
         [](DeviceModel& m) {
             // The table's device has address 0: the answer comes from device 2, to program address 0.
             const auto reply = replyTo(m, readRequest(8, 1, 70));
             ASSERT_TRUE(reply);
             const auto a = parse(reply->bytes);
             EXPECT_EQ(a.value, "15");
             EXPECT_EQ(a.address, (Bytes{0x00, 0x82}));
         }},
        {"delay=MS", "delay=200",
         [](DeviceModel& m) {
             const auto reply = replyTo(m, readRequest(7, 1, 70));
             ASSERT_TRUE(reply);
             EXPECT_EQ(reply->delayMs, 200);
             EXPECT_EQ(reply->pieces, 1);
             EXPECT_EQ(parse(reply->bytes).value, "15");
         }},
        {"keep=\"TEXT\"", "keep=15,5",
         [](DeviceModel& m) {
             const auto write = answerTo(m, writeRequest(4, 1, 70, 0, KindPlain, "99"));
             EXPECT_EQ(write.result, ANSWER_OK); // confirmed,
             EXPECT_EQ(answerTo(m, readRequest(5, 1, 70)).value, "15,5"); // yet another value kept
         }},
    };
    return cases;
}

class FailureModeTest : public ::testing::TestWithParam<FailureMode> {
protected:
    const ModeCase* modeCase() const {
        const std::string label = FailureModeLabel(GetParam());
        for (const ModeCase& c : modeCases())
            if (c.label == label)
                return &c;
        return nullptr;
    }
};

std::string testName(const ::testing::TestParamInfo<FailureMode>& info) {
    std::string name;
    for (char c : FailureModeLabel(info.param)) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    return name;
}

} // namespace

TEST_P(FailureModeTest, AsARowOption) {
    const ModeCase* c = modeCase();
    ASSERT_TRUE(c) << "no case for the mode " << FailureModeLabel(GetParam());
    DeviceModel m = modelWithRowOption(QString::fromUtf8(c->option));
    c->check(m);
    // The row's option is the row's alone.
    DeviceModel plain = modelWithRowOption({});
    const auto reply = replyTo(m, readRequest(8, 1, 52));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, replyTo(plain, readRequest(8, 1, 52))->bytes);
    EXPECT_EQ(reply->delayMs, 0);
    EXPECT_EQ(reply->pieces, 1);
}

TEST_P(FailureModeTest, ForTheWholeRun) {
    const ModeCase* c = modeCase();
    ASSERT_TRUE(c) << "no case for the mode " << FailureModeLabel(GetParam());
    DeviceModel m = modelWithRunOption(QString::fromUtf8(c->option));
    c->check(m);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, FailureModeTest,
                         ::testing::ValuesIn(FailureModes().begin(), FailureModes().end()),
                         testName);

TEST(FailureModes, RowOptionsTakePrecedenceAndRunModesAddUp) {
    DeviceModel m = modelWithRowOption("wrongseq=5");
    Failure run;
    for (const char* word : {"badcrc", "wrongseq", "pieces=3", "delay=40"})
        ASSERT_TRUE(run.parseOption(word, nullptr)) << word;
    m.setRunFailure(run);

    const auto own = replyTo(m, readRequest(10, 1, 70));
    ASSERT_TRUE(own);
    EXPECT_EQ(own->pieces, 3);
    EXPECT_EQ(own->delayMs, 40);
    Bytes mended = own->bytes;
    mended.back() ^= 0xFF;
    EXPECT_EQ(parse(mended).sequence, 15); // the row's K, not the run's

    const auto other = replyTo(m, readRequest(10, 1, 52));
    ASSERT_TRUE(other);
    EXPECT_TRUE(parse(other->bytes).crcFailed);
    mended = other->bytes;
    mended.back() ^= 0xFF;
    EXPECT_EQ(parse(mended).sequence, 11);

    // A row's failure set while the device runs, as tests do.
    Failure silent;
    silent.silent = true;
    m.setRowFailure(kCleanRow, silent);
    EXPECT_FALSE(replyTo(m, readRequest(12, 1, 52)));
}

// A wrong sequence number that is the request's own would not be wrong, and
// one that overflows would not be a number.
TEST(FailureOption, WrongSequenceIsNeverTheRequestsOwn) {
    for (const int k : {1, 999, 1000, 2000, INT_MAX}) {
        Failure f;
        QString why;
        if (!f.parseOption(QStringLiteral("wrongseq=%1").arg(k), &why)) {
            EXPECT_TRUE(why.contains("bad number")) << k << ": " << why.toStdString();
            continue;
        }
        ParamTable t;
        ASSERT_TRUE(t.parse(QString::fromUtf8(kRows), std::nullopt, nullptr));
        DeviceModel m(std::move(t), {0, false, f});
        const auto a = answerTo(m, readRequest(7, 1, 70));
        EXPECT_EQ(a.result, ANSWER_OK) << k;
        EXPECT_NE(a.sequence, 7) << k;
    }
}

namespace {
template <typename T, typename V>
Failure only(std::optional<T> Failure::*field, V value) {
    Failure f;
    f.*field = T(value);
    return f;
}
} // namespace

TEST(FailureOption, WordsSetTheirMode) {
    const std::vector<std::pair<const char*, Failure>> accepted = {
        {"silent", only(&Failure::silent, true)},
        {"silent=0", only(&Failure::silentFirst, 0)},
        {"silent=3", only(&Failure::silentFirst, 3)},
        {"error=a\\tb\\\\", only(&Failure::errorText, "a\tb\\")},
        {"error=", only(&Failure::errorText, "")},
        {"error", only(&Failure::errorText, "")},
        {"badcrc", only(&Failure::badCrc, true)},
        {"wrongseq", only(&Failure::wrongSequence, 1)},
        {"wrongseq=999", only(&Failure::wrongSequence, 999)},
        {"pieces=1", only(&Failure::pieces, 1)},
        {"delay=0", only(&Failure::delayMs, 0)},
        {"delay=300", only(&Failure::delayMs, 300)},
        {"otherdevice", only(&Failure::otherDevice, 1)},
        {"otherdevice=31", only(&Failure::otherDevice, 31)},
    };
    for (const auto& [word, expected] : accepted) {
        Failure f;
        QString why;
        EXPECT_TRUE(f.parseOption(QString::fromUtf8(word), &why))
            << word << ": " << why.toStdString();
        EXPECT_EQ(f, expected) << word;
        EXPECT_TRUE(f.any()) << word;
    }
}

TEST(FailureOption, BadWordsAreRefusedWithAReason) {
    const std::vector<std::pair<const char*, const char*>> refused = {
        {"bogus", "unknown option \"bogus\""},
        {"=3", "unknown option"},
        {"Silent", "unknown option"},
        {"badcrc=1", "badcrc takes no value"},
        {"silent=", "bad number in \"silent=\" (0 or more)"},
        {"silent=-1", "(0 or more)"},
        {"silent=two", "bad number"},
        {"pieces", "bad number in \"pieces\" (1 or more)"},
        {"pieces=0", "(1 or more)"},
        {"delay=-1", "(0 or more)"},
        {"delay=1.5", "bad number"},
        {"wrongseq=", "(1..999)"},
        {"wrongseq=0", "(1..999)"},
    };
    for (const auto& [word, reason] : refused) {
        Failure f;
        f.delayMs = 5;
        const Failure before = f;
        QString why;
        EXPECT_FALSE(f.parseOption(QString::fromUtf8(word), &why)) << word;
        EXPECT_TRUE(why.contains(QString::fromUtf8(reason))) << word << " -> " << why.toStdString();
        EXPECT_EQ(f, before) << word << " changed the failure though refused";
    }
}
