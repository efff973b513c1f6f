#pragma once

// Files written for the user (export tables, exchange traces): never one of
// the program's own databases, and written beside the old file and renamed
// over it, so that a write that fails half-way leaves the older file whole.

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <memory>

namespace parvault {

// Why `path` must not be written as an output file: it is the main database
// or a list file of `workingFolder` (`listFiles` are names in it), or a file
// whose first page is a database (SQLite or Jet), whatever its name. Empty
// when it may be written. In English, naming the file as given.
QString WhyNotAnOutputFile(const QString& path, const QString& workingFolder, const QStringList& listFiles);

// A file written beside its final name and put in place by commit(). A
// target that exists and is no regular file (a terminal, a pipe, a device)
// is written directly: nothing can be renamed over it. Every failure gives
// the step that failed and its cause, in English.
class OutputFile {
public:
    explicit OutputFile(const QString& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open(QString* why);
    bool write(const QByteArray& bytes, QString* why);
    // Everything written so far reaches the file (a trace as it goes).
    bool flush(QString* why);
    // Puts the written file in place; without it the old file stays.
    bool commit(QString* why);

private:
    QString m_path;
    std::unique_ptr<QFileDevice> m_file;
    bool m_direct = false;
};

// The whole of `bytes` as the file `path`, through OutputFile.
bool WriteOutputFile(const QString& path, const QByteArray& bytes, QString* why);

// The cause of a failed file operation from its error text, in the user's
// words: no space on the disk, the file size limit, no permission.
QString FileFailureCause(const QFileDevice& file);

} // namespace parvault
