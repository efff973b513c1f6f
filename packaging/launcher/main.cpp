// parvault2-launch: what the desktop menu entry starts. The window works in
// its current folder, and a menu starts programs in the home folder, where no
// main database is; so this opens the window in a working folder of the
// user's and gives a first start the demo main database to begin with.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

constexpr char kMainDatabase[] = "PARVLT2.mdb";
constexpr char kDefaultFolder[] = "Parvault2"; // under the home folder (Documents on Windows)
#ifdef _WIN32
constexpr char kWindowProgram[] = "parvault2.exe";
#else
constexpr char kWindowProgram[] = "parvault2";
#endif
constexpr char kTitle[] = "Parvault 2";

const char* const kHelp = R"(Usage: parvault2-launch [--dir FOLDER] [ARGUMENTS...]

Opens the Parvault 2 window in a working folder, ~/Parvault2 (on Windows
Documents\Parvault2) unless --dir names another; the desktop menu entry runs this. The folder is created when
missing. When it holds no main database PARVLT2.mdb, the demo main database
is copied into it and a message says so; a database already there is never
touched. ARGUMENTS go to the window (x: select whole rows).

Started from a terminal, parvault2 itself works in the current folder.

Options:
  --dir FOLDER   the working folder (default ~/Parvault2, Documents\Parvault2)
  --help         this text
  --version      the version
)";

// The demo database travels with the programs: found relative to this one,
// so an unpacked package tree works as well as the installed one.
QString demoDatabasePath() {
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral(PARVAULT_DATA_FROM_BIN "/") + QLatin1String(kMainDatabase));
}

void tell(const QString& text, QMessageBox::Icon icon) {
    std::fprintf(stderr, "parvault2-launch: %s\n", text.toLocal8Bit().constData());
    // Nobody can read a box on a screen that does not exist.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return;
    QMessageBox box(icon, QString::fromLatin1(kTitle), text, QMessageBox::Ok);
    box.exec();
}

struct Prepared {
    bool ok = false;
    QString message; // for the user; empty when there is nothing to say
};

Prepared prepareFolder(const QString& folder) {
    Prepared r;
    const QFileInfo info(folder);
    const bool created = !info.exists();
    if (created && !QDir().mkpath(folder)) {
        r.message = QStringLiteral("Не удаётся создать рабочую папку %1.").arg(folder);
        return r;
    }
    if (!QFileInfo(folder).isDir()) {
        r.message = QStringLiteral("%1 — не папка; программа не может в ней работать.").arg(folder);
        return r;
    }
    r.ok = true;
    const QString target = QDir(folder).filePath(QLatin1String(kMainDatabase));
    if (QFileInfo::exists(target))
        return r;

    const QString demo = demoDatabasePath();
    // Copy under a temporary name and rename: a copy cut short must never
    // look like a main database.
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QFile::copy(demo, partial) || !QFile::rename(partial, target)) {
        QFile::remove(partial);
        r.message = QStringLiteral("Рабочая папка: %1\n\nВ ней нет основной базы %2, а "
                                   "демонстрационную базу (%3) скопировать не удалось.")
                        .arg(folder, QLatin1String(kMainDatabase), demo);
        return r;
    }
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadGroup | QFileDevice::ReadOther);
    r.message = QStringLiteral("Рабочая папка: %1\n\n%2В ней не было основной базы %3, "
                               "поэтому туда скопирована демонстрационная база. "
                               "Сохранённые списки и файл настроек Parvault2.i "
                               "программа тоже хранит в этой папке.")
                    .arg(folder,
                         created ? QStringLiteral("Папка создана при первом запуске. ") : QString(),
                         QLatin1String(kMainDatabase));
    return r;
}

QString defaultFolder() {
#ifdef _WIN32
    // Users look for their files in Documents; the home folder itself is hidden
    // behind the profile there.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty())
        return QDir(documents).filePath(QLatin1String(kDefaultFolder));
#endif
    return QDir::home().filePath(QLatin1String(kDefaultFolder));
}

} // namespace

int main(int argc, char* argv[]) {
    // --help and --version are answered before any display is opened.
    std::optional<QString> chosenFolder;
    std::vector<std::string> windowArgs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("parvault2-launch %s\n", PARVAULT_VERSION);
            return 0;
        }
        if (a == "--dir" || a.rfind("--dir=", 0) == 0) {
            std::string value;
            if (a == "--dir") {
                if (i + 1 >= argc) {
                    std::fputs("parvault2-launch: --dir needs a folder (see --help)\n", stderr);
                    return 2;
                }
                value = argv[++i];
            } else {
                value = a.substr(6);
            }
            chosenFolder = QFileInfo(QString::fromLocal8Bit(value.c_str())).absoluteFilePath();
            continue;
        }
        windowArgs.push_back(a);
    }

    std::string window;
    std::string folderPath;
    {
        int qtArgc = 1;
        char* qtArgv[] = {argv[0], nullptr};
        QApplication app(qtArgc, qtArgv);
        const QString folder = chosenFolder.value_or(defaultFolder());
        const Prepared prepared = prepareFolder(folder);
        if (!prepared.ok) {
            tell(prepared.message, QMessageBox::Critical);
            return 1;
        }
        const QString windowPath =
            QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(kWindowProgram));
        if (!QFileInfo(windowPath).isExecutable()) {
            tell(QStringLiteral("Не найдена программа %1.").arg(windowPath), QMessageBox::Critical);
            return 1;
        }
        if (!prepared.message.isEmpty())
            tell(prepared.message, QMessageBox::Information);
        window = QFile::encodeName(windowPath).toStdString();
        folderPath = QFile::encodeName(folder).toStdString();
    } // the launcher's display connection is closed before the window takes over

#ifdef _WIN32
    // No exec there: the window is started in the folder and this process ends.
    QStringList arguments;
    for (const std::string& a : windowArgs)
        arguments << QString::fromLocal8Bit(a.c_str());
    if (!QProcess::startDetached(QFile::decodeName(window.c_str()), arguments, QFile::decodeName(folderPath.c_str()))) {
        std::fprintf(stderr, "parvault2-launch: cannot start %s in %s\n", window.c_str(), folderPath.c_str());
        return 1;
    }
    return 0;
#else
    if (::chdir(folderPath.c_str()) != 0) {
        std::fprintf(stderr, "parvault2-launch: cannot work in %s: %s\n", folderPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    // The window replaces this process, so the menu's start-up notice ends
    // when the window appears.
    std::vector<char*> args;
    args.push_back(window.data());
    for (std::string& a : windowArgs)
        args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(window.c_str(), args.data());
    std::fprintf(stderr, "parvault2-launch: cannot start %s: %s\n", window.c_str(), std::strerror(errno));
    return 1;
#endif
}
