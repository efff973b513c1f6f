// Kept apart from the window's headers: the storage layer's record sets and
// the window both name the main database file.

#include "listmaker.h"

#include "daostorage.h"
#include "recordsets.h"
#include "rowtable.h"

#include <QFile>

namespace parvault::bench {

void MakeListFile(const QString& path, int rows, int typeCode, const QString& listName) {
    QFile::remove(path);
    CDaoDatabase db;
    db.Create(path);
    CreateParamsTable(db);
    CreateListHeadTable(db);
    DaoTransaction tx(db);
    CParametr p(&db);
    p.Open();
    for (int i = 0; i < rows; ++i) {
        p.AddNew();
        p.canal = i / 1000;
        p.param = i % 1000;
        p.index = 0;
        p.edizm = i % 14;
        p.flag_dt = 1;
        p.data = QStringLiteral("%1,%2").arg(i).arg(i % 100);
        p.text = QStringLiteral("Параметр номер %1 узла учёта").arg(i);
        p.type_spiska = 0;
        p.type_zapros = i % 5 == 0 ? KindIndexed : KindPlain;
        p.kod_type_pribor = typeCode;
        p.Update();
    }
    p.Close();
    CMySpisok head(&db);
    head.Open();
    head.AddNew();
    head.kod_type_pribor = typeCode;
    head.name = listName;
    head.Update();
    head.Close();
    tx.Commit();
    db.Close();
}

} // namespace parvault::bench
