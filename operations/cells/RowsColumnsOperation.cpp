#include "operations/cells/RowsColumnsOperation.h"

#include "automation/EngineError.h"
#include "automation/Notation.h"
#include "operations/Checks.h"

namespace gm {

RowsColumnsFields rowsColumnsFields(RowsColumnsMode mode)
{
    // In the hide group the columns are member 0 and the rows member 1, in the delete group
    // the other way round, in the size group both are member 2.
    int columns = 2;
    int rows = 2;
    if (mode == RowsColumnsMode::Hide) {
        columns = 0;
        rows = 1;
    } else if (mode == RowsColumnsMode::Delete) {
        columns = 1;
        rows = 0;
    }
    auto name = [](const char *base, int index) { return QStringLiteral("%1(%2)").arg(QLatin1String(base)).arg(index); };
    return {name("txtCol1", columns), name("txtCol2", columns), name("txtRow1", rows), name("txtRow2", rows)};
}

double leadingNumber(const QString &text)
{
    QString number;
    bool point = false;
    for (const QChar c : text) {
        if (c.isDigit() && c.unicode() < 128) {
            number += c;
        } else if (c == u'.' && !point) {
            point = true;
            number += c;
        } else {
            break;
        }
    }
    if (number.isEmpty() || number == QLatin1String("."))
        return 0;
    return number.toDouble();
}

Validation validateRowsColumnsSheets(const RowsColumnsInputs &inputs)
{
    if (inputs.sheets == RowsColumnsSheets::Named && inputs.sheetName.isEmpty())
        return ValidationFailure{kRowsColumnsNameEmpty, QStringLiteral("CmbSheetName")};
    return std::nullopt;
}

bool rowsColumnsDeletes(const RowsColumnsInputs &inputs)
{
    return inputs.mode == RowsColumnsMode::Delete && (inputs.columns || inputs.rows);
}

Validation validateRowsColumns(const RowsColumnsInputs &inputs)
{
    const RowsColumnsFields fields = rowsColumnsFields(inputs.mode);
    auto columnsGiven = [&]() -> Validation {
        if (inputs.columnFrom.trimmed().isEmpty())
            return ValidationFailure{kRowsColumnsNoColumn, fields.columnFrom};
        if (inputs.columnTo.trimmed().isEmpty())
            return ValidationFailure{kRowsColumnsNoColumn, fields.columnTo};
        return std::nullopt;
    };
    auto rowsGiven = [&]() -> Validation {
        if (inputs.rowFrom.trimmed().isEmpty())
            return ValidationFailure{kRowsColumnsNoRow, fields.rowFrom};
        if (inputs.rowTo.trimmed().isEmpty())
            return ValidationFailure{kRowsColumnsNoRow, fields.rowTo};
        return std::nullopt;
    };
    if (inputs.mode == RowsColumnsMode::Hide || inputs.mode == RowsColumnsMode::Delete) {
        if (inputs.columns) {
            if (Validation failure = columnsGiven())
                return failure;
        }
        if (inputs.rows)
            return rowsGiven();
        return std::nullopt;
    }
    if (inputs.mode != RowsColumnsMode::Size)
        return std::nullopt;
    if (inputs.rows && inputs.height.isEmpty())
        return ValidationFailure{kRowsColumnsNoHeight, QStringLiteral("txtRowHeight")};
    if (inputs.columns && inputs.width.isEmpty())
        return ValidationFailure{kRowsColumnsNoWidth, QStringLiteral("txtColWidth")};
    if (inputs.columns) {
        if (Validation failure = columnsGiven())
            return failure;
    }
    if (inputs.rows)
        return rowsGiven();
    return std::nullopt;
}

RunSummary changeRowsColumns(const RowsColumnsInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kRowsColumnsEmptyList, [&] { return validateRowsColumnsSheets(inputs); }, failed))
        return stoppedRun();
    if (rowsColumnsDeletes(inputs) && !ui.askOkCancel(kRowsColumnsConfirmDelete))
        return stoppedRun();
    if (Validation failure = validateRowsColumns(inputs)) {
        ui.inform(failure->message);
        if (failed)
            *failed = failure;
        return stoppedRun();
    }
    return runRowsColumns(inputs, ui, settings, std::move(engineFactory));
}

WorkbookUse rowsColumnsUse(RowsColumnsMode mode)
{
    // Hiding and sizing are record edits of an .xls; deleting moves cells and references,
    // which the engine does, its save checked against every cell that should only have moved.
    return mode == RowsColumnsMode::Delete ? WorkbookUse::GuardedEngine : WorkbookUse::PackageMembers;
}

RunSummary runRowsColumns(
    const RowsColumnsInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    const QString columns = RangeText(inputs.columnFrom, inputs.columnTo);
    const QString rows = RangeText(inputs.rowFrom, inputs.rowTo);
    const double height = leadingNumber(inputs.height);
    const double width = leadingNumber(inputs.width);

    Operation operation;
    operation.options.actionName = kRowsColumnsAction;
    operation.options.emptyListMessage = kRowsColumnsEmptyList;
    operation.options.completionMessage = kRowsColumnsDone;
    operation.options.testExistence = true;
    operation.options.readOnly = ReadOnlyPolicy::MakeWritable;
    operation.options.use = rowsColumnsUse(inputs.mode);
    // What succeeded is saved, also when one action failed.
    operation.options.saveMode = SaveMode::SaveThenClose;
    // The change asks nothing and keeps nothing between files: several engines may work at once.
    operation.changeOnWorkers = true;
    operation.change = [&](Workbook &workbook, FileContext &context) {
        // Each action is tried on its own: one that fails does not keep the next from running.
        auto attempt = [&](auto &&action) {
            try {
                action();
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
        };
        auto apply = [&](Worksheet &sheet) {
            switch (inputs.mode) {
            case RowsColumnsMode::Hide:
                if (inputs.columns)
                    attempt([&] { sheet.setColumnsHidden(columns); });
                if (inputs.rows)
                    attempt([&] { sheet.setRowsHidden(rows); });
                break;
            case RowsColumnsMode::Delete:
                // The row run is numbered after the columns have gone.
                if (inputs.columns)
                    attempt([&] { sheet.deleteColumns(columns); });
                if (inputs.rows)
                    attempt([&] { sheet.deleteRows(rows); });
                break;
            case RowsColumnsMode::Size:
                if (inputs.rows)
                    attempt([&] { sheet.setRowHeight(rows, height); });
                if (inputs.columns)
                    attempt([&] { sheet.setColumnWidth(columns, width); });
                break;
            case RowsColumnsMode::None:
                break;
            }
        };
        if (inputs.sheets == RowsColumnsSheets::Active) {
            apply(*workbook.activeSheet());
            return;
        }
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            std::unique_ptr<Worksheet> sheet = workbook.worksheet(position);
            if (inputs.sheets == RowsColumnsSheets::All || sheet->name().compare(inputs.sheetName, Qt::CaseInsensitive) == 0)
                apply(*sheet);
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
