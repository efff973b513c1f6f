#include "jetimport.h"

#include "daoexception.h"
#include "daosql.h"
#include "daostatement.h"
#include "jetprobe.h"
#include "jetstream.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <sqlite3.h>

#include <charconv>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#ifndef PARVAULT_JETREAD_BUILD_PATH
#define PARVAULT_JETREAD_BUILD_PATH ""
#endif

namespace parvault {

namespace {

constexpr const char* kReaderName = "parvault2-jetread";

struct CloseConnection {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

[[noreturn]] void damaged(const QString& fileName, const std::string& why) {
    throw CDaoException(fileName.toUtf8().toStdString() + ": " + why, kJetDamagedCode);
}

// Thrown inside the parser when a record runs past the bytes received so far.
struct NeedMore {};

// Reads one record at a time from what the helper has sent so far; every
// length is checked against what is there.
class StreamReader {
public:
    StreamReader(const QByteArray& data, qsizetype pos) : m_data(data), m_pos(pos) {}
    qsizetype pos() const { return m_pos; }
    char tag() { return static_cast<char>(take(1)[0]); }
    uint16_t u16() {
        const auto* p = reinterpret_cast<const uint8_t*>(take(2));
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    uint32_t u32() {
        const auto* p = reinterpret_cast<const uint8_t*>(take(4));
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    // Null when the value is Null.
    std::optional<QByteArray> value() {
        const uint32_t n = u32();
        if (n == jet::kNullLength)
            return std::nullopt;
        return QByteArray(take(n), static_cast<qsizetype>(n));
    }
    // The bytes of a value inside the stream; a null data pointer for Null.
    std::string_view rawValue() {
        const uint32_t n = u32();
        if (n == jet::kNullLength)
            return {};
        const char* p = take(n);
        return n == 0 ? std::string_view("", 0) : std::string_view(p, n);
    }

private:
    const char* take(size_t n) {
        if (n > static_cast<size_t>(m_data.size() - m_pos))
            throw NeedMore{};
        const char* p = m_data.constData() + m_pos;
        m_pos += static_cast<qsizetype>(n);
        return p;
    }
    const QByteArray& m_data;
    qsizetype m_pos;
};

enum class Storage { Integer, Real, Text, None };

Storage storageOf(uint8_t type) {
    switch (type) {
    case jet::kColBool: case jet::kColByte: case jet::kColInt: case jet::kColLong:
        return Storage::Integer;
    case jet::kColMoney: case jet::kColFloat: case jet::kColDouble:
        return Storage::Real;
    case jet::kColText: case jet::kColMemo: case jet::kColDateTime:
        return Storage::Text;
    default:
        return Storage::None;
    }
}

// The declarations our own files use, so that a table reads the same.
QString declarationOf(uint8_t type) {
    switch (type) {
    case jet::kColBool: case jet::kColByte: case jet::kColInt: case jet::kColLong:
        return QStringLiteral("LONG");
    case jet::kColText:
        return QStringLiteral("TEXT(255)");
    case jet::kColMemo:
        return QStringLiteral("LONGTEXT");
    case jet::kColMoney: case jet::kColFloat: case jet::kColDouble:
        return QStringLiteral("DOUBLE");
    case jet::kColDateTime:
        return QStringLiteral("DATETIME");
    default:
        return QStringLiteral("BLOB");
    }
}

QString quoted(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

void exec(sqlite3* db, const std::string& sql, const char* what) {
    checkSqlite(db, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), what);
}

// Copies the helper's stream into the database as it arrives, so that the
// copying overlaps the helper's reading of the file.
class StreamImporter {
public:
    StreamImporter(sqlite3* db, const QString& fileName) : m_db(db), m_file(fileName) {}

    void feed(const QByteArray& bytes) {
        m_pending += bytes;
        qsizetype done = 0;
        if (!m_begun) {
            const auto magic = static_cast<qsizetype>(jet::kStreamMagic.size());
            if (m_pending.size() < magic)
                return;
            if (std::string_view(m_pending.constData(), jet::kStreamMagic.size()) != jet::kStreamMagic)
                damaged(m_file, "the reader's output is not understood");
            exec(m_db, "BEGIN", "import");
            m_begun = true;
            done = magic;
        }
        try {
            while (done < m_pending.size()) {
                if (m_ended)
                    damaged(m_file, "the reader's output goes on after its end");
                StreamReader in(m_pending, done);
                record(in);
                done = in.pos();
            }
        } catch (const NeedMore&) {
            // The rest of this record comes with the next piece.
        }
        m_pending.remove(0, done);
    }

    void finish() {
        if (!m_ended || !m_pending.isEmpty())
            damaged(m_file, "the reader's output ends early");
        m_insert = DaoStatement();
        exec(m_db, "COMMIT", "import");
    }

private:
    struct Column {
        QString name;
        uint8_t type;
    };

    void record(StreamReader& in) {
        const char tag = in.tag();
        if (tag == jet::kTagEnd)
            m_ended = true;
        else if (tag == jet::kTagTable)
            table(in);
        else if (tag == jet::kTagRow)
            row(in);
        else
            damaged(m_file, "the reader's output is not understood");
    }

    void table(StreamReader& in) {
        const std::optional<QByteArray> name = in.value();
        if (!name)
            damaged(m_file, "a table without a name");
        const uint16_t n = in.u16();
        std::vector<Column> columns;
        QStringList defs, names, params;
        for (uint16_t c = 0; c < n; ++c) {
            const auto type = static_cast<uint8_t>(in.tag());
            const std::optional<QByteArray> colName = in.value();
            if (!colName)
                damaged(m_file, "a column without a name");
            columns.push_back({QString::fromUtf8(*colName), type});
            defs << quoted(columns.back().name) + QLatin1Char(' ') + declarationOf(type);
            names << quoted(columns.back().name);
            params << QStringLiteral("?%1").arg(c + 1);
        }
        if (n == 0)
            damaged(m_file, "a table without columns");
        // The whole record is here: only now is anything done with it.
        const QString table = QString::fromUtf8(*name);
        m_columns = std::move(columns);
        // A name twice (a damaged catalogue) fails here and is reported so.
        exec(m_db, utf8(QStringLiteral("CREATE TABLE %1 (%2)").arg(quoted(table), defs.join(QLatin1Char(',')))),
             "import");
        m_insert = DaoStatement(m_db, utf8(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                               .arg(quoted(table), names.join(QLatin1Char(',')),
                                                    params.join(QLatin1Char(',')))));
    }

    void row(StreamReader& in) {
        if (!m_insert.isValid())
            damaged(m_file, "a row outside a table");
        // The values are taken before any is bound, so that a row cut
        // between two pieces binds nothing.
        m_values.clear();
        for (size_t c = 0; c < m_columns.size(); ++c)
            m_values.push_back(in.rawValue());
        sqlite3_stmt* st = m_insert.get();
        // Values are bound in place: the pending bytes are not touched
        // until the statement has run.
        for (size_t c = 0; c < m_columns.size(); ++c) {
            const int slot = static_cast<int>(c + 1);
            const std::string_view v = m_values[c];
            int rc = SQLITE_OK;
            if (v.data() == nullptr) {
                rc = sqlite3_bind_null(st, slot);
            } else {
                switch (storageOf(m_columns[c].type)) {
                case Storage::Integer: {
                    int64_t i = 0;
                    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), i);
                    rc = ec == std::errc() && end == v.data() + v.size()
                             ? sqlite3_bind_int64(st, slot, i)
                             : sqlite3_bind_text(st, slot, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
                    break;
                }
                case Storage::Real: {
                    bool ok = false;
                    const double d = QByteArray::fromRawData(v.data(), static_cast<qsizetype>(v.size())).toDouble(&ok);
                    rc = ok ? sqlite3_bind_double(st, slot, d)
                            : sqlite3_bind_text(st, slot, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
                    break;
                }
                case Storage::Text:
                    rc = sqlite3_bind_text(st, slot, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
                    break;
                case Storage::None:
                    rc = sqlite3_bind_null(st, slot);
                    break;
                }
            }
            checkSqlite(m_db, rc, "import");
        }
        m_insert.execute("import");
    }

    sqlite3* m_db;
    const QString& m_file;
    QByteArray m_pending;
    bool m_begun = false;
    bool m_ended = false;
    std::vector<Column> m_columns;
    std::vector<std::string_view> m_values;
    DaoStatement m_insert;
};

// Raises what a helper's failure status says about the file.
[[noreturn]] void throwForStatus(int status, const QString& fileName) {
    const std::string name = fileName.toUtf8().toStdString();
    switch (status) {
    case jet::kReadNotJet:
        throw CDaoException("not a database: " + name, SQLITE_NOTADB);
    case jet::kReadNewer:
        throw CDaoException(name + ": the newer engine's format", kJetNewerCode);
    case jet::kReadPassword:
        throw CDaoException(name + ": protected by a password", kJetPasswordCode);
    case jet::kReadUsage:
        throw CDaoException("cannot read " + name, SQLITE_CANTOPEN);
    default:
        // kReadDamaged, or the reader ended some other way on this file.
        damaged(fileName, "damaged");
    }
}

// Starts the helper with nothing on its input and Jet 3 texts read as
// Windows-1251; false when it cannot be started.
bool startReader(QProcess& reader, const QString& program, const QStringList& arguments) {
    reader.setProgram(program);
    reader.setArguments(arguments);
    reader.setStandardInputFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MDB_JET3_CHARSET"), QStringLiteral("CP1251"));
    reader.setProcessEnvironment(env);
    reader.start();
    return reader.waitForStarted();
}

// Runs the helper on the file and hands each piece of its output to take
// as it comes; throws for a file the helper refused or could not read.
void runReader(const QString& fileName, const std::function<void(const QByteArray&)>& take) {
    const QString program = JetReaderProgram();
    if (program.isEmpty())
        throw CDaoException(std::string("cannot read Jet files: ") + kReaderName + " is not installed", SQLITE_CANTOPEN);
    QProcess reader;
    if (!startReader(reader, program, {fileName}))
        throw CDaoException("cannot start " + program.toStdString() + ": " + reader.errorString().toStdString(),
                            SQLITE_CANTOPEN);
    const auto stopReader = [&] {
        reader.kill();
        reader.waitForFinished();
    };
    qint64 total = 0;
    const QDeadlineTimer deadline(kJetReadTimeoutMs);
    while (reader.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            stopReader();
            damaged(fileName, "the reader took too long");
        }
        reader.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
        const QByteArray piece = reader.readAllStandardOutput();
        // Error text is not wanted beyond its end; keep the pipe from filling.
        reader.readAllStandardError();
        total += piece.size();
        if (total > kJetReadMaxBytes) {
            stopReader();
            damaged(fileName, "the reader's output is too large");
        }
        if (piece.isEmpty())
            continue;
        try {
            take(piece);
        } catch (...) {
            stopReader();
            throw;
        }
    }
    const QByteArray rest = reader.readAllStandardOutput();
    // How the helper ended says more than what it wrote before it ended.
    if (reader.exitStatus() != QProcess::NormalExit)
        damaged(fileName, "the reader stopped on this file");
    if (reader.exitCode() == jet::kReadOk) {
        if (total + rest.size() > kJetReadMaxBytes)
            damaged(fileName, "the reader's output is too large");
        if (!rest.isEmpty())
            take(rest);
        return;
    }
    throwForStatus(reader.exitCode(), fileName);
}

// A failure of the copy itself (not of the file) stays what it is; any
// other failure of the copy says the file is damaged.
template <typename Step>
void copying(const QString& fileName, const Step& step) {
    try {
        step();
    } catch (const CDaoException& e) {
        if (e.sqliteCode() == kJetDamagedCode || e.sqliteCode() == SQLITE_NOMEM)
            throw;
        damaged(fileName, e.what());
    }
}

Connection memoryDatabase() {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Connection db(raw);
    checkSqlite(db.get(), rc, "cannot make a database in memory");
    return db;
}

// The copy is done: any write now fails as on a read-only file.
void finishCopy(sqlite3* db, StreamImporter& importer, const QString& fileName) {
    copying(fileName, [&] { importer.finish(); });
    exec(db, "PRAGMA query_only=1", "import");
}

// A batch run's arguments stay well inside every system's command-line limit.
constexpr int kBatchFiles = 256;
constexpr qsizetype kBatchChars = 24000;

// One file of a batch run while its records come.
struct BatchFile {
    int index = -1;
    Connection db;
    std::unique_ptr<StreamImporter> importer;
    std::exception_ptr failure;
    qint64 bytes = 0;
};

// Reads the helper's batch records for files[first..] and hands each file's
// result on; returns when the helper has ended or was stopped.
class BatchReader {
public:
    BatchReader(const QStringList& files, int first, const JetImported& each)
        : m_files(files), m_first(first), m_each(each) {}

    // False when the output cannot be understood: the run is given up.
    bool feed(const QByteArray& bytes) {
        m_pending += bytes;
        qsizetype done = 0;
        try {
            while (done < m_pending.size()) {
                StreamReader in(m_pending, done);
                if (!record(in))
                    return false;
                done = in.pos();
            }
        } catch (const NeedMore&) {
        }
        m_pending.remove(0, done);
        return true;
    }
    // The file being read when the helper was stopped for taking too long.
    void timedOut() {
        if (m_file.index < 0)
            return;
        try {
            damaged(name(), "the reader took too long");
        } catch (...) {
            deliver(std::current_exception());
        }
    }
    // How many files the helper has begun.
    int begun() const { return m_next; }

private:
    const QString& name() const { return m_files.at(m_first + m_file.index); }

    bool record(StreamReader& in) {
        const char tag = in.tag();
        if (tag == jet::kTagFile) {
            const auto index = static_cast<int>(in.u32());
            if (m_file.index >= 0 || index != m_next || m_first + index >= m_files.size())
                return false;
            m_file = BatchFile{};
            m_file.index = index;
            m_file.db = memoryDatabase();
            m_file.importer = std::make_unique<StreamImporter>(m_file.db.get(), name());
            ++m_next;
            return true;
        }
        if (m_file.index < 0)
            return false;
        if (tag == jet::kTagData) {
            const std::optional<QByteArray> piece = in.value();
            if (!piece)
                return false;
            m_file.bytes += piece->size();
            if (m_file.failure)
                return true;
            try {
                if (m_file.bytes > kJetReadMaxBytes)
                    damaged(name(), "the reader's output is too large");
                copying(name(), [&] { m_file.importer->feed(*piece); });
            } catch (...) {
                m_file.failure = std::current_exception();
            }
            return true;
        }
        if (tag == jet::kTagStatus) {
            const auto status = static_cast<uint8_t>(in.tag());
            if (m_file.failure) {
                deliver(m_file.failure);
                return true;
            }
            try {
                if (status != jet::kReadOk)
                    throwForStatus(status, name());
                finishCopy(m_file.db.get(), *m_file.importer, name());
            } catch (...) {
                deliver(std::current_exception());
                return true;
            }
            deliver(nullptr);
            return true;
        }
        return false;
    }

    void deliver(std::exception_ptr failure) {
        BatchFile file = std::move(m_file);
        m_file = BatchFile{};
        file.importer.reset();
        m_each(m_first + file.index, failure ? nullptr : file.db.release(), failure);
    }

    const QStringList& m_files;
    const int m_first;
    const JetImported& m_each;
    QByteArray m_pending;
    BatchFile m_file;
    int m_next = 0;
};

// Runs the helper once on files[first, first + count).
void runBatch(const QString& program, const QStringList& files, int first, int count, const JetImported& each) {
    QProcess reader;
    if (!startReader(reader, program, QStringList{QStringLiteral("--batch")} + files.mid(first, count)))
        return;
    BatchReader batch(files, first, each);
    // Each file gets as long as a run of its own would.
    QDeadlineTimer deadline(kJetReadTimeoutMs);
    while (reader.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            reader.kill();
            reader.waitForFinished();
            batch.timedOut();
            return;
        }
        reader.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
        reader.readAllStandardError();
        const QByteArray piece = reader.readAllStandardOutput();
        if (piece.isEmpty())
            continue;
        const int begun = batch.begun();
        if (!batch.feed(piece)) {
            reader.kill();
            reader.waitForFinished();
            return;
        }
        if (batch.begun() != begun)
            deadline = QDeadlineTimer(kJetReadTimeoutMs);
    }
    batch.feed(reader.readAllStandardOutput());
}

} // namespace

bool IsJetFile(const QString& fileName) {
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(jet::kProbeBytes);
    return jet::HasJetSignature(reinterpret_cast<const uint8_t*>(head.constData()), static_cast<size_t>(head.size()));
}

QString JetReaderProgram() {
    const QString fromEnv = qEnvironmentVariable(kJetReaderVariable);
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (!self.isEmpty()) {
        const QString folder = QFileInfo(self).absolutePath();
        // Installed: in lib/parvault2 next to bin; a copied program keeps it beside itself.
        for (const QString& candidate : {folder + QLatin1String("/../lib/parvault2/"), folder + QLatin1Char('/')}) {
            const QString path = QDir::cleanPath(candidate + QLatin1String(kReaderName));
            if (QFileInfo(path).isExecutable())
                return path;
        }
    }
    // Programs run from the build tree find the one built there.
    const QString built = QString::fromUtf8(PARVAULT_JETREAD_BUILD_PATH);
    if (!built.isEmpty() && QFileInfo(built).isExecutable())
        return built;
    return {};
}

sqlite3* ImportJetFile(const QString& fileName) {
    Connection db = memoryDatabase();
    StreamImporter importer(db.get(), fileName);
    runReader(fileName, [&](const QByteArray& piece) { copying(fileName, [&] { importer.feed(piece); }); });
    finishCopy(db.get(), importer, fileName);
    return db.release();
}

void ImportJetFiles(const QStringList& fileNames, const JetImported& each) {
    const QString program = JetReaderProgram();
    if (program.isEmpty())
        return;
    int first = 0;
    while (first < fileNames.size()) {
        int count = 0;
        qsizetype chars = 0;
        while (first + count < fileNames.size() && count < kBatchFiles &&
               (count == 0 || chars + fileNames.at(first + count).size() + 1 <= kBatchChars))
            chars += fileNames.at(first + count++).size() + 1;
        runBatch(program, fileNames, first, count, each);
        first += count;
    }
}

} // namespace parvault
