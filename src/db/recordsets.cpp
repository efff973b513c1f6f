#include "recordsets.h"

namespace parvault {

QString ParamFilter(int32_t typeCode) { return QString::asprintf("kod_type_pribor=%02d", typeCode); }

// The default database name is never used: every record set is constructed
// on an open connection.
QString CParametr::GetDefaultDBName() { return QString::fromLatin1(kMainDatabaseName); }
QString CParametr::GetDefaultSQL() { return bracketed(kTableParams); }
void CParametr::DoFieldExchange(CDaoFieldExchange* pFX) {
    DFX_Long(pFX, "[canal]", canal);
    DFX_Long(pFX, "[param]", param);
    DFX_Long(pFX, "[index]", index);
    DFX_Long(pFX, "[edizm]", edizm);
    DFX_Long(pFX, "[flag_dt]", flag_dt);
    DFX_Text(pFX, "[data]", data);
    DFX_Text(pFX, "[text]", text);
    DFX_Long(pFX, "[type_spiska]", type_spiska);
    DFX_Long(pFX, "[type_zapros]", type_zapros);
    DFX_Long(pFX, "[kod_type_pribor]", kod_type_pribor);
}

QString CMySpisok::GetDefaultDBName() { return QString::fromLatin1(kMainDatabaseName); }
QString CMySpisok::GetDefaultSQL() { return bracketed(kTableListHead); }
void CMySpisok::DoFieldExchange(CDaoFieldExchange* pFX) {
    DFX_Long(pFX, "[kod_type_pribor]", kod_type_pribor);
    DFX_Text(pFX, "[name]", name);
    DFX_Long(pFX, "[number]", number);
}

QString CSpisokHead::GetDefaultDBName() { return QString::fromLatin1(kMainDatabaseName); }
QString CSpisokHead::GetDefaultSQL() { return bracketed(kTableDeviceTypes); }
void CSpisokHead::DoFieldExchange(CDaoFieldExchange* pFX) {
    DFX_Long(pFX, "[КодТипаПрибора]", kodTipaPribora);
    DFX_Text(pFX, "[НаимТипаПрибора]", naimTipaPribora);
    DFX_Long(pFX, "[Последний номер списка]", posledniyNomerSpiska);
}

QString CData::GetDefaultDBName() { return QString::fromLatin1(kMainDatabaseName); }
QString CData::GetDefaultSQL() { return bracketed(kTableDataParam); }
void CData::DoFieldExchange(CDaoFieldExchange* pFX) { DFX_Text(pFX, "[Data]", Data); }

void CreateParamsTable(CDaoDatabase& db) {
    CDaoTableDef td(&db);
    td.Create(kTableParams);
    td.CreateField(QStringLiteral("canal"), dbLong, 4, 0);
    td.CreateField(QStringLiteral("param"), dbLong, 4, 0);
    td.CreateField(QStringLiteral("index"), dbLong, 4, 0);
    td.CreateField(QStringLiteral("edizm"), dbLong, 4, 0);
    td.CreateField(QStringLiteral("flag_dt"), dbLong, 4, 0);
    td.CreateField(QStringLiteral("data"), dbText, 255, 0);
    td.CreateField(QStringLiteral("text"), dbMemo, 0, 0);
    td.CreateField(QStringLiteral("type_spiska"), dbLong, 4, 0);
    td.CreateField(QStringLiteral("type_zapros"), dbLong, 4, 0);
    td.CreateField(QStringLiteral("kod_type_pribor"), dbLong, 4, 0);
    td.Append();
    td.Close();
}

void CreateListHeadTable(CDaoDatabase& db) {
    CDaoTableDef td(&db);
    td.Create(kTableListHead);
    td.CreateField(QStringLiteral("kod_type_pribor"), dbLong, 4, 0);
    td.CreateField(QStringLiteral("name"), dbText, 255, 0);
    td.CreateField(QStringLiteral("number"), dbLong, 4, 0);
    td.Append();
    td.Close();
}

} // namespace parvault
