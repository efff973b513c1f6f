#include "daorecordset.h"

#include "daodatabase.h"
#include "daoexception.h"
#include "daosql.h"
#include "daostatement.h"
#include "daotabledef.h"

#include <sqlite3.h>

namespace parvault {

namespace {

void bindValue(DaoStatement& st, int slot, const DaoValue& v, bool isText) {
    if (v.null)
        st.bindNull(slot);
    else if (isText)
        st.bindText(slot, v.text.toUtf8());
    else
        st.bindInt64(slot, v.longValue);
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

CDaoRecordset::~CDaoRecordset() = default;

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
        throw CDaoException("table definition is not open", SQLITE_MISUSE);
    if (tableDef->database() != m_pDatabase)
        throw CDaoException("table definition belongs to another database", SQLITE_MISUSE);
    openOn(tableDef->GetName());
}

void CDaoRecordset::openOn(const QString& table) {
    if (m_open)
        throw CDaoException("record set is already open", SQLITE_MISUSE);
    if (!m_pDatabase || !m_pDatabase->IsOpen())
        throw CDaoException("database is not open", SQLITE_MISUSE);
    if (table.isEmpty())
        throw CDaoException("record set has no table", SQLITE_MISUSE);

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
    DaoStatement st(db, utf8(sql)); // a missing table fails here
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
    m_open = true;
    m_mode = EditMode::None;
    m_pos = 0;
    loadCurrent();
}

void CDaoRecordset::Close() {
    m_cached = DaoStatement();
    m_open = false;
    m_rows.clear();
    m_columns.clear();
    m_mode = EditMode::None;
    m_pos = 0;
    m_live = 0;
}

DaoStatement& CDaoRecordset::prepareCached(const std::string& sql) {
    if (m_cached.isValid() && m_cached.sql() == sql) {
        m_cached.reset();
        return m_cached;
    }
    m_cached = DaoStatement(); // the old statement goes before the new one is made
    m_cached = DaoStatement(m_pDatabase->handle(), sql);
    return m_cached;
}

void CDaoRecordset::requireOpen() const {
    if (!m_open)
        throw CDaoException("record set is not open", SQLITE_MISUSE);
}

void CDaoRecordset::requireCurrent() const {
    requireOpen();
    if (m_pos < 0 || m_pos >= static_cast<long>(m_rows.size()) || m_rows[static_cast<size_t>(m_pos)].deleted)
        throw CDaoException("no current record", SQLITE_NOTFOUND);
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
        throw CDaoException("no current record (empty record set)", SQLITE_NOTFOUND);
    loadCurrent();
}

void CDaoRecordset::MoveLast() {
    requireOpen();
    m_mode = EditMode::None;
    if (!seek(static_cast<long>(m_rows.size()) - 1, -1))
        throw CDaoException("no current record (empty record set)", SQLITE_NOTFOUND);
    loadCurrent();
}

void CDaoRecordset::MoveNext() {
    requireOpen();
    m_mode = EditMode::None;
    // From a deleted current record the move is still allowed: it reaches
    // the next record or the end.
    if (m_pos >= static_cast<long>(m_rows.size()))
        throw CDaoException("moved past the end of the record set", SQLITE_NOTFOUND);
    if (!seek(m_pos + 1, +1))
        m_pos = static_cast<long>(m_rows.size());
    loadCurrent();
}

void CDaoRecordset::MovePrev() {
    requireOpen();
    m_mode = EditMode::None;
    if (m_pos < 0 || m_rows.empty())
        throw CDaoException("moved past the beginning of the record set", SQLITE_NOTFOUND);
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
        throw CDaoException("Update without AddNew or Edit", SQLITE_MISUSE);
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
        DaoStatement& st = prepareCached(sql);
        for (size_t k = 0; k < dirty.size(); ++k)
            bindValue(st, static_cast<int>(k + 1), dirty[k].second, m_columns[dirty[k].first].isText);
        st.execute("insert failed");
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
            DaoStatement& st = prepareCached(sql);
            for (size_t k = 0; k < dirty.size(); ++k)
                bindValue(st, static_cast<int>(k + 1), dirty[k].second, m_columns[dirty[k].first].isText);
            Row& row = m_rows[static_cast<size_t>(m_pos)];
            st.bindInt64(static_cast<int>(dirty.size() + 1), row.rowid);
            st.execute("update failed");
            for (const auto& [field, value] : dirty)
                row.values[field] = value;
        }
    }
    loadCurrent();
}

void CDaoRecordset::Delete() {
    requireCurrent();
    m_mode = EditMode::None;
    DaoStatement& st = prepareCached("DELETE FROM " + utf8(bracketed(m_table)) + " WHERE rowid=?1");
    Row& row = m_rows[static_cast<size_t>(m_pos)];
    st.bindInt64(1, row.rowid);
    st.execute("delete failed");
    row.deleted = true;
    --m_live;
}

} // namespace parvault
