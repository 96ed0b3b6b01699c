#include "operations/sheets/SheetOperations.h"

#include "automation/EngineError.h"
#include "operations/Checks.h"
#include "operations/sheets/PackageSource.h"

#include <QFileInfo>

#include <functional>

namespace gm {

namespace {

Validation validatePick(const SheetPickInputs &inputs, const QString &textControl, const QString &positionControl)
{
    if (inputs.byName && inputs.matchText.isEmpty())
        return ValidationFailure{kEnterSheetName, textControl};
    if (!inputs.byName && inputs.positionText.isEmpty())
        return ValidationFailure{kEnterSheetPosition, positionControl};
    return std::nullopt;
}

Operation sheetOperation(ReadOnlyPolicy readOnly)
{
    Operation operation;
    operation.options.actionName = kSheetsAction;
    operation.options.emptyListMessage = kSheetsEmptyList;
    operation.options.completionMessage = kSheetsDone;
    operation.options.testExistence = true; // a missing file is skipped without a log line
    operation.options.readOnly = readOnly;
    operation.options.use = WorkbookUse::PackageMembers;
    // The workbook is saved with what succeeded, also when a step failed.
    operation.options.saveMode = SaveMode::CloseSaving;
    return operation;
}

// One step on one sheet; a failure is held for the file and the next step goes on.
void attempt(FileContext &context, const std::function<void()> &step)
{
    try {
        step();
    } catch (const EngineError &e) {
        context.recordFailure(e);
    }
}

QStringList worksheetNames(Workbook &workbook)
{
    QStringList names;
    const int count = workbook.worksheetCount();
    for (int position = 1; position <= count; ++position)
        names.append(workbook.worksheet(position)->name());
    return names;
}

std::unique_ptr<Worksheet> worksheetAt(Workbook &workbook, const QString &positionText)
{
    const std::optional<qint16> position = sheetPositionOf(positionText);
    if (!position)
        throw EngineError(ErrorCode::SheetNotFound, QStringLiteral("worksheet %1").arg(positionText));
    return workbook.worksheet(*position);
}

// Applies `change` to the worksheets picked by name (those the workbook held when the walk
// began) or to the one at the given position.
void forPickedWorksheets(
    const SheetPickInputs &inputs, Workbook &workbook, FileContext &context, const std::function<void(Worksheet &)> &change)
{
    if (!inputs.byName) {
        change(*worksheetAt(workbook, inputs.positionText));
        return;
    }
    for (const QString &name : worksheetNames(workbook)) {
        if (MatchSheetName(inputs.kind, name, inputs.matchText))
            attempt(context, [&] { change(*workbook.worksheet(name)); });
    }
}

} // namespace

Validation validateDeleteSheets(const SheetPickInputs &inputs)
{
    return validatePick(inputs, QStringLiteral("txtDelSheet"), QStringLiteral("CmbDelsheetPosition"));
}

Validation validateHideSheets(const SheetPickInputs &inputs)
{
    return validatePick(inputs, QStringLiteral("txtHideSheet"), QStringLiteral("CmbHideSheetPosition"));
}

Validation validateUnhideSheets(const UnhideInputs &inputs)
{
    if (!inputs.all && inputs.matchText.isEmpty())
        return ValidationFailure{kEnterSheetName, QStringLiteral("txtDisplaySheet")};
    return std::nullopt;
}

Validation validateRenameSheets(const RenameSheetInputs &inputs)
{
    if (inputs.mode == 0 && inputs.oldText.trimmed().isEmpty())
        return ValidationFailure{kEnterTextToReplace, QStringLiteral("txtSheetOldName")};
    if (inputs.mode == 1 && inputs.activeName.trimmed().isEmpty())
        return ValidationFailure{kEnterActiveSheetName, QStringLiteral("txtSheetName")};
    return std::nullopt;
}

RunSummary deleteSheets(const SheetPickInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    // Deletion cannot be undone: the question comes before every other check.
    if (!ui.askOkCancel(kConfirmDelete))
        return stoppedRun();
    if (!passChecks(
            ui, inputs.entries, kSheetsEmptyList, [&] { return validateDeleteSheets(inputs); }, failed))
        return stoppedRun();
    return runDeleteSheets(inputs, ui, settings, std::move(engineFactory));
}

RunSummary hideSheets(const SheetPickInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kSheetsEmptyList, [&] { return validateHideSheets(inputs); }, failed))
        return stoppedRun();
    return runHideSheets(inputs, ui, settings, std::move(engineFactory));
}

RunSummary unhideSheets(const UnhideInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kSheetsEmptyList, [&] { return validateUnhideSheets(inputs); }, failed))
        return stoppedRun();
    return runUnhideSheets(inputs, ui, settings, std::move(engineFactory));
}

