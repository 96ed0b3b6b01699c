#include "cli/CliCommands.h"

#include "automation/BatchFrame.h"
#include "automation/UserInterface.h"
#include "operations/workbook/ConvertOperation.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>

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

QString outcomeText(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Processed:
        return QStringLiteral("converted");
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

} // namespace

void printUsage()
{
    out() << QStringLiteral("Usage: gridmule-cli <command> [options] FILE...\n"
                            "\n"
                            "Commands:\n"
                            "  convert   Convert workbooks to another format, written into one folder.\n"
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
                            "failed, 2 for bad arguments.\n");
    out().flush();
}

int runConvertCommand(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("format"));
    const QCommandLineOption outDir(QStringLiteral("out"), QString(), QStringLiteral("dir"));
    const QCommandLineOption log(QStringLiteral("log"), QString(), QStringLiteral("file"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption no(QStringLiteral("no"));
    const QCommandLineOption help(QStringLiteral("help"));
    parser.addOptions({to, outDir, log, yes, no, help});
    if (!parser.parse(QStringList{QStringLiteral("gridmule-cli")} + args))
        return badArguments(parser.errorText());
    if (parser.isSet(help)) {
        printUsage();
        return kExitOk;
    }
    if (parser.isSet(yes) && parser.isSet(no))
        return badArguments(QStringLiteral("--yes and --no exclude each other."));

    static const QStringList formats = {QStringLiteral("htm"), QStringLiteral("csv"), QStringLiteral("mht"),
        QStringLiteral("txt"), QStringLiteral("xlsx"), QStringLiteral("xls")};
    const int targetIndex = static_cast<int>(formats.indexOf(parser.value(to).toLower()));
    if (!parser.isSet(to) || targetIndex < 0)
        return badArguments(QStringLiteral("--to must be one of: csv, txt, htm, mht, xlsx, xls."));

    ConvertInputs inputs;
    inputs.entries = parser.positionalArguments();
    inputs.targetIndex = targetIndex;
    inputs.outputFolder = parser.value(outDir);
    inputs.xlsxAvailable = true;
    for (QString &entry : inputs.entries)
        if (!entry.trimmed().isEmpty())
            entry = QFileInfo(entry).absoluteFilePath();

    ConsoleUserInterface ui(parser.isSet(yes));
    RunSettings settings;
    settings.isRecordError = parser.isSet(log);
    settings.logFile = parser.isSet(log) ? QFileInfo(parser.value(log)).absoluteFilePath() : QString();

    Validation invalid;
    const RunSummary summary = convertWorkbooks(inputs, ui, settings, {}, &invalid);
    if (summary.stopped)
        return kExitBadArguments;
    for (const FileResult &file : summary.files)
        out() << file.path << '\t' << outcomeText(file.outcome) << '\t' << file.errorDescription << Qt::endl;
    if (summary.logged)
        err() << QStringLiteral("日志文件：") << settings.logFile << Qt::endl;
    return summary.failedCount() > 0 ? kExitSomeFailed : kExitOk;
}

} // namespace gm::cli
