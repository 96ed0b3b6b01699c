#include "cli/CliCommands.h"

#include "automation/BatchFrame.h"
#include "automation/UserInterface.h"
#include "operations/Checks.h"
#include "operations/files/BatchRename.h"
#include "operations/cells/ReplaceOperation.h"
#include "operations/cells/SetCellsOperation.h"
#include "operations/sheets/SheetOperations.h"
#include "operations/workbook/ConvertOperation.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "operations/workbook/MergeOperation.h"
#include "operations/workbook/PrintSetupOperation.h"
#include "operations/workbook/PropertiesOperation.h"
#include "operations/workbook/StatisticsOperation.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>

#include <array>
#include <cstdio>

namespace gm::cli {

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Messages go to standard error; questions are answered by the command's flags.
class ConsoleUserInterface : public UserInterface
{
public:
    explicit ConsoleUserInterface(bool overwrite) : m_overwrite(overwrite) { }
    void inform(const QString &text) override { err() << text << Qt::endl; }
    bool askYesNo(const QString &text) override
    {
        err() << text << (m_overwrite ? QStringLiteral(" 是") : QStringLiteral(" 否")) << Qt::endl;
        return m_overwrite;
    }
    bool askOkCancel(const QString &) override { return false; }
    void setStatus(const QString &) override { }
    void setBusy(bool) override { }
    void openInViewer(const QString &) override { }

private:
    bool m_overwrite;
};

QString outcomeText(FileOutcome outcome, const QString &processed)
{
    switch (outcome) {
    case FileOutcome::Processed:
        return processed;
    case FileOutcome::Copied:
        return QStringLiteral("copied");
    case FileOutcome::Skipped:
        return QStringLiteral("skipped");
    case FileOutcome::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

int badArguments(const QString &message)
{
    err() << message << Qt::endl << QStringLiteral("Try 'gridmule-cli --help'.") << Qt::endl;
    return kExitBadArguments;
}

// Options every command takes, and the common end of a run: one line per file on standard
// output, the log's path on standard error, the exit status.
struct CommonOptions
{
    QCommandLineOption log{QStringLiteral("log"), QString(), QStringLiteral("file")};
    QCommandLineOption help{QStringLiteral("help")};
    void addTo(QCommandLineParser &parser) const { parser.addOptions({log, help}); }
    RunSettings settings(const QCommandLineParser &parser) const
    {
        RunSettings result;
        result.isRecordError = parser.isSet(log);
        result.logFile = parser.isSet(log) ? QFileInfo(parser.value(log)).absoluteFilePath() : QString();
        // A path typed on the command line that names nothing is a mistake to report, in every
        // command alike, not an entry to pass over.
        result.missingFilesFail = true;
        return result;
    }
};

QStringList absoluteEntries(const QStringList &entries)
{
    QStringList result;
    for (const QString &entry : entries)
        result << (entry.trimmed().isEmpty() ? entry : QFileInfo(entry).absoluteFilePath());
    return result;
}

int finishRun(const RunSummary &summary, const RunSettings &settings, const QString &processed)
{
    if (summary.stopped)
        return kExitBadArguments;
    for (const FileResult &file : summary.files)
        out() << file.path << '\t' << outcomeText(file.outcome, processed) << '\t' << file.errorDescription << Qt::endl;
    if (summary.logged)
        err() << QStringLiteral("日志文件：") << settings.logFile << Qt::endl;
    return summary.failedCount() > 0 ? kExitSomeFailed : kExitOk;
}

bool parse(QCommandLineParser &parser, const QString &command, const QStringList &args, int *exitCode)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{QStringLiteral("gridmule-cli")} + args)) {
        *exitCode = badArguments(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printCommandUsage(command);
        *exitCode = kExitOk;
        return false;
    }
    return true;
}

struct CommandHelp
{
    const char *name;
    const char *summary;
    const char *usage; // synopsis and options, one per line
};

// Every command, in the order of the overall help.
const CommandHelp kCommands[] = {
    {"convert", "Convert workbooks to another format, written into one folder.",
        "gridmule-cli convert --to csv|txt|htm|mht|xlsx|xls --out DIR [--yes|--no] [--log FILE] FILE...\n"
        "  --to FORMAT       target format: csv, txt (tab-separated), htm (web page),\n"
        "                    mht (single-file web page), xlsx, xls (Excel 97-2003)\n"
        "  --out DIR         output folder; created when its parent exists\n"
        "  --yes             overwrite existing output files\n"
        "  --no              keep existing output files and skip those sources (default)\n"},
    {"properties", "Set built-in document properties of workbooks in place.",
        "gridmule-cli properties [--title TEXT] [--subject TEXT] ... [--log FILE] FILE...\n"
        "  --title TEXT      --subject TEXT    --author TEXT     --category TEXT\n"
        "  --keywords TEXT   --comments TEXT   --manager TEXT    --company TEXT\n"
        "  --hyperlink-base TEXT\n"
        "                    write TEXT into that property (an empty TEXT clears it);\n"
        "                    give at least one\n"},
    {"header-footer", "Copy a template's headers and/or footers onto every worksheet.",
        "gridmule-cli header-footer --template FILE [--header] [--footer] [--make-writable] [--log FILE] FILE...\n"
        "  --template FILE   workbook whose active sheet carries the headers and footers\n"
        "  --header          copy the three header sections\n"
        "  --footer          copy the three footer sections (neither option: both)\n"
        "  --make-writable   make read-only workbooks writable and change them\n"
        "                    (default: read-only workbooks are skipped)\n"},
    {"print-setup", "Set the print area and/or orientation of every worksheet.",
        "gridmule-cli print-setup [--area RANGE] [--landscape|--portrait] [--log FILE] FILE...\n"
        "  --area RANGE      print area, e.g. A1:G100\n"
        "  --landscape       landscape orientation\n"
        "  --portrait        portrait orientation\n"
        "                    give --area and/or one orientation\n"},
    {"sheets", "Delete, hide, unhide or rename worksheets of workbooks in place.",
        "gridmule-cli sheets delete|hide|unhide|rename|insert [options] [--log FILE] FILE...\n"
        "  Worksheets are picked by name (letter case aside) or by position among the\n"
        "  worksheets; chart sheets are never picked or counted.\n"
        "  --name-equals TEXT | --name-contains TEXT |\n"
        "  --name-not-equals TEXT | --name-not-contains TEXT\n"
        "                    delete, hide, unhide: the worksheets whose names match\n"
        "  --position N      delete, hide: the N-th worksheet\n"
        "  --all             unhide: every hidden worksheet\n"
        "  --yes             delete: confirm the deletion, which cannot be undone\n"
        "  --replace OLD --with NEW\n"
        "                    rename: replace OLD (letter case counts) in every worksheet name\n"
        "  --active-name NAME\n"
        "                    rename: give the active sheet this name\n"
        "  --source FILE --source-sheet NAME\n"
        "                    insert: copy worksheet NAME of the workbook FILE (.xlsx, or .xls\n"
        "                    converted first) with its pictures, charts, tables and comments\n"
        "                    before the first worksheet of every .xlsx FILE (\"NAME (2)\" when\n"
        "                    taken)\n"},
    {"rename", "Rename workbook files: replace, insert or delete characters, or change case.",
        "gridmule-cli rename --replace|--insert|--delete|--case ... [--dry-run] FILE...\n"
        "  The main name is the file name without folder and extension. An existing file\n"
        "  is never replaced: a clashing or unusable new name keeps that file's name.\n"
        "  --replace OLD --with NEW [--all]\n"
        "                    replace the first OLD (letter case aside), or every OLD\n"
        "  --insert TEXT --at N\n"
        "                    insert TEXT after the N-th character (0: before the first)\n"
        "  --delete COUNT --at N\n"
        "                    delete COUNT characters after the N-th character\n"
        "  --case upper|lower|keep [--extension-case upper|lower|keep]\n"
        "                    change the letter case of the main name and/or extension\n"
        "  --dry-run         print what would happen and change nothing\n"
        "  Output lines: file, result (renamed, unchanged, skipped or failed) and the new\n"
        "  name or the reason.\n"},
    {"merge", "Copy every worksheet of the workbooks into one new workbook.",
        "gridmule-cli merge --out FILE [--book-names] [--keep-empty] [--yes] [--dry-run] [--log FILE] FILE...\n"
        "  --out FILE        the new workbook: .xlsx, else written as .xls\n"
        "  --book-names      name each sheet \"<file name>-<sheet name>\"\n"
        "  --keep-empty      merge empty worksheets too (the last file's are left out anyway)\n"
        "  --yes             replace FILE when it exists\n"
        "  --dry-run         print the sheets the merged workbook would have; write nothing\n"
        "  Files are taken in the order given, each one's worksheets in their own order.\n"
        "  Output lines: file, result (merged or failed) and the reason; then the sheets.\n"},
    {"stats", "Count worksheets, non-empty worksheets and used rows into a report.",
        "gridmule-cli stats --out FILE [--sheets] [--non-empty] [--rows] [--dry-run] [--log FILE] FILE...\n"
        "  --out FILE        the report (UTF-8 text), replaced when it exists\n"
        "  --sheets          count worksheets (hidden ones included, chart sheets not)\n"
        "  --non-empty       count worksheets whose used range holds something\n"
        "  --rows            count the rows of the worksheets' used ranges\n"
        "                    (none of the three: all three)\n"
        "  --dry-run         count and print, but write no report\n"
        "  Output lines: file, result, then the counts of the chosen items.\n"},
    {"replace", "Replace the content of cells that show a text, in every worksheet in place.",
        "gridmule-cli replace --find TEXT --with TEXT [options] [--log FILE] FILE...\n"
        "  Cells are compared by the text they show; the replacement is written as if\n"
        "  typed. .xlsx files only for now.\n"
        "  --find TEXT       the text to look for\n"
        "  --with TEXT       the replacement (may be empty)\n"
        "  --contains        replace every occurrence inside a cell (default: the whole\n"
        "                    cell must equal TEXT)\n"
        "  --match-case      letter case counts\n"
        "  --keep-line-breaks\n"
        "                    line breaks in cells count (default: they are ignored)\n"
        "  --rows FROM-TO    only these rows, e.g. 2-100\n"
        "  --columns FROM-TO only these columns, letters or numbers, e.g. C-E\n"},
    {"set-cells", "Write a list of cell contents into worksheets of workbooks in place.",
        "gridmule-cli set-cells --list FILE.xml [--all-sheets | --sheet NAME] [--log FILE] FILE...\n"
        "  Each content is written as if typed into its cell: numbers, dates, percents,\n"
        "  TRUE/FALSE and formulas (=...) are stored as such. .xlsx files only for now.\n"
        "  --list FILE.xml   the cell list (root Cells; Cell elements with Row, Col, Text)\n"
        "  --all-sheets      every worksheet (default: the active sheet)\n"
        "  --sheet NAME      the worksheets with this name (letter case aside)\n"},
};

const char *const kCommonHelp = "Every command also takes:\n"
                                "  --log FILE        append a line for every failed file to this run log\n"
                                "  --help            show the command's options\n";

const char *const kResultHelp = "Each file gets one line on standard output: file, result (converted, copied,\n"
                                "changed, skipped or failed) and the error description, separated by tabs. A FILE\n"
                                "that does not exist fails. Messages go to standard error. Exit status: 0 when\n"
                                "every file succeeded, 1 when some failed, 2 for bad arguments (an unusable\n"
                                "template included); then nothing is processed.\n";

// The letter-case words of rename.
bool caseChange(const QString &word, CaseChange *change)
{
    if (word == QStringLiteral("upper"))
        *change = CaseChange::Upper;
    else if (word == QStringLiteral("lower"))
        *change = CaseChange::Lower;
    else if (word == QStringLiteral("keep"))
        *change = CaseChange::Unchanged;
    else
        return false;
    return true;
}

} // namespace

