#pragma once

// Every command and option of parvault2-cli is one row of the tables below:
// the parser, the refusals and the --help text are made from them, so an
// option is written once.

#include "cliargs.h"

#include <QString>

#include <span>

namespace parvault::cli {

// The --help block an option is listed in; Unlisted options are named in
// another option's text (--no-optical) or among the commands (--help).
enum class OptionGroup { Rows, Connection, ManyDevices, Output, Unlisted };

struct CliOption {
    const char* name;               // "--rows"
    const char* argName = "";       // the value's name in --help; empty: the option takes no value
    OptionGroup group = OptionGroup::Unlisted;
    const char* help = "";          // "\n" goes on to an indented line
    // Takes the option's value into the options; returns the refusal, or an
    // empty text.
    QString (*apply)(CliOptions&, const QString& value) = nullptr;
    // Asked once the command is known, in RefusalOrder(), whether or not
    // the option was given: the refusal of a combination the option is part
    // of (a command it does not belong to), or an empty text.
    QString (*refuse)(const CliOptions&) = nullptr;

    bool takesValue() const { return *argName != '\0'; }
};

struct CliCommand {
    const char* word;  // as typed: "read"
    Command command;
    const char* label; // as --help shows it: "read LIST"
    const char* help;  // "\n" goes on to an indented line
};

std::span<const CliOption> OptionTable();
std::span<const CliCommand> CliCommands();
// The options whose refusals are asked once the command is known, in the
// order they are asked: of two faults on one command line, the first in
// this order is the one named.
std::span<const char* const> RefusalOrder();

const CliOption* FindOption(const QString& name);
const CliCommand* FindCommand(const QString& word);

// Where the descriptions of --help start.
inline constexpr qsizetype kHelpColumn = 25;

// An option as --help names it: "--udp HOST:PORT".
QString OptionLabel(const CliOption& option);
// The lines of one --help block: the commands, or one group's options.
QString CommandsHelp();
QString OptionsHelp(OptionGroup group);

} // namespace parvault::cli
