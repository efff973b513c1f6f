#include "daofieldexchange.h"

#include "daorecordset.h"
#include "daosql.h"

namespace parvault {

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

} // namespace parvault
