#ifndef CLIOPTIONS_H
#define CLIOPTIONS_H

#include "MergeOptions.h"
#include "mcuboot/McubootImage.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

struct OutputFormatInfo;

// Everything the command line asked for, checked: what to merge, where to,
// how, and with which reports. Usage errors are found here, before any input
// is read.
struct CliOptions
{
    enum class Action { Merge, Help, Version };
    Action action = Action::Merge;
    QString helpText;
    // What the first argument asks for: a merge (no command word), or to
    // look inside files, tell two apart, check one against its map, make
    // one an MCUboot image.
    enum class Command { Merge, Info, Compare, Verify, Sign };
    Command command = Command::Merge;
    QStringList files;   // a command's files, in order
    bool json = false;   // a command's result as one JSON document
    bool fillGiven = false;
    bool baseGiven = false;

    QVector<MergeRow> rows;
    MergeOptions merge; // for the engine; its defaults are the window's rules
    QString settingsPath;
    bool settingsGiven = false;
    QString inputFormat; // auto or raw; empty: not given

    QString output; // as messages name it; "-" for standard output
    bool outputGiven = false;
    bool formatFromName = false; // the output's name chose merge.format

    bool wantMap = false;
    QString map;       // an absolute name, or "-" for standard output
    QString mapAsGiven; // as messages name it
    bool wantPicture = false;
    QString picture;          // an absolute name
    QString pictureAsGiven;   // as messages name it
    bool printLayout = false;
    bool dryRun = false;

    // MCUboot: the image's options (a merge's --mcuboot row, or sign's file),
    // those given by their names, for a merge without --mcuboot.
    Mcuboot::Request mcuboot;
    bool mcubootGiven = false;  // a merge's --mcuboot ADDR
    QStringList mcubootOptionsGiven;
    bool headerSizeGiven = false;
    bool wantVector = false;    // sign --vector-to-sign: what to sign, not the image
    Mcuboot::VectorKind vector = Mcuboot::VectorKind::Payload;
    QString verifyKey;          // verify --key: a public key to check MCUboot images with
};

// What a shell offers for an option's value: nothing (an address, a number),
// file names, or the words words() gives (a word that ends in '@' is one the
// user goes on typing).
struct CliCompletion
{
    enum Kind { Nothing, FileName, Word } kind;
    std::function<QStringList()> words;
};

// The positional arguments, as --help shows them.
struct CliPositional
{
    QString name;
    QString help;
    QString syntax;
};
// One option of the command line: the one place it is named. The table feeds
// the parser, --help, the manual page's OPTIONS section and the shell's
// completion. A format's own options are rows its registry gives.
struct CliOption
{
    QStringList names;  // "o", "output"
    QString valueName;  // empty: a switch
    QString help;       // one paragraph of plain text
    // Takes its values (every one given, in order) into options; false with
    // a one-line usage error.
    std::function<bool(const QStringList &values, CliOptions &options, QString *error)> apply;
    CliCompletion completion;
    // Given as often as needed, each value applied; an option that takes a
    // value and does not repeat is given once, a second value a usage error.
    bool repeats = false;
    // The commands that take it (CliCommand::bit of each).
    unsigned commands = 1;
    // Whether an output format takes it; empty: every one does. Given for
    // one that does not, it is a usage error that names both; checked, and
    // the option applied, once every other option is.
    std::function<bool(const OutputFormatInfo &format)> forOutput = nullptr;
};

// A command given as the first argument instead of a merge's arguments: its
// word, what --help says of it, and what it takes besides its options.
struct CliCommand
{
    CliOptions::Command command;
    QString word;        // "info"; empty for the merge
    QString synopsis;    // "[--json] FILE..."
    QString description; // what it does and its exit status
    CliPositional files; // its arguments
    int fewestFiles;
    int mostFiles;       // -1: any number
    static unsigned bit(CliOptions::Command command) { return 1u << unsigned(command); }
};
const QVector<CliCommand> &cliCommands();
const CliCommand &cliCommand(CliOptions::Command command);
// The manual page's COMMANDS section, in troff.
QString manPageCommands();

// In the order --help and the manual list them: the common options, with
// every format's own gathered from the registries. They are applied and
// checked in an order of their own (cliAppliedOrder()), whatever this one.
const QVector<CliOption> &cliOptionTable();
// The long names of the options, in the order they are applied and checked;
// those it leaves out come after, in the table's order, and those only some
// output formats take after all.
const QStringList &cliAppliedOrder();

CliPositional cliPairsArgument();
QString cliDescription();

// Reads the arguments (the program's name first). For --settings it also
// reads the settings file and makes the folder that holds its cfg folder
// the current one, as the window's own folder is to the window. False with a
// one-line usage error.
bool parseCommandLine(const QStringList &arguments, CliOptions &options, QString *error);

// An option's names as they are typed: "-o", "--output".
QStringList dashedNames(const CliOption &option);
// The manual page's OPTIONS entries, in troff, from the table.
QString manPageOptions();
// A bash completion script for MergeFileCli, from the table.
QString bashCompletion();

#endif // CLIOPTIONS_H
