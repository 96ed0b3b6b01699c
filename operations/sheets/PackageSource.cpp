#include "operations/sheets/PackageSource.h"

#include "automation/EngineError.h"
#include "automation/SafeReplace.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QDir>
#include <QFileInfo>

namespace gm {

PackageSource::PackageSource(EngineSession &engines, const QString &path)
    : m_path(path), m_name(QFileInfo(path).fileName())
{
    if (!QFileInfo(path).isFile())
        throw EngineError(QFileInfo(path).absoluteDir().exists() ? ErrorCode::FileNotFound : ErrorCode::PathNotFound, path);
    if (xlsx::isXlsxPackage(path)) {
        m_workbook = engines.open(path, WorkbookUse::PackageMembers, /*readOnly=*/true);
        return;
    }
    Converted converted = convert(engines, path);
    m_folder = std::move(converted.folder);
    m_workbook = engines.open(converted.package, WorkbookUse::PackageMembers, /*readOnly=*/true);
    m_converted = true;
}

PackageSource::PackageSource(EngineSession &engines, const QString &path, Converted converted)
    : m_folder(std::move(converted.folder)), m_path(path), m_name(QFileInfo(path).fileName())
{
    m_workbook = engines.open(converted.package, WorkbookUse::PackageMembers, /*readOnly=*/true);
    m_converted = true;
}

bool PackageSource::needsConversion(const QString &path)
{
    return QFileInfo(path).isFile() && !xlsx::isXlsxPackage(path);
}

PackageSource::Converted PackageSource::convert(EngineSession &engines, const QString &path)
{
    Converted converted;
    converted.folder = std::make_unique<QTemporaryDir>(scratchFolderTemplate(QStringLiteral("source")));
    if (!converted.folder->isValid())
        throw EngineError(ErrorCode::WriteFailed, converted.folder->errorString());
    converted.package = converted.folder->filePath(QStringLiteral("source.xlsx"));
    std::unique_ptr<Workbook> original = engines.open(path, WorkbookUse::Engine, /*readOnly=*/true);
    try {
        original->saveAs(converted.package, FileFormat::OpenXmlWorkbook);
    } catch (...) {
        original->close(false);
        throw;
    }
    original->close(false);
    return converted;
}

std::unique_ptr<Workbook> PackageSource::openInEngine(EngineSession &engines) const
{
    return engines.open(m_path, WorkbookUse::Engine, /*readOnly=*/true);
}

PackageSource::~PackageSource()
{
    if (m_workbook) {
        try {
            m_workbook->close(false);
        } catch (const EngineError &) { }
    }
}

QStringList worksheetNamesOf(const QString &path)
{
    EngineSession engines;
    std::unique_ptr<Workbook> workbook = engines.open(path, WorkbookUse::PackageMembers, /*readOnly=*/true);
    QStringList names;
    const int count = workbook->worksheetCount();
    for (int position = 1; position <= count; ++position)
        names.append(workbook->worksheet(position)->name());
    workbook->close(false);
    return names;
}

} // namespace gm
