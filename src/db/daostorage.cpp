#include "daostorage.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace parvault {

namespace {

// Marks our own files inside the SQLite header ("PV2D"); nothing checks it,
// but writing it makes a freshly created file a real, non-empty database.
constexpr int kApplicationId = 0x50563244;

[[noreturn]] void fail(sqlite3* db, const std::string& what, int code) {
    std::string text = what;
    if (db)
        text += std::string(": ") + sqlite3_errmsg(db);
    throw CDaoException(text, code, db ? sqlite3_system_errno(db) : 0);
}

std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : m_db(db) {
        const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
        if (rc != SQLITE_OK)
            fail(db, "prepare failed (" + sql + ")", rc);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const { return m_stmt; }
    // True while a row is available.
    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail(m_db, "step failed", rc);
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

QString stripBrackets(QString s) {
    s = s.trimmed();
    if (s.startsWith(QLatin1Char('[')) && s.endsWith(QLatin1Char(']')))
        s = s.mid(1, s.size() - 2);
    return s;
}

// "canal,param,index" names fields, one of which is an SQL keyword: bracket
// each bare field name so the sort means what it says.
QString bracketSort(const QString& sort) {
    QStringList terms;
    for (const QString& raw : sort.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString term = raw.trimmed();
        if (term.isEmpty())
            continue;
        if (term.startsWith(QLatin1Char('['))) {
            terms << term;
            continue;
        }
        const qsizetype space = term.indexOf(QLatin1Char(' '));
        if (space < 0)
            terms << bracketed(term);
        else
            terms << bracketed(term.left(space)) + term.mid(space);
    }
    return terms.join(QLatin1Char(','));
}

QString typeDeclaration(short type, long size) {
    switch (type) {
    case dbLong:
        return QStringLiteral("LONG");
    case dbText:
        return QStringLiteral("TEXT(%1)").arg(size > 0 ? size : 255);
    case dbMemo:
        // TEXT affinity: a name that looks like a number is kept as typed.
        return QStringLiteral("LONGTEXT");
    default:
        throw CDaoException("unsupported field type " + std::to_string(type));
    }
}

void typeFromDeclaration(const QString& declared, CDaoFieldInfo& info) {
    const QString d = declared.trimmed().toUpper();
    if (d == QLatin1String("LONGTEXT") || d == QLatin1String("MEMO")) {
        info.m_nType = dbMemo;
        info.m_lSize = 0;
    } else if (d.startsWith(QLatin1String("TEXT"))) {
        info.m_nType = dbText;
        info.m_lSize = 255;
        const qsizetype open = d.indexOf(QLatin1Char('('));
        const qsizetype close = d.indexOf(QLatin1Char(')'));
        if (open > 0 && close > open) {
            bool ok = false;
            const long n = d.mid(open + 1, close - open - 1).trimmed().toLong(&ok);
            if (ok)
                info.m_lSize = n;
        }
    } else if (d == QLatin1String("LONG") || d.contains(QLatin1String("INT"))) {
        info.m_nType = dbLong;
        info.m_lSize = 4;
    } else {
        info.m_nType = 0;
        info.m_lSize = 0;
    }
}

void bindValue(sqlite3* db, sqlite3_stmt* stmt, int slot, const DaoValue& v, bool isText) {
    int rc;
    if (v.null)
        rc = sqlite3_bind_null(stmt, slot);
    else if (isText) {
        const QByteArray bytes = v.text.toUtf8();
        rc = sqlite3_bind_text(stmt, slot, bytes.constData(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    } else
        rc = sqlite3_bind_int64(stmt, slot, v.longValue);
    if (rc != SQLITE_OK)
        fail(db, "bind failed", rc);
}

DaoValue columnValue(sqlite3_stmt* stmt, int col, bool isText) {
    DaoValue v;
    if (sqlite3_column_type(stmt, col) == SQLITE_NULL)
        return v;
    v.null = false;
    if (isText) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
        const int n = sqlite3_column_bytes(stmt, col);
        v.text = p ? QString::fromUtf8(p, n) : QString();
        if (v.text.isNull())
            v.text = QString(""); // present but empty is not Null
    } else {
        v.longValue = static_cast<int32_t>(sqlite3_column_int64(stmt, col));
    }
    return v;
}

} // namespace

QString bracketed(const QString& name) { return QLatin1Char('[') + name + QLatin1Char(']'); }

// ---------------------------------------------------------------- database

CDaoDatabase::~CDaoDatabase() { Close(); }

sqlite3* CDaoDatabase::handle() const {
    if (!m_db)
        throw CDaoException("database is not open");
    return m_db;
}

void CDaoDatabase::Open(const QString& name, bool exclusive, bool readOnly, const QString& connect) {
    Q_UNUSED(exclusive);
    Q_UNUSED(connect);
    if (m_db)
        throw CDaoException("database is already open");
    const QByteArray path = QFile::encodeName(name);
    const QFileInfo info(name);
    if (!info.exists() || info.isDir())
        throw CDaoException("no such database file: " + path.toStdString(), SQLITE_CANTOPEN);
    sqlite3* db = nullptr;
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    int rc = sqlite3_open_v2(path.constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw CDaoException("cannot open " + path.toStdString() + ": " + msg, rc);
    }
    // SQLite reads the header lazily; make a file that is not a database
    // fail here and not at its first query.
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw CDaoException("not a database: " + path.toStdString() + ": " + msg, rc);
    }
    m_db = db;
    m_name = name;
}

void CDaoDatabase::Create(const QString& name, const QString& locale, int options) {
    Q_UNUSED(locale);
    Q_UNUSED(options);
    if (m_db)
        throw CDaoException("database is already open");
    const QByteArray path = QFile::encodeName(name);
    if (QFileInfo::exists(name))
        throw CDaoException("file already exists: " + path.toStdString(), SQLITE_CANTOPEN);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        const std::string pragma = "PRAGMA application_id=" + std::to_string(kApplicationId);
        rc = sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        const std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw CDaoException("cannot create " + path.toStdString() + ": " + msg, rc);
    }
    m_db = db;
    m_name = name;
}

