// The tree command: the device types and saved lists as the window's tree.

#include "clicommands.h"
#include "dbsession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace parvault::cli {

int Cli::commandTree() {
    HeadlessDbUi ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    if (!openDatabase(db))
        return kExitError;
    const TreeNode& root = db.tree();
    auto fileOf = [&](const TreeNode& list) {
        const ListFileEntry* e = db.listFileTable.entry(ListNumberOf(list.data));
        return e ? e->fileName : QString();
    };
    QString out;
    switch (o_.format) {
    case Format::Text:
        out = root.text + QLatin1Char('\n');
        for (const TreeNode& group : root.children) {
            out += QStringLiteral("  %1 %2\n")
                       .arg(QStringLiteral("type:%1").arg(group.data), -8)
                       .arg(EscapeControls(group.text));
            for (const TreeNode& list : group.children)
                out += QStringLiteral("    %1  %2  (%3)\n")
                           .arg(ListNumberOf(list.data), 3)
                           .arg(EscapeControls(list.text), fileOf(list));
        }
        break;
    case Format::Csv:
        out = QStringLiteral("type,type_name,list,list_name,file\n");
        for (const TreeNode& group : root.children) {
            out += QStringLiteral("%1,%2,,,\n").arg(group.data).arg(CsvField(group.text));
            for (const TreeNode& list : group.children)
                out += QStringLiteral("%1,%2,%3,%4,%5\n")
                           .arg(group.data)
                           .arg(CsvField(group.text))
                           .arg(ListNumberOf(list.data))
                           .arg(CsvField(list.text), CsvField(fileOf(list)));
        }
        break;
    case Format::Json: {
        QJsonArray types;
        for (const TreeNode& group : root.children) {
            QJsonArray lists;
            for (const TreeNode& list : group.children) {
                QJsonObject l;
                l["number"] = ListNumberOf(list.data);
                l["name"] = list.text;
                l["file"] = fileOf(list);
                lists.append(l);
            }
            QJsonObject t;
            t["code"] = group.data;
            t["name"] = group.text;
            t["lists"] = lists;
            types.append(t);
        }
        QJsonObject doc;
        doc["types"] = types;
        out = QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented));
        break;
    }
    }
    print(out.toUtf8());
    // Files left out of the tree, and why: the window tells the same once.
    for (const QString& n : ui.notices)
        say(n);
    return kExitOk;
}

} // namespace parvault::cli
