#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"
#include "operations/cells/CellListFile.h"

#include <QString>
#include <QStringList>

namespace gm {

// Writes the cell list into the active worksheet, every worksheet, or the worksheets with a
// given name of every listed workbook, each content as if typed into its cell. An entry that
// cannot be written (a position outside the sheet, a chart sheet, part of an array formula)
// fails that write only: the others are written, the workbook is saved, and the file's one
// run-log line records the failure.

inline const QString kSetCellsEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
inline const QString kSetCellsNoCells = QStringLiteral("没有需要设置的单元格！");
inline const QString kSetCellsNameEmpty = QStringLiteral("如果按名字匹配工作表，则名字不能为空！");
inline const QString kSetCellsAction = QStringLiteral("批量行、列操作");
inline const QString kSetCellsDone = QStringLiteral("处理完成！");

enum class CellSheets { Active = 0, All = 1, Named = 2 };

struct SetCellsInputs
{
    QStringList entries;
    QList<CellListEntry> cells; // ListView1, in list order
    CellSheets sheets = CellSheets::Active; // OptBatchCells
    QString sheetName; // txtBatchCellsSheet
};

Validation validateSetCells(const SetCellsInputs &inputs);

// The checks, then the run.
RunSummary setCells(const SetCellsInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runSetCells(
    const SetCellsInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