void CDaoDatabase::Close() {
    if (!m_db)
        return;
    // Statements still prepared by a forgotten record set would keep the
    // file busy; sqlite3_close_v2 lets them finish closing it.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_name.clear();
}

void CDaoDatabase::Execute(const QString& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(handle(), utf8(sql).c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const std::string msg = err ? err : "error";
        sqlite3_free(err);
        throw CDaoException("execute failed: " + msg, rc, sqlite3_system_errno(m_db));
    }
}

bool CDaoDatabase::TableExists(const QString& table) const {
    Statement st(handle(), "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
    const std::string name = utf8(table);
    sqlite3_bind_text(st.get(), 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    return st.step();
}

// ------------------------------------------------------------- transaction

DaoTransaction::DaoTransaction(CDaoDatabase& db) : m_db(db) { m_db.Execute(QStringLiteral("BEGIN IMMEDIATE")); }

DaoTransaction::~DaoTransaction() {
    if (!m_done && m_db.IsOpen())
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void DaoTransaction::Commit() {
    if (m_done)
        return;
    m_db.Execute(QStringLiteral("COMMIT"));
    m_done = true;
}

// ---------------------------------------------------------------- tabledef

void CDaoTableDef::Create(const QString& name) {
    m_name = name;
    m_pending.clear();
    m_creating = true;
    m_open = false;
}

void CDaoTableDef::CreateField(const QString& name, short type, long size, long attributes) {
    if (!m_creating)
        throw CDaoException("table definition is not being created");
    CDaoFieldInfo f;
    f.m_strName = name;
    f.m_nType = type;
    f.m_lSize = size;
    f.m_lAttributes = attributes;
    typeDeclaration(type, size); // rejects unknown types now, not at Append
    m_pending.push_back(f);
}

void CDaoTableDef::Append() {
    if (!m_creating || m_pending.empty())
        throw CDaoException("table definition has no fields");
    QStringList fields;
    for (const CDaoFieldInfo& f : m_pending)
        fields << bracketed(f.m_strName) + QLatin1Char(' ') + typeDeclaration(f.m_nType, f.m_lSize);
    m_db->Execute(QStringLiteral("CREATE TABLE %1 (%2)").arg(bracketed(m_name), fields.join(QStringLiteral(", "))));
    m_creating = false;
    m_pending.clear();
    m_open = true;
}

void CDaoTableDef::Open(const QString& name) {
    if (!m_db || !m_db->IsOpen() || !m_db->TableExists(name))
        throw CDaoException("no such table: " + utf8(name));
    m_name = name;
    m_open = true;
    m_creating = false;
}

void CDaoTableDef::Close() {
    m_open = false;
    m_creating = false;
    m_pending.clear();
}

std::vector<CDaoFieldInfo> CDaoTableDef::readFields() const {
    if (!m_open)
        throw CDaoException("table definition is not open");
    Statement st(m_db->handle(), "SELECT name, type, pk FROM pragma_table_info(?1) ORDER BY cid");
    const std::string name = utf8(m_name);
    sqlite3_bind_text(st.get(), 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    std::vector<CDaoFieldInfo> out;
    while (st.step()) {
        CDaoFieldInfo f;
        f.m_strName = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0)));
        typeFromDeclaration(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1))), f);
        f.m_bPrimaryKey = sqlite3_column_int(st.get(), 2) != 0;
        out.push_back(f);
    }
    return out;
}

