// Each of the simulator's failure modes, met by a read over the serial line
// and over UDP: what the row shows, how often it was asked, and that the
// exchange goes on to the next row. One test per mode, named after it.

#include "faultrows.h"
#include "rig.h"

using namespace parvault;
using namespace parvault::testing;

namespace {

enum class Route { Serial, Udp };

const RowSpec kGoodRow{1, 5, 0, KindPlain};

class FailureMode : public ::testing::TestWithParam<Route> {
protected:
    // Reads the fault row (holding "старое" before) and then a good row.
    void read(const FaultRow& fault) {
        rig = std::make_unique<ModelRig>(faultRowLines() + QStringLiteral("1 5 0 | 12,5 | кПа\n"));
        rig->settings.useIp = GetParam() == Route::Udp ? 1 : 0;
        rig->setRows({{fault.channel, fault.param, 0, KindPlain, QStringLiteral("старое")}, kGoodRow});
        rig->controller.OnReadCommand();
        ASSERT_TRUE(rig->runUntil([&] {
            if (static_cast<int>(sendTicks.size()) < rig->requests(fault.channel, fault.param))
                sendTicks.push_back(rig->ticks);
            if (doneTick < 0 && rig->rows.icon(0) != IconQueued)
                doneTick = rig->ticks;
            return !rig->controller.busy();
        }));
        requests = rig->requests(fault.channel, fault.param);
        // Whatever the fault, the exchange goes on to the next row.
        EXPECT_EQ(rig->rows.text(1, ColValue), QStringLiteral("12,5"));
        EXPECT_EQ(rig->rows.icon(1), IconNeutral);
    }
    QString value() const { return rig->rows.text(0, ColValue); }
    int32_t icon() const { return rig->rows.icon(0); }

    std::unique_ptr<ModelRig> rig;
    int doneTick = -1;          // the tick at which the fault row was settled
    std::vector<int> sendTicks; // the tick of each request for it
    int requests = 0;
};

} // namespace

// Three requests 11 ticks apart (the wait of one second), the row marked
// unanswered at 33 ticks; the percentage moves on.
TEST_P(FailureMode, SilentRowIsAskedThreeTimesThenMarkedUnanswered) {
    read(kSilentRow);
    EXPECT_EQ(requests, 3);
    EXPECT_EQ(sendTicks, (std::vector<int>{0, 11, 22}));
    EXPECT_EQ(doneTick, 33);
    EXPECT_EQ(icon(), IconReadUnanswered);
    EXPECT_EQ(value(), QStringLiteral("старое"));
    EXPECT_EQ(rig->controller.rowsLeft(), 0);
}

TEST_P(FailureMode, SilentOnceRowIsTakenFromTheResend) {
    read(kSilentOnceRow);
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(sendTicks, (std::vector<int>{0, 11}));
    EXPECT_EQ(doneTick, 11);
    EXPECT_EQ(value(), QStringLiteral("6"));
    EXPECT_EQ(icon(), IconNeutral);
}

// An error answer is shown in the row; it is not asked again and does not
// count as done.
TEST_P(FailureMode, ErrorTextIsShownAndNotAskedAgain) {
    read(kErrorRow);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(value(), kErrorRowText);
    EXPECT_EQ(icon(), IconSent);
    EXPECT_EQ(rig->controller.rowsLeft(), 1);
}

TEST_P(FailureMode, BadCrcIsAnErrorAndTheValueIsNotTaken) {
    read(kBadCrcRow);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(value(), QStringLiteral("старое"));
    EXPECT_EQ(icon(), IconSent);
    EXPECT_EQ(rig->controller.rowsLeft(), 1);
}

// An answer carrying another sequence number is never taken: the row is
// asked again and times out with its value untouched.
TEST_P(FailureMode, WrongSequenceIsNeverTaken) {
    read(kWrongSeqRow);
    EXPECT_EQ(requests, 3);
    EXPECT_EQ(icon(), IconReadUnanswered);
    EXPECT_EQ(value(), QStringLiteral("старое"));
}

// On the line the pieces make one answer; over UDP each piece is a datagram
// of its own, none of them an answer, so the row times out.
TEST_P(FailureMode, AnswerInPiecesIsWholeOnTheLineOnlyAndNeverHalfTaken) {
    read(kPiecesRow);
    if (GetParam() == Route::Serial) {
        EXPECT_EQ(requests, 1);
        EXPECT_EQ(value(), QStringLiteral("4"));
        EXPECT_EQ(icon(), IconNeutral);
    } else {
        EXPECT_EQ(requests, 3);
        EXPECT_EQ(value(), QStringLiteral("старое"));
        EXPECT_EQ(icon(), IconReadUnanswered);
    }
}

// An answer 300 ms late, inside the wait: taken from the one request, on the
// first tick after it came, with no resend.
TEST_P(FailureMode, DelayedAnswerIsWaitedForAndTaken) {
    read(kDelayedRow);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(doneTick, 3);
    EXPECT_EQ(value(), QStringLiteral("7"));
    EXPECT_EQ(icon(), IconNeutral);
}

// Another device's answer with this row's number, channel and parameter is
// never taken: the row is asked again and times out with its value untouched.
TEST_P(FailureMode, OtherDevicesAnswerIsNeverTaken) {
    read(kOtherDeviceRow);
    EXPECT_EQ(requests, 3);
    EXPECT_EQ(icon(), IconReadUnanswered);
    EXPECT_EQ(value(), QStringLiteral("старое"));
}

INSTANTIATE_TEST_SUITE_P(Routes, FailureMode, ::testing::Values(Route::Serial, Route::Udp),
                         [](const ::testing::TestParamInfo<Route>& info) {
                             return info.param == Route::Serial ? std::string("Serial") : std::string("Udp");
                         });
