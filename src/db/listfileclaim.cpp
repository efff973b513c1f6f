#include "listfileclaim.h"

#include "fileops.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace parvault {

namespace {

const QString kJournalSuffix = QStringLiteral("-journal");

// Whether a way that failed gives the name up to the next way.
bool nextWayMayTry(const fileops::FsResult& r, bool any) {
    return any && r.error == fileops::FsError::NotSupported;
}

} // namespace

QString ThisHostName() {
    const QString machine = fileops::MachineName();
    if (machine.isEmpty())
        return QStringLiteral("localhost");
    // Dots separate the fields of the name; a host name keeps its first label.
    QString host = machine.section(QLatin1Char('.'), 0, 0);
    host.replace(QLatin1Char('/'), QLatin1Char('_'));
    return host;
}

QString NewSaveTempName() {
    return kSaveTempPrefix +
           QStringLiteral("%1.%2.%3").arg(ThisHostName()).arg(fileops::CurrentProcessId()).arg(QRandomGenerator::system()->generate(), 8, 16,
                                                                               QLatin1Char('0')) +
           kSaveTempSuffix;
}

std::optional<SaveTempOwner> ParseSaveTempName(const QString& fileName) {
    QString name = fileName;
    if (name.endsWith(kJournalSuffix))
        name.chop(kJournalSuffix.size());
    if (!name.startsWith(kSaveTempPrefix) || !name.endsWith(kSaveTempSuffix))
        return std::nullopt;
    const QStringList parts =
        name.mid(kSaveTempPrefix.size(), name.size() - kSaveTempPrefix.size() - kSaveTempSuffix.size())
            .split(QLatin1Char('.'));
    if (parts.size() != 3 || parts[0].isEmpty())
        return std::nullopt;
    bool pidOk = false, randomOk = false;
    const qint64 pid = parts[1].toLongLong(&pidOk);
    parts[2].toUInt(&randomOk, 16);
    if (!pidOk || !randomOk || pid <= 0)
        return std::nullopt;
    return SaveTempOwner{parts[0], pid};
}

bool IsDeadSaveLeftover(const SaveTempOwner& owner, const QString& thisHost, bool ownerAlive, int64_t ageSeconds) {
    if (owner.host == thisHost)
        return !ownerAlive;
    return ageSeconds >= kForeignLeftoverAgeSeconds;
}

QStringList CleanSaveLeftovers() {
    QStringList removed;
    const QString host = ThisHostName();
    const QDir dir = QDir::current();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QStringList names =
        dir.entryList({kSaveTempPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const std::optional<SaveTempOwner> owner = ParseSaveTempName(name);
        if (!owner)
            continue;
        const QFileInfo info(dir.filePath(name));
        const int64_t age = info.lastModified().toUTC().secsTo(now);
        if (!IsDeadSaveLeftover(*owner, host, owner->host == host && fileops::ProcessAlive(owner->pid), age))
            continue;
        if (QFile::remove(dir.filePath(name)))
            removed << name;
    }
    return removed;
}

ClaimResult ClaimListFileName(const QString& temp, const QString& name, ClaimWay way) {
    using fileops::FsError;
    const bool any = way == ClaimWay::Auto;
    if (any || way == ClaimWay::RenameNoReplace) {
        const fileops::FsResult r = fileops::RenameNoReplace(temp, name);
        if (r.ok())
            return {ClaimStatus::Claimed, 0};
        if (r.error == FsError::Exists)
            return {ClaimStatus::Taken, 0};
        if (!nextWayMayTry(r, any))
            return {ClaimStatus::Failed, r.systemCode};
    }
    if (any || way == ClaimWay::HardLink) {
        // NFS and others without the flag: a hard link fails when the name exists.
        const fileops::FsResult r = fileops::HardLink(temp, name);
        if (r.ok()) {
            fileops::RemoveFile(temp);
            return {ClaimStatus::Claimed, 0};
        }
        if (r.error == FsError::Exists)
            return {ClaimStatus::Taken, 0};
        if (!nextWayMayTry(r, any))
            return {ClaimStatus::Failed, r.systemCode};
    }

    // No hard links either (some SMB shares): the name is taken by an empty
    // file made exclusively, which the whole file then replaces. An empty
    // file holds no list header, so the tree passes over it meanwhile.
    const fileops::FsResult placeholder = fileops::CreateExclusive(name);
    if (!placeholder.ok())
        return placeholder.error == FsError::Exists ? ClaimResult{ClaimStatus::Taken, 0}
                                                     : ClaimResult{ClaimStatus::Failed, placeholder.systemCode};
    const fileops::FsResult moved = fileops::RenameReplace(temp, name);
    if (!moved.ok()) {
        fileops::RemoveFile(name);
        return {ClaimStatus::Failed, moved.systemCode};
    }
    return {ClaimStatus::Claimed, 0};
}

} // namespace parvault