int CDaoTableDef::GetFieldCount() const { return static_cast<int>(readFields().size()); }

CDaoFieldInfo CDaoTableDef::GetFieldInfo(int index) const {
    const auto fields = readFields();
    if (index < 0 || index >= static_cast<int>(fields.size()))
        throw CDaoException("field index out of range");
    return fields[static_cast<size_t>(index)];
}

int CDaoTableDef::GetIndexCount() const {
    if (!m_open)
        throw CDaoException("table definition is not open");
    Statement st(m_db->handle(), "SELECT count(*) FROM pragma_index_list(?1)");
    const std::string name = utf8(m_name);
    sqlite3_bind_text(st.get(), 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    st.step();
    return sqlite3_column_int(st.get(), 0);
}

// ---------------------------------------------------------- field exchange

void CDaoFieldExchange::exchangeLong(const char* column, int32_t& value) {
    const size_t i = m_field++;
    switch (m_op) {
    case Describe:
        m_columns->push_back({stripBrackets(QString::fromUtf8(column)).toStdString(), false});
        break;
    case Load:
        value = (*m_source)[i].null ? 0 : (*m_source)[i].longValue;
        break;
    case Prepare: {
        // An empty field gets the marker, so that assigning it 0 is seen.
        const DaoValue& src = (*m_source)[i];
        value = src.null ? CDaoRecordset::kPseudoNullLong : src.longValue;
        DaoValue snap;
        snap.null = src.null;
        snap.longValue = value;
        m_snapshot->push_back(snap);
        break;
    }
    case Collect: {
        const DaoValue& snap = (*m_snapshot)[i];
        if (value != snap.longValue) {
            DaoValue v;
            v.null = false;
            v.longValue = value;
            m_dirty->emplace_back(i, v);
        }
        break;
    }
    }
}

void CDaoFieldExchange::exchangeText(const char* column, QString& value) {
    const size_t i = m_field++;
    switch (m_op) {
    case Describe:
        m_columns->push_back({stripBrackets(QString::fromUtf8(column)).toStdString(), true});
        break;
    case Load:
        value = (*m_source)[i].null ? QString("") : (*m_source)[i].text;
        break;
    case Prepare: {
        const DaoValue& src = (*m_source)[i];
        value = src.null ? QString() : src.text;
        m_snapshot->push_back(src);
        break;
    }
    case Collect: {
        const DaoValue& snap = (*m_snapshot)[i];
        if (value.isNull() != snap.null || value != snap.text) {
            DaoValue v;
            v.null = value.isNull();
            v.text = value;
            m_dirty->emplace_back(i, v);
        }
        break;
    }
    }
}

void DFX_Long(CDaoFieldExchange* pFX, const char* column, int32_t& value) { pFX->exchangeLong(column, value); }

void DFX_Text(CDaoFieldExchange* pFX, const char* column, QString& value, int preAllocSize) {
    Q_UNUSED(preAllocSize);
    pFX->exchangeText(column, value);
}

// --------------------------------------------------------------- recordset

CDaoRecordset::~CDaoRecordset() { finalizeCached(); }

void CDaoRecordset::runFieldExchange(CDaoFieldExchange& fx) {
    fx.m_field = 0;
    fx.m_columns = &m_columns;
    DoFieldExchange(&fx);
}

void CDaoRecordset::Open(int openType, const QString& sql) {
    Q_UNUSED(openType); // every record set reads its records once and writes through
    const QString source = sql.isEmpty() ? GetDefaultSQL() : sql;
    openOn(stripBrackets(source));
}

void CDaoRecordset::Open(CDaoTableDef* tableDef, int openType) {
    Q_UNUSED(openType);
    if (!tableDef || !tableDef->IsOpen())
        throw CDaoException("table definition is not open");
    if (tableDef->database() != m_pDatabase)
        throw CDaoException("table definition belongs to another database");
    openOn(tableDef->GetName());
}

void CDaoRecordset::openOn(const QString& table) {
    if (m_open)
        throw CDaoException("record set is already open");
    if (!m_pDatabase || !m_pDatabase->IsOpen())
        throw CDaoException("database is not open");
    if (table.isEmpty())
        throw CDaoException("record set has no table");

    m_columns.clear();
    CDaoFieldExchange fx;
    fx.m_op = CDaoFieldExchange::Describe;
    runFieldExchange(fx);

    QString sql = QStringLiteral("SELECT rowid");
    for (const auto& c : m_columns)
        sql += QStringLiteral(", ") + bracketed(QString::fromStdString(c.name));
    sql += QStringLiteral(" FROM ") + bracketed(table);
    if (!m_strFilter.trimmed().isEmpty())
        sql += QStringLiteral(" WHERE ") + m_strFilter;
    if (!m_strSort.trimmed().isEmpty())
        sql += QStringLiteral(" ORDER BY ") + bracketSort(m_strSort);

    sqlite3* db = m_pDatabase->handle();
    Statement st(db, utf8(sql)); // a missing table fails here
    m_rows.clear();
    while (st.step()) {
        Row r;
        r.rowid = sqlite3_column_int64(st.get(), 0);
        r.values.reserve(m_columns.size());
        for (size_t c = 0; c < m_columns.size(); ++c)
            r.values.push_back(columnValue(st.get(), static_cast<int>(c + 1), m_columns[c].isText));
        m_rows.push_back(std::move(r));
    }
    m_live = static_cast<long>(m_rows.size());
    m_table = table;
    m_selectSql = sql;
    m_open = true;
    m_mode = EditMode::None;
    m_pos = 0;
    loadCurrent();
}

void CDaoRecordset::Close() {
    finalizeCached();
    m_open = false;
    m_rows.clear();
    m_columns.clear();
    m_mode = EditMode::None;
    m_pos = 0;
    m_live = 0;
}

void CDaoRecordset::finalizeCached() {
    if (m_cached)
        sqlite3_finalize(m_cached);
    m_cached = nullptr;
    m_cachedSql.clear();
}

sqlite3_stmt* CDaoRecordset::prepareCached(const std::string& sql) {
    if (m_cached && m_cachedSql == sql) {
        sqlite3_reset(m_cached);
        sqlite3_clear_bindings(m_cached);
        return m_cached;
    }
    finalizeCached();
    sqlite3* db = m_pDatabase->handle();
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_cached, nullptr);
    if (rc != SQLITE_OK) {
        m_cached = nullptr;
        fail(db, "prepare failed (" + sql + ")", rc);
    }
    m_cachedSql = sql;
    return m_cached;
}

