#include "automation/xls/XlsWorkbook.h"

#include "automation/crypto/PasswordHashes.h"

#include "automation/EngineError.h"
#include "automation/xls/ProtectionRecords.h"
#include "automation/xls/XlsDocument.h"
#include "automation/xls/XlsWorksheet.h"

#include <QFileInfo>

namespace gm::xls {

namespace {

[[noreturn]] void throwSheetNotFound(const QString &what)
{
    throw EngineError(ErrorCode::SheetNotFound, what);
}

QList<XlsSheet> worksheetsOf(const XlsDocument &document)
{
    QList<XlsSheet> result;
    for (const XlsSheet &sheet : document.sheets()) {
        if (sheet.kind == SheetKind::Worksheet)
            result.append(sheet);
    }
    return result;
}

} // namespace

XlsWorkbook::XlsWorkbook(const QString &path, bool readOnly) : m_document(std::make_shared<XlsDocument>(path, readOnly)) { }

XlsWorkbook::~XlsWorkbook()
{
    // Closed without saving; worksheets still held elsewhere now fail cleanly.
    m_document->close();
}

QString XlsWorkbook::name() const
{
    return QFileInfo(m_document->path()).fileName();
}

QString XlsWorkbook::fullName() const
{
    return m_document->path();
}

int XlsWorkbook::worksheetCount()
{
    m_document->ensureOpen();
    return int(worksheetsOf(*m_document).size());
}

std::unique_ptr<Worksheet> XlsWorkbook::worksheet(int position)
{
    m_document->ensureOpen();
    const QList<XlsSheet> sheets = worksheetsOf(*m_document);
    if (position < 1 || position > sheets.size())
        throwSheetNotFound(QStringLiteral("worksheet %1").arg(position));
    return std::make_unique<XlsWorksheet>(m_document, sheets[position - 1]);
}

std::unique_ptr<Worksheet> XlsWorkbook::worksheet(const QString &name)
{
    m_document->ensureOpen();
    for (const XlsSheet &sheet : worksheetsOf(*m_document)) {
        if (sheet.name.compare(name, Qt::CaseInsensitive) == 0)
            return std::make_unique<XlsWorksheet>(m_document, sheet);
    }
    throwSheetNotFound(name);
}

int XlsWorkbook::sheetCount()
{
    m_document->ensureOpen();
    return int(m_document->sheets().size());
}

std::unique_ptr<Worksheet> XlsWorkbook::sheet(int position)
{
    m_document->ensureOpen();
    const QList<XlsSheet> &sheets = m_document->sheets();
    if (position < 1 || position > sheets.size())
        throwSheetNotFound(QStringLiteral("sheet %1").arg(position));
    return std::make_unique<XlsWorksheet>(m_document, sheets[position - 1]);
}

std::unique_ptr<Worksheet> XlsWorkbook::sheet(const QString &name)
{
    m_document->ensureOpen();
    for (const XlsSheet &sheet : m_document->sheets()) {
        if (sheet.name.compare(name, Qt::CaseInsensitive) == 0)
            return std::make_unique<XlsWorksheet>(m_document, sheet);
    }
    throwSheetNotFound(name);
}

std::unique_ptr<Worksheet> XlsWorkbook::activeSheet()
{
    m_document->ensureOpen();
    return std::make_unique<XlsWorksheet>(m_document, m_document->sheets()[m_document->activeSheet()]);
}

void XlsWorkbook::protect(const ProtectionPassword &password, bool structure, bool windows)
{
    m_document->ensureOpen();
    if (m_document->isShared())
        throw EngineError(ErrorCode::SharedWorkbook, m_document->path());
    // A refusal changes nothing; a failure half-way keeps the workbook from being saved.
    try {
        if (ProtectionRecords(m_document->stream()).protectWorkbook(password, structure, windows))
            m_document->markModified();
    } catch (const EngineError &error) {
        if (error.code() != ErrorCode::ProtectedWithOtherPassword)
            m_document->refuseSave(error);
        throw;
    }
}

void XlsWorkbook::setPassword(const QString &password)
{
    m_document->setOpenPassword(password);
}

void XlsWorkbook::setWritePassword(const QString &password)
{
    m_document->setWritePassword(password, crypto::reservationUserName());
}

namespace {
const QByteArray userNamesStream("User Names");
const QByteArray revisionLogStream("Revision Log");
constexpr quint16 kProt4Rev = 0x01AF;
} // namespace

bool XlsWorkbook::multiUserEditing()
{
    m_document->ensureOpen();
    return m_document->isShared();
}

void XlsWorkbook::share()
{
    if (multiUserEditing())
        return;
    throw EngineError(ErrorCode::XlsSharingUnsupported, m_document->path());
}

void XlsWorkbook::exclusiveAccess()
{
    if (!multiUserEditing())
        return;
    // Sharing protected against losing the change history stays until that protection is off.
    BiffRecordStream &stream = m_document->stream();
    const int end = stream.globalsEnd();
    for (int i = 0; i < end; ++i) {
        const BiffRecord &record = stream.records()[i];
        if (record.type == kProt4Rev && record.data.size() >= 2 && readU16(record.data, 0) != 0)
            throw EngineError(ErrorCode::SharingProtected, m_document->path());
    }
    m_document->removeStream(userNamesStream);
    m_document->removeStream(revisionLogStream);
}

void XlsWorkbook::save()
{
    m_document->save();
}

void XlsWorkbook::saveAs(const QString &path, int fileFormat)
{
    const QString current = QFileInfo(m_document->path()).canonicalFilePath();
    if (fileFormat == FileFormat::Excel8 && !current.isEmpty() && QFileInfo(path).canonicalFilePath() == current) {
        m_document->save();
        return;
    }
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("SaveAs %1 as format %2").arg(path).arg(fileFormat));
}

void XlsWorkbook::close(bool saveChanges)
{
    if (saveChanges)
        m_document->save();
    m_document->close();
}

std::unique_ptr<Workbook> openXlsRecords(const QString &path, bool readOnly)
{
    return std::make_unique<XlsWorkbook>(path, readOnly);
}

} // namespace gm::xls
