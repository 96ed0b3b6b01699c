#include "automation/xlsx/PackageWorkbook.h"

#include "automation/crypto/PasswordHashes.h"

#include "automation/EngineError.h"
#include "automation/xlsx/DocumentPropertyStore.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/PackageProtection.h"
#include "automation/xlsx/PackageWorksheet.h"
#include "automation/xlsx/SheetStructure.h"
#include "automation/xlsx/WorkbookSharing.h"
#include "automation/xlsx/WorkbookTheme.h"

#include <QFile>
#include <QFileInfo>

namespace gm::xlsx {

namespace {

const QString plainWorkbookType =
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml");

std::vector<const SheetEntry *> worksheetsOf(const WorkbookModel &model)
{
    std::vector<const SheetEntry *> result;
    for (const SheetEntry &entry : model.sheets()) {
        if (entry.kind == SheetKind::Worksheet)
            result.push_back(&entry);
    }
    return result;
}

[[noreturn]] void throwSheetNotFound(const QString &what)
{
    throw EngineError(ErrorCode::SheetNotFound, what);
}

} // namespace

PackageWorkbook::PackageWorkbook(const QString &path)
    : m_document(std::make_shared<PackageDocument>(path)), m_path(m_document->path())
{
}

PackageWorkbook::~PackageWorkbook()
{
    // Closed without saving; worksheets still held elsewhere now fail cleanly.
    m_document->close();
}

bool PackageWorkbook::isXlsxPackage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(4) != QByteArray("PK\x03\x04", 4))
        return false;
    file.close();
    try {
        OpcPackage package(ZipArchive::fromFile(path));
        return WorkbookModel::isWorkbookContentType(package.contentType(package.mainPart()));
    } catch (const EngineError &) {
        return false;
    }
}

QString PackageWorkbook::name() const
{
    return QFileInfo(m_path).fileName();
}

QString PackageWorkbook::fullName() const
{
    return m_path;
}

int PackageWorkbook::worksheetCount()
{
    return int(worksheetsOf(m_document->model()).size());
}

std::unique_ptr<Worksheet> PackageWorkbook::worksheet(int position)
{
    const std::vector<const SheetEntry *> sheets = worksheetsOf(m_document->model());
    if (position < 1 || position > int(sheets.size()))
        throwSheetNotFound(QStringLiteral("worksheet %1").arg(position));
    return std::make_unique<PackageWorksheet>(m_document, *sheets[size_t(position - 1)]);
}

std::unique_ptr<Worksheet> PackageWorkbook::worksheet(const QString &name)
{
    for (const SheetEntry *entry : worksheetsOf(m_document->model())) {
        if (entry->name.compare(name, Qt::CaseInsensitive) == 0)
            return std::make_unique<PackageWorksheet>(m_document, *entry);
    }
    throwSheetNotFound(name);
}

int PackageWorkbook::sheetCount()
{
    return int(m_document->model().sheets().size());
}

std::unique_ptr<Worksheet> PackageWorkbook::sheet(int position)
{
    const std::vector<SheetEntry> &sheets = m_document->model().sheets();
    if (position < 1 || position > int(sheets.size()))
        throwSheetNotFound(QStringLiteral("sheet %1").arg(position));
    return std::make_unique<PackageWorksheet>(m_document, sheets[size_t(position - 1)]);
}

std::unique_ptr<Worksheet> PackageWorkbook::sheet(const QString &name)
{
    for (const SheetEntry &entry : m_document->model().sheets()) {
        if (entry.name.compare(name, Qt::CaseInsensitive) == 0)
            return std::make_unique<PackageWorksheet>(m_document, entry);
    }
    throwSheetNotFound(name);
}

std::unique_ptr<Worksheet> PackageWorkbook::activeSheet()
{
    const WorkbookModel &model = m_document->model();
    return std::make_unique<PackageWorksheet>(m_document, model.sheets()[size_t(model.activeTab())]);
}

QString PackageWorkbook::builtinProperty(DocumentProperty property)
{
    return DocumentPropertyStore(m_document->package()).value(property);
}

void PackageWorkbook::setBuiltinProperty(DocumentProperty property, const QString &value)
{
    DocumentPropertyStore(m_document->package()).setValue(property, value);
}