void CDaoRecordset::requireOpen() const {
    if (!m_open)
        throw CDaoException("record set is not open");
}

void CDaoRecordset::requireCurrent() const {
    requireOpen();
    if (m_pos < 0 || m_pos >= static_cast<long>(m_rows.size()) || m_rows[static_cast<size_t>(m_pos)].deleted)
        throw CDaoException("no current record");
}

bool CDaoRecordset::seek(long from, int direction) {
    for (long p = from; p >= 0 && p < static_cast<long>(m_rows.size()); p += direction) {
        if (!m_rows[static_cast<size_t>(p)].deleted) {
            m_pos = p;
            return true;
        }
    }
    return false;
}

void CDaoRecordset::loadCurrent() {
    if (m_pos >= 0 && m_pos < static_cast<long>(m_rows.size()) && !m_rows[static_cast<size_t>(m_pos)].deleted) {
        CDaoFieldExchange fx;
        fx.m_op = CDaoFieldExchange::Load;
        fx.m_source = &m_rows[static_cast<size_t>(m_pos)].values;
        runFieldExchange(fx);
    } else {
        const std::vector<DaoValue> empty(m_columns.size());
        CDaoFieldExchange fx;
        fx.m_op = CDaoFieldExchange::Load;
        fx.m_source = &empty;
        runFieldExchange(fx);
    }
}

