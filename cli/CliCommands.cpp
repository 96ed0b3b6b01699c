#include "cli/CliCommands.h"

#include "automation/BatchFrame.h"
#include "automation/UserInterface.h"
#include "operations/Checks.h"
#include "operations/sheets/SheetOperations.h"
#include "operations/workbook/ConvertOperation.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "operations/workbook/PrintSetupOperation.h"
#include "operations/workbook/PropertiesOperation.h"

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
        "                    insert: copy worksheet NAME of the .xlsx workbook FILE before\n"
        "                    the first worksheet of every .xlsx FILE (\"NAME (2)\" when taken)\n"},
};

const char *const kCommonHelp = "Every command also takes:\n"
                                "  --log FILE        append a line for every failed file to this run log\n"
                                "  --help            show the command's options\n";

const char *const kResultHelp = "Each file gets one line on standard output: file, result (converted, copied,\n"
                                "changed, skipped or failed) and the error description, separated by tabs. A FILE\n"
                                "that does not exist fails. Messages go to standard error. Exit status: 0 when\n"
                                "every file succeeded, 1 when some failed, 2 for bad arguments (an unusable\n"
                                "template included); then nothing is processed.\n";

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

} // namespace gm::cli
