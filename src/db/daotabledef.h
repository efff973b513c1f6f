#pragma once

#include <QString>

#include <vector>

namespace parvault {

class CDaoDatabase;

// Field type codes, as the list-file schema names them.
enum DaoFieldType : short { dbLong = 4, dbText = 10, dbMemo = 12 };

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

} // namespace parvault
