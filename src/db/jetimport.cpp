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
    throw CDaoException(QFile::encodeName(fileName).toStdString() + ": " + why, kJetDamagedCode);
}

// Reads the helper's stream; every length is checked against what is left.
class StreamReader {
public:
    StreamReader(const QByteArray& data, const QString& fileName) : m_data(data), m_file(fileName) {}
    bool atEnd() const { return m_pos >= m_data.size(); }
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
    void expect(std::string_view bytes) {
        if (std::string_view(take(bytes.size()), bytes.size()) != bytes)
            damaged(m_file, "the reader's output is not understood");
    }

private:
    const char* take(size_t n) {
        if (n > static_cast<size_t>(m_data.size() - m_pos))
            damaged(m_file, "the reader's output ends early");
        const char* p = m_data.constData() + m_pos;
        m_pos += static_cast<qsizetype>(n);
        return p;
    }
    const QByteArray& m_data;
    const QString& m_file;
    qsizetype m_pos = 0;
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

void importStream(sqlite3* db, const QByteArray& stream, const QString& fileName) {
    StreamReader in(stream, fileName);
    in.expect(jet::kStreamMagic);
    exec(db, "BEGIN", "import");
    struct Column {
        QString name;
        uint8_t type;
    };
    std::vector<Column> columns;
    DaoStatement insert;
    for (;;) {
        const char tag = in.tag();
        if (tag == jet::kTagEnd)
            break;
        if (tag == jet::kTagTable) {
            const std::optional<QByteArray> name = in.value();
            if (!name)
                damaged(fileName, "a table without a name");
            const QString table = QString::fromUtf8(*name);
            const uint16_t n = in.u16();
            columns.clear();
            QStringList defs, names, params;
            for (uint16_t c = 0; c < n; ++c) {
                const auto type = static_cast<uint8_t>(in.tag());
                const std::optional<QByteArray> colName = in.value();
                if (!colName)
                    damaged(fileName, "a column without a name");
                columns.push_back({QString::fromUtf8(*colName), type});
                defs << quoted(columns.back().name) + QLatin1Char(' ') + declarationOf(type);
                names << quoted(columns.back().name);
                params << QStringLiteral("?%1").arg(c + 1);
            }
            if (n == 0)
                damaged(fileName, "a table without columns");
            // A name twice (a damaged catalogue) fails here and is reported so.
            exec(db, utf8(QStringLiteral("CREATE TABLE %1 (%2)").arg(quoted(table), defs.join(QLatin1Char(',')))),
                 "import");
            insert = DaoStatement(db, utf8(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                               .arg(quoted(table), names.join(QLatin1Char(',')),
                                                    params.join(QLatin1Char(',')))));
        } else if (tag == jet::kTagRow) {
            if (!insert.isValid())
                damaged(fileName, "a row outside a table");
            sqlite3_stmt* st = insert.get();
            // Values are bound in place: the stream outlives the statement's run.
            for (size_t c = 0; c < columns.size(); ++c) {
                const int slot = static_cast<int>(c + 1);
                const std::string_view v = in.rawValue();
                int rc = SQLITE_OK;
                if (v.data() == nullptr) {
                    rc = sqlite3_bind_null(st, slot);
                } else {
                    switch (storageOf(columns[c].type)) {
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
                checkSqlite(db, rc, "import");
            }
            insert.execute("import");
        } else {
            damaged(fileName, "the reader's output is not understood");
        }
    }
    if (!in.atEnd())
        damaged(fileName, "the reader's output goes on after its end");
    insert = DaoStatement();
    exec(db, "COMMIT", "import");
}

QByteArray runReader(const QString& fileName) {
    const QString program = JetReaderProgram();
    if (program.isEmpty())
        throw CDaoException(std::string("cannot read Jet files: ") + kReaderName + " is not installed", SQLITE_CANTOPEN);
    QProcess reader;
    reader.setProgram(program);
    reader.setArguments({fileName});
    reader.setStandardInputFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MDB_JET3_CHARSET"), QStringLiteral("CP1251"));
    reader.setProcessEnvironment(env);
    reader.start();
    if (!reader.waitForStarted())
        throw CDaoException("cannot start " + program.toStdString() + ": " + reader.errorString().toStdString(),
                            SQLITE_CANTOPEN);
    QByteArray out;
    const QDeadlineTimer deadline(kJetReadTimeoutMs);
    auto stop = [&](const std::string& why) {
        reader.kill();
        reader.waitForFinished();
        damaged(fileName, why);
    };
    while (reader.state() != QProcess::NotRunning) {
        if (deadline.hasExpired())
            stop("the reader took too long");
        reader.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
        out += reader.readAllStandardOutput();
        // Error text is not wanted beyond its end; keep the pipe from filling.
        reader.readAllStandardError();
        if (out.size() > kJetReadMaxBytes)
            stop("the reader's output is too large");
    }
    out += reader.readAllStandardOutput();
    if (reader.exitStatus() != QProcess::NormalExit)
        damaged(fileName, "the reader stopped on this file");
    const std::string name = QFile::encodeName(fileName).toStdString();
    switch (reader.exitCode()) {
    case jet::kReadOk:
        return out;
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
    const QByteArray stream = runReader(fileName);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Connection db(raw);
    checkSqlite(db.get(), rc, "cannot make a database in memory");
    try {
        importStream(db.get(), stream, fileName);
    } catch (const CDaoException& e) {
        // A failure of the copy itself (not of the file) stays what it is.
        if (e.sqliteCode() == kJetDamagedCode || e.sqliteCode() == SQLITE_NOMEM)
            throw;
        damaged(fileName, e.what());
    }
    // Any write now fails as on a read-only file.
    exec(db.get(), "PRAGMA query_only=1", "import");
    return db.release();
}

} // namespace parvault
