#include "cli/CliCommands.h"
#include "cli/PasswordInput.h"

#include "cli/FileList.h"

#include "automation/BatchFrame.h"
#include "automation/PrintQueue.h"
#include "automation/UserInterface.h"
#include "operations/Checks.h"
#include "operations/cells/ReplaceOperation.h"
#include "operations/cells/RowsColumnsOperation.h"
#include "operations/cells/SetCellsOperation.h"
#include "operations/files/BatchRename.h"
#include "operations/sheets/SheetBackgroundOperation.h"
#include "operations/sheets/SheetOperations.h"
#include "operations/workbook/ConvertOperation.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "operations/workbook/HyperLinkOperation.h"
#include "operations/workbook/MergeOperation.h"
#include "operations/workbook/PasswordOperation.h"
#include "operations/workbook/PrintOperation.h"
#include "operations/workbook/PrintSetupOperation.h"
#include "operations/workbook/PropertiesOperation.h"
#include "operations/workbook/ProtectOperation.h"
#include "operations/workbook/StatisticsOperation.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <array>
#include <cstdio>
#include <tuple>

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

// Options every command takes, and the common end of a run: one line (or JSON object) per
// file on standard output, the log's path on standard error, the exit status.
struct CommonOptions
{
    QCommandLineOption log{QStringLiteral("log"), QString(), QStringLiteral("file")};
    QCommandLineOption help{QStringLiteral("help")};
    QCommandLineOption jobs{QStringLiteral("jobs"), QString(), QStringLiteral("n")};
    ListOptions list;
    int jobCount = defaultEngineJobs();
    QStringList entries; // the files of this run, absolute, this shard's share
    OutputFormat format = OutputFormat::Text;
    void addTo(QCommandLineParser &parser) const
    {
        parser.addOptions({log, help, jobs});
        list.addTo(parser);
    }
    RunSettings settings(const QCommandLineParser &parser) const
    {
        RunSettings result;
        result.isRecordError = parser.isSet(log);
        result.logFile = parser.isSet(log) ? QFileInfo(parser.value(log)).absoluteFilePath() : QString();
        // A path typed on the command line that names nothing is a mistake to report, in every
        // command alike, not an entry to pass over.
        result.missingFilesFail = true;
        result.jobs = jobCount;
        return result;
    }
};

// A file a stopped run left as it was, rolled back under way or never reached, is cancelled.
QString resultText(const FileResult &file, const QString &processed)
{
    if (file.outcome == FileOutcome::Failed && file.errorNumber == static_cast<int>(ErrorCode::Interrupted))
        return QStringLiteral("cancelled");
    return outcomeText(file.outcome, processed);
}

void printLine(const ReportLine &line, OutputFormat format)
{
    out() << formatReportLine(line, format) << Qt::endl;
}

int finishRun(const RunSummary &summary, const RunSettings &settings, const QString &processed, const CommonOptions &common)
{
    if (summary.stopped)
        return kExitBadArguments;
    for (const FileResult &file : summary.files)
        printLine({file.path, resultText(file, processed), file.errorNumber, file.errorDescription, file.milliseconds, {}, {}},
            common.format);
    if (summary.logged)
        err() << QStringLiteral("日志文件：") << settings.logFile << Qt::endl;
    return summary.failedCount() > 0 ? kExitSomeFailed : kExitOk;
}

