#include "daotabledef.h"

#include "daodatabase.h"
#include "daoexception.h"
#include "daosql.h"
#include "daostatement.h"

#include <QStringList>

#include <sqlite3.h>

namespace parvault {

namespace {

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
        throw CDaoException("unsupported field type " + std::to_string(type), SQLITE_MISMATCH);
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

} // namespace

void CDaoTableDef::Create(const QString& name) {
    m_name = name;
    m_pending.clear();
    m_creating = true;
    m_open = false;
}

void CDaoTableDef::CreateField(const QString& name, short type, long size, long attributes) {
    if (!m_creating)
        throw CDaoException("table definition is not being created", SQLITE_MISUSE);
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
        throw CDaoException("table definition has no fields", SQLITE_MISUSE);
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
        throw CDaoException("no such table: " + utf8(name), SQLITE_ERROR);
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
        throw CDaoException("table definition is not open", SQLITE_MISUSE);
    DaoStatement st(m_db->handle(), "SELECT name, type, pk FROM pragma_table_info(?1) ORDER BY cid");
    st.bindText(1, m_name.toUtf8());
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
        throw CDaoException("field index out of range", SQLITE_RANGE);
    return fields[static_cast<size_t>(index)];
}

int CDaoTableDef::GetIndexCount() const {
    if (!m_open)
        throw CDaoException("table definition is not open", SQLITE_MISUSE);
    DaoStatement st(m_db->handle(), "SELECT count(*) FROM pragma_index_list(?1)");
    st.bindText(1, m_name.toUtf8());
    st.step();
    return sqlite3_column_int(st.get(), 0);
}

} // namespace parvault
