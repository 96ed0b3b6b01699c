#include "operations/workbook/ConvertOperation.h"

#include "operations/Checks.h"

#include "automation/EngineError.h"
#include "automation/PathHelpers.h"
#include "automation/Preflight.h"
#include "automation/SafeReplace.h"
#include "automation/xlsx/CsvExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace gm {

QList<ConvertTarget> convertTargets(bool xlsxAvailable)
{
    QList<ConvertTarget> targets = {
        {QStringLiteral("网页(*.htm;*.html)"), FileFormat::Html},
        {QStringLiteral("CSV(逗号分隔)(*.csv)"), FileFormat::Csv},
        {QStringLiteral("单个网页文件(*.mht;*.mhtml)"), FileFormat::WebArchive},
        {QStringLiteral("文本文件(制表格要隔)(*.txt)"), FileFormat::Text},
    };
    if (xlsxAvailable) {
        targets.append({QStringLiteral("Excel2007 工作簿格式(*.xlsx)"), FileFormat::OpenXmlWorkbook});
        targets.append({QStringLiteral("Excel97-2003工作簿格式(*.xls)"), FileFormat::Excel8});
    }
    return targets;
}

Validation validateConvert(const ConvertInputs &inputs)
{
    if (inputs.outputFolder.trimmed().size() < 2)
        return ValidationFailure{QStringLiteral("请选择输出文件路径！"), QStringLiteral("txtOut")};
    return std::nullopt;
}

namespace {

// Same folder on this file system: compares the resolved folders, so that "/data/./" and a
// symbolic link to /data name the same place. Letter case matters here, as it does on disk.
bool sameFolder(const QString &a, const QString &b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (!ca.isEmpty() && !cb.isEmpty())
        return ca == cb;
    return QDir::cleanPath(a) == QDir::cleanPath(b);
}

void copyInto(const QString &source, const QString &target)
{
    if (QFileInfo::exists(target) && !isOwnerWritable(target))
        throw EngineError(ErrorCode::ReadOnlyFile, target);
    const QString temporary = temporarySiblingPath(target, QStringLiteral(".tmp"));
    copyToNewFile(source, temporary);
    replaceWithTemporary(temporary, target);
}

// A web page comes with picture files named after it, so it is written under its own name
// into a private folder beside the target; only when it is complete do the pictures and
// then the page replace the ones there.
void writeWebPage(Workbook &workbook, const QString &target)
{
    const QString scratch = temporarySiblingPath(target, QString());
    if (!QDir().mkdir(scratch))
        throw EngineError::fromSystemError(errno, ErrorCode::WriteFailed, QStringLiteral("mkdir"), scratch);
    const QString page = scratch + QLatin1Char('/') + QFileInfo(target).fileName();
    workbook.saveAs(page, FileFormat::Html);
    workbook.close(true);
    const QString folder = QFileInfo(resolveLinkTarget(target)).absolutePath();
    for (const QFileInfo &part : QDir(scratch).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (part.fileName() != QFileInfo(page).fileName())
            replaceWithTemporary(part.filePath(), folder + QLatin1Char('/') + part.fileName());
    }
    replaceWithTemporary(page, target);
    QDir(scratch).removeRecursively();
}

// Writes the conversion of `workbook` to `target`. The new output goes to a temporary file
// beside the target and replaces an existing output only when it is complete, so that a
// failed conversion leaves the old output as it was.
void writeConverted(Workbook &workbook, const QString &target, int code)
{
    if (code == FileFormat::Html) {
        writeWebPage(workbook, target);
        return;
    }
    const QString temporary = temporarySiblingPath(target, FormatExtension(code));
    workbook.saveAs(temporary, code);
    workbook.close(true);
    replaceWithTemporary(temporary, target);
}

// CSV and text of an .xlsx are written from the package itself when its displayed values can
// be known exactly; false leaves the file to the engine.
bool writtenWithoutEngine(const QString &path, const QString &target, int code, const QString &outputFolder)
{
    if (code != FileFormat::Csv && code != FileFormat::Text)
        return false;
    try {
        return xlsx::exportActiveSheetText(
            path, target, code == FileFormat::Csv ? xlsx::TextSeparator::Comma : xlsx::TextSeparator::Tab)
            .written;
    } catch (const EngineError &error) {
        throw explainWriteFailure(error, outputFolder, 4 * QFileInfo(path).size());
    }
}

} // namespace

