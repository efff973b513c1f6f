#include "listfileclaim.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace parvault {

namespace {

const QString kJournalSuffix = QStringLiteral("-journal");

// renameat2 without glibc's wrapper, which older systems lack.
int renameNoReplace(const char* from, const char* to) {
#if defined(SYS_renameat2)
    constexpr unsigned kRenameNoReplace = 1; // RENAME_NOREPLACE
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace));
#else
    errno = ENOSYS;
    return -1;
#endif
}

bool processAlive(int64_t pid) {
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

QString ThisHostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0')
        return QStringLiteral("localhost");
    // Dots separate the fields of the name; a host name keeps its first label.
    QString host = QString::fromLocal8Bit(buf).section(QLatin1Char('.'), 0, 0);
    host.replace(QLatin1Char('/'), QLatin1Char('_'));
    return host;
}

QString NewSaveTempName() {
    return kSaveTempPrefix +
           QStringLiteral("%1.%2.%3").arg(ThisHostName()).arg(::getpid()).arg(QRandomGenerator::system()->generate(), 8, 16,
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
        if (!IsDeadSaveLeftover(*owner, host, owner->host == host && processAlive(owner->pid), age))
            continue;
        if (QFile::remove(dir.filePath(name)))
            removed << name;
    }
    return removed;
}

ClaimResult ClaimListFileName(const QString& temp, const QString& name, ClaimWay way) {
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(name);
    const bool any = way == ClaimWay::Auto;
    if (any || way == ClaimWay::RenameNoReplace) {
        if (renameNoReplace(from.constData(), to.constData()) == 0)
            return {ClaimStatus::Claimed, 0};
        if (errno == EEXIST)
            return {ClaimStatus::Taken, 0};
        if (!any || (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP))
            return {ClaimStatus::Failed, errno};
    }
    if (any || way == ClaimWay::HardLink) {
        // NFS and others without the flag: link(2) fails when the name exists.
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
            return {ClaimStatus::Claimed, 0};
        }
        if (errno == EEXIST)
            return {ClaimStatus::Taken, 0};
        if (!any || (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK))
            return {ClaimStatus::Failed, errno};
    }

    // No hard links either (some SMB shares): the name is taken by an empty
    // file made exclusively, which the whole file then replaces. An empty
    // file holds no list header, so the tree passes over it meanwhile.
    const int fd = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return errno == EEXIST ? ClaimResult{ClaimStatus::Taken, 0} : ClaimResult{ClaimStatus::Failed, errno};
    ::close(fd);
    if (::rename(from.constData(), to.constData()) != 0) {
        const int err = errno;
        ::unlink(to.constData());
        return {ClaimStatus::Failed, err};
    }
    return {ClaimStatus::Claimed, 0};
}

} // namespace parvault
