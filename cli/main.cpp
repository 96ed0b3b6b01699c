// gridmule-cli: the command-line front end over the same core as the window.

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
    if (command == QStringLiteral("convert"))
        return gm::cli::runConvertCommand(args);
    if (command == QStringLiteral("properties"))
        return gm::cli::runPropertiesCommand(args);
    if (command == QStringLiteral("header-footer"))
        return gm::cli::runHeaderFooterCommand(args);
    if (command == QStringLiteral("print-setup"))
        return gm::cli::runPrintSetupCommand(args);
    if (command == QStringLiteral("sheets"))
        return gm::cli::runSheetsCommand(args);
    if (command == QStringLiteral("replace"))
        return gm::cli::runReplaceCommand(args);
    if (command == QStringLiteral("set-cells"))
        return gm::cli::runSetCellsCommand(args);
    QTextStream(stderr) << QStringLiteral("Unknown command: ") << command << QStringLiteral("\nTry 'gridmule-cli --help'.\n");
    return gm::cli::kExitBadArguments;
}
