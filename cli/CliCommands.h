#pragma once

#include <QStringList>

namespace gm::cli {

// Exit statuses of the command line.
constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitBadArguments = 2;

// Runs one sub-command; `args` excludes the program name and the sub-command.
int runConvertCommand(const QStringList &args);
int runPropertiesCommand(const QStringList &args);
int runHeaderFooterCommand(const QStringList &args);
int runPrintSetupCommand(const QStringList &args);
// password --open|--modify, the password from a file, the environment or a prompt
int runPasswordCommand(const QStringList &args);
// links --remove-hyperlinks|--share|--unshare
int runLinksCommand(const QStringList &args);
// background --set PICTURE|--remove
int runBackgroundCommand(const QStringList &args);
// print [--sheets 1,3] [--copies N] [--printer NAME] [--dry-run]
int runPrintCommand(const QStringList &args);
// sheets delete|hide|unhide|rename
int runSheetsCommand(const QStringList &args);
// rename --replace|--insert|--delete|--case [--dry-run]
int runRenameCommand(const QStringList &args);
// stats --out FILE [--dry-run]
int runMergeCommand(const QStringList &args);
int runStatsCommand(const QStringList &args);
int runSetCellsCommand(const QStringList &args);
int runReplaceCommand(const QStringList &args);
// protect --workbook [--structure] [--windows] | --sheets [--allow ACTION,...]
int runProtectCommand(const QStringList &args);
int runRowsColumnsCommand(const QStringList &args);
// The overall help (every command with its options), one command's help, the version.
void printUsage();
void printCommandUsage(const QString &command);
void printVersion();

} // namespace gm::cli
