// Storing the shown values into the loaded list file, then exporting the
// rows as a table when the user names a file for it.

#include "dbsession.h"

#include "dbreasons.h"
#include "dbsessionshared.h"
#include "jetconvert.h"
#include "jetimport.h"
#include "listexport.h"
#include "outputfile.h"
#include "recordsets.h"

#include <QDir>
#include <QFileInfo>

namespace parvault {

namespace {

const QString kMsgDataNotWritten = QStringLiteral("Данные не записываются\n");
const QString kMsgJetConverted = QStringLiteral(
    "Файл %1 был в прежнем формате, в который программа не пишет. Он переведён в формат программы, "
    "прежний файл сохранён рядом под именем %2.\n");
const QString kMsgJetNotConverted =
    QStringLiteral("Данные не записываются: файл %1 в прежнем формате не переводится в формат программы — %2.\n");
const QString kMsgDataNotWrittenBusy = QStringLiteral(
    "Данные не записываются: файл %1 занят другой программой (ждали %2 с). Повторите позже.\n");
const QString kMsgDataNotWrittenGone =
    QStringLiteral("Данные не записываются: списка «%1» больше нет — файл %2 удалён другой программой.\n");
const QString kMsgExportOpenText = QStringLiteral("-1");
const QString kMsgExportOpenCaption = QStringLiteral("Ошибка при открытии файла.");
const QString kMsgExportIsDatabase =
    QStringLiteral("Таблица не записана: файл %1 — база данных программы, её нельзя заменить таблицей.\n");

// Why a list file must not be written: no write bit in its mode (a file
// made read-only on purpose), or no right to write it. Empty when writable.
QString whyWriteProtected(const QString& fileName) {
    const QFileInfo info(fileName);
    if (!info.exists())
        return {};
    // The mode's own bits: Qt's "user" bits ask the system, which lets the
    // superuser write anything.
    constexpr QFile::Permissions kAnyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!(info.permissions() & kAnyWrite))
        return QStringLiteral("файл защищён от записи");
    if (!info.isWritable())
        return QStringLiteral("нет права записи в файл");
    return {};
}

} // namespace

void DbSession::SaveValues() {
    if (m_goneList && currentListNumber == 0) {
        m_ui.message(kMsgDataNotWrittenGone.arg(m_goneList->listName, m_goneList->fileName), kAppCaption);
        return;
    }
    if (currentTypeCode == 0 || currentListNumber == 0)
        return;
    const ListFileEntry* entry = listFileTable.entry(currentListNumber);
    if (!entry)
        return;
    const ListFileEntry list = *entry;
    QDir::setCurrent(workingDirectory);
    storeProblem.clear();
    exportProblem.clear();

    if (!storeValues(list))
        return;
    exportList(list);
    QDir::setCurrent(workingDirectory);
}

bool DbSession::storeValues(const ListFileEntry& list) {
    WaitCursorRun cursor(waitCursor);
    // A write-protected list is refused before anything is written or
    // converted, by its mode bits too: the administrator's account writes
    // through them, while the user meant the file to stay as it is.
    if (const QString why = whyWriteProtected(list.fileName); !why.isEmpty()) {
        storeProblem = why;
        m_ui.message(kMsgDataNotWritten, kAppCaption);
        return false;
    }
    if (IsJetFile(list.fileName) && !convertJetList(list.fileName))
        return false;
    try {
        reopenCurrent(list.fileName);
    } catch (const CDaoException& e) {
        reportNotStored(list, e);
        return false;
    }
    if (const std::optional<CDaoException> failure = storeValueColumn()) {
        reportNotStored(list, failure);
        return false;
    }
    return true;
}