void PackageWorkbook::protect(const ProtectionPassword &password, bool structure, bool windows)
{
    m_document->ensureOpen();
    if (m_document->isShared())
        throw EngineError(ErrorCode::SharedWorkbook, m_document->path());
    protectWorkbook(*m_document, password, structure, windows);
}

bool PackageWorkbook::multiUserEditing()
{
    m_document->ensureOpen();
    return isShared(*m_document);
}

void PackageWorkbook::share()
{
    m_document->ensureOpen();
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    if (user.isEmpty())
        user = QStringLiteral("Gridmule");
    xlsx::share(*m_document, user, QDateTime::currentDateTimeUtc());
}

void PackageWorkbook::exclusiveAccess()
{
    m_document->ensureOpen();
    unshare(*m_document);
}

namespace {

PackageWorkbook &packageSource(Workbook &source)
{
    auto *package = dynamic_cast<PackageWorkbook *>(&source);
    if (!package)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.Copy from another kind of workbook"));
    return *package;
}

QString worksheetPart(PackageDocument &document, const QString &sheetName)
{
    for (const SheetEntry &entry : document.model().sheets()) {
        if (entry.kind == SheetKind::Worksheet && entry.name.compare(sheetName, Qt::CaseInsensitive) == 0)
            return entry.partName;
    }
    throw EngineError(ErrorCode::SheetNotFound, sheetName);
}

} // namespace

QString PackageWorkbook::insertWorksheetCopy(Workbook &source, const QString &sheetName, const QString &sourcePath)
{
    PackageWorkbook &package = packageSource(source);
    m_document->ensureOpen();
    package.m_document->ensureOpen();
    const QString part = worksheetPart(*package.m_document, sheetName);
    return SheetStructure(*m_document)
        .insertCopy(*package.m_document, part, sourcePath.isEmpty() ? package.fullName() : sourcePath);
}

QStringList PackageWorkbook::insertWorksheetCopies(
    Workbook &source, const QStringList &sheetNames, const QString &sourcePath, std::optional<EngineError> *refused)
{
    PackageWorkbook &package = packageSource(source);
    m_document->ensureOpen();
    package.m_document->ensureOpen();
    QStringList parts;
    for (const QString &name : sheetNames)
        parts.append(worksheetPart(*package.m_document, name));
    return SheetStructure(*m_document)
        .insertCopies(*package.m_document, parts, sourcePath.isEmpty() ? package.fullName() : sourcePath, refused);
}

void PackageWorkbook::adoptTheme(Workbook &source)
{
    PackageWorkbook &package = packageSource(source);
    m_document->ensureOpen();
    package.m_document->ensureOpen();
    copyTheme(*package.m_document, *m_document);
}

void PackageWorkbook::setPassword(const QString &password)
{
    m_document->setOpenPassword(password);
}

void PackageWorkbook::setWritePassword(const QString &password)
{
    m_document->setWritePassword(password, crypto::reservationUserName());
}

void PackageWorkbook::save()
{
    m_document->save();
}

void PackageWorkbook::saveAs(const QString &path, int fileFormat)
{
    if (fileFormat != FileFormat::OpenXmlWorkbook)
        throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("file format %1").arg(fileFormat));
    const WorkbookModel &model = m_document->model();
    // A macro-enabled workbook or a template would need its content changed to become a
    // plain workbook; that is left to the spreadsheet engine.
    if (!model.contentType().isEmpty() && model.contentType().compare(plainWorkbookType, Qt::CaseInsensitive) != 0)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("%1 as file format 51").arg(model.contentType()));
    const QString current = QFileInfo(m_path).canonicalFilePath();
    const QString target = QFileInfo(path).canonicalFilePath();
    if (!target.isEmpty() && target == current) {
        m_document->save();
        return;
    }
    m_document->saveCopy(path);
}

void PackageWorkbook::close(bool saveChanges)
{
    if (saveChanges)
        m_document->save();
    m_document->close();
}

std::unique_ptr<Workbook> openPackage(const QString &path)
{
    return std::make_unique<PackageWorkbook>(path);
}

} // namespace gm::xlsx
