#pragma once

// What the database commands share inside the storage layer: the main
// database's name, how a lock held by another program is told apart, and the
// wait cursor's run. Not for the window or the command line.

#include "daoexception.h"
#include "waitcursor.h"

#include <QString>

namespace parvault {

QString mainDatabase();

// True when another program held the file locked longer than the busy wait.
bool isBusy(const CDaoException& e);
// The busy wait in seconds, for the messages that name it.
QString busyWaitSeconds();

// Removes a list file and the journal a crash may have left beside it.
void removeWithJournal(const QString& fileName);

// Stops the wait cursor however a command ends.
class WaitCursorRun {
public:
    explicit WaitCursorRun(WaitCursor& c) : m_cursor(c) { m_cursor.start(); }
    ~WaitCursorRun() { m_cursor.stop(); }
    WaitCursorRun(const WaitCursorRun&) = delete;
    WaitCursorRun& operator=(const WaitCursorRun&) = delete;

private:
    WaitCursor& m_cursor;
};

} // namespace parvault