RunSummary runConvert(
    const ConvertInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    const QList<ConvertTarget> targets = convertTargets(inputs.xlsxAvailable);
    const int index = inputs.targetIndex >= 0 && inputs.targetIndex < targets.size() ? inputs.targetIndex : 0;
    const int code = targets.at(index).code;
    const QString extension = FormatExtension(code);
    // A folder the run creates and leaves empty (every file failed, or the disk was full)
    // is removed again at the end; one that was there before stays, empty or not.
    const bool folderExisted = QFileInfo::exists(inputs.outputFolder) || QFileInfo(inputs.outputFolder).isSymLink();
    const QString outputFolder = EnsureFolder(inputs.outputFolder);
    const bool folderCreated = !folderExisted && QFileInfo(outputFolder).isDir();

    Operation operation;
    operation.options.actionName = kConvertAction;
    operation.options.emptyListMessage = kConvertEmptyList;
    operation.options.completionMessage = kConvertDone;
    operation.options.testExistence = false;
    operation.options.outputFolder = outputFolder;
    // The file an entry writes: its conversion, or its copy in the output folder.
    auto targetOf = [&](const QString &path) {
        if (extension.compare(GetExtension(path), Qt::CaseInsensitive) != 0)
            return outputFolder + GetBaseName(path) + extension;
        return outputFolder + QFileInfo(path).fileName();
    };
    operation.outputOf = targetOf;
    // Checks, the overwrite question and copies are done entry after entry on the run's own
    // thread; the engine's conversion is handed to a free engine worker.
    operation.prepare = [&, targetOf](FileContext &context) -> EngineWork {
        const QString &path = context.path();
        // Every source is checked before anything else is done with it, so that a file that
        // is not a sound workbook fails at once: it starts no engine, is never copied, and
        // no question is asked about its output.
        const WorkbookKind kind = preflightWorkbook(path, /*forWriting=*/false);
        if (extension.compare(GetExtension(path), Qt::CaseInsensitive) != 0) {
            const QString target = targetOf(path);
            if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
                if (!context.ui().askYesNo(QStringLiteral("同名文件“") + target + QStringLiteral("”已经存在，是否覆盖？"))) {
                    context.setOutcome(FileOutcome::Skipped);
                    return {};
                }
            }
            context.showProgress();
            // An output folder that takes no new files fails the file before the engine starts.
            requireWritableFolder(QFileInfo(resolveLinkTarget(target)).absolutePath());
            if (kind == WorkbookKind::Xlsx && writtenWithoutEngine(path, target, code, outputFolder)) {
                context.setOutcome(FileOutcome::Processed);
                return {};
            }
            return [target, code, outputFolder](FileContext &engineContext) {
                const QString &source = engineContext.path();
                auto workbook = engineContext.engines().open(source, WorkbookUse::Engine, /*readOnly=*/true);
                try {
                    writeConverted(*workbook, target, code);
                } catch (const EngineError &error) {
                    // An output is seldom more than a few times its source's size.
                    throw explainWriteFailure(error, outputFolder, 4 * QFileInfo(source).size());
                }
                engineContext.setOutcome(FileOutcome::Processed);
            };
        }
        // Already in the target format: copied unchanged, without the engine.
        if (!sameFolder(outputFolder, GetParentPath(path))) {
            try {
                copyInto(path, targetOf(path));
            } catch (const EngineError &error) {
                throw explainWriteFailure(error, outputFolder, QFileInfo(path).size());
            }
        }
        context.setOutcome(FileOutcome::Copied);
        return {};
    };

    BatchFrame frame(ui, settings, std::move(engineFactory));
    RunSummary summary = frame.run(inputs.entries, operation);
    if (folderCreated)
        QDir().rmdir(outputFolder); // fails, as it should, on a folder with anything in it
    return summary;
}

RunSummary convertWorkbooks(const ConvertInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kConvertEmptyList, [&] { return validateConvert(inputs); }, failed))
        return stoppedRun();
    return runConvert(inputs, ui, settings, std::move(engineFactory));
}

} // namespace gm
