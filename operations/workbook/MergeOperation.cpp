#include "operations/workbook/MergeOperation.h"

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "automation/EngineWorkers.h"
#include "automation/Interruption.h"
#include "automation/PathHelpers.h"
#include "automation/RunLog.h"
#include "automation/SafeReplace.h"
#include "automation/xls/XlsWorkbook.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "automation/xlsx/ZipArchive.h"
#include "operations/sheets/PackageSource.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

namespace gm {

namespace {

// A new workbook with one empty worksheet "Sheet1", as the spreadsheet program creates one:
// the merged workbook starts from it, and the empty sheet goes once the last document is in.
QByteArray newWorkbookPackage()
{
    const QByteArray declaration = QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n");
    const QByteArray main = QByteArrayLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");
    const QByteArray relationships = QByteArrayLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
    const std::vector<xlsx::ZipArchive::Change> parts{
        {QStringLiteral("[Content_Types].xml"),
            declaration
                + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                  "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                  "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                  "<Override PartName=\"/xl/workbook.xml\" "
                  "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                  "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
                  "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
                  "<Override PartName=\"/xl/styles.xml\" "
                  "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
                  "</Types>",
            std::nullopt},
        {QStringLiteral("_rels/.rels"),
            declaration
                + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                  "<Relationship Id=\"rId1\" Type=\""
                + relationships
                + "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                  "</Relationships>",
            std::nullopt},
        {QStringLiteral("xl/workbook.xml"),
            declaration + "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + relationships
                + "\"><bookViews><workbookView/></bookViews>"
                  "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets><calcPr calcId=\"0\"/></workbook>",
            std::nullopt},
        {QStringLiteral("xl/_rels/workbook.xml.rels"),
            declaration
                + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                  "<Relationship Id=\"rId1\" Type=\""
                + relationships
                + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                  "<Relationship Id=\"rId2\" Type=\""
                + relationships
                + "/styles\" Target=\"styles.xml\"/>"
                  "</Relationships>",
            std::nullopt},
        {QStringLiteral("xl/worksheets/sheet1.xml"),
            declaration + "<worksheet xmlns=\"" + main + "\" xmlns:r=\"" + relationships
                + "\"><sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews>"
                  "<sheetFormatPr defaultRowHeight=\"15\"/><sheetData/>"
                  "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>"
                  "</worksheet>",
            std::nullopt},
        {QStringLiteral("xl/styles.xml"),
            declaration + "<styleSheet xmlns=\"" + main
                + "\"><fonts count=\"1\"><font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/>"
                  "<family val=\"2\"/><scheme val=\"minor\"/></font></fonts>"
                  "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
                  "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
                  "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
                  "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
                  "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
                  "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
                  "<dxfs count=\"0\"/><tableStyles count=\"0\"/></styleSheet>",
            std::nullopt},
    };
    // An empty archive: the end-of-central-directory record alone.
    const xlsx::ZipArchive empty = xlsx::ZipArchive::fromBytes(QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    return empty.rebuilt(parts);
}

// A worksheet counts as empty when its used range is at most the one cell A1 and A1 shows
// nothing.
bool isEmptyWorksheet(Worksheet &sheet)
{
    const std::optional<CellBounds> range = sheet.usedRange();
    if (!range || range->rowCount() == 0 || range->columnCount() == 0)
        return true;
    if (range->rowCount() > 1 || range->columnCount() > 1 || range->firstRow != 1 || range->firstColumn != 1)
        return false;
    const std::vector<QString> texts = sheet.displayedTexts(*range);
    return texts.empty() || texts.front().isEmpty();
}

QStringList worksheetNames(Workbook &workbook)
{
    QStringList names;
    const int count = workbook.worksheetCount();
    for (int position = 1; position <= count; ++position)
        names.append(workbook.worksheet(position)->name());
    return names;
}

// The merged workbook's worksheets that are empty, by name (letter case folded). A copy is
// empty exactly when its source is, so the test is made on the source.
using EmptySheets = QSet<QString>;

// Copies the worksheets of one document to the front of the merged workbook together, so
// that they keep their own order and their references to each other stay inside the merged
// workbook; references to sheets left out (empty ones skipped, ones that cannot be copied)
// lead into the document's file. A refused sheet or rename is held and the others go on.
void mergeDocument(Workbook &merged, Workbook &source, const QString &sourcePath, const QString &baseName,
    const MergeInputs &inputs, EmptySheets &empty, std::optional<EngineError> &held)
{
    QStringList names;
    QList<bool> emptiness;
    for (int position = 1; position <= source.worksheetCount(); ++position) {
        try {
            std::unique_ptr<Worksheet> sheet = source.worksheet(position);
            const bool isEmpty = isEmptyWorksheet(*sheet);
            if (inputs.skipEmpty && isEmpty)
                continue;
            names.append(sheet->name());
            emptiness.append(isEmpty);
        } catch (const EngineError &e) {
            held = e;
        }
    }
    if (names.isEmpty())
        return;
    const QStringList copies = merged.insertWorksheetCopies(source, names, sourcePath, &held);
    // From the last copy to the first, as names were given.
    for (qsizetype i = copies.size() - 1; i >= 0; --i) {
        const QString &name = copies[i];
        if (name.isEmpty())
            continue;
        if (emptiness[i])
            empty.insert(name.toCaseFolded());
        if (!inputs.nameByBook)
            continue;
        try {
            const QString prefixed = baseName + u'-' + name;
            merged.worksheet(name)->setName(prefixed);
            if (empty.remove(name.toCaseFolded()))
                empty.insert(prefixed.toCaseFolded());
        } catch (const EngineError &e) {
            held = e;
        }
    }
}

// Removes the empty worksheets of the merged workbook, keeping at least one.
void removeEmptyWorksheets(Workbook &merged, const EmptySheets &empty)
{
    for (int position = 1; position <= merged.worksheetCount();) {
        std::unique_ptr<Worksheet> sheet = merged.worksheet(position);
        if (merged.worksheetCount() >= 2 && empty.contains(sheet->name().toCaseFolded()))
            sheet->deleteSheet();
        else
            ++position;
    }
}

// Writes the merged package as .xls through the engine beside the target, checks that the
// written file holds the merged worksheets, then puts it in place.
void writeXlsOutput(EngineSession &engines, const QString &mergedPackage, const QString &target, const QStringList &names)
{
    const QString temporary = temporarySiblingPath(target, QStringLiteral(".xls"));
    {
        std::unique_ptr<Workbook> workbook = engines.open(mergedPackage, WorkbookUse::Engine, /*readOnly=*/true);
        try {
            workbook->saveAs(temporary, FileFormat::Excel8);
        } catch (...) {
            workbook->close(false);
            throw;
        }
        workbook->close(false);
    }
    std::unique_ptr<Workbook> written = xls::openXlsRecords(temporary, /*readOnly=*/true);
    const QStringList writtenNames = worksheetNames(*written);
    written->close(false);
    if (writtenNames != names) {
        QFile::remove(temporary);
        throw EngineError(ErrorCode::SaveFailed,
            QStringLiteral("worksheets written: %1; expected: %2").arg(writtenNames.join(u'|'), names.join(u'|')));
    }
    replaceWithTemporary(temporary, target);
}

// Sources that must first be converted to .xlsx (an .xls) are converted by engine workers,
// several at once, in the order the merge takes the documents and a few documents ahead of
// it; the merge itself goes on one document after the other on its own thread.
class SourceConversions
{
public:
    SourceConversions(const QStringList &entries, const QList<qsizetype> &order, int workers, const ApplicationFactory &factory)
        : m_entries(entries), m_order(order), m_converted(size_t(order.size())), m_ahead(2 * workers),
          m_workers(workers, factory, int(order.size())), m_watch([this] { m_workers.abort(); })
    { }

    // The converted package of the source at `index`, or what converting it gave.
    PackageSource::Converted take(qsizetype index)
    {
        const qsizetype slot = m_order.indexOf(index);
        while (m_started <= slot) {
            if (!m_workers.waitForRoom(keys(m_started), [] { }))
                throw EngineError(ErrorCode::Interrupted);
            startNext();
        }
        const FileResult result = m_workers.waitFor(int(slot));
        ++m_taken;
        feed();
        if (result.outcome == FileOutcome::Failed)
            throw EngineError(static_cast<ErrorCode>(result.errorNumber), result.errorDescription, result.errorDetail);
        return std::move(m_converted[size_t(slot)]);
    }

    // Hands out conversions while workers are free.
    void feed()
    {
        while (m_started < m_order.size() && m_started - m_taken < m_ahead && m_workers.hasRoom(keys(m_started)))
            startNext();
    }

private:
    QStringList keys(qsizetype slot) const
    {
        return {QDir::cleanPath(QFileInfo(m_entries.at(m_order.at(slot))).absoluteFilePath())};
    }

    void startNext()
    {
        const qsizetype slot = m_started++;
        const QString path = m_entries.at(m_order.at(slot));
        PackageSource::Converted *converted = &m_converted[size_t(slot)];
        m_workers.start({int(slot), keys(slot), [path, converted](EngineSession &engines) {
                             FileResult result{path, FileOutcome::Processed, 0, {}, {}};
                             try {
                                 *converted = PackageSource::convert(engines, path);
                             } catch (const EngineError &e) {
                                 result = {path, FileOutcome::Failed, e.number(), e.description(), e.detail()};
                             } catch (const std::exception &) {
                                 const ErrorCode code = ErrorCode::Unexpected;
                                 result = {path, FileOutcome::Failed, int(code), EngineError::describe(code), {}};
                             }
                             removeOutstandingTemporaries();
                             return result;
                         }});
    }

    const QStringList &m_entries;
    const QList<qsizetype> m_order; // the entries converted, in the order the merge takes them
    std::vector<PackageSource::Converted> m_converted; // filled by the workers, one slot each
    const qsizetype m_ahead;
    qsizetype m_started = 0;
    qsizetype m_taken = 0;
    EngineWorkers m_workers; // ended before the converted packages are removed
    InterruptWatch m_watch; // a stop signal or a cancel stops the conversions at once
};

} // namespace

Validation validateMerge(const MergeInputs &inputs)
{
    if (inputs.targetPath.trimmed().isEmpty())
        return ValidationFailure{kMergeNoTarget, QStringLiteral("txtUniteFile")};
    return std::nullopt;
}

QString mergeBaseName(const QString &fileName)
{
    QString base = fileName;
    for (const QString &extension : {QStringLiteral(".xlsx"), QStringLiteral(".xls")}) {
        const qsizetype at = base.indexOf(extension, 0, Qt::CaseInsensitive);
        if (at >= 0)
            base.remove(at, extension.size());
    }
    return base;
}

RunSummary mergeWorkbooks(const MergeInputs &inputs, UserInterface &ui, const RunSettings &settings, bool dryRun,
    MergeResult *resultOut, ApplicationFactory engineFactory)
{
    RunSummary summary;
    MergeResult result;
    if (!BatchFrame::checkList(ui, inputs.entries, kMergeEmptyList)) {
        summary.stopped = true;
        return summary;
    }
    if (const Validation failure = validateMerge(inputs)) {
        ui.inform(failure->message);
        summary.stopped = true;
        return summary;
    }
    // A bare file name is taken in the current folder, and the full path is shown.
    result.targetPath = QFileInfo(inputs.targetPath).absoluteFilePath();
    if (!dryRun && FileExists(inputs.targetPath) && !ui.askYesNo(kMergeOverwrite)) {
        summary.stopped = true;
        return summary;
    }
    const bool xlsxOutput = GetExtension(result.targetPath).compare(QStringLiteral(".xlsx"), Qt::CaseInsensitive) == 0;

    ui.setBusy(true);
    EngineSession engines(engineFactory);
    QTemporaryDir scratch(scratchFolderTemplate(QStringLiteral("merge")));
    const QString mergedPath = scratch.filePath(QStringLiteral("merged.xlsx"));
    std::unique_ptr<Workbook> merged;
    QString outputFailure;
    try {
        if (!scratch.isValid())
            throw EngineError(ErrorCode::WriteFailed, scratch.errorString());
        writeNewFile(mergedPath, newWorkbookPackage());
        merged = engines.open(mergedPath, WorkbookUse::PackageMembers);
    } catch (const EngineError &e) {
        outputFailure = e.description();
    }

    // With several engines, the sources the engine converts are converted on workers.
    std::optional<SourceConversions> conversions;
    QList<qsizetype> toConvert;
    for (qsizetype index = inputs.entries.size() - 1; merged && settings.jobs > 1 && index >= 0; --index) {
        if (!inputs.entries.at(index).trimmed().isEmpty() && PackageSource::needsConversion(inputs.entries.at(index)))
            toConvert.append(index);
    }
    if (const int workers = int(std::min<qsizetype>(settings.jobs, toConvert.size())); workers > 1)
        conversions.emplace(inputs.entries, toConvert, workers, engineFactory);

    // Documents from the last to the first; each one's failure is logged and the run goes on.
    std::vector<FileResult> files;
    EmptySheets empty{QStringLiteral("sheet1")}; // the new workbook's own sheet
    bool first = true;
    for (qsizetype index = inputs.entries.size() - 1; merged && index >= 0; --index) {
        const QString &path = inputs.entries.at(index);
        if (path.trimmed().isEmpty())
            continue;
        // A stop signal ends the run before the next document; nothing is written then.
        if (interruptRequested()) {
            summary.interrupted = true;
            break;
        }
        if (!first) {
            ui.setStatus(QStringLiteral("正在处理：") + path);
            ui.setProgress(int(inputs.entries.size() - 1 - index), int(inputs.entries.size()));
        }
        FileResult file{path, FileOutcome::Processed, 0, {}, {}};
        std::optional<EngineError> held;
        try {
            if (conversions)
                conversions->feed();
            std::optional<PackageSource> source;
            if (conversions && toConvert.contains(index))
                source.emplace(engines, path, conversions->take(index));
            else
                source.emplace(engines, path);
            mergeDocument(*merged, source->workbook(), QFileInfo(path).absoluteFilePath(), mergeBaseName(source->name()), inputs,
                empty, held);
            // The merged workbook takes the theme of the first document (the documents go
            // from the last to the first), so that theme colours and fonts look as there.
            if (auto *package = dynamic_cast<xlsx::PackageWorkbook *>(merged.get()))
                package->adoptTheme(source->workbook());
        } catch (const EngineError &e) {
            held = e;
        } catch (const std::exception &) {
            held = EngineError(ErrorCode::Unexpected);
        }
        removeOutstandingTemporaries();
        // After the last document, the new workbook's own empty sheet goes, and with it any
        // empty sheet that document brought.
        if (first) {
            try {
                removeEmptyWorksheets(*merged, empty);
            } catch (const EngineError &e) {
                held = e;
            }
        }
        first = false;
        if (held) {
            file.outcome = FileOutcome::Failed;
            file.errorNumber = held->number();
            file.errorDescription = held->description();
            file.errorDetail = held->detail();
            if (settings.isRecordError) {
                QString description = file.errorDescription;
                if (!file.errorDetail.isEmpty() && file.errorDetail != path)
                    description += QStringLiteral("（详细信息：") + file.errorDetail + QStringLiteral("）");
                if (WriteError(settings.logFile, kMergeAction, path, description, settings.createLogFolder))
                    summary.logged = true;
                else
                    summary.logFailed = true;
            }
        }
        files.push_back(std::move(file));
    }
    summary.files.assign(files.rbegin(), files.rend());
    conversions.reset();

    // The output, written once and complete.
    if (merged && !summary.interrupted) {
        try {
            result.sheetNames = worksheetNames(*merged);
            if (!dryRun) {
                if (xlsxOutput) {
                    merged->saveAs(result.targetPath, FileFormat::OpenXmlWorkbook);
                } else {
                    merged->save();
                    writeXlsOutput(engines, mergedPath, result.targetPath, result.sheetNames);
                }
                result.written = true;
            }
            merged->close(false);
        } catch (const EngineError &e) {
            outputFailure = e.description() + (e.detail().isEmpty() ? QString() : u'\n' + e.detail());
        }
        merged.reset();
    }
    engines.quit();
    removeOutstandingTemporaries();
    ui.setStatus(QString());
    ui.setProgress(int(inputs.entries.size()), int(inputs.entries.size()));
    ui.setBusy(false);
    if (resultOut)
        *resultOut = result;

    if (summary.interrupted)
        return summary; // the program is being stopped: no message waits for an answer
    if (!outputFailure.isEmpty())
        ui.inform(kMergeOutputFailed + result.targetPath + u'\n' + outputFailure);
    else if (!dryRun)
        ui.inform(kMergeDone);
    if (summary.logFailed)
        ui.inform(logUnwritableNotice(settings.logFile));
    if (summary.logged && !dryRun && ui.askOkCancel(kOfferLogQuestion))
        ui.openInViewer(settings.logFile);
    return summary;
}

} // namespace gm
