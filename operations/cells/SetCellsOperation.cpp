#include "operations/cells/SetCellsOperation.h"

#include "automation/EngineError.h"
#include "operations/Checks.h"

namespace gm {

namespace {

// The entry's number as a 32-bit integer; 0 (not a cell position) when the text is not one.
qint64 cellNumber(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

} // namespace

Validation validateSetCells(const SetCellsInputs &inputs)
{
    if (inputs.cells.isEmpty())
        return ValidationFailure{kSetCellsNoCells, {}};
    if (inputs.sheets == CellSheets::Named && inputs.sheetName.isEmpty())
        return ValidationFailure{kSetCellsNameEmpty, QStringLiteral("txtBatchCellsSheet")};
    return std::nullopt;
}

RunSummary setCells(const SetCellsInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kSetCellsEmptyList, [&] { return validateSetCells(inputs); }, failed))
        return stoppedRun();
    return runSetCells(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runSetCells(
    const SetCellsInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    std::vector<Worksheet::CellWrite> writes;
    writes.reserve(size_t(inputs.cells.size()));
    for (const CellListEntry &cell : inputs.cells)
        writes.push_back({cellNumber(cell.row), cellNumber(cell.column), cell.content});
    const QString wantedName = inputs.sheetName.trimmed();

    Operation operation;
    operation.options.actionName = kSetCellsAction;
    operation.options.emptyListMessage = kSetCellsEmptyList;
    operation.options.completionMessage = kSetCellsDone;
    operation.options.testExistence = true;
    operation.options.readOnly = ReadOnlyPolicy::MakeWritable;
    // An .xls is changed in its records where the entries allow, else by the engine, and
    // checked cell by cell before it replaces the original.
    operation.options.use = WorkbookUse::CellValues;
    // The workbook is saved with the writes that succeeded, also when one failed.
    operation.options.saveMode = SaveMode::SaveThenClose;
    // The change asks nothing and keeps nothing between files: several engines may work at once.
    operation.changeOnWorkers = true;
    operation.change = [&](Workbook &workbook, FileContext &context) {
        auto write = [&](Worksheet &sheet) {
            try {
                sheet.setCellValues(writes);
            } catch (const EngineError &e) {
                // A backend that cannot write cells leaves the file as it was.
                if ((e.code() == ErrorCode::NotSupported && !sheet.isChart()) || e.code() == ErrorCode::XlsCellsNeedEngine)
                    throw;
                context.recordFailure(e);
            }
        };
        if (inputs.sheets == CellSheets::Active) {
            write(*workbook.activeSheet());
            return;
        }
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            std::unique_ptr<Worksheet> sheet = workbook.worksheet(position);
            if (inputs.sheets == CellSheets::All || sheet->name().compare(wantedName, Qt::CaseInsensitive) == 0)
                write(*sheet);
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
