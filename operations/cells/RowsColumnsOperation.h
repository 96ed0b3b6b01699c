#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

namespace gm {

// Hides, deletes or resizes a run of columns and a run of rows in the chosen worksheets of
// every listed workbook. The runs are handed over as range text, as typed ("C:E", "7:3").

inline const QString kRowsColumnsEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
inline const QString kRowsColumnsNameEmpty = QStringLiteral("请输入要处理的工作表的名称！");
inline const QString kRowsColumnsNoColumn = QStringLiteral("请输入字母列号！");
inline const QString kRowsColumnsNoRow = QStringLiteral("请输入整数行号！");
inline const QString kRowsColumnsNoHeight = QStringLiteral("请输入行高！");
inline const QString kRowsColumnsNoWidth = QStringLiteral("请输入列宽！");
inline const QString kRowsColumnsConfirmCaption = QStringLiteral("注意！");
inline const QString kRowsColumnsConfirmDelete
    = QStringLiteral("删除操作将无法撤消，操作前请务必确认您已备份文档！\n确定要进行此操作吗？");
inline const QString kRowsColumnsAction = QStringLiteral("批量行、列操作");
inline const QString kRowsColumnsDone = QStringLiteral("处理完成！");

enum class RowsColumnsSheets { Named = 0, Active = 1, All = 2 }; // OptBatchColRowSheetName
enum class RowsColumnsMode { None = -1, Hide = 0, Delete = 1, Size = 2 }; // OpBatchColRow

struct RowsColumnsInputs
{
    QStringList entries;
    RowsColumnsSheets sheets = RowsColumnsSheets::Active;
    QString sheetName; // CmbSheetName
    RowsColumnsMode mode = RowsColumnsMode::None;
    // The selected mode's check boxes: ChkHideCols/ChkHideRows, ChkDelCols/ChkDelRows,
    // ChkColWidth/ChkRowHeight.
    bool columns = false;
    bool rows = false;
    // The selected mode's fields: txtCol1/txtCol2 and txtRow1/txtRow2 of its group.
    QString columnFrom;
    QString columnTo;
    QString rowFrom;
    QString rowTo;
    QString height; // txtRowHeight
    QString width; // txtColWidth
};

// The objectNames of the selected mode's run fields.
struct RowsColumnsFields
{
    QString columnFrom;
    QString columnTo;
    QString rowFrom;
    QString rowTo;
};
RowsColumnsFields rowsColumnsFields(RowsColumnsMode mode);

// The leading number of a size field: digits and one decimal point ("." alone gives 0).
double leadingNumber(const QString &text);

// The sheet choice, the check before the deletion question.
Validation validateRowsColumnsSheets(const RowsColumnsInputs &inputs);
// Whether the run deletes, so that the user is asked first.
bool rowsColumnsDeletes(const RowsColumnsInputs &inputs);
// The checks of the mode's fields, in order.
Validation validateRowsColumns(const RowsColumnsInputs &inputs);

// Which backend opens the workbooks of a mode.
WorkbookUse rowsColumnsUse(RowsColumnsMode mode);

// Check list, the sheet choice, the deletion question (through ui), the field checks, then
// the run.
RunSummary changeRowsColumns(const RowsColumnsInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runRowsColumns(
    const RowsColumnsInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