void printUsage()
{
    QString text = QStringLiteral("Usage: gridmule-cli <command> [options] FILE...\n"
                                  "       gridmule-cli <command> --help\n"
                                  "       gridmule-cli --help | --version\n"
                                  "\n"
                                  "Commands:\n");
    for (const CommandHelp &command : kCommands)
        text += QStringLiteral("  %1%2\n").arg(QString::fromLatin1(command.name), -15).arg(QString::fromLatin1(command.summary));
    for (const CommandHelp &command : kCommands)
        text += u'\n' + QString::fromLatin1(command.usage);
    text += u'\n' + QString::fromLatin1(kCommonHelp) + u'\n' + QString::fromLatin1(kResultHelp);
    out() << text;
    out().flush();
}

void printCommandUsage(const QString &name)
{
    for (const CommandHelp &command : kCommands) {
        if (name != QLatin1String(command.name))
            continue;
        out() << QString::fromLatin1(command.summary) << "\n\n"
              << QString::fromLatin1(command.usage) << '\n'
              << QString::fromLatin1(kCommonHelp) << '\n'
              << QString::fromLatin1(kResultHelp);
        out().flush();
        return;
    }
    printUsage();
}

void printVersion()
{
    out() << QStringLiteral("gridmule-cli ") << QStringLiteral(GRIDMULE_VERSION) << Qt::endl;
}

