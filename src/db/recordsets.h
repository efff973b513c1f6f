#pragma once

// The four record sets through which every access to the parameter databases
// goes, with their fields in exchange order.

#include "daostorage.h"

#include <QString>

#include <cstdint>

namespace parvault {

inline constexpr const char* kMainDatabaseName = "PARVLT2.mdb";

// Tables and their fields.
inline const QString kTableParams = QStringLiteral("Параметры");
inline const QString kTableListHead = QStringLiteral("Список");
inline const QString kTableDeviceTypes = QStringLiteral("ТипыПриборов");
inline const QString kTableDataParam = QStringLiteral("DataParam");

// Every load and save selects one device type's rows, in this order.
QString ParamFilter(int32_t typeCode); // "kod_type_pribor=%02d"
inline const QString kParamSort = QStringLiteral("canal,param,index");

class CParametr : public CDaoRecordset {
public:
    explicit CParametr(CDaoDatabase* db) : CDaoRecordset(db) {}

    int32_t canal = 0;
    int32_t param = 0;
    int32_t index = 0;
    int32_t edizm = 0;
    int32_t flag_dt = 0;
    QString data;
    QString text;
    int32_t type_spiska = 0;
    int32_t type_zapros = 0;
    int32_t kod_type_pribor = 0;

    QString GetDefaultDBName() override;
    QString GetDefaultSQL() override;
    void DoFieldExchange(CDaoFieldExchange* pFX) override;
};

class CMySpisok : public CDaoRecordset {
public:
    explicit CMySpisok(CDaoDatabase* db) : CDaoRecordset(db) {}

    int32_t kod_type_pribor = 0;
    QString name;
    int32_t number = 0;

    QString GetDefaultDBName() override;
    QString GetDefaultSQL() override;
    void DoFieldExchange(CDaoFieldExchange* pFX) override;
};

// The device types of the main database.
class CSpisokHead : public CDaoRecordset {
public:
    explicit CSpisokHead(CDaoDatabase* db) : CDaoRecordset(db) {}

    int32_t kodTipaPribora = 0;      // [КодТипаПрибора]
    QString naimTipaPribora;         // [НаимТипаПрибора]
    int32_t posledniyNomerSpiska = 0; // [Последний номер списка]

    QString GetDefaultDBName() override;
    QString GetDefaultSQL() override;
    void DoFieldExchange(CDaoFieldExchange* pFX) override;
};

// Bound for completeness; no command opens it.
class CData : public CDaoRecordset {
public:
    explicit CData(CDaoDatabase* db) : CDaoRecordset(db) {}

    QString Data;

    QString GetDefaultDBName() override;
    QString GetDefaultSQL() override;
    void DoFieldExchange(CDaoFieldExchange* pFX) override;
};

// Creates the two tables of a new list file, fields in their fixed order.
void CreateParamsTable(CDaoDatabase& db);
void CreateListHeadTable(CDaoDatabase& db);

} // namespace parvault
