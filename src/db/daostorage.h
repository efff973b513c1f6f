#pragma once

// The storage layer: the few database operations the parameter lists need,
// shaped like the record-set style the rest of the subsystem is written in,
// over SQLite's C API. Every failure is raised as CDaoException.

#include <QString>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace parvault {

// The one exception kind of the storage layer. Callers catch it and go on as
// each command decides; it carries SQLite's result code (0 when the failure
// was found by this layer itself, e.g. moving past the end).
class CDaoException : public std::runtime_error {
public:
    explicit CDaoException(const std::string& what, int sqliteCode = 0, int systemErrno = 0)
        : std::runtime_error(what), m_sqliteCode(sqliteCode), m_systemErrno(systemErrno) {}
    int sqliteCode() const { return m_sqliteCode; }
    // The operating system's error behind a failed file access, or 0.
    int systemErrno() const { return m_systemErrno; }

private:
    int m_sqliteCode;
    int m_systemErrno;
};

// Field type codes, as the list-file schema names them.
enum DaoFieldType : short { dbLong = 4, dbText = 10, dbMemo = 12 };

// Record set open types.
enum DaoOpenType : int { dbOpenTable = 1, dbOpenDynaset = 2 };

// Arguments of CDaoDatabase::Create kept for the callers' sake: SQLite files
// have neither a locale nor format versions, so they are accepted and ignored.
inline constexpr const char* dbLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";
inline constexpr int dbVersion30 = 32;

// One database connection. Not copyable; closes itself.
class CDaoDatabase {
public:
    CDaoDatabase() = default;
    ~CDaoDatabase();
    CDaoDatabase(const CDaoDatabase&) = delete;
    CDaoDatabase& operator=(const CDaoDatabase&) = delete;

    // Opens an existing file; a missing file, or one that is not a database,
    // raises. Exclusive and read-only opens are not needed by any command.
    void Open(const QString& name, bool exclusive = false, bool readOnly = false,
              const QString& connect = {});
    // Creates a new, empty database file. Raises if the file already exists or
    // cannot be written. The connection is open afterwards.
    void Create(const QString& name, const QString& locale = QString::fromLatin1(dbLangGeneral),
                int options = dbVersion30);
    bool IsOpen() const { return m_db != nullptr; }
    void Close();
    QString GetName() const { return m_name; }

    // Runs statements that return no rows.
    void Execute(const QString& sql);
    bool TableExists(const QString& table) const;

    sqlite3* handle() const;

private:
    sqlite3* m_db = nullptr;
    QString m_name;
};

// Rolls back unless committed: replacing data either happens whole or not at
// all, also when the program dies half-way.
class DaoTransaction {
public:
    explicit DaoTransaction(CDaoDatabase& db);
    ~DaoTransaction();
    DaoTransaction(const DaoTransaction&) = delete;
    DaoTransaction& operator=(const DaoTransaction&) = delete;
    void Commit();

private:
    CDaoDatabase& m_db;
    bool m_done = false;
};

struct CDaoFieldInfo {
    QString m_strName;
    short m_nType = 0; // DaoFieldType
    long m_lSize = 0;
    long m_lAttributes = 0;
    bool m_bPrimaryKey = false;
};

// A table definition: creates a table field by field, or opens an existing one.
class CDaoTableDef {
public:
    explicit CDaoTableDef(CDaoDatabase* db) : m_db(db) {}
    void Create(const QString& name);
    void CreateField(const QString& name, short type, long size, long attributes = 0);
    // Creates the table with the fields in the order they were added.
    void Append();
    void Open(const QString& name);
    bool IsOpen() const { return m_open; }
    void Close();

    QString GetName() const { return m_name; }
    int GetFieldCount() const;
    CDaoFieldInfo GetFieldInfo(int index) const;
    int GetIndexCount() const;
    CDaoDatabase* database() const { return m_db; }

private:
    std::vector<CDaoFieldInfo> readFields() const;

    CDaoDatabase* m_db;
    QString m_name;
    std::vector<CDaoFieldInfo> m_pending;
    bool m_creating = false;
    bool m_open = false;
};