int runConvertCommand(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("format"));
    const QCommandLineOption outDir(QStringLiteral("out"), QString(), QStringLiteral("dir"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption no(QStringLiteral("no"));
    CommonOptions common;
    parser.addOptions({to, outDir, yes, no});
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("convert"), args, &exitCode))
        return exitCode;
    if (parser.isSet(yes) && parser.isSet(no))
        return badArguments(QStringLiteral("--yes and --no exclude each other."));

    static const QStringList formats = {QStringLiteral("htm"), QStringLiteral("csv"), QStringLiteral("mht"),
        QStringLiteral("txt"), QStringLiteral("xlsx"), QStringLiteral("xls")};
    const int targetIndex = static_cast<int>(formats.indexOf(parser.value(to).toLower()));
    if (!parser.isSet(to) || targetIndex < 0)
        return badArguments(QStringLiteral("--to must be one of: csv, txt, htm, mht, xlsx, xls."));

    ConvertInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    inputs.targetIndex = targetIndex;
    inputs.outputFolder = parser.value(outDir);
    inputs.xlsxAvailable = true;

    ConsoleUserInterface ui(parser.isSet(yes));
    const RunSettings settings = common.settings(parser);
    return finishRun(convertWorkbooks(inputs, ui, settings), settings, QStringLiteral("converted"));
}

