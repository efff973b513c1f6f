#pragma once

// A read or write for every device of a targets file: the devices' own
// settings and rows, the run, the report naming each device, and a table per
// device for --export.

#include "cli.h"
#include "devicerun.h"

#include <QString>

#include <optional>

namespace parvault::cli {

struct TargetRunSetup {
    QString targetsPath;  // absolute
    QString targetsShown; // as the user gave it, for messages
    std::optional<QString> exportFolder;
    // The working folder and its list files, which no table may replace.
    QString workingFolder;
    QStringList listFiles;
    int jobs = kDefaultJobs;
    Format format = Format::Text;
    bool progressLine = false;
    ConnectionSettings base; // the settings file under the options; each device's line goes over it
    ListInfo list;
};

// rows: the loaded list with any --set values in; plan: the rows and what to
// do with them. Prints the report; returns the worst of the devices' statuses
// (2 without running anything when the file or a device's settings are wrong).
int runTargets(const TargetRunSetup& setup, const MemoryRowTable& rows, const ExchangePlan& plan,
               CliEnvironment& env);

} // namespace parvault::cli
