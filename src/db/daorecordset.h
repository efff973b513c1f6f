#pragma once

#include "daofieldexchange.h"
#include "daostatement.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace parvault {

class CDaoDatabase;
class CDaoTableDef;

// Record set open types.
enum DaoOpenType : int { dbOpenTable = 1, dbOpenDynaset = 2 };

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
    // The statement of the last write, kept for the next one of the same text.
    DaoStatement& prepareCached(const std::string& sql);

    bool m_open = false;
    QString m_table;
    std::vector<CDaoFieldExchange::Column> m_columns;
    std::vector<Row> m_rows;
    long m_pos = 0; // -1 before the first (BOF), size at the end (EOF)
    long m_live = 0; // records not deleted
    EditMode m_mode = EditMode::None;
    std::vector<DaoValue> m_snapshot;
    DaoStatement m_cached;
};

} // namespace parvault