// Parses the command's options and reads its list of files into `common`. Returns false when
// the command ends here: bad options, --help, or a shard that holds none of the list's files
// (nothing to do, nothing printed, success).
bool parse(QCommandLineParser &parser, const QString &command, const QStringList &args, int *exitCode, CommonOptions &common)
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
    if (parser.isSet(common.jobs)) {
        bool ok = false;
        common.jobCount = parser.value(common.jobs).toInt(&ok);
        if (!ok || common.jobCount < 1 || common.jobCount > kMaxEngineJobs) {
            *exitCode = badArguments(QStringLiteral("--jobs must be a whole number from 1 to %1.").arg(kMaxEngineJobs));
            return false;
        }
    }
    QString message;
    bool shardEmpty = false;
    const std::optional<QStringList> entries = common.list.entries(parser, &message, &shardEmpty);
    if (!entries) {
        *exitCode = badArguments(message);
        return false;
    }
    if (shardEmpty) {
        *exitCode = kExitOk;
        return false;
    }
    common.entries = *entries;
    common.format = *common.list.format(parser);
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
    {"print", "Print workbooks, whole or chosen worksheets, through the print service.",
        "gridmule-cli print [--sheets 1,3] [--copies N] [--printer NAME] [--dry-run] [--log FILE] FILE...\n"
        "  Pages are printed as the workbook's print areas and page setup lay them out;\n"
        "  hidden worksheets and worksheets with nothing on them print nothing.\n"
        "  --sheets LIST     only the worksheets at these positions (1 is the first; chart\n"
        "                    sheets are not counted), one job each in the order given;\n"
        "                    positions past the last worksheet are passed over\n"
        "                    (default: the whole workbook as one job)\n"
        "  --copies N        collated copies of each job, 1 to 99 (default 1)\n"
        "  --printer NAME    this printer (default: the default printer)\n"
        "  --dry-run         lay out and count the pages, but send nothing\n"
        "  Output lines: file, result (printed, would print, skipped or failed), then\n"
        "  each job: the worksheet (or \"workbook\"), its pages and the job's id.\n"},
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
    {"links", "Remove every hyperlink, or turn workbook sharing on or off, in place.",
        "gridmule-cli links --remove-hyperlinks|--share|--unshare [--make-writable] [--log FILE] FILE...\n"
        "  --remove-hyperlinks\n"
        "                    remove the hyperlinks of every worksheet; cell texts and\n"
        "                    formats stay\n"
        "  --share           let several users edit the workbook at the same time (.xlsx;\n"
        "                    workbooks with tables or XML maps cannot be shared)\n"
        "  --unshare         end sharing and drop the change history\n"
        "  --make-writable   make read-only workbooks writable and change them\n"
        "                    (default: read-only workbooks are skipped)\n"},
    {"background", "Set or remove the background picture of every worksheet in place.",
        "gridmule-cli background --set PICTURE | --remove [--log FILE] FILE...\n"
        "  --set PICTURE     a .bmp, .jpg or .png picture, shown behind the cells of\n"
        "                    every worksheet (chart sheets are left alone)\n"
        "  --remove          remove the background of every worksheet\n"},
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
    {"password", "Set an open or a modify password on workbooks in place.",
        "gridmule-cli password --open|--modify [--password-file FILE] [--make-writable] [--log FILE] FILE...\n"
        "  The password is never an argument: it is the first line of --password-file,\n"
        "  else the environment variable GRIDMULE_PASSWORD, else typed at a prompt\n"
        "  without echo (or the first line of standard input when that is no terminal).\n"
        "  An empty password sets nothing. .xlsx and Excel 97-2003 .xls files.\n"
        "  --open            the password needed to open the workbook (the file is\n"
        "                    encrypted; at most 15 characters for .xls)\n"
        "  --modify          the password needed to save changes over the workbook\n"
        "  --password-file FILE\n"
        "                    read the password from the first line of FILE\n"
        "  --make-writable   make read-only workbooks writable and change them\n"
        "                    (default: read-only workbooks are skipped)\n"},
    {"set-cells", "Write a list of cell contents into worksheets of workbooks in place.",
        "gridmule-cli set-cells --list FILE.xml [--all-sheets | --sheet NAME] [--log FILE] FILE...\n"
        "  Each content is written as if typed into its cell: numbers, dates, percents,\n"
        "  TRUE/FALSE and formulas (=...) are stored as such. .xlsx files only for now.\n"
        "  --list FILE.xml   the cell list (root Cells; Cell elements with Row, Col, Text)\n"
        "  --all-sheets      every worksheet (default: the active sheet)\n"
        "  --sheet NAME      the worksheets with this name (letter case aside)\n"},
    {"protect", "Protect workbooks' structure or windows, or all their worksheets.",
        "gridmule-cli protect --workbook [--structure] [--windows] [password] [--log FILE] FILE...\n"
        "gridmule-cli protect --sheets [--allow ACTION,...] [password] [--log FILE] FILE...\n"
        "  --workbook        protect each workbook; give --structure and/or --windows\n"
        "  --sheets          protect every worksheet (hidden ones too; not chart sheets)\n"
        "  --allow ACTIONS   what a protected worksheet still allows, comma-separated:\n"
        "                    format-cells, format-columns, format-rows, insert-columns,\n"
        "                    insert-rows, insert-hyperlinks, delete-columns, delete-rows,\n"
        "                    sort, autofilter, pivot-tables (default: none of them)\n"
        "  The password is never an argument. It is the first line of --password-file\n"
        "  FILE, else the GRIDMULE_PASSWORD environment variable, else typed at a prompt\n"
        "  without echo (or the first line of standard input when it is no terminal);\n"
        "  an empty password protects without one. --no-password asks for none.\n"
        "  A workbook or worksheet already protected with another password is left as it\n"
        "  is and fails; Excel 5.0/95 workbooks and shared workbooks fail unchanged.\n"},
    {"rows-cols", "Hide, delete or resize a run of columns and a run of rows in worksheets in place.",
        "gridmule-cli rows-cols hide|delete|size [options] [--log FILE] FILE...\n"
        "  --columns FROM:TO the columns by their letters, e.g. C:E (hide, delete,\n"
        "                    the width of size)\n"
        "  --rows FROM:TO    the rows by their numbers, e.g. 3:7 (hide, delete, the\n"
        "                    height of size); delete takes the columns first and\n"
        "                    numbers the rows after them\n"
        "  --height POINTS   size: the row height (0 hides the rows)\n"
        "  --width CHARS     size: the column width in characters of the Normal font\n"
        "                    (0 hides the columns)\n"
        "  --all-sheets      every worksheet (default: the active sheet)\n"
        "  --sheet NAME      the worksheets with this name (letter case aside)\n"
        "  --yes             delete: confirm the deletion, which cannot be undone\n"
        "  Every reference to the deleted cells' sheet moves with them. Deleting is\n"
        "  done in .xlsx workbooks; an .xls workbook fails as not supported.\n"},
};

