#include "cli.h"

#include "clicommands.h"
#include "convert.h"

#include <QDir>
#include <QFileInfo>

namespace parvault::cli {

namespace {

// Puts the current directory back however the command ends.
class CwdGuard {
public:
    CwdGuard() : saved_(QDir::currentPath()) {}
    ~CwdGuard() { QDir::setCurrent(saved_); }
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;

private:
    QString saved_;
};

} // namespace

int Cli::run() {
    switch (o_.command) {
    case Command::Help:
        print(UsageText().toUtf8());
        return kExitOk;
    case Command::Version:
        print(QByteArray(kProgram) + " " + QByteArray(PARVAULT_VERSION) + "\n");
        return kExitOk;
    default:
        break;
    }

    // Paths given on the command line are the caller's, not the work folder's.
    if (o_.exportPath)
        o_.exportPath = QFileInfo(*o_.exportPath).absoluteFilePath();
    if (o_.targetsPath) {
        targetsTyped_ = *o_.targetsPath; // messages name the file as the user did
        o_.targetsPath = QFileInfo(*o_.targetsPath).absoluteFilePath();
    }
    if (o_.trace && *o_.trace != QLatin1String("-"))
        o_.trace = QFileInfo(*o_.trace).absoluteFilePath();
    if (o_.connection.portLinkFolder)
        o_.connection.portLinkFolder = QFileInfo(*o_.connection.portLinkFolder).absoluteFilePath();

    CwdGuard cwd;
    if (o_.workDir && !QDir::setCurrent(*o_.workDir))
        return fail(QStringLiteral("cannot work in %1: no such folder").arg(*o_.workDir));

    switch (o_.command) {
    case Command::Tree:
        return commandTree();
    case Command::Settings:
        return commandSettings();
    case Command::Save:
        return commandSave();
    case Command::Convert:
        return RunConvert(env_.out);
    case Command::Read:
        return commandExchange(false);
    case Command::Write:
        return commandExchange(true);
    default:
        return kExitError;
    }
}

int RunCli(const QStringList& args, CliEnvironment& env) {
    ParseResult parsed = ParseArgs(args);
    if (!parsed.ok()) {
        env.err << kProgram << ": " << parsed.error.toStdString() << '\n'
                << "Try '" << kProgram << " --help'.\n";
        return kExitError;
    }
    Cli cli(std::move(parsed.options), env);
    return cli.run();
}

} // namespace parvault::cli
