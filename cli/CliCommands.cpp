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

bool parse(QCommandLineParser &parser, const QStringList &args, int *exitCode)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{QStringLiteral("gridmule-cli")} + args)) {
        *exitCode = badArguments(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printUsage();
        *exitCode = kExitOk;
        return false;
    }
    return true;
}

} // namespace

void printUsage()
{
    out() << QStringLiteral("Usage: gridmule-cli <command> [options] FILE...\n"
                            "\n"
                            "Commands:\n"
                            "  convert   Convert workbooks to another format, written into one folder.\n"
                            "  sheets    Delete, hide, unhide or rename worksheets of workbooks in place.\n"
                            "\n"
                            "gridmule-cli convert --to csv|txt|htm|mht|xlsx|xls --out DIR [--log FILE] [--yes|--no] FILE...\n"
                            "  --to FORMAT   target format: csv, txt (tab-separated), htm (web page),\n"
                            "                mht (single-file web page), xlsx, xls (Excel 97-2003)\n"
                            "  --out DIR     output folder; created when its parent exists\n"
                            "  --log FILE    append a line for every failed file to this run log\n"
                            "  --yes         overwrite existing output files\n"
                            "  --no          keep existing output files and skip those sources (default)\n"
                            "\n"
                            "Each file gets one line on standard output: file, result (converted, copied,\n"
                            "skipped or failed) and the error description, separated by tabs. Messages go\n"
                            "to standard error. Exit status: 0 when every file succeeded, 1 when some\n"
                            "failed, 2 for bad arguments.\n"
                            "\n"
                            "gridmule-cli sheets delete|hide|unhide|rename [options] [--log FILE] FILE...\n"
                            "  Worksheets are picked by name (letter case aside) or by position among the\n"
                            "  worksheets; chart sheets are never picked or counted.\n"
                            "  --name-equals TEXT | --name-contains TEXT |\n"
                            "  --name-not-equals TEXT | --name-not-contains TEXT\n"
                            "                delete, hide, unhide: the worksheets whose names match\n"
                            "  --position N  delete, hide: the N-th worksheet\n"
                            "  --all         unhide: every hidden worksheet\n"
                            "  --yes         delete: confirm the deletion, which cannot be undone\n"
                            "  --replace OLD --with NEW\n"
                            "                rename: replace OLD (letter case counts) in every worksheet name\n"
                            "  --active-name NAME\n"
                            "                rename: give the active sheet this name\n");
    out().flush();
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
    if (!parse(parser, args, &exitCode))
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
    if (!parse(parser, args, &exitCode))
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
    if (!parse(parser, args, &exitCode))
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
    if (!parse(parser, args, &exitCode))
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
        QStringLiteral("rename")};
    if (args.isEmpty() || !actions.contains(args.first())) {
        if (!args.isEmpty() && args.first() == QStringLiteral("--help")) {
            printUsage();
            return kExitOk;
        }
        return badArguments(QStringLiteral("sheets needs one of: delete, hide, unhide, rename."));
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
    for (const QCommandLineOption &kind : kinds)
        parser.addOption(kind);
    parser.addOptions({position, all, yes, replace, with, activeName});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, args.mid(1), &exitCode))
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