const char *const kCommonHelp = "Every command also takes:\n"
                                "  --log FILE        append a line for every failed file to this run log\n"
                                "  --files-from FILE read more files from FILE, one path a line (- reads\n"
                                "                    standard input)\n"
                                "  -0, --null        the --files-from list is separated by NUL bytes\n"
                                "                    (find -print0)\n"
                                "  --shard K/N       process only share K of N (1 <= K <= N) of the files; a\n"
                                "                    path's share depends on its text alone, so N runs with\n"
                                "                    the same list do every file exactly once\n"
                                "  --jobs N          engine work (conversions, .xls cell, replace and row or\n"
                                "                    column changes, merge sources) runs on N engines at once\n"
                                "                    (default: one per processor); results are reported in\n"
                                "                    list order\n"
                                "  --output FORMAT   text (default) or jsonl: one JSON object per file with\n"
                                "                    path, result, error, description and milliseconds\n"
                                "  --help            show the command's options\n";

const char *const kResultHelp = "Each file gets one line on standard output: file, result (converted, copied,\n"
                                "changed, skipped, failed or cancelled) and the error description, separated by\n"
                                "tabs. A FILE that does not exist fails. Messages go to standard error. Exit\n"
                                "status: 0 when every file succeeded, 1 when some failed, 2 for bad arguments\n"
                                "(an unusable template included); then nothing is processed.\n"
                                "SIGINT (Ctrl+C) or SIGTERM stops the run: the file in progress is finished or\n"
                                "rolled back, the files not reached are reported as cancelled, and the exit\n"
                                "status is 130 (SIGINT) or 143 (SIGTERM). A second signal ends the program at\n"
                                "once; the next run removes what that leaves.\n";

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
    if (!parse(parser, QStringLiteral("convert"), args, &exitCode, common))
        return exitCode;
    if (parser.isSet(yes) && parser.isSet(no))
        return badArguments(QStringLiteral("--yes and --no exclude each other."));

    static const QStringList formats = {QStringLiteral("htm"), QStringLiteral("csv"), QStringLiteral("mht"),
        QStringLiteral("txt"), QStringLiteral("xlsx"), QStringLiteral("xls")};
    const int targetIndex = static_cast<int>(formats.indexOf(parser.value(to).toLower()));
    if (!parser.isSet(to) || targetIndex < 0)
        return badArguments(QStringLiteral("--to must be one of: csv, txt, htm, mht, xlsx, xls."));

    ConvertInputs inputs;
    inputs.entries = common.entries;
    inputs.targetIndex = targetIndex;
    inputs.outputFolder = parser.value(outDir);
    inputs.xlsxAvailable = true;

    ConsoleUserInterface ui(parser.isSet(yes));
    const RunSettings settings = common.settings(parser);
    return finishRun(convertWorkbooks(inputs, ui, settings), settings, QStringLiteral("converted"), common);
}

