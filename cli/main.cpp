// gridmule-cli: the command-line front end over the same core as the window.

#include "automation/Interruption.h"
#include "cli/CliCommands.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Gridmule"));
    QStringList args = QCoreApplication::arguments().mid(1);
    if (!args.isEmpty() && (args.first() == QStringLiteral("--version") || args.first() == QStringLiteral("-v"))) {
        gm::cli::printVersion();
        return gm::cli::kExitOk;
    }
    if (args.isEmpty() || args.first() == QStringLiteral("--help") || args.first() == QStringLiteral("-h")) {
        gm::cli::printUsage();
        return args.isEmpty() ? gm::cli::kExitBadArguments : gm::cli::kExitOk;
    }
    const QString command = args.takeFirst();
    // SIGINT and SIGTERM end a run after cleaning up its file in progress; the exit status
    // then is the shell's for that signal.
    gm::installInterruptHandlers();
    auto ended = [](int exitCode) { return gm::interruptSignal() != 0 ? 128 + gm::interruptSignal() : exitCode; };
    if (command == QStringLiteral("convert"))
        return ended(gm::cli::runConvertCommand(args));
    if (command == QStringLiteral("properties"))
        return ended(gm::cli::runPropertiesCommand(args));
    if (command == QStringLiteral("header-footer"))
        return ended(gm::cli::runHeaderFooterCommand(args));
    if (command == QStringLiteral("print"))
        return ended(gm::cli::runPrintCommand(args));
    if (command == QStringLiteral("print-setup"))
        return ended(gm::cli::runPrintSetupCommand(args));
    if (command == QStringLiteral("password"))
        return ended(gm::cli::runPasswordCommand(args));
    if (command == QStringLiteral("sheets"))
        return ended(gm::cli::runSheetsCommand(args));
    if (command == QStringLiteral("links"))
        return ended(gm::cli::runLinksCommand(args));
    if (command == QStringLiteral("background"))
        return ended(gm::cli::runBackgroundCommand(args));
    if (command == QStringLiteral("rename"))
        return ended(gm::cli::runRenameCommand(args));
    if (command == QStringLiteral("merge"))
        return ended(gm::cli::runMergeCommand(args));
    if (command == QStringLiteral("stats"))
        return ended(gm::cli::runStatsCommand(args));
    if (command == QStringLiteral("replace"))
        return ended(gm::cli::runReplaceCommand(args));
    if (command == QStringLiteral("set-cells"))
        return ended(gm::cli::runSetCellsCommand(args));
    if (command == QStringLiteral("protect"))
        return ended(gm::cli::runProtectCommand(args));
    if (command == QStringLiteral("rows-cols"))
        return ended(gm::cli::runRowsColumnsCommand(args));
    QTextStream(stderr) << QStringLiteral("Unknown command: ") << command << QStringLiteral("\nTry 'gridmule-cli --help'.\n");
    return gm::cli::kExitBadArguments;
}
