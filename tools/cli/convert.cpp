#include "convert.h"

#include "cliargs.h"
#include "jetconvert.h"

#include <QDir>

namespace parvault::cli {

int RunConvert(std::ostream& out) {
    const QStringList files =
        QDir::current().entryList({QStringLiteral("*.mdb")}, QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    int status = kExitOk;
    for (const QString& name : files) {
        const ConvertResult r = ConvertJetFile(name);
        QString line;
        switch (r.status) {
        case ConvertStatus::Converted:
            line = QStringLiteral("converted, the original kept as %1").arg(r.keptAs);
            break;
        case ConvertStatus::AlreadyOwn:
            line = QStringLiteral("already in the program's format");
            break;
        case ConvertStatus::NotParameterDatabase:
            line = QStringLiteral("not a parameter database, left as it is");
            break;
        case ConvertStatus::Damaged:
            line = QStringLiteral("damaged, left as it is");
            status = kExitRowsFailed;
            break;
        case ConvertStatus::Password:
            line = QStringLiteral("protected by a password, left as it is");
            status = kExitRowsFailed;
            break;
        case ConvertStatus::Newer:
            line = QStringLiteral("in the newer .accdb format, which the program cannot read, left as it is");
            status = kExitRowsFailed;
            break;
        case ConvertStatus::Failed:
            line = QStringLiteral("not converted (%1), left as it is").arg(r.detail);
            status = kExitRowsFailed;
            break;
        }
        out << name.toStdString() << ": " << line.toStdString() << '\n';
    }
    out.flush();
    return status;
}

} // namespace parvault::cli