int runPropertiesCommand(const QStringList &args)
{
    static const char *names[kPropertyCount]
        = {"title", "subject", "author", "category", "keywords", "comments", "manager", "company", "hyperlink-base"};
    QCommandLineParser parser;
    QList<QCommandLineOption> properties;
    for (const char *name : names)
        properties.append(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("text")));
    parser.addOptions(properties);
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("properties"), args, &exitCode, common))
        return exitCode;

    PropertiesInputs inputs;
    inputs.entries = common.entries;
    for (int i = 0; i < kPropertyCount; ++i) {
        inputs.checked[static_cast<size_t>(i)] = parser.isSet(properties[i]);
        inputs.values[static_cast<size_t>(i)] = parser.value(properties[i]);
    }
    if (propertyMask(inputs.checked) == 0)
        return badArguments(QStringLiteral("Give at least one property to set."));
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    return finishRun(setProperties(inputs, ui, settings), settings, QStringLiteral("changed"), common);
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
    if (!parse(parser, QStringLiteral("header-footer"), args, &exitCode, common))
        return exitCode;

    HeaderFooterInputs inputs;
    inputs.entries = common.entries;
    inputs.templatePath = parser.value(templ);
    const bool neither = !parser.isSet(header) && !parser.isSet(footer);
    inputs.header = neither || parser.isSet(header);
    inputs.footer = neither || parser.isSet(footer);
    inputs.makeWritable = parser.isSet(writable);
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    return finishRun(copyHeaderFooter(inputs, ui, settings), settings, QStringLiteral("changed"), common);
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
    if (!parse(parser, QStringLiteral("print-setup"), args, &exitCode, common))
        return exitCode;
    if (parser.isSet(landscape) && parser.isSet(portrait))
        return badArguments(QStringLiteral("--landscape and --portrait exclude each other."));

    PrintSetupInputs inputs;
    inputs.entries = common.entries;
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
    return finishRun(setPrintSetup(inputs, ui, settings), settings, QStringLiteral("changed"), common);
}

int runProtectCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption workbook(QStringLiteral("workbook"));
    const QCommandLineOption structure(QStringLiteral("structure"));
    const QCommandLineOption windows(QStringLiteral("windows"));
    const QCommandLineOption sheets(QStringLiteral("sheets"));
    const QCommandLineOption allow(QStringLiteral("allow"), QString(), QStringLiteral("actions"));
    const QCommandLineOption noPassword(QStringLiteral("no-password"));
    parser.addOptions({workbook, structure, windows, sheets, allow, noPassword});
    PasswordSource passwordSource;
    passwordSource.addTo(parser);
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("protect"), args, &exitCode, common))
        return exitCode;
    if (parser.isSet(workbook) == parser.isSet(sheets))
        return badArguments(QStringLiteral("Give either --workbook or --sheets."));
    if (parser.isSet(workbook) && parser.isSet(allow))
        return badArguments(QStringLiteral("--allow goes with --sheets."));
    if (parser.isSet(sheets) && (parser.isSet(structure) || parser.isSet(windows)))
        return badArguments(QStringLiteral("--structure and --windows go with --workbook."));
    if (parser.isSet(noPassword) && parser.isSet(passwordSource.file))
        return badArguments(QStringLiteral("--no-password and --password-file exclude each other."));

    ProtectInputs inputs;
    inputs.entries = common.entries;
    inputs.protectWorkbook = parser.isSet(workbook);
    inputs.structure = parser.isSet(structure);
    inputs.windows = parser.isSet(windows);
    for (const QString &values : parser.values(allow)) {
        for (const QString &word : values.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString name = word.trimmed().toLower();
            int found = -1;
            for (int i = 0; i < kSheetPermissionCount; ++i) {
                if (name == QLatin1String(kSheetPermissionNames[size_t(i)]))
                    found = i;
            }
            if (found < 0)
                return badArguments(QStringLiteral("Unknown action for --allow: %1").arg(word.trimmed()));
            inputs.allowed.allow(SheetPermission(found));
        }
    }

    ConsoleUserInterface ui(false);
    // The list and the options are checked before a password is asked for.
    Validation failed;
    if (!passChecks(
            ui, inputs.entries, kProtectEmptyList, [&] { return validateProtect(inputs); }, &failed))
        return kExitBadArguments;
    if (!parser.isSet(noPassword)) {
        QString error;
        const std::optional<QString> password = passwordSource.read(parser, QStringLiteral("密码（可选）："), &error);
        if (!password)
            return badArguments(error);
        inputs.password = *password;
    }
    const RunSettings settings = common.settings(parser);
    return finishRun(runProtect(inputs, ui, settings), settings, QStringLiteral("changed"), common);
}

int runPasswordCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption open(QStringLiteral("open"));
    const QCommandLineOption modify(QStringLiteral("modify"));
    const QCommandLineOption makeWritable(QStringLiteral("make-writable"));
    parser.addOptions({open, modify, makeWritable});
    const PasswordSource source;
    source.addTo(parser);
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("password"), args, &exitCode, common))
        return exitCode;
    if (parser.isSet(open) == parser.isSet(modify))
        return badArguments(QStringLiteral("Give one of --open and --modify."));

    PasswordInputs inputs;
    inputs.entries = common.entries;
    inputs.kind = parser.isSet(open) ? PasswordKind::Open : PasswordKind::Modify;
    inputs.makeWritable = parser.isSet(makeWritable);
    QString error;
    const std::optional<QString> password = source.read(parser, QStringLiteral("口令："), &error);
    if (!password)
        return badArguments(error);
    if (password->isEmpty())
        return badArguments(QStringLiteral("An empty password sets nothing."));
    inputs.password = *password;
    inputs.confirmation = *password;
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    return finishRun(setPasswords(inputs, ui, settings), settings, QStringLiteral("changed"), common);
}

int runLinksCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption remove(QStringLiteral("remove-hyperlinks"));
    const QCommandLineOption share(QStringLiteral("share"));
    const QCommandLineOption unshare(QStringLiteral("unshare"));
    const QCommandLineOption writable(QStringLiteral("make-writable"));
    parser.addOptions({remove, share, unshare, writable});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("links"), args, &exitCode, common))
        return exitCode;
    const int chosen = int(parser.isSet(remove)) + int(parser.isSet(share)) + int(parser.isSet(unshare));
    if (chosen != 1)
        return badArguments(QStringLiteral("Give exactly one of --remove-hyperlinks, --share and --unshare."));

    HyperLinkInputs inputs;
    inputs.entries = common.entries;
    inputs.action = parser.isSet(remove) ? LinkAction::RemoveHyperlinks
        : parser.isSet(share)            ? LinkAction::Share
                                         : LinkAction::Unshare;
    inputs.skipReadOnly = !parser.isSet(writable);
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    return finishRun(applyHyperLinks(inputs, ui, settings), settings, QStringLiteral("changed"), common);
}

int runBackgroundCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption set(QStringLiteral("set"), QString(), QStringLiteral("picture"));
    const QCommandLineOption remove(QStringLiteral("remove"));
    parser.addOptions({set, remove});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("background"), args, &exitCode, common))
        return exitCode;
    if (parser.isSet(set) == parser.isSet(remove))
        return badArguments(QStringLiteral("Give exactly one of --set PICTURE and --remove."));

    SheetBackgroundInputs inputs;
    inputs.entries = common.entries;
    inputs.set = parser.isSet(set);
    inputs.picturePath = parser.value(set);
    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    return finishRun(applySheetBackground(inputs, ui, settings), settings, QStringLiteral("changed"), common);
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
    if (!parse(parser, QStringLiteral("sheets"), args.mid(1), &exitCode, common))
        return exitCode;

    const QStringList entries = common.entries;
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
        return finishRun(summary, settings, QStringLiteral("changed"), common);
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
        return finishRun(renameSheets(inputs, ui, settings), settings, QStringLiteral("changed"), common);
    }
    if (action == QStringLiteral("unhide")) {
        UnhideInputs inputs;
        inputs.entries = entries;
        inputs.all = parser.isSet(all);
        if (inputs.all == (kind >= 0))
            return badArguments(QStringLiteral("unhide needs either --all or one name rule."));
        inputs.kind = std::max(kind, 0);
        inputs.matchText = matchText;
        return finishRun(unhideSheets(inputs, ui, settings), settings, QStringLiteral("changed"), common);
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
        return finishRun(hideSheets(inputs, ui, settings), settings, QStringLiteral("changed"), common);
    if (!parser.isSet(yes))
        return badArguments(QStringLiteral("Deleting sheets cannot be undone: add --yes to confirm."));
    // --yes is the answer to the confirmation; the list and input checks follow it.
    if (!passChecks(ui, inputs.entries, kSheetsEmptyList, [&] { return validateDeleteSheets(inputs); }))
        return kExitBadArguments;
    return finishRun(runDeleteSheets(inputs, ui, settings), settings, QStringLiteral("deleted"), common);
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
    if (!parse(parser, QStringLiteral("set-cells"), args, &exitCode, common))
        return exitCode;
    if (!parser.isSet(list))
        return badArguments(QStringLiteral("set-cells needs --list FILE.xml."));
    if (parser.isSet(allSheets) && parser.isSet(sheet))
        return badArguments(QStringLiteral("Give --all-sheets or --sheet NAME, not both."));
    const CellListRead read = readCellListFile(parser.value(list));
    if (!read.entries)
        return badArguments(read.message);

    SetCellsInputs inputs;
    inputs.entries = common.entries;
    inputs.cells = *read.entries;
    inputs.sheets = parser.isSet(allSheets) ? CellSheets::All : parser.isSet(sheet) ? CellSheets::Named : CellSheets::Active;
    inputs.sheetName = parser.value(sheet);
    const RunSettings settings = common.settings(parser);
    ConsoleUserInterface ui(false);
    return finishRun(setCells(inputs, ui, settings), settings, QStringLiteral("changed"), common);
}

