#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace parvault {

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

} // namespace parvault
