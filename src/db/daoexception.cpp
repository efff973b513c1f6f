#include "daoexception.h"

#include <sqlite3.h>

namespace parvault {

int checkSqlite(sqlite3* db, int rc, std::string_view what) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE)
        return rc;
    // Without a connection (no memory for one) only the code can say what failed.
    const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw CDaoException(std::string(what) + ": " + message, rc, db ? sqlite3_system_errno(db) : 0);
}

} // namespace parvault
