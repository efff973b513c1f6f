// The list a command names: the main database opened, the LIST text read
// every way it fits, the list loaded and its rows picked.

#include "clicommands.h"
#include "dbsession.h"
#include "recordsets.h"
#include "rowselect.h"

#include <QDir>

#include <algorithm>

namespace parvault::cli {

bool Cli::openDatabase(DbSession& db) {
    const QString mainDb = QString::fromLatin1(kMainDatabaseName);
    if (!DbSession::MainDatabaseExists()) {
        say(QStringLiteral("%1 not found in %2").arg(mainDb, QDir::currentPath()));
        return false;
    }
    if (!db.OpenMainDatabase()) {
        QString why;
        if (!db.mainDatabaseMissing().isEmpty())
            why = QStringLiteral(": it has no table %1, so it is not a main database")
                      .arg(db.mainDatabaseMissing().join(QStringLiteral(", no table ")));
        else if (const QString problem = db.MainDatabaseProblemText(); !problem.isEmpty())
            why = QStringLiteral(": ") + problem;
        say(QStringLiteral("%1 in %2 cannot be opened%3").arg(mainDb, QDir::currentPath(), why));
        return false;
    }
    db.BuildTree();
    return true;
}

namespace {

ListInfo listInfo(const DbSession& db, int32_t itemData, const QString& typeName) {
    ListInfo info;
    info.typeCode = TypeCodeOf(itemData);
    info.listNumber = ListNumberOf(itemData);
    info.typeName = typeName;
    if (info.listNumber == 0) {
        info.title = typeName;
        info.fileName = QString::fromLatin1(kMainDatabaseName);
    } else if (const ListFileEntry* e = db.listFileTable.entry(info.listNumber)) {
        info.title = e->listName;
        info.fileName = e->fileName;
    }
    return info;
}

// The device types and saved lists of the tree, each a candidate for what
// the LIST text names.
class ListLookup {
public:
    ListLookup(const DbSession& db, const QString& wanted) : db_(db), wanted_(wanted) {
        for (const TreeNode& group : db.tree().children) {
            types_.push_back({group.data, group.text, true});
            for (const TreeNode& list : group.children)
                lists_.push_back({list.data, group.text, false});
        }
    }

    std::optional<ListTarget> find(QString* why) const {
        // The explicit forms read the text one way only.
        if (wanted_.startsWith(QLatin1Char('#')))
            return findByNumberOnly(why);
        if (wanted_.startsWith(QLatin1String("list:"), Qt::CaseInsensitive))
            return findByNameOnly(why);
        return findAnyReading(why);
    }

private:
    struct Candidate {
        int32_t data;
        QString typeName;
        bool isType;
    };
    using Hits = std::vector<const Candidate*>;

    ListTarget found(const Candidate& c) const { return ListTarget{c.data, listInfo(db_, c.data, c.typeName)}; }
    const ListFileEntry* entryOf(const Candidate& c) const { return db_.listFileTable.entry(ListNumberOf(c.data)); }

    QString label(const Candidate& c) const {
        if (c.isType)
            return QStringLiteral("device type type:%1 \"%2\"").arg(c.data).arg(EscapeControls(c.typeName));
        const ListFileEntry* e = entryOf(c);
        return QStringLiteral("list #%1 \"%2\" (%3)")
            .arg(ListNumberOf(c.data))
            .arg(EscapeControls(e ? e->listName : QString()), e ? e->fileName : QString());
    }

    // Lists (and types) whose name is `name`: exact spelling first.
    Hits named(const QString& name, bool withTypes) const {
        Hits hits;
        for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
            for (const Candidate& c : lists_)
                if (entryOf(c) && entryOf(c)->listName.compare(name, cs) == 0)
                    hits.push_back(&c);
            if (withTypes)
                for (const Candidate& c : types_)
                    if (c.typeName.compare(name, cs) == 0)
                        hits.push_back(&c);
            if (!hits.empty())
                break;
        }
        return hits;
    }

    const Candidate* byNumber(const QString& text) const {
        bool ok = false;
        const int number = text.toInt(&ok);
        for (const Candidate& c : lists_)
            if (ok && ListNumberOf(c.data) == number)
                return &c;
        return nullptr;
    }

    std::optional<ListTarget> oneOf(const Hits& hits, QString* why) const {
        if (hits.size() == 1)
            return found(*hits.front());
        QStringList labels;
        for (const Candidate* c : hits)
            labels << label(*c);
        *why = QStringLiteral("\"%1\" fits more than one list: %2; give #N for a list by its number or "
                              "list:NAME for a list by its name")
                   .arg(EscapeControls(wanted_), labels.join(QStringLiteral(", ")));
        return std::nullopt;
    }