int runPropertiesCommand(const QStringList &args)
{
    static const char *names[kPropertyCount] = {"title",    "subject", "author",  "category",      "keywords",
                                                "comments", "manager", "company", "hyperlink-base"};
    QCommandLineParser parser;
    QList<QCommandLineOption> properties;
    for (const char *name : names)
        properties.append(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("text")));
    parser.addOptions(properties);
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("properties"), args, &exitCode))
        return exitCode;

    PropertiesInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    for (int i = 0; i < kPropertyCount; ++i) {
        inputs.checked[static_cast<size_t>(i)] = parser.isSet(properties[i]);
        inputs.values[static_cast<size_t>(i)] = parser.value(properties[i]);
    }
    if (propertyMask(inputs.checked) == 0)
        return badArguments(QStringLiteral("Give at least one property to set."));
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    return finishRun(setProperties(inputs, ui, settings), settings, QStringLiteral("changed"));
}

int runHeaderFooterCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption templ(QStringLiteral("template"), QString(), QStringLiteral("file"));
    const QCommandLineOption header(QStringLiteral("header"));
    const QCommandLineOption footer(QStringLiteral("footer"));
    const QCommandLineOption writable(QStringLiteral("make-writable"));
    parser.addOptions({templ, header, footer, writable});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("header-footer"), args, &exitCode))
        return exitCode;

    HeaderFooterInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    inputs.templatePath = parser.value(templ);
    const bool neither = !parser.isSet(header) && !parser.isSet(footer);
    inputs.header = neither || parser.isSet(header);
    inputs.footer = neither || parser.isSet(footer);
    inputs.makeWritable = parser.isSet(writable);
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    return finishRun(copyHeaderFooter(inputs, ui, settings), settings, QStringLiteral("changed"));
}

int runPrintSetupCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption area(QStringLiteral("area"), QString(), QStringLiteral("range"));
    const QCommandLineOption landscape(QStringLiteral("landscape"));
    const QCommandLineOption portrait(QStringLiteral("portrait"));
    parser.addOptions({area, landscape, portrait});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("print-setup"), args, &exitCode))
        return exitCode;
    if (parser.isSet(landscape) && parser.isSet(portrait))
        return badArguments(QStringLiteral("--landscape and --portrait exclude each other."));

    PrintSetupInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    inputs.setArea = parser.isSet(area);
    if (inputs.setArea) {
        const QStringList corners = parser.value(area).split(QLatin1Char(':'));
        inputs.topLeft = corners.value(0);
        inputs.bottomRight = corners.size() == 2 ? corners.value(1) : QString();
    }
    inputs.setOrientation = parser.isSet(landscape) || parser.isSet(portrait);
    inputs.landscape = parser.isSet(landscape);
    if (!inputs.setArea && !inputs.setOrientation)
        return badArguments(QStringLiteral("Give --area and/or --landscape or --portrait."));
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    return finishRun(setPrintSetup(inputs, ui, settings), settings, QStringLiteral("changed"));
}

