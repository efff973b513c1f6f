// The option table is the one place an option is written: the parser, the
// refusals and --help are made from it, and the manual page is held to
// --help. These hold the table and what is made from it together.

#include "cliargs.h"
#include "optiontable.h"

#include <QRegularExpression>
#include <QSet>

#include <cstring>

#include <gtest/gtest.h>

using namespace parvault::cli;

TEST(CliOptionTable, EveryOptionOnceAndNamedInHelp) {
    const QString help = UsageText();
    QSet<QString> names;
    for (const CliOption& o : OptionTable()) {
        const QString name = QLatin1String(o.name);
        EXPECT_FALSE(names.contains(name)) << o.name << " has two rows";
        names.insert(name);
        ASSERT_NE(o.apply, nullptr) << o.name;
        // --help and --version stand for the help command and the program's
        // version; the others without a line are named in another's text.
        if (o.group != OptionGroup::Unlisted) {
            EXPECT_TRUE(help.contains(QStringLiteral("\n  ") + OptionLabel(o) + QLatin1Char(' ')))
                << o.name << " has no line of its own in --help";
        } else if (name != QLatin1String("--help") && name != QLatin1String("--version")) {
            EXPECT_TRUE(help.contains(name)) << o.name << " is not named anywhere in --help";
        }
    }
    // The other way round: --help names no option the parser does not know.
    static const QRegularExpression option(QStringLiteral("--[a-z][a-z0-9-]*[a-z0-9]"));
    for (auto it = option.globalMatch(help); it.hasNext();) {
        const QString named = it.next().captured();
        EXPECT_TRUE(names.contains(named)) << named.toStdString() << " is in --help but not in the table";
    }
}

TEST(CliOptionTable, HelpLinesStartTheirTextAtOneColumn) {
    // A label too long for the column would push its text out of line.
    for (const CliOption& o : OptionTable())
        EXPECT_LT(OptionLabel(o).size() + 2, kHelpColumn) << o.name;
    for (const CliCommand& c : CliCommands())
        EXPECT_LT(qsizetype(strlen(c.label)) + 2, kHelpColumn) << c.word;
    const QString help = UsageText();
    const QStringList lines = help.split(QLatin1Char('\n'));
    for (const CliOption& o : OptionTable()) {
        if (o.group == OptionGroup::Unlisted)
            continue;
        const QString start = QStringLiteral("  ") + OptionLabel(o) + QLatin1Char(' ');
        for (const QString& line : lines) {
            if (line.startsWith(start)) {
                EXPECT_NE(line.at(kHelpColumn), QLatin1Char(' ')) << line.toStdString();
            }
        }
    }
}

TEST(CliOptionTable, ParserTakesValuesAsTheTableSays) {
    for (const CliOption& o : OptionTable()) {
        const QString name = QLatin1String(o.name);
        if (o.takesValue()) {
            const ParseResult r = ParseArgs({QStringLiteral("read"), QStringLiteral("1"), name});
            EXPECT_EQ(r.error, name + QStringLiteral(" wants a value")) << o.name;
        } else {
            const ParseResult r = ParseArgs({QStringLiteral("read"), QStringLiteral("1"), name + QStringLiteral("=x")});
            EXPECT_EQ(r.error, name + QStringLiteral(" takes no value")) << o.name;
        }
    }
    for (const CliCommand& c : CliCommands()) {
        const ParseResult r = ParseArgs({QLatin1String(c.word), QStringLiteral("1")});
        EXPECT_EQ(r.options.command, c.command) << c.word;
    }
}

TEST(CliOptionTable, EveryRefusalIsAskedOnce) {
    QSet<QString> ordered;
    for (const char* name : RefusalOrder()) {
        const CliOption* o = FindOption(QLatin1String(name));
        ASSERT_NE(o, nullptr) << name << " is not in the table";
        EXPECT_NE(o->refuse, nullptr) << name << " refuses nothing";
        EXPECT_FALSE(ordered.contains(QLatin1String(name))) << name << " is asked twice";
        ordered.insert(QLatin1String(name));
    }
    for (const CliOption& o : OptionTable()) {
        if (o.refuse) {
            EXPECT_TRUE(ordered.contains(QLatin1String(o.name))) << o.name << "'s refusal is never asked";
        }
    }
}

TEST(CliOptionTable, OfTwoFaultsTheFirstInRefusalOrderIsNamed) {
    // Command lines with two faults each, and the fault named.
    const std::vector<std::pair<QString, QString>> cases = {
        {"tree --rows 1 --set a=1", "--set belongs to the write command"},
        {"tree --targets f --pace fast", "--pace and --gap belong to the read and write commands"},
        {"read 1 --gap 5 --name x", "--gap goes with --pace fast"},
        {"save type:20 --gap 4 --trace t", "--pace and --gap belong to the read and write commands"},
        {"save type:20 --save --compare", "--save and --export belong to the read and write commands"},
        {"tree --only-differing --jobs 2", "--jobs belongs to --targets"},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(ParseArgs(line.split(QLatin1Char(' '))).error, expected) << line.toStdString();
}