int runRowsColumnsCommand(const QStringList &args)
{
    static const QStringList modes{QStringLiteral("hide"), QStringLiteral("delete"), QStringLiteral("size")};
    if (args.isEmpty() || !modes.contains(args.first())) {
        if (!args.isEmpty() && args.first() == QStringLiteral("--help")) {
            printCommandUsage(QStringLiteral("rows-cols"));
            return kExitOk;
        }
        return badArguments(QStringLiteral("rows-cols needs one of: hide, delete, size."));
    }
    const QString mode = args.first();
    QCommandLineParser parser;
    const QCommandLineOption columns(QStringLiteral("columns"), QString(), QStringLiteral("from:to"));
    const QCommandLineOption rows(QStringLiteral("rows"), QString(), QStringLiteral("from:to"));
    const QCommandLineOption height(QStringLiteral("height"), QString(), QStringLiteral("points"));
    const QCommandLineOption width(QStringLiteral("width"), QString(), QStringLiteral("chars"));
    const QCommandLineOption allSheets(QStringLiteral("all-sheets"));
    const QCommandLineOption sheet(QStringLiteral("sheet"), QString(), QStringLiteral("name"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    parser.addOptions({columns, rows, height, width, allSheets, sheet, yes});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("rows-cols"), args.mid(1), &exitCode, common))
        return exitCode;
    if (parser.isSet(allSheets) && parser.isSet(sheet))
        return badArguments(QStringLiteral("Give --all-sheets or --sheet NAME, not both."));

    RowsColumnsInputs inputs;
    inputs.entries = common.entries;
    inputs.sheets = parser.isSet(allSheets) ? RowsColumnsSheets::All
        : parser.isSet(sheet)               ? RowsColumnsSheets::Named
                                            : RowsColumnsSheets::Active;
    inputs.sheetName = parser.value(sheet);
    inputs.mode = RowsColumnsMode(modes.indexOf(mode));
    // A run is given as its two ends, as the panel's two fields hold them.
    auto ends = [](const QString &run) {
        const qsizetype colon = run.indexOf(u':');
        return colon < 0 ? std::pair{run, run} : std::pair{run.left(colon), run.mid(colon + 1)};
    };
    if (inputs.mode == RowsColumnsMode::Size) {
        if (parser.isSet(height) != parser.isSet(rows) || parser.isSet(width) != parser.isSet(columns))
            return badArguments(QStringLiteral("size needs --height with --rows and --width with --columns."));
        inputs.height = parser.value(height);
        inputs.width = parser.value(width);
    } else if (parser.isSet(height) || parser.isSet(width)) {
        return badArguments(QStringLiteral("--height and --width belong to size."));
    }
    inputs.columns = parser.isSet(columns);
    inputs.rows = parser.isSet(rows);
    if (!inputs.columns && !inputs.rows)
        return badArguments(QStringLiteral("%1 needs --columns FROM:TO, --rows FROM:TO or both.").arg(mode));
    std::tie(inputs.columnFrom, inputs.columnTo) = ends(parser.value(columns));
    std::tie(inputs.rowFrom, inputs.rowTo) = ends(parser.value(rows));
    if (rowsColumnsDeletes(inputs) && !parser.isSet(yes))
        return badArguments(QStringLiteral("Deleting rows or columns cannot be undone: add --yes to confirm."));

    const RunSettings settings = common.settings(parser);
    ConsoleUserInterface ui(false);
    // --yes is the answer to the deletion question; the checks around it stay in their order.
    if (!passChecks(ui, inputs.entries, kRowsColumnsEmptyList, [&] { return validateRowsColumnsSheets(inputs); }))
        return kExitBadArguments;
    if (!passChecks(ui, inputs.entries, kRowsColumnsEmptyList, [&] { return validateRowsColumns(inputs); }))
        return kExitBadArguments;
    return finishRun(runRowsColumns(inputs, ui, settings), settings,
        inputs.mode == RowsColumnsMode::Delete ? QStringLiteral("deleted") : QStringLiteral("changed"), common);
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
    if (!parse(parser, QStringLiteral("replace"), args, &exitCode, common))
        return exitCode;
    if (!parser.isSet(with))
        return badArguments(QStringLiteral("replace needs --with TEXT (it may be empty)."));

    ReplaceInputs inputs;
    inputs.entries = common.entries;
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
    return finishRun(summary, settings, QStringLiteral("changed"), common);
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
    if (!parse(parser, QStringLiteral("rename"), args, &exitCode, common))
        return exitCode;

    RenameInputs inputs;
    inputs.entries = common.entries;
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
        ReportLine line{file.oldPath, result, 0, detail, 0, {}, {}};
        if (common.format == OutputFormat::JsonLines) {
            line.description = file.outcome == RenameOutcome::Refused ? detail : QString();
            line.jsonExtra.insert(QStringLiteral("newPath"), file.newPath);
        }
        printLine(line, common.format);
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
    if (!parse(parser, QStringLiteral("merge"), args, &exitCode, common))
        return exitCode;
    if (!parser.isSet(output) || parser.value(output).trimmed().isEmpty())
        return badArguments(QStringLiteral("Give the new workbook with --out FILE."));

    MergeInputs inputs;
    inputs.entries = common.entries;
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
        printLine({file.path, outcomeText(file.outcome, QStringLiteral("merged")), file.errorNumber, file.errorDescription,
                      file.milliseconds, {}, {}},
            common.format);
    // The merged workbook's sheets: a line each, or one object after the files' objects.
    if (common.format == OutputFormat::JsonLines) {
        const QJsonObject merged{{QStringLiteral("out"), QFileInfo(inputs.targetPath).absoluteFilePath()},
            {QStringLiteral("sheets"), QJsonArray::fromStringList(result.sheetNames)}};
        out() << QString::fromUtf8(QJsonDocument(merged).toJson(QJsonDocument::Compact)) << Qt::endl;
    } else {
        for (const QString &sheet : std::as_const(result.sheetNames))
            out() << QStringLiteral("sheet\t") << sheet << Qt::endl;
    }
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
    if (!parse(parser, QStringLiteral("stats"), args, &exitCode, common))
        return exitCode;
    if (!parser.isSet(output) || parser.value(output).trimmed().isEmpty())
        return badArguments(QStringLiteral("Give the report file with --out FILE."));

    StatisticsInputs inputs;
    inputs.entries = common.entries;
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
        ReportLine line{file.path, outcomeText(file.outcome, QStringLiteral("counted")), file.errorNumber, file.errorDescription,
            file.milliseconds, {}, {}};
        if (file.outcome != FileOutcome::Failed) {
            for (int item = 0; item < kStatisticItems; ++item) {
                if (!inputs.items[size_t(item)])
                    continue;
                const QString unit = QString::fromLatin1(units[item]);
                line.textExtra << QStringLiteral("%1 %2").arg(counts[i].counts[size_t(item)]).arg(unit);
                line.jsonExtra.insert(QString(unit).replace(u' ', u'-'), counts[i].counts[size_t(item)]);
            }
        }
        printLine(line, common.format);
    }
    if (summary.logged)
        err() << QStringLiteral("日志文件：") << settings.logFile << Qt::endl;
    return summary.failedCount() > 0 ? kExitSomeFailed : kExitOk;
}

} // namespace gm::cli

