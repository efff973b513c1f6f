// The simulator's failure modes, one parameter row each, for the tests that
// meet them. Every row is on channel 1 below parameter 300 (read in the first
// pass) and holds its own value, so a test can tell which answer it took.
#pragma once

#include <QString>

#include <array>

namespace parvault::testing {

struct FaultRow {
    int channel;
    int param;
    const char* value;  // what the device holds
    const char* option; // the simulator's failure option for the row
    const char* name;   // the failure mode, as test names say it
};

inline constexpr FaultRow kSilentRow{1, 40, "1", "silent", "Silent"};
inline constexpr FaultRow kBadCrcRow{1, 41, "2", "badcrc", "BadCrc"};
inline constexpr FaultRow kWrongSeqRow{1, 42, "3", "wrongseq", "WrongSequence"};
inline constexpr FaultRow kPiecesRow{1, 43, "4", "pieces=4", "Pieces"};
inline constexpr FaultRow kErrorRow{1, 44, "5", "error=Запрещено", "ErrorText"};
inline constexpr FaultRow kSilentOnceRow{1, 45, "6", "silent=1", "SilentOnce"};
inline constexpr FaultRow kDelayedRow{1, 46, "7", "delay=300", "Delayed"};
inline constexpr FaultRow kOtherDeviceRow{1, 47, "8", "otherdevice", "OtherDevice"};

inline constexpr std::array kFaultRows{kSilentRow, kBadCrcRow,     kWrongSeqRow, kPiecesRow,
                                       kErrorRow,  kSilentOnceRow, kDelayedRow,  kOtherDeviceRow};

// The error text kErrorRow answers with.
inline const QString kErrorRowText = QStringLiteral("Запрещено");

// The parameter-file lines that give the device these rows.
inline QString faultRowLines() {
    QString lines;
    for (const FaultRow& r : kFaultRows)
        lines += QStringLiteral("%1 %2 0 | %3 | | %4\n")
                     .arg(r.channel)
                     .arg(r.param)
                     .arg(QString::fromUtf8(r.value), QString::fromUtf8(r.option));
    return lines;
}

} // namespace parvault::testing
