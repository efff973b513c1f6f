#pragma once

// Turning a Jet file into one of our own, so that it can be written: the
// converted file takes the name, the original is kept beside it as
// NAME.mdb.jet (which no scan for "*.mdb" picks up). At every moment NAME.mdb
// is a whole file, the original or the converted one.

#include <QString>

namespace parvault {

inline const QString kJetKeptSuffix = QStringLiteral(".jet");
inline const QString kConvertTempSuffix = QStringLiteral(".tmp");

enum class ConvertStatus {
    Converted,
    AlreadyOwn,            // one of our own files: nothing to do
    NotParameterDatabase,  // a database without our tables, or no database
    Damaged,
    Password,
    Newer,
    Failed,                // the file is fine, the conversion could not be made
};

struct ConvertResult {
    ConvertStatus status = ConvertStatus::Failed;
    QString keptAs; // the original's new name, when converted
    QString detail; // what went wrong, in English, when not converted
    int sqliteCode = 0;
    int systemErrno = 0;
};

// A symbolic link is followed: the file it points to is converted in its
// own folder and keptAs names the original there.
ConvertResult ConvertJetFile(const QString& fileName);

// Test seam: called between the steps of a conversion with the step's name
// ("written", "kept", "renamed"), so a test can stop the process there.
using ConvertStepHook = void (*)(const char* step);
void SetConvertStepHook(ConvertStepHook hook);

} // namespace parvault
