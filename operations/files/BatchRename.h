#pragma once

#include "automation/UserInterface.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace gm {

// Batch rename of the listed workbook files, on the file system alone: the main name (file
// name without folder and extension) is changed by replacing text, inserting or deleting
// characters, or changing letter case (the extension too, for the last). An existing file is
// never overwritten: a rename that would replace or lose a file is refused for that file.

enum class RenameKind { Replace, Insert, Delete, Case };
enum class CaseChange { Unchanged, Upper, Lower };

struct RenameInputs
{
    QStringList entries;
    RenameKind kind = RenameKind::Replace;
    // Replace kind: search text (letter case aside), its replacement, every occurrence or the first.
    QString search;
    QString replacement;
    bool replaceAll = false;
    // Insert and delete kinds: position and count as typed.
    QString insertPosition = QStringLiteral("1");
    QString insertText;
    QString deletePosition = QStringLiteral("1");
    QString deleteCount = QStringLiteral("0");
    // Case kind.
    CaseChange mainNameCase = CaseChange::Unchanged;
    CaseChange extensionCase = CaseChange::Unchanged;
};

enum class RenameOutcome {
    Renamed, // the file has the new name (in a dry run: would have it)
    Unchanged, // the new name is the old one, letter case aside
    Skipped, // the insert position lies beyond the main name
    Refused, // a clash, an unusable new name or a failing rename; the file keeps its name
};

struct RenameResult
{
    int row = 0;
    QString oldPath;
    QString newPath;
    RenameOutcome outcome = RenameOutcome::Unchanged;
    QString reason; // the message shown for a refused file
};

struct RenameRun
{
    bool completed = false; // the run went through the list (false: stopped by a check or at once)
    bool searchTextMissing = false; // stopped because the replace kind had no search text
    QList<RenameResult> files; // one per entry the run looked at, in list order
};

inline const QString kRenameEmptyList = QStringLiteral("没有需要改名的文档！");
inline const QString kRenameForbiddenCharacters = QStringLiteral("文件名不能包括以下字符:\n\\ / :  * ? \" < > |");
inline const QString kRenameNoSearchText = QStringLiteral("没有输入文件名中要替代的字符！");
inline const QString kRenameDone = QStringLiteral("处理完成！");
inline const QString kRenameClash = QStringLiteral("同名文件已存在。该文件改名取消！");
inline const QString kRenameBadName = QStringLiteral("新文件名为空或含有文件名不能包括的字符。该文件改名取消！");
inline const QString kRenameFailed = QStringLiteral("文件改名失败：%1。该文件改名取消！");
inline const QString kRenameBadInsertPosition = QStringLiteral("插入位置必须是0到32767之间的整数！");
inline const QString kRenameBadDeletePosition = QStringLiteral("删除位置必须是0到32767之间的整数！");
inline const QString kRenameBadDeleteCount = QStringLiteral("删除字符数必须是-32768到32767之间的整数！");

// The new main name of one kind for one main name; an empty optional-like result (null
// QString) when the insert position lies beyond the name. Replace, insert and delete only.
QString renamedMainName(const QString &mainName, const RenameInputs &inputs, int position, int count);

// The run of the rename command: checks the inputs (messages through ui), then renames entry
// by entry. With dryRun nothing on disk changes; the results tell what would happen, clashes
// with files the run itself would create or free included.
RenameRun renameDocuments(const RenameInputs &inputs, UserInterface &ui, bool dryRun = false);

} // namespace gm