int runSheetsCommand(const QStringList &args)
{
    static const QStringList actions{QStringLiteral("delete"), QStringLiteral("hide"), QStringLiteral("unhide"),
        QStringLiteral("rename"), QStringLiteral("insert")};
    if (args.isEmpty() || !actions.contains(args.first())) {
        if (!args.isEmpty() && args.first() == QStringLiteral("--help")) {
            printCommandUsage(QStringLiteral("sheets"));
            return kExitOk;
        }
        return badArguments(QStringLiteral("sheets needs one of: delete, hide, unhide, rename, insert."));
    }
    const QString action = args.first();
    QCommandLineParser parser;
    const std::array<QCommandLineOption, 4> kinds{
        QCommandLineOption(QStringLiteral("name-equals"), QString(), QStringLiteral("text")),
        QCommandLineOption(QStringLiteral("name-contains"), QString(), QStringLiteral("text")),
        QCommandLineOption(QStringLiteral("name-not-equals"), QString(), QStringLiteral("text")),
        QCommandLineOption(QStringLiteral("name-not-contains"), QString(), QStringLiteral("text"))};
    const QCommandLineOption position(QStringLiteral("position"), QString(), QStringLiteral("n"));
    const QCommandLineOption all(QStringLiteral("all"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption replace(QStringLiteral("replace"), QString(), QStringLiteral("old"));
    const QCommandLineOption with(QStringLiteral("with"), QString(), QStringLiteral("new"));
    const QCommandLineOption activeName(QStringLiteral("active-name"), QString(), QStringLiteral("name"));
    const QCommandLineOption sourceFile(QStringLiteral("source"), QString(), QStringLiteral("file"));
    const QCommandLineOption sourceSheet(QStringLiteral("source-sheet"), QString(), QStringLiteral("name"));
    for (const QCommandLineOption &kind : kinds)
        parser.addOption(kind);
    parser.addOptions({position, all, yes, replace, with, activeName, sourceFile, sourceSheet});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("sheets"), args.mid(1), &exitCode))
        return exitCode;

    const QStringList entries = absoluteEntries(parser.positionalArguments());
    const RunSettings settings = common.settings(parser);
    ConsoleUserInterface ui(false);
    int kind = -1;
    for (int k = 0; k < int(kinds.size()); ++k) {
        if (!parser.isSet(kinds[size_t(k)]))
            continue;
        if (kind >= 0)
            return badArguments(QStringLiteral("Give one name rule only."));
        kind = k;
    }
    const QString matchText = kind >= 0 ? parser.value(kinds[size_t(kind)]) : QString();

    if (action == QStringLiteral("insert")) {
        InsertSheetInputs inputs;
        inputs.entries = entries;
        if (!parser.isSet(sourceFile) || !parser.isSet(sourceSheet))
            return badArguments(QStringLiteral("insert needs --source FILE and --source-sheet NAME."));
        inputs.sourcePath = QFileInfo(parser.value(sourceFile)).absoluteFilePath();
        inputs.sheetName = parser.value(sourceSheet);
        if (!passChecks(ui, inputs.entries, kInsertEmptyList, [&] { return validateInsertSheet(inputs); }))
            return kExitBadArguments;
        const RunSummary summary = runInsertSheet(inputs, ui, settings);
        if (summary.stopped)
            return kExitBadArguments;
        return finishRun(summary, settings, QStringLiteral("changed"));
    }
    if (action == QStringLiteral("rename")) {
        RenameSheetInputs inputs;
        inputs.entries = entries;
        if (parser.isSet(activeName) == parser.isSet(replace))
            return badArguments(QStringLiteral("rename needs either --replace OLD --with NEW or --active-name NAME."));
        inputs.mode = parser.isSet(replace) ? 0 : 1;
        inputs.oldText = parser.value(replace);
        inputs.newText = parser.value(with);
        inputs.activeName = parser.value(activeName);
        return finishRun(renameSheets(inputs, ui, settings), settings, QStringLiteral("changed"));
    }
    if (action == QStringLiteral("unhide")) {
        UnhideInputs inputs;
        inputs.entries = entries;
        inputs.all = parser.isSet(all);
        if (inputs.all == (kind >= 0))
            return badArguments(QStringLiteral("unhide needs either --all or one name rule."));
        inputs.kind = std::max(kind, 0);
        inputs.matchText = matchText;
        return finishRun(unhideSheets(inputs, ui, settings), settings, QStringLiteral("changed"));
    }

    SheetPickInputs inputs;
    inputs.entries = entries;
    if (parser.isSet(position) == (kind >= 0))
        return badArguments(QStringLiteral("%1 needs either --position N or one name rule.").arg(action));
    inputs.byName = kind >= 0;
    inputs.kind = std::max(kind, 0);
    inputs.matchText = matchText;
    inputs.positionText = parser.value(position);
    if (action == QStringLiteral("hide"))
        return finishRun(hideSheets(inputs, ui, settings), settings, QStringLiteral("changed"));
    if (!parser.isSet(yes))
        return badArguments(QStringLiteral("Deleting sheets cannot be undone: add --yes to confirm."));
    // --yes is the answer to the confirmation; the list and input checks follow it.
    if (!passChecks(ui, inputs.entries, kSheetsEmptyList, [&] { return validateDeleteSheets(inputs); }))
        return kExitBadArguments;
    return finishRun(runDeleteSheets(inputs, ui, settings), settings, QStringLiteral("deleted"));
}

int runSetCellsCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption list(QStringLiteral("list"), QString(), QStringLiteral("file"));
    const QCommandLineOption allSheets(QStringLiteral("all-sheets"));
    const QCommandLineOption sheet(QStringLiteral("sheet"), QString(), QStringLiteral("name"));
    parser.addOptions({list, allSheets, sheet});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("set-cells"), args, &exitCode))
        return exitCode;
    if (!parser.isSet(list))
        return badArguments(QStringLiteral("set-cells needs --list FILE.xml."));
    if (parser.isSet(allSheets) && parser.isSet(sheet))
        return badArguments(QStringLiteral("Give --all-sheets or --sheet NAME, not both."));
    const CellListRead read = readCellListFile(parser.value(list));
    if (!read.entries)
        return badArguments(read.message);

    SetCellsInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    inputs.cells = *read.entries;
    inputs.sheets = parser.isSet(allSheets) ? CellSheets::All : parser.isSet(sheet) ? CellSheets::Named : CellSheets::Active;
    inputs.sheetName = parser.value(sheet);
    const RunSettings settings = common.settings(parser);
    ConsoleUserInterface ui(false);
    return finishRun(setCells(inputs, ui, settings), settings, QStringLiteral("changed"));
}

int runReplaceCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption find(QStringLiteral("find"), QString(), QStringLiteral("text"));
    const QCommandLineOption with(QStringLiteral("with"), QString(), QStringLiteral("text"));
    const QCommandLineOption contains(QStringLiteral("contains"));
    const QCommandLineOption matchCase(QStringLiteral("match-case"));
    const QCommandLineOption keepLineBreaks(QStringLiteral("keep-line-breaks"));
    const QCommandLineOption rows(QStringLiteral("rows"), QString(), QStringLiteral("from-to"));
    const QCommandLineOption columns(QStringLiteral("columns"), QString(), QStringLiteral("from-to"));
    parser.addOptions({find, with, contains, matchCase, keepLineBreaks, rows, columns});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("replace"), args, &exitCode))
        return exitCode;
    if (!parser.isSet(with))
        return badArguments(QStringLiteral("replace needs --with TEXT (it may be empty)."));

    ReplaceInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    inputs.find = parser.value(find);
    inputs.replacement = parser.value(with);
    inputs.contains = parser.isSet(contains);
    inputs.matchCase = parser.isSet(matchCase);
    inputs.ignoreLineBreaks = !parser.isSet(keepLineBreaks);
    auto range = [&](const QCommandLineOption &option, bool &limit, QString &from, QString &to) {
        if (!parser.isSet(option))
            return true;
        const QStringList parts = parser.value(option).split(u'-');
        if (parts.size() != 2)
            return false;
        limit = true;
        from = parts.at(0);
        to = parts.at(1).toUpper();
        from = from.toUpper();
        return true;
    };
    if (!range(rows, inputs.limitRows, inputs.rowFrom, inputs.rowTo))
        return badArguments(QStringLiteral("--rows takes FROM-TO, e.g. 2-100."));
    if (!range(columns, inputs.limitColumns, inputs.columnFrom, inputs.columnTo))
        return badArguments(QStringLiteral("--columns takes FROM-TO, e.g. C-E."));
    const RunSettings settings = common.settings(parser);
    ConsoleUserInterface ui(false);
    Validation failed;
    const RunSummary summary = replaceContent(inputs, ui, settings, {}, &failed);
    return finishRun(summary, settings, QStringLiteral("changed"));
}

} // namespace gm::cli

