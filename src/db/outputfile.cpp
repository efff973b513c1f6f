#include "outputfile.h"

#include "fileops.h"
#include "jetimport.h"
#include "recordsets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace parvault {

namespace {

const QByteArray kSqliteHeader("SQLite format 3", 16); // with its terminating zero
constexpr qint64 kHeaderBytes = 16;

bool startsAsSqlite(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.read(kHeaderBytes) == kSqliteHeader;
}

bool sameFile(const QFileInfo& a, const QFileInfo& b) {
    if (!a.exists() || !b.exists())
        return QDir::cleanPath(a.absoluteFilePath()) == QDir::cleanPath(b.absoluteFilePath());
    return a.canonicalFilePath() == b.canonicalFilePath();
}

// `err` is the system's code of the failure when Qt left it, else 0.
QString causeOf(int err, const QFileDevice& file) {
    if (err == 0)
        return FileFailureCause(file);
    switch (fileops::ClassifySystemCode(err)) {
    case fileops::FsError::NoSpace:
        return QStringLiteral("no space left on the disk");
    case fileops::FsError::TooLarge:
        return QStringLiteral("the file size limit was reached");
    case fileops::FsError::NoPermission:
        return QStringLiteral("no permission to write there (%1)").arg(fileops::SystemErrorText(err));
    default:
        return fileops::SystemErrorText(err);
    }
}

} // namespace

QString WhyNotAnOutputFile(const QString& path, const QString& workingFolder, const QStringList& listFiles) {
    const QFileInfo target(path);
    const QDir folder(workingFolder);
    if (sameFile(target, QFileInfo(folder.filePath(QString::fromLatin1(kMainDatabaseName)))))
        return QStringLiteral("%1 is the main database %2; choose another file").arg(path, kMainDatabaseName);
    for (const QString& list : listFiles)
        if (sameFile(target, QFileInfo(folder.filePath(list))))
            return QStringLiteral("%1 is the list file %2 of the working folder; choose another file").arg(path, list);
    if (target.isFile() && (startsAsSqlite(path) || IsJetFile(path)))
        return QStringLiteral("%1 is a database file; choose another file").arg(path);
    return {};
}

QString FileFailureCause(const QFileDevice& file) {
    // Qt words a failure with the system's text for its code, when it keeps it.
    const QString text = file.errorString();
    switch (fileops::ClassifySystemErrorText(text)) {
    case fileops::FsError::NoSpace:
        return QStringLiteral("no space left on the disk");
    case fileops::FsError::TooLarge:
        return QStringLiteral("the file size limit was reached");
    case fileops::FsError::NoPermission:
        return QStringLiteral("no permission to write there (%1)").arg(text);
    default:
        return text;
    }
}

OutputFile::OutputFile(const QString& path) : m_path(path) {
    const QFileInfo info(path);
    m_direct = info.exists() && !info.isFile();
    if (m_direct)
        m_file = std::make_unique<QFile>(path);
    else
        m_file = std::make_unique<QSaveFile>(path);
}

OutputFile::~OutputFile() = default; // an uncommitted QSaveFile removes its file

bool OutputFile::open(QString* why) {
    fileops::ClearLastSystemCode();
    if (m_file->open(QIODevice::WriteOnly | (m_direct ? QIODevice::Unbuffered : QIODevice::NotOpen)))
        return true;
    const int err = fileops::LastSystemCode();
    *why = m_direct ? QStringLiteral("%1: it cannot be opened: %2").arg(m_path, causeOf(err, *m_file))
                    : QStringLiteral("%1: the new file beside it cannot be made: %2").arg(m_path, causeOf(err, *m_file));
    return false;
}

bool OutputFile::write(const QByteArray& bytes, QString* why) {
    fileops::ClearLastSystemCode();
    if (m_file->write(bytes) == bytes.size())
        return true;
    const int err = fileops::LastSystemCode();
    *why = QStringLiteral("%1: writing failed: %2").arg(m_path, causeOf(err, *m_file));
    return false;
}

bool OutputFile::flush(QString* why) {
    fileops::ClearLastSystemCode();
    if (m_file->flush())
        return true;
    const int err = fileops::LastSystemCode();
    *why = QStringLiteral("%1: writing failed: %2").arg(m_path, causeOf(err, *m_file));
    return false;
}

bool OutputFile::commit(QString* why) {
    if (!flush(why))
        return false;
    if (m_direct) {
        m_file->close();
        return true;
    }
    fileops::ClearLastSystemCode();
    if (static_cast<QSaveFile&>(*m_file).commit())
        return true;
    const int err = fileops::LastSystemCode();
    *why = QStringLiteral("%1: the written file cannot be put in place: %2").arg(m_path, causeOf(err, *m_file));
    return false;
}

bool WriteOutputFile(const QString& path, const QByteArray& bytes, QString* why) {
    OutputFile out(path);
    return out.open(why) && out.write(bytes, why) && out.commit(why);
}

} // namespace parvault
