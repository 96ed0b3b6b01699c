#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"
#include "operations/sheets/SheetSelection.h"

#include <QString>
#include <QStringList>

namespace gm {

// Delete, hide, unhide and rename worksheets in every listed workbook. Worksheets are picked
// by the name rule or by their position among the worksheets (chart sheets are neither
// picked nor counted). A refusal of one sheet (the last visible sheet, a forbidden or taken
// name, a position that names no worksheet) is that workbook's failure: the changes that
// succeeded before it are saved and the run goes on.

inline const QString kSheetsEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
inline const QString kSheetsAction = QStringLiteral("批量工作表操作");
inline const QString kSheetsDone = QStringLiteral("处理完成！");
inline const QString kEnterSheetName = QStringLiteral("请输入工作表的名称！");
inline const QString kEnterSheetPosition = QStringLiteral("请输入工作表的序号！");
inline const QString kConfirmDelete = QStringLiteral("删除操作将无法撤消，操作前请务必确认您已备份文档！\n确定要进行此操作吗？");
inline const QString kEnterTextToReplace = QStringLiteral("请输入工作表名称中需替换的内容！");
inline const QString kEnterActiveSheetName = QStringLiteral("请输入要批量设置的活动工作表名称！");

// Delete or hide: by name (kind and text) or by position (the text of the position box).
struct SheetPickInputs
{
    QStringList entries;
    bool byName = true; // OptDelSheetByName / OptHideSheetByName
    int kind = 0; // CmbDelSheetByName / CmbHideSheetByName
    QString matchText; // txtDelSheet / txtHideSheet
    QString positionText; // CmbDelsheetPosition / CmbHideSheetPosition
};

struct UnhideInputs
{
    QStringList entries;
    bool all = false; // OptDisplayAll, else OptDisplaySheetByName
    int kind = 0; // CmbDisplaySheetByName
    QString matchText; // txtDisplaySheet
};

struct RenameSheetInputs
{
    QStringList entries;
    int mode = 1; // OptBatchRenameSheet: 0 replaces text in all worksheet names, 1 names the active sheet
    QString oldText; // txtSheetOldName
    QString newText; // txtSheetNewName
    QString activeName; // txtSheetName
};

// Insert a copy of one worksheet of a source workbook before the first worksheet of every
// listed workbook (.xlsx by the package editor, .xls by the engine with its save checked). The
// source is read once for the whole run and never changed.
inline const QString kInsertEmptyList = QStringLiteral("没有需要处理的文档！");
inline const QString kNoSourceSheet = QStringLiteral("没有指定源工作表！");

struct InsertSheetInputs
{
    QStringList entries;
    QString sourcePath; // TxtSheetSource
    QString sheetName; // the selected item of LstInsSheet
};

Validation validateInsertSheet(const InsertSheetInputs &inputs);
RunSummary insertSheet(const InsertSheetInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runInsertSheet(
    const InsertSheetInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

Validation validateDeleteSheets(const SheetPickInputs &inputs);
Validation validateHideSheets(const SheetPickInputs &inputs);
Validation validateUnhideSheets(const UnhideInputs &inputs);
Validation validateRenameSheets(const RenameSheetInputs &inputs);

// The checks (for delete: the confirmation first), then the run. A window asks and
// validates on the GUI thread itself (to focus the control) and calls run... on a worker.
RunSummary deleteSheets(const SheetPickInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary hideSheets(const SheetPickInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary unhideSheets(const UnhideInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary renameSheets(const RenameSheetInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);

RunSummary runDeleteSheets(
    const SheetPickInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});
RunSummary runHideSheets(
    const SheetPickInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});
RunSummary runUnhideSheets(
    const UnhideInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});
RunSummary runRenameSheets(
    const RenameSheetInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
