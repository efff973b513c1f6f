#pragma once

// What became of each row of an exchange, and the three ways of printing it.

#include "cliargs.h"
#include "compare.h"
#include "rowtable.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace parvault::cli {

enum class Outcome {
    ReadOk,         // the device answered with the value
    ReadError,      // the device answered with an error text, or a broken frame
    ReadUnanswered, // three requests, no answer
    NotRead,        // the exchange ended before the row's turn
    Written,        // the device confirmed the write
    Refused,        // the device refused it (its text is in the value column)
    NotSent,        // the value does not fit a write request
    WriteUnanswered,
    NotWritten,     // the exchange ended before the row's turn
};

const char* OutcomeName(Outcome outcome);
bool Succeeded(Outcome outcome);
// A request for the row went out and nothing came back.
bool Unanswered(Outcome outcome);

// The outcome of a selected row from the icon the controller left on it.
// typedValue: for writes, the value the row had when the write started, which
// tells a value that was never sent from a device's refusal.
Outcome ReadOutcome(const ParamRow& row);
Outcome WriteOutcome(const ParamRow& row, const QString& typedValue);

struct RowReport {
    int listIndex = 0; // from 0
    ParamRow row;
    Outcome outcome = Outcome::NotRead;
    QString message;   // the device's text, or why the row was not sent
    // A compare: the value the list held before the read, and the verdict.
    QString stored;
    Verdict verdict = Verdict::NotRead;
    // A write read back (--only-differing, --verify): what came of the row;
    // `stored` is the value it was to hold.
    std::optional<WriteBack> writeBack;
};

struct ListInfo {
    QString title;     // list name, or the device type name for template rows
    QString fileName;  // the list file, or the main database
    int listNumber = 0;
    int typeCode = 0;
    QString typeName;
};

// A list made by a save: its number in the tree, name and file.
struct SavedList {
    int number = 0;
    QString name;
    QString fileName;
    int rows = 0;
};

struct ExchangeReport {
    QString command;   // "read" or "write"
    ListInfo list;
    std::vector<RowReport> rows;
    int exitStatus = 0;
    bool compare = false;
    bool writeBack = false; // rows name their write-back outcomes
    std::optional<SavedList> savedAs;
};

// The rows as the window's text table (the same lines the export writes,
// as UTF-8 with LF ends), each row followed by its outcome; CSV with a
// header line; or one JSON document.
QByteArray FormatReport(const ExchangeReport& report, Format format);

// One device of a --targets run.
struct DeviceReport {
    QString name;
    QString route;     // the connection, as the settings command prints it
    std::vector<RowReport> rows;
    int exitStatus = 0;
    QStringList problems; // why the device failed as a whole, when it did
};

struct DevicesReport {
    QString command;
    ListInfo list;
    bool compare = false;
    bool writeBack = false;
    std::vector<DeviceReport> devices; // in the order of the targets file
    int exitStatus = 0;                // the worst of the devices'
};

// As FormatReport, each row naming its device: a section per device in
// text, a first column "device" in CSV, a "device" field in JSON (whose
// "devices" array adds each device's route, summary and exit status).
QByteArray FormatDevicesReport(const DevicesReport& report, Format format);

// The list a save made: a tree line ("N  NAME  (FILE)"), CSV or JSON.
QByteArray FormatSavedList(const SavedList& list, Format format);

// Control characters shown as escapes (\n, \t, \r, \xNN), so that a name
// or value holding one cannot break a line of text output.
QString EscapeControls(const QString& text);

// CSV field quoting: quotes when the text holds a comma, quote or line break.
QString CsvField(const QString& text);

} // namespace parvault::cli