namespace gm::cli {

int runRenameCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption replace(QStringLiteral("replace"), QString(), QStringLiteral("old"));
    const QCommandLineOption with(QStringLiteral("with"), QString(), QStringLiteral("new"));
    const QCommandLineOption all(QStringLiteral("all"));
    const QCommandLineOption insert(QStringLiteral("insert"), QString(), QStringLiteral("text"));
    const QCommandLineOption erase(QStringLiteral("delete"), QString(), QStringLiteral("count"));
    const QCommandLineOption at(QStringLiteral("at"), QString(), QStringLiteral("n"));
    const QCommandLineOption mainCase(QStringLiteral("case"), QString(), QStringLiteral("case"));
    const QCommandLineOption extensionCase(QStringLiteral("extension-case"), QString(), QStringLiteral("case"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    parser.addOptions({replace, with, all, insert, erase, at, mainCase, extensionCase, dryRun});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("rename"), args, &exitCode))
        return exitCode;

    RenameInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    const int kinds = int(parser.isSet(replace)) + int(parser.isSet(insert)) + int(parser.isSet(erase))
            + int(parser.isSet(mainCase) || parser.isSet(extensionCase));
    if (kinds != 1)
        return badArguments(QStringLiteral("Give exactly one of --replace, --insert, --delete and --case."));
    if (parser.isSet(replace)) {
        if (!parser.isSet(with))
            return badArguments(QStringLiteral("--replace needs --with (an empty NEW removes OLD)."));
        inputs.kind = RenameKind::Replace;
        inputs.search = parser.value(replace);
        inputs.replacement = parser.value(with);
        inputs.replaceAll = parser.isSet(all);
    } else if (parser.isSet(insert) || parser.isSet(erase)) {
        if (!parser.isSet(at))
            return badArguments(QStringLiteral("--insert and --delete need --at N."));
        if (parser.isSet(insert)) {
            inputs.kind = RenameKind::Insert;
            inputs.insertText = parser.value(insert);
            inputs.insertPosition = parser.value(at);
        } else {
            inputs.kind = RenameKind::Delete;
            inputs.deleteCount = parser.value(erase);
            inputs.deletePosition = parser.value(at);
        }
    } else {
        inputs.kind = RenameKind::Case;
        if ((parser.isSet(mainCase) && !caseChange(parser.value(mainCase), &inputs.mainNameCase))
                || (parser.isSet(extensionCase) && !caseChange(parser.value(extensionCase), &inputs.extensionCase)))
            return badArguments(QStringLiteral("--case and --extension-case take upper, lower or keep."));
    }
    if ((parser.isSet(with) || parser.isSet(all)) && !parser.isSet(replace))
        return badArguments(QStringLiteral("--with and --all belong to --replace."));

    ConsoleUserInterface ui(false);
    const bool dry = parser.isSet(dryRun);
    const RenameRun run = renameDocuments(inputs, ui, dry);
    if (!run.completed)
        return kExitBadArguments;
    bool failed = false;
    for (const RenameResult &file : run.files) {
        QString result;
        QString detail = file.newPath;
        switch (file.outcome) {
        case RenameOutcome::Renamed:
            result = dry ? QStringLiteral("would rename") : QStringLiteral("renamed");
            break;
        case RenameOutcome::Unchanged:
            result = QStringLiteral("unchanged");
            break;
        case RenameOutcome::Skipped:
            result = QStringLiteral("skipped");
            break;
        case RenameOutcome::Refused:
            result = dry ? QStringLiteral("would fail") : QStringLiteral("failed");
            detail = file.reason.section(QStringLiteral("\n\n"), 1);
            failed = true;
            break;
        }
        out() << file.oldPath << '\t' << result << '\t' << detail << Qt::endl;
    }
    return failed ? kExitSomeFailed : kExitOk;
}

} // namespace gm::cli