RunSummary renameSheets(const RenameSheetInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kSheetsEmptyList, [&] { return validateRenameSheets(inputs); }, failed))
        return stoppedRun();
    return runRenameSheets(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runDeleteSheets(
    const SheetPickInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation = sheetOperation(ReadOnlyPolicy::MakeWritable);
    operation.change = [&](Workbook &workbook, FileContext &context) {
        forPickedWorksheets(inputs, workbook, context, [](Worksheet &sheet) { sheet.deleteSheet(); });
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

RunSummary runHideSheets(
    const SheetPickInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation = sheetOperation(ReadOnlyPolicy::MakeWritable);
    operation.change = [&](Workbook &workbook, FileContext &context) {
        forPickedWorksheets(inputs, workbook, context, [](Worksheet &sheet) { sheet.setVisibility(SheetVisibility::Hidden); });
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

RunSummary runUnhideSheets(
    const UnhideInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation = sheetOperation(ReadOnlyPolicy::MakeWritable);
    operation.change = [&](Workbook &workbook, FileContext &context) {
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            attempt(context, [&] {
                std::unique_ptr<Worksheet> sheet = workbook.worksheet(position);
                if (sheet->visibility() == SheetVisibility::Visible)
                    return;
                if (inputs.all || MatchSheetName(inputs.kind, sheet->name(), inputs.matchText))
                    sheet->setVisibility(SheetVisibility::Visible);
            });
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

RunSummary runRenameSheets(
    const RenameSheetInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    // No read-only step: saving a read-only file fails and is logged.
    Operation operation = sheetOperation(ReadOnlyPolicy::None);
    operation.change = [&](Workbook &workbook, FileContext &context) {
        if (inputs.mode == 1) {
            workbook.activeSheet()->setName(inputs.activeName);
            return;
        }
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            attempt(context, [&] {
                std::unique_ptr<Worksheet> sheet = workbook.worksheet(position);
                QString name = sheet->name();
                sheet->setName(name.replace(inputs.oldText, inputs.newText, Qt::CaseSensitive));
            });
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

Validation validateInsertSheet(const InsertSheetInputs &inputs)
{
    if (inputs.sheetName.isEmpty())
        return ValidationFailure{kNoSourceSheet, QStringLiteral("LstInsSheet")};
    return std::nullopt;
}

RunSummary insertSheet(const InsertSheetInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kInsertEmptyList, [&] { return validateInsertSheet(inputs); }, failed))
        return stoppedRun();
    return runInsertSheet(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runInsertSheet(
    const InsertSheetInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    BatchFrame frame(ui, settings, std::move(engineFactory));

    // The source is opened once, before any target; one that cannot be read stops the run
    // with its reason before anything is touched.
    std::unique_ptr<PackageSource> source;
    QString failure;
    ui.setBusy(true);
    try {
        source = std::make_unique<PackageSource>(frame.engines(), inputs.sourcePath);
        source->workbook().worksheet(inputs.sheetName);
    } catch (const EngineError &e) {
        failure = e.description();
    } catch (const std::exception &) {
        failure = EngineError::describe(ErrorCode::Unexpected);
    }
    ui.setBusy(false);
    if (!failure.isEmpty()) {
        frame.engines().quit();
        ui.inform(failure + u'\n' + inputs.sourcePath);
        return stoppedRun();
    }

    Operation operation = sheetOperation(ReadOnlyPolicy::MakeWritable);
    operation.options.emptyListMessage = kInsertEmptyList;
    // A missing file fails at opening and is logged.
    operation.options.testExistence = false;
    operation.options.use = WorkbookUse::GuardedEngine;
    // Targets the engine edits (.xls) are changed on the run's engine workers, each copying
    // from the source as its own engine reads it; the package editor's targets on the run's thread.
    operation.changeOnWorkers = true;
    operation.change
        = [&, sourcePath = QFileInfo(inputs.sourcePath).absoluteFilePath()](Workbook &workbook, FileContext &context) {
              try {
                  workbook.insertWorksheetCopy(source->workbook(), inputs.sheetName, sourcePath);
              } catch (const EngineError &e) {
                  if (e.code() != ErrorCode::NotSupported)
                      throw;
                  // Closed (by its destructor, which spares a dead engine) once the copy is made.
                  const std::unique_ptr<Workbook> loaded = source->openInEngine(context.engines());
                  workbook.insertWorksheetCopy(*loaded, inputs.sheetName, sourcePath);
              }
          };
    RunSummary summary = frame.run(inputs.entries, operation);
    source.reset();
    return summary;
}

} // namespace gm