namespace gm::cli {

int runPrintCommand(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption sheets(QStringLiteral("sheets"), QString(), QStringLiteral("list"));
    const QCommandLineOption copies(QStringLiteral("copies"), QString(), QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption printer(QStringLiteral("printer"), QString(), QStringLiteral("name"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    parser.addOptions({sheets, copies, printer, dryRun});
    CommonOptions common;
    common.addTo(parser);
    int exitCode = kExitOk;
    if (!parse(parser, QStringLiteral("print"), args, &exitCode, common))
        return exitCode;

    PrintInputs inputs;
    inputs.entries = common.entries;
    inputs.printSheets = parser.isSet(sheets);
    // Positions are whole numbers separated by commas or blanks, as the panel's box takes them.
    QString positions = parser.value(sheets);
    positions.replace(QLatin1Char(','), QLatin1Char(' '));
    for (const QChar c : std::as_const(positions)) {
        if (!c.isDigit() && c != u' ')
            return badArguments(QStringLiteral("--sheets takes worksheet positions such as 1,3."));
    }
    inputs.sheetIndex = positions;
    inputs.copies = parser.value(copies);
    const std::optional<int> count = readShortInteger(inputs.copies);
    if (!count || *count < 1 || *count > 99 || inputs.copies.trimmed().size() > 2)
        return badArguments(kPrintBadCopies);
    inputs.printer = parser.value(printer);
    if (!inputs.printer.isEmpty() && resolvePrinter(inputs.printer).isEmpty())
        return badArguments(QStringLiteral("The print service knows no printer named ") + inputs.printer + u'.');

    ConsoleUserInterface ui(false);
    const RunSettings settings = common.settings(parser);
    std::vector<PrintJob> jobs;
    PrintOptions options;
    options.dryRun = parser.isSet(dryRun);
    options.jobs = &jobs;
    const RunSummary summary = printWorkbooks(inputs, ui, settings, options);
    if (summary.stopped)
        return kExitBadArguments;
    const QString done = options.dryRun ? QStringLiteral("would print") : QStringLiteral("printed");
    int index = -1; // the results follow the non-blank entries in order
    for (const FileResult &file : summary.files) {
        do
            ++index;
        while (index < inputs.entries.size() && inputs.entries.at(index).trimmed().isEmpty());
        ReportLine line{
            file.path, outcomeText(file.outcome, done), file.errorNumber, file.errorDescription, file.milliseconds, {}, {}};
        QStringList printed;
        QJsonArray printedJobs;
        for (const PrintJob &job : jobs) {
            if (job.entryIndex != index)
                continue;
            QString text = (job.sheet.isEmpty() ? QStringLiteral("workbook") : job.sheet)
                + QStringLiteral(": %1 page%2").arg(job.pages).arg(job.pages == 1 ? QString() : QStringLiteral("s"));
            if (!job.jobId.isEmpty())
                text += QStringLiteral(" (job ") + job.jobId + u')';
            printed << text;
            printedJobs.append(QJsonObject{
                {QStringLiteral("sheet"), job.sheet}, {QStringLiteral("pages"), job.pages}, {QStringLiteral("job"), job.jobId}});
        }
        // Text: the description only for a failed file, then the jobs.
        if (file.outcome != FileOutcome::Failed)
            line.description.clear();
        if (file.outcome != FileOutcome::Skipped)
            line.textExtra << (printed.isEmpty() ? QStringLiteral("nothing to print") : printed.join(QStringLiteral("; ")));
        line.jsonExtra.insert(QStringLiteral("jobs"), printedJobs);
        printLine(line, common.format);
    }
    if (summary.logged)
        err() << QStringLiteral("日志文件：") << settings.logFile << Qt::endl;
    return summary.failedCount() > 0 ? kExitSomeFailed : kExitOk;
}

} // namespace gm::cli