long CDaoRecordset::GetRecordCount() const {
    requireOpen();
    return m_live;
}

bool CDaoRecordset::IsEOF() const {
    requireOpen();
    return m_live == 0 || m_pos >= static_cast<long>(m_rows.size());
}

bool CDaoRecordset::IsBOF() const {
    requireOpen();
    return m_live == 0 || m_pos < 0;
}

void CDaoRecordset::MoveFirst() {
    requireOpen();
    m_mode = EditMode::None;
    if (!seek(0, +1))
        throw CDaoException("no current record (empty record set)");
    loadCurrent();
}

void CDaoRecordset::MoveLast() {
    requireOpen();
    m_mode = EditMode::None;
    if (!seek(static_cast<long>(m_rows.size()) - 1, -1))
        throw CDaoException("no current record (empty record set)");
    loadCurrent();
}

void CDaoRecordset::MoveNext() {
    requireOpen();
    m_mode = EditMode::None;
    // From a deleted current record the move is still allowed: it reaches
    // the next record or the end.
    if (m_pos >= static_cast<long>(m_rows.size()))
        throw CDaoException("moved past the end of the record set");
    if (!seek(m_pos + 1, +1))
        m_pos = static_cast<long>(m_rows.size());
    loadCurrent();
}

void CDaoRecordset::MovePrev() {
    requireOpen();
    m_mode = EditMode::None;
    if (m_pos < 0 || m_rows.empty())
        throw CDaoException("moved past the beginning of the record set");
    if (!seek(m_pos - 1, -1))
        m_pos = -1;
    loadCurrent();
}

void CDaoRecordset::AddNew() {
    requireOpen();
    const std::vector<DaoValue> empty(m_columns.size());
    m_snapshot.clear();
    CDaoFieldExchange fx;
    fx.m_op = CDaoFieldExchange::Prepare;
    fx.m_source = &empty;
    fx.m_snapshot = &m_snapshot;
    runFieldExchange(fx);
    m_mode = EditMode::Add;
}