// A value as stored: a Long, a text, or empty (Null).
struct DaoValue {
    bool null = true;
    int32_t longValue = 0;
    QString text;

    bool operator==(const DaoValue&) const = default;
};

class CDaoRecordset;

// Moves values between a record set's member fields and its current record.
class CDaoFieldExchange {
public:
    enum Operation { Describe, Load, Prepare, Collect };

    void exchangeLong(const char* column, int32_t& value);
    void exchangeText(const char* column, QString& value);

private:
    friend class CDaoRecordset;
    struct Column {
        std::string name; // without brackets
        bool isText = false;
    };

    Operation m_op = Describe;
    size_t m_field = 0;
    std::vector<Column>* m_columns = nullptr;
    const std::vector<DaoValue>* m_source = nullptr; // Load, Prepare
    std::vector<DaoValue>* m_snapshot = nullptr;     // Prepare (out), Collect (in)
    std::vector<std::pair<size_t, DaoValue>>* m_dirty = nullptr; // Collect (out)
};

void DFX_Long(CDaoFieldExchange* pFX, const char* column, int32_t& value);
void DFX_Text(CDaoFieldExchange* pFX, const char* column, QString& value, int preAllocSize = 255);

// A record set: opens on a table (its default query, a bracketed table name),
// optionally filtered and sorted, and walks its records. The selected records
// are read once at open; edits go straight to the file. Moving past the end
// or the beginning, or to the first or last record of an empty set, raises.
class CDaoRecordset {
public:
    explicit CDaoRecordset(CDaoDatabase* db) : m_pDatabase(db) {}
    virtual ~CDaoRecordset();
    CDaoRecordset(const CDaoRecordset&) = delete;
    CDaoRecordset& operator=(const CDaoRecordset&) = delete;

    virtual QString GetDefaultDBName() { return {}; }
    virtual QString GetDefaultSQL() { return {}; }
    virtual void DoFieldExchange(CDaoFieldExchange*) {}

    // An SQL condition and a comma-separated field list, applied at open.
    QString m_strFilter;
    QString m_strSort;

    void Open(int openType = dbOpenDynaset, const QString& sql = {});
    // A table-type record set over a table definition (used to empty tables).
    void Open(CDaoTableDef* tableDef, int openType = dbOpenTable);
    bool IsOpen() const { return m_open; }
    void Close();

    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrev();
    bool IsEOF() const;
    bool IsBOF() const;
    long GetRecordCount() const;

    // After AddNew every field is empty; Update writes only the fields
    // assigned since AddNew or Edit, so the others stay as they were (or Null).
    void AddNew();
    void Edit();
    void Update();
    void CancelUpdate();
    void Delete();

    // Records are rewritten through prepared statements; tests read the query.
    QString selectSql() const { return m_selectSql; }

    // A Long member that holds this after AddNew or Edit has not been
    // assigned; the same device the record-set libraries of old used.
    static constexpr int32_t kPseudoNullLong = 0x4a4d4120;

protected:
    CDaoDatabase* m_pDatabase;

private:
    struct Row {
        int64_t rowid = 0;
        std::vector<DaoValue> values;
        bool deleted = false;
    };
    enum class EditMode { None, Add, Edit };

    void openOn(const QString& table);
    void loadCurrent();
    void runFieldExchange(CDaoFieldExchange& fx);
    void requireOpen() const;
    void requireCurrent() const;
    bool seek(long from, int direction); // first live row at or beyond `from`
    sqlite3_stmt* prepareCached(const std::string& sql);
    void finalizeCached();

    bool m_open = false;
    QString m_table;
    QString m_selectSql;
    std::vector<CDaoFieldExchange::Column> m_columns;
    std::vector<Row> m_rows;
    long m_pos = 0; // -1 before the first (BOF), size at the end (EOF)
    long m_live = 0; // records not deleted
    EditMode m_mode = EditMode::None;
    std::vector<DaoValue> m_snapshot;
    sqlite3_stmt* m_cached = nullptr;
    std::string m_cachedSql;
};

// "[name]" for an identifier; closing brackets cannot occur in our names.
QString bracketed(const QString& name);

} // namespace parvault