    // #N
    std::optional<ListTarget> findByNumberOnly(QString* why) const {
        if (const Candidate* c = byNumber(wanted_.mid(1)))
            return found(*c);
        *why = QStringLiteral("no saved list number %1 (see the tree command)").arg(wanted_.mid(1));
        return std::nullopt;
    }

    // list:NAME
    std::optional<ListTarget> findByNameOnly(QString* why) const {
        const Hits hits = named(wanted_.mid(5), false);
        if (hits.empty()) {
            *why = QStringLiteral("no saved list named \"%1\" (see the tree command)").arg(EscapeControls(wanted_.mid(5)));
            return std::nullopt;
        }
        return oneOf(hits, why);
    }

    // Every reading that fits is a candidate: a list named "1" and list
    // number 1 are two lists, and so are a list named "type:20" and the
    // device type.
    std::optional<ListTarget> findAnyReading(QString* why) const {
        Hits hits;
        auto add = [&](const Candidate* c) {
            if (c && std::find(hits.begin(), hits.end(), c) == hits.end())
                hits.push_back(c);
        };
        const QString notFound = addOtherReadings(add);
        for (const Candidate* c : named(wanted_, true))
            add(c);
        if (hits.empty()) {
            *why = notFound;
            return std::nullopt;
        }
        return oneOf(hits, why);
    }

    // The readings other than a name: a type code, a list number, a file
    // name. Returns what to say when nothing fits.
    template <typename Add>
    QString addOtherReadings(Add&& add) const {
        bool isNumber = false;
        wanted_.toInt(&isNumber);
        if (wanted_.startsWith(QLatin1String("type:"), Qt::CaseInsensitive)) {
            bool ok = false;
            const int code = wanted_.mid(5).toInt(&ok);
            for (const Candidate& c : types_)
                if (ok && c.data == code)
                    add(&c);
            return QStringLiteral("no device type %1 in the tree of %2 (see the tree command)")
                .arg(wanted_.mid(5), QString::fromLatin1(kMainDatabaseName));
        }
        if (isNumber) {
            add(byNumber(wanted_));
            return QStringLiteral("no saved list number %1 (see the tree command)").arg(wanted_);
        }
        if (wanted_.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive)) {
            bool any = false;
            for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
                for (const Candidate& c : lists_)
                    if (entryOf(c) && entryOf(c)->fileName.compare(wanted_, cs) == 0 && !any) {
                        add(&c);
                        any = true;
                    }
            }
            return QStringLiteral("no saved list in the file %1 (see the tree command)").arg(wanted_);
        }
        return QStringLiteral("no device type or saved list named \"%1\" (see the tree command)")
            .arg(EscapeControls(wanted_));
    }

    const DbSession& db_;
    const QString& wanted_;
    std::vector<Candidate> types_, lists_;
};

} // namespace

std::optional<ListTarget> Cli::resolveList(const DbSession& db, QString* why) const {
    return ListLookup(db, o_.list).find(why);
}

std::optional<ListTarget> Cli::loadList(DbSession& db, HeadlessDbUi& ui, const MemoryRowTable& rows) {
    if (!openDatabase(db))
        return std::nullopt;
    QString why;
    const auto target = resolveList(db, &why);
    if (!target) {
        say(why);
        return std::nullopt;
    }
    db.LoadTreeItem(target->itemData);
    if (db.currentTypeCode != target->info.typeCode || db.currentListNumber != target->info.listNumber) {
        say(QStringLiteral("%1 cannot be opened%2")
                .arg(target->info.fileName,
                     ui.messages.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(ui.messages.join("; "))));
        return std::nullopt;
    }
    if (rows.rowCount() == 0) {
        say(QStringLiteral("%1 has no rows").arg(o_.list));
        return std::nullopt;
    }
    return target;
}

std::optional<std::vector<int>> Cli::pickRows(const RowTable& rows, bool allByDefault) {
    std::vector<int> picked;
    if (o_.rows) {
        QString why;
        const auto selectors = ParseRowSpec(*o_.rows, &why);
        const auto hit = selectors ? MatchRows(rows, *selectors, &why) : std::nullopt;
        if (!hit) {
            say(QStringLiteral("--rows: %1").arg(why));
            return std::nullopt;
        }
        picked = *hit;
    } else if (allByDefault) {
        for (int r = 0; r < rows.rowCount(); ++r)
            picked.push_back(r);
    }
    return picked;
}

} // namespace parvault::cli