void CDaoRecordset::Edit() {
    requireCurrent();
    m_snapshot.clear();
    CDaoFieldExchange fx;
    fx.m_op = CDaoFieldExchange::Prepare;
    fx.m_source = &m_rows[static_cast<size_t>(m_pos)].values;
    fx.m_snapshot = &m_snapshot;
    runFieldExchange(fx);
    m_mode = EditMode::Edit;
}

void CDaoRecordset::CancelUpdate() {
    m_mode = EditMode::None;
    if (m_open)
        loadCurrent();
}

void CDaoRecordset::Update() {
    requireOpen();
    if (m_mode == EditMode::None)
        throw CDaoException("Update without AddNew or Edit");
    std::vector<std::pair<size_t, DaoValue>> dirty;
    CDaoFieldExchange fx;
    fx.m_op = CDaoFieldExchange::Collect;
    fx.m_snapshot = &m_snapshot;
    fx.m_dirty = &dirty;
    runFieldExchange(fx);

    sqlite3* db = m_pDatabase->handle();
    const EditMode mode = m_mode;
    m_mode = EditMode::None;
    if (mode == EditMode::Add) {
        std::string sql = "INSERT INTO " + utf8(bracketed(m_table));
        if (dirty.empty()) {
            sql += " DEFAULT VALUES";
        } else {
            std::string names, params;
            for (size_t k = 0; k < dirty.size(); ++k) {
                names += (k ? ", [" : "[") + m_columns[dirty[k].first].name + "]";
                params += (k ? ", ?" : "?") + std::to_string(k + 1);
            }
            sql += " (" + names + ") VALUES (" + params + ")";
        }
        sqlite3_stmt* st = prepareCached(sql);
        for (size_t k = 0; k < dirty.size(); ++k)
            bindValue(db, st, static_cast<int>(k + 1), dirty[k].second, m_columns[dirty[k].first].isText);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            fail(db, "insert failed", rc);
        Row r;
        r.rowid = sqlite3_last_insert_rowid(db);
        r.values.resize(m_columns.size());
        for (const auto& [field, value] : dirty)
            r.values[field] = value;
        // The new record joins the end of the set; the current one stays current.
        const bool atEnd = m_pos >= static_cast<long>(m_rows.size());
        m_rows.push_back(std::move(r));
        ++m_live;
        if (atEnd)
            m_pos = static_cast<long>(m_rows.size());
    } else {
        requireCurrent();
        if (!dirty.empty()) {
            std::string sql = "UPDATE " + utf8(bracketed(m_table)) + " SET ";
            for (size_t k = 0; k < dirty.size(); ++k)
                sql += (k ? ", [" : "[") + m_columns[dirty[k].first].name + "]=?" + std::to_string(k + 1);
            sql += " WHERE rowid=?" + std::to_string(dirty.size() + 1);
            sqlite3_stmt* st = prepareCached(sql);
            for (size_t k = 0; k < dirty.size(); ++k)
                bindValue(db, st, static_cast<int>(k + 1), dirty[k].second, m_columns[dirty[k].first].isText);
            Row& row = m_rows[static_cast<size_t>(m_pos)];
            sqlite3_bind_int64(st, static_cast<int>(dirty.size() + 1), row.rowid);
            const int rc = sqlite3_step(st);
            sqlite3_reset(st);
            if (rc != SQLITE_DONE)
                fail(db, "update failed", rc);
            for (const auto& [field, value] : dirty)
                row.values[field] = value;
        }
    }
    loadCurrent();
}

void CDaoRecordset::Delete() {
    requireCurrent();
    m_mode = EditMode::None;
    sqlite3* db = m_pDatabase->handle();
    sqlite3_stmt* st = prepareCached("DELETE FROM " + utf8(bracketed(m_table)) + " WHERE rowid=?1");
    Row& row = m_rows[static_cast<size_t>(m_pos)];
    sqlite3_bind_int64(st, 1, row.rowid);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        fail(db, "delete failed", rc);
    row.deleted = true;
    --m_live;
}

} // namespace parvault