namespace gm::cli {

int runMergeCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption output(QStringLiteral("out"), QString(), QStringLiteral("file"));
    const QCommandLineOption bookNames(QStringLiteral("book-names"));
    const QCommandLineOption keepEmpty(QStringLiteral("keep-empty"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    parser.addOptions({output, bookNames, keepEmpty, yes, dryRun});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("merge"), args, &exitCode))
        return exitCode;
    if (!parser.isSet(output) || parser.value(output).trimmed().isEmpty())
        return badArguments(QStringLiteral("Give the new workbook with --out FILE."));

    MergeInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    inputs.targetPath = parser.value(output);
    inputs.nameByBook = parser.isSet(bookNames);
    inputs.skipEmpty = !parser.isSet(keepEmpty);
    ConsoleUserInterface ui(parser.isSet(yes));
    const RunSettings settings = common.settings(parser);
    MergeResult result;
    const RunSummary summary = mergeWorkbooks(inputs, ui, settings, parser.isSet(dryRun), &result);
    if (summary.stopped)
        return kExitBadArguments;
    for (const FileResult &file : summary.files)
        out() << file.path << '\t' << outcomeText(file.outcome, QStringLiteral("merged")) << '\t' << file.errorDescription
              << Qt::endl;
    for (const QString &sheet : std::as_const(result.sheetNames))
        out() << QStringLiteral("sheet\t") << sheet << Qt::endl;
    if (summary.logged)
        err() << QStringLiteral("日志文件：") << settings.logFile << Qt::endl;
    if (!parser.isSet(dryRun) && !result.written)
        return kExitSomeFailed;
    return summary.failedCount() > 0 ? kExitSomeFailed : kExitOk;
}

int runStatsCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption output(QStringLiteral("out"), QString(), QStringLiteral("file"));
    const QCommandLineOption sheets(QStringLiteral("sheets"));
    const QCommandLineOption nonEmpty(QStringLiteral("non-empty"));
    const QCommandLineOption rows(QStringLiteral("rows"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    parser.addOptions({output, sheets, nonEmpty, rows, dryRun});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("stats"), args, &exitCode))
        return exitCode;
    if (!parser.isSet(output) || parser.value(output).trimmed().isEmpty())
        return badArguments(QStringLiteral("Give the report file with --out FILE."));

    StatisticsInputs inputs;
    inputs.entries = absoluteEntries(parser.positionalArguments());
    inputs.outputPath = parser.value(output);
    const bool none = !parser.isSet(sheets) && !parser.isSet(nonEmpty) && !parser.isSet(rows);
    inputs.items = {none || parser.isSet(sheets), none || parser.isSet(nonEmpty), none || parser.isSet(rows)};
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    std::vector<WorkbookStatistics> counts;
    const RunSummary summary = countContents(inputs, ui, settings, parser.isSet(dryRun), &counts);
    if (summary.stopped)
        return kExitBadArguments;
    static const char *const units[kStatisticItems] = {"worksheets", "non-empty worksheets", "rows"};
    for (size_t i = 0; i < summary.files.size(); ++i) {
        const FileResult &file = summary.files[i];
        QString line = file.path + u'\t' + outcomeText(file.outcome, QStringLiteral("counted"));
        if (file.outcome == FileOutcome::Failed) {
            line += u'\t' + file.errorDescription;
        } else {
            for (int item = 0; item < kStatisticItems; ++item) {
                if (inputs.items[size_t(item)])
                    line += QStringLiteral("\t%1 %2").arg(counts[i].counts[size_t(item)]).arg(QString::fromLatin1(units[item]));
            }
        }
        out() << line << Qt::endl;
    }
    if (summary.logged)
        err() << QStringLiteral("日志文件：") << settings.logFile << Qt::endl;
    return summary.failedCount() > 0 ? kExitSomeFailed : kExitOk;
}

} // namespace gm::cli
