#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

namespace gm {

// Workbook merge: every worksheet of every listed workbook is copied into one new workbook,
// the documents in list order and each document's worksheets in their own order. The
// documents are walked from the last to the first and each copy is put in front, so a name
// that is already taken goes to the copy that comes earlier ("Sheet1 (2)"). The merged
// workbook is built by the package editor from the sources' packages (a source of another
// format is first converted to a temporary .xlsx); an .xls output is then written from it by
// the spreadsheet engine and checked. The output is written once, complete, through a
// temporary file; the sources are never changed. A failing source is logged and the merge
// goes on.

inline const QString kMergeEmptyList = QStringLiteral("没有需要处理的文档！");
inline const QString kMergeNoTarget = QStringLiteral("请输入要合并到的新文件名！");
inline const QString kMergeOverwrite = QStringLiteral("文件已经存，是否覆盖？");
inline const QString kMergeDone = QStringLiteral("电子表格文件合并完成！");
inline const QString kMergeAction = QStringLiteral("文档合并");
inline const QString kMergeOutputFailed = QStringLiteral("无法写入合并结果文件：");

struct MergeInputs
{
    QStringList entries;
    QString targetPath; // txtUniteFile as typed
    bool nameByBook = false; // ChkBookName checked
    bool skipEmpty = true; // ChkDelBlank in any state but cleared
};

// What a merge made, or would make with dryRun.
struct MergeResult
{
    QString targetPath; // absolute: a bare file name is taken in the current folder
    QStringList sheetNames; // the merged workbook's worksheets, in tab order
    bool written = false;
};

Validation validateMerge(const MergeInputs &inputs);

// The base name of a source for prefixed sheet names: its file name with the first ".xlsx"
// and then the first ".xls" taken out, letter case aside (Q1.xlsm gives Q1m).
QString mergeBaseName(const QString &fileName);

// The checks (empty list; an empty target, after which a window offers its save dialog;
// the overwrite question), then the run. With dryRun the merged workbook is built but no
// file is written and nothing is asked. `result` tells the target as resolved and the
// sheets of the merged workbook.
RunSummary mergeWorkbooks(const MergeInputs &inputs, UserInterface &ui, const RunSettings &settings, bool dryRun = false,
    MergeResult *result = nullptr, ApplicationFactory engineFactory = {});

} // namespace gm