bool DbSession::convertJetList(const QString& fileName) {
    // A Jet file cannot be written: it becomes one of our own first, its
    // original kept beside it.
    if (currentDatabase.IsOpen())
        currentDatabase.Close();
    const ConvertResult converted = ConvertJetFile(fileName);
    if (converted.status != ConvertStatus::Converted) {
        const CDaoException e(converted.detail.toStdString(), converted.sqliteCode, converted.systemErrno);
        storeProblem = whyUnusable(fileName, e);
        m_ui.message(kMsgJetNotConverted.arg(fileName, storeProblem), kAppCaption);
        return false;
    }
    m_ui.notice(kMsgJetConverted.arg(fileName, converted.keptAs), kAppCaption);
    return true;
}

void DbSession::reportNotStored(const ListFileEntry& list, const std::optional<CDaoException>& e) {
    if (!QFileInfo::exists(list.fileName) || (e && e->sqliteCode() == kListFileGoneCode)) {
        storeProblem = QStringLiteral("файл удалён другой программой");
        m_ui.message(kMsgDataNotWrittenGone.arg(list.listName, list.fileName), kAppCaption);
    } else if (e && isBusy(*e)) {
        storeProblem = QStringLiteral("файл занят другой программой");
        m_ui.message(kMsgDataNotWrittenBusy.arg(list.fileName, busyWaitSeconds()), kAppCaption);
    } else {
        storeProblem = e ? whyUnusable(list.fileName, *e) : QString();
        m_ui.message(kMsgDataNotWritten, kAppCaption);
    }
}

std::optional<CDaoException> DbSession::storeValueColumn() {
    try {
        // The values are stored in one transaction, which waits for another
        // program's write to end; other programs see them when it commits.
        // A failure part-way does not undo the records written before it.
        DaoTransaction tx(currentDatabase);
        // Holding the write lock, a list that was deleted meanwhile stays
        // deleted: storing into the removed file would report a store that
        // nobody can ever see.
        if (currentDatabase.FileIsGone())
            return CDaoException("the list file was deleted", kListFileGoneCode);
        try {
            CParametr rs(&currentDatabase);
            rs.m_strSort = kParamSort;
            rs.Open();
            rs.MoveFirst();
            const int n = m_rows.rowCount();
            // Records beyond the last row are left as they are.
            for (int i = 0; i < n; ++i) {
                waitCursor.step();
                if (keepStoredRows.contains(i)) {
                    rs.MoveNext();
                    continue;
                }
                const QString value = CutText(m_rows.text(i, ColValue), kStoredValueChars);
                rs.Edit();
                rs.data = value.isNull() ? QString("") : value;
                rs.flag_dt = IsDiagnosticText(value) ? 0 : 1;
                rs.Update();
                rs.MoveNext();
            }
            rs.Close();
            tx.Commit();
            return std::nullopt;
        } catch (const CDaoException& e) {
            // The records updated before the failure are committed and keep
            // their new values; a commit that failed is tried once more.
            try {
                tx.Commit();
            } catch (const CDaoException&) {
            }
            return e;
        }
    } catch (const CDaoException& e) {
        return e; // no transaction could begin (another program's lock outlasted the wait)
    }
}

void DbSession::exportList(const ListFileEntry& list) {
    const std::optional<QString> path =
        m_ui.askSaveFile(DefaultExportName(list.typeName), kExportFilter, kExportDefaultExtension);
    if (!path)
        return;
    // The program's own databases are never replaced by a table.
    if (const QString refused = WhyNotAnOutputFile(*path, workingDirectory, ListFileNames()); !refused.isEmpty()) {
        exportProblem = refused;
        m_ui.message(kMsgExportIsDatabase.arg(*path), kAppCaption);
        return;
    }
    WaitCursorRun cursor(waitCursor);
    QByteArray text = ExportTitleLine(list.listName, list.fileName);
    text += ExportColumnLine();
    for (int i = 0; i < m_rows.rowCount(); ++i) {
        waitCursor.step();
        text += ExportRowLine(m_rows.row(i));
    }
    // Written beside and renamed over: a failed export leaves an older table whole.
    if (!WriteOutputFile(*path, text, &exportProblem))
        m_ui.message(kMsgExportOpenText, kMsgExportOpenCaption);
}

} // namespace parvault
