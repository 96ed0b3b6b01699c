#include "automation/lo/LoWorkbook.h"

#include "automation/EngineError.h"
#include "automation/PathHelpers.h"
#include "automation/Preflight.h"
#include "automation/SafeReplace.h"
#include "automation/WebArchive.h"
#include "automation/PdfPages.h"
#include "automation/lo/LoWorksheet.h"
#include "automation/lo/UnoSupport.h"
#include "automation/ole/PropertyStreamCopy.h"
#include "automation/xls/SheetRecords.h"
#include "automation/xls/XlsDocument.h"
#include "automation/xlsx/HeaderFooterText.h"
#include "automation/xlsx/SheetStructure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <com/sun/star/beans/PropertyAttribute.hpp>
#include <com/sun/star/beans/XPropertyContainer.hpp>
#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/XDocumentProperties.hpp>
#include <com/sun/star/document/XDocumentPropertiesSupplier.hpp>
#include <com/sun/star/drawing/XDrawPage.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/sheet/XSpreadsheets2.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace gm::lo {

namespace {

const QString kTextFilter = QStringLiteral("Text - txt - csv (StarCalc)");
const QString kHtmlFilter = QStringLiteral("HTML (StarCalc)");
const QString kXlsxFilter = QStringLiteral("Calc MS Excel 2007 XML");
const QString kXlsFilter = QStringLiteral("MS Excel 97");
const QString kPdfFilter = QStringLiteral("calc_pdf_Export");

// A private folder beside the target for exports that write more than one file or a file
// under a name of the engine's choosing. Removed with everything in it when done.
class ScratchFolder
{
public:
    explicit ScratchFolder(const QString &target) : m_path(temporarySiblingPath(target, QString()))
    {
        if (!QDir().mkdir(m_path))
            throw EngineError(ErrorCode::WriteFailed, QStringLiteral("cannot create ") + m_path);
    }
    ~ScratchFolder() { QDir(m_path).removeRecursively(); }
    QString file(const QString &name) const { return m_path + QLatin1Char('/') + name; }
    QStringList files() const { return QDir(m_path).entryList(QDir::Files | QDir::Hidden); }

private:
    QString m_path;
};

// Rewrites line ends outside quoted fields as CR LF; line breaks inside a quoted field are
// part of the cell and stay as they are.
QByteArray withCrLfRecords(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size() + text.size() / 16);
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"')
            quoted = !quoted;
        if (!quoted && c == '\n' && (i == 0 || text[i - 1] != '\r'))
            out.append('\r');
        out.append(c);
    }
    return out;
}

void requireSignature(const QString &path, WorkbookKind kind)
{
    QFile file(path);
    QByteArray head;
    if (file.open(QIODevice::ReadOnly))
        head = file.read(8);
    const bool ok = kind == WorkbookKind::Xlsx ? head.startsWith("PK\x03\x04") : head == QByteArray::fromHex("D0CF11E0A1B11AE1");
    if (!ok) {
        QFile::remove(path);
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("written file is not a workbook"));
    }
}

} // namespace

LoWorkbook::LoWorkbook(std::shared_ptr<LoEngine> engine, Reference<lang::XComponent> document, Source source)
    : m_engine(std::move(engine)), m_document(std::move(document)), m_source(std::move(source))
{
    snapshotFile();
}

LoWorkbook::~LoWorkbook()
{
    releaseDocument();
}

void LoWorkbook::setImportDetails(const QString &filterName, BiffSummary biff)
{
    m_source.filterName = filterName;
    m_originalBiff = biff;
    // What the file records is used only while it describes the sheets the engine loaded.
    if (biff.valid && !biff.encrypted && biff.sheets.size() == sheetCount())
        m_biff = std::move(biff);
}

BiffSheet LoWorkbook::biffSheet(int index) const
{
    return index >= 1 && index <= m_biff.sheets.size() ? m_biff.sheets.at(index - 1) : BiffSheet{};
}

void LoWorkbook::releaseDocument()
{
    if (!m_document.is())
        return;
    if (m_engine->isAlive()) {
        try {
            m_engine->call(std::chrono::milliseconds(10000), ErrorCode::Unexpected, [&] {
                Reference<util::XCloseable> closeable(m_document, UNO_QUERY);
                if (closeable.is())
                    closeable->close(true);
                else
                    m_document->dispose();
            });
        } catch (const EngineError &) { }
    }
    m_document.clear();
    if (!m_source.path.isEmpty())
        m_engine->documentClosed(m_source.path);
}

QString LoWorkbook::name() const
{
    return m_source.path.isEmpty() ? m_source.newName : QFileInfo(m_source.path).fileName();
}

QString LoWorkbook::fullName() const
{
    return m_source.path.isEmpty() ? m_source.newName : m_source.path;
}

int LoWorkbook::sheetCount()
{
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        return Reference<container::XIndexAccess>(doc->getSheets(), UNO_QUERY_THROW)->getCount();
    });
}

QList<int> LoWorkbook::worksheetIndices()
{
    // Chart sheets of an .xls load as ordinary sheets; the file tells them apart.
    QList<int> indices;
    const int count = sheetCount();
    for (int i = 1; i <= count; ++i)
        if (biffSheet(i).type == 0)
            indices << i;
    return indices;
}

int LoWorkbook::worksheetCount()
{
    return static_cast<int>(worksheetIndices().size());
}

std::unique_ptr<Worksheet> LoWorkbook::sheet(int position)
{
    auto found = m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        Reference<container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        Reference<sheet::XSpreadsheet> sheet;
        if (position >= 1 && position <= sheets->getCount())
            sheet.set(sheets->getByIndex(position - 1), UNO_QUERY_THROW);
        return sheet;
    });
    if (!found.is())
        throw EngineError(ErrorCode::SheetNotFound, QString::number(position));
    return std::make_unique<LoWorksheet>(m_engine, this, found, position);
}

std::unique_ptr<Worksheet> LoWorkbook::sheet(const QString &name)
{
    const int position = m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        const auto names = Reference<container::XNameAccess>(doc->getSheets(), UNO_QUERY_THROW)->getElementNames();
        for (sal_Int32 i = 0; i < names.getLength(); ++i)
            if (toQ(names[i]).compare(name, Qt::CaseInsensitive) == 0)
                return i + 1;
        return 0;
    });
    if (position == 0)
        throw EngineError(ErrorCode::SheetNotFound, name);
    return sheet(position);
}

std::unique_ptr<Worksheet> LoWorkbook::worksheet(int position)
{
    const QList<int> indices = worksheetIndices();
    if (position < 1 || position > indices.size())
        throw EngineError(ErrorCode::SheetNotFound, QString::number(position));
    return sheet(indices.at(position - 1));
}

std::unique_ptr<Worksheet> LoWorkbook::worksheet(const QString &name)
{
    auto found = sheet(name);
    if (found->isChart())
        throw EngineError(ErrorCode::SheetNotFound, name);
    return found;
}

int LoWorkbook::activeIndex()
{
    // The engine does not report the active sheet of a loaded .xls; the file itself does.
    if (m_biff.activeSheet >= 0 && m_biff.activeSheet < m_biff.sheets.size())
        return m_biff.activeSheet;
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<frame::XModel> model(m_document, UNO_QUERY_THROW);
        Reference<sheet::XSpreadsheetView> view(model->getCurrentController(), UNO_QUERY);
        if (!view.is())
            return 0;
        const OUString active = Reference<container::XNamed>(view->getActiveSheet(), UNO_QUERY_THROW)->getName();
        Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        const auto names = Reference<container::XNameAccess>(doc->getSheets(), UNO_QUERY_THROW)->getElementNames();
        for (sal_Int32 i = 0; i < names.getLength(); ++i)
            if (names[i] == active)
                return static_cast<int>(i);
        return 0;
    });
}

std::unique_ptr<Worksheet> LoWorkbook::activeSheet()
{
    return sheet(activeIndex() + 1);
}

void LoWorkbook::snapshotFile()
{
    m_stamp = m_source.path.isEmpty() ? std::nullopt : FileStamp::of(m_source.path);
}

void LoWorkbook::checkUnchangedOnDisk() const
{
    const std::optional<FileStamp> now = FileStamp::of(m_source.path);
    if (!now)
        throw EngineError(ErrorCode::FileNotFound, m_source.path);
    if (!m_stamp || !now->isSameVersion(*m_stamp))
        throw EngineError(ErrorCode::InUse, QStringLiteral("changed on disk by another program"));
}

void LoWorkbook::storeTo(
    const QString &path, const QString &filter, const QString &options, const uno::Sequence<beans::PropertyValue> &filterData)
{
    // While it stores, the engine holds a lock file for the target and writes a "lu*.tmp"
    // file beside it, renamed over the target at the end. An engine that is killed, hangs or
    // runs out of disk space leaves them behind: what appeared during a failed store is
    // removed, and so is the target itself when it was not there before.
    const QFileInfo target(path);
    const QDir folder = target.absoluteDir();
    const QStringList patterns = {QStringLiteral("lu*.tmp")};
    const QDir::Filters entries = QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    const QStringList engineFilesBefore = folder.entryList(patterns, entries);
    const QString lock = lockFilePath(path);
    const bool lockBefore = QFileInfo(lock).exists();
    const bool targetBefore = target.exists();

    const qint64 bytes = m_source.path.isEmpty() ? 0 : QFileInfo(m_source.path).size();
    try {
        m_engine->call(m_engine->limitForFile(bytes), ErrorCode::SaveFailed, [&] {
            std::vector<beans::PropertyValue> args
                = {prop("FilterName", uno::Any(toOU(filter))), prop("Overwrite", uno::Any(true))};
            if (!options.isEmpty())
                args.push_back(prop("FilterOptions", uno::Any(toOU(options))));
            if (filterData.hasElements())
                args.push_back(prop("FilterData", uno::Any(filterData)));
            Reference<frame::XStorable>(m_document, UNO_QUERY_THROW)
                ->storeToURL(
                    fileUrl(path), uno::Sequence<beans::PropertyValue>(args.data(), static_cast<sal_Int32>(args.size())));
        });
    } catch (const EngineError &) {
        QStringList appeared;
        for (const QString &name : folder.entryList(patterns, entries)) {
            if (!engineFilesBefore.contains(name))
                appeared << folder.filePath(name);
        }
        const QSet<QString> inUse = heldOpen(appeared);
        for (const QString &leftover : appeared) {
            if (inUse.contains(QFileInfo(leftover).canonicalFilePath()))
                continue;
            if (QFileInfo(leftover).isDir())
                QDir(leftover).removeRecursively();
            else
                QFile::remove(leftover);
        }
        if (!lockBefore)
            QFile::remove(lock);
        if (!targetBefore)
            QFile::remove(path);
        throw;
    }
}

void LoWorkbook::save()
{
    if (m_source.path.isEmpty())
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("a new workbook is saved with SaveAs"));
    if (m_source.readOnly)
        throw EngineError(ErrorCode::ReadOnlyFile, m_source.path);
    // The engine reads Excel 5.0/95 workbooks but cannot write that format back.
    if (m_source.filterName != kXlsFilter && m_source.kind == WorkbookKind::Xls)
        throw EngineError(ErrorCode::UnsupportedFormat, m_source.filterName);
    if (!isOwnerWritable(m_source.path))
        throw EngineError(ErrorCode::ReadOnlyFile, m_source.path);
    checkUnchangedOnDisk();
    applyHeaderFooters();
    if (m_originalBiff.stringFormulaResults > 0 || m_originalBiff.booleanFormulaResults > 0)
        refreshFormulaResults();

    const QString extension = QLatin1Char('.') + QFileInfo(m_source.path).suffix();
    if (m_source.filterName == kTextFilter || m_source.filterName == kHtmlFilter) {
        const QString temporary = temporarySiblingPath(m_source.path, extension);
        storeTo(temporary, m_source.filterName, QString());
        replaceWithTemporary(temporary, m_source.path);
    } else {
        const QString temporary = temporarySiblingPath(m_source.path, extension);
        storeTo(temporary, m_source.filterName, QString());
        requireSignature(temporary, m_source.kind);
        if (m_source.kind == WorkbookKind::Xls) {
            try {
                restoreTabs(temporary);
                ole::copyPropertyStreams(m_source.path, temporary);
            } catch (const EngineError &) {
                QFile::remove(temporary);
                throw;
            }
            guardAgainstLoss(temporary);
            m_expectedChanges = {};
        }
        if (m_source.kind == WorkbookKind::Xlsx) {
            try {
                verifyZipPackage(temporary);
            } catch (const EngineError &) {
                QFile::remove(temporary);
                throw EngineError(ErrorCode::SaveFailed, QStringLiteral("written package fails its check"));
            }
        }
        replaceWithTemporary(temporary, m_source.path);
    }
    snapshotFile();
    m_modified = false;
    // The file is stored: an engine stopped or lost from here on (a cancelled run) does not
    // make the save a failure, which would report a changed file as left alone.
    try {
        m_engine->call(m_engine->limits().call, ErrorCode::Unexpected,
            [&] { Reference<util::XModifiable>(m_document, UNO_QUERY_THROW)->setModified(false); });
    } catch (const EngineError &) {
    }
}

void LoWorkbook::exportText(const QString &target, bool csv)
{
    // The active sheet's displayed values, UTF-8, US number conventions; the sheet number
    // token makes the engine write that sheet instead of the first one.
    const QString options
        = QStringLiteral("%1,34,76,1,,1033,false,true,true,false,false,%2").arg(csv ? 44 : 9).arg(activeIndex() + 1);
    ScratchFolder scratch(target);
    storeTo(scratch.file(QStringLiteral("out") + (csv ? QStringLiteral(".csv") : QStringLiteral(".txt"))), kTextFilter, options);
    const QStringList written = scratch.files();
    if (written.size() != 1)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("text export wrote %1 files").arg(written.size()));
    QFile in(scratch.file(written.first()));
    if (!in.open(QIODevice::ReadOnly))
        throw EngineError(ErrorCode::SaveFailed, in.errorString());
    const QByteArray text = withCrLfRecords(in.readAll());
    in.close();
    const QString temporary = temporarySiblingPath(target, QStringLiteral(".tmp"));
    QFile out(temporary);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.flush()) {
        out.remove();
        throw EngineError(ErrorCode::WriteFailed, out.errorString());
    }
    out.close();
    replaceWithTemporary(temporary, target);
}

void LoWorkbook::exportHtml(const QString &target)
{
    // Pictures go beside the page under names derived from it, so the page is written in
    // place; a failed export leaves at most a partial page that the next run overwrites.
    storeTo(target, kHtmlFilter, QString());
}

void LoWorkbook::exportWebArchive(const QString &target)
{
    ScratchFolder scratch(target);
    const QString page = scratch.file(QFileInfo(target).completeBaseName() + QStringLiteral(".htm"));
    storeTo(page, kHtmlFilter, QString());
    buildWebArchive(page, target);
}

void LoWorkbook::requireWithinXlsLimits()
{
    // The Excel 97-2003 export drops every cell beyond 65,536 rows or 256 columns without a
    // word; a sheet with content out there fails instead of being written short.
    constexpr sal_Int32 kXlsRows = 65536;
    constexpr sal_Int32 kXlsColumns = 256;
    const qint64 bytes = m_source.path.isEmpty() ? 0 : QFileInfo(m_source.path).size();
    const QString beyond = m_engine->call(m_engine->limitForFile(bytes), ErrorCode::Unexpected, [&] {
        constexpr sal_Int16 kContent = sheet::CellFlags::VALUE | sheet::CellFlags::DATETIME | sheet::CellFlags::STRING
            | sheet::CellFlags::FORMULA | sheet::CellFlags::ANNOTATION;
        Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        Reference<container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
            Reference<sheet::XSpreadsheet> sheet(sheets->getByIndex(i), UNO_QUERY_THROW);
            const auto ranges
                = Reference<sheet::XCellRangesQuery>(sheet, UNO_QUERY_THROW)->queryContentCells(kContent)->getRangeAddresses();
            for (const table::CellRangeAddress &a : ranges) {
                if (a.EndRow < kXlsRows && a.EndColumn < kXlsColumns)
                    continue;
                const sal_Int32 row = a.EndRow >= kXlsRows ? std::max(a.StartRow, kXlsRows) : a.StartRow;
                const sal_Int32 column = a.EndRow >= kXlsRows ? a.StartColumn : std::max(a.StartColumn, kXlsColumns);
                return QStringLiteral("%1: row %2, column %3")
                    .arg(toQ(Reference<container::XNamed>(sheet, UNO_QUERY_THROW)->getName()))
                    .arg(row + 1)
                    .arg(column + 1);
            }
        }
        return QString();
    });
    if (!beyond.isEmpty())
        throw EngineError(ErrorCode::ExceedsXlsLimits, beyond);
}

void LoWorkbook::exportWorkbook(const QString &target, const QString &filter, WorkbookKind kind)
{
    if (kind == WorkbookKind::Xls)
        requireWithinXlsLimits();
    const QString temporary
        = temporarySiblingPath(target, kind == WorkbookKind::Xlsx ? QStringLiteral(".xlsx") : QStringLiteral(".xls"));
    storeTo(temporary, filter, QString());
    requireSignature(temporary, kind);
    replaceWithTemporary(temporary, target);
}

void LoWorkbook::saveAs(const QString &path, int fileFormat)
{
    const QString target = QFileInfo(path).absoluteFilePath();
    if (!QFileInfo(QFileInfo(target).absolutePath()).isDir())
        throw EngineError(ErrorCode::PathNotFound, QFileInfo(target).absolutePath());
    if (QFileInfo::exists(target) && !isOwnerWritable(target))
        throw EngineError(ErrorCode::ReadOnlyFile, target);

    switch (fileFormat) {
    case FileFormat::Csv:
        exportText(target, true);
        break;
    case FileFormat::Text:
        exportText(target, false);
        break;
    case FileFormat::Html:
        exportHtml(target);
        break;
    case FileFormat::WebArchive:
        exportWebArchive(target);
        break;
    case FileFormat::OpenXmlWorkbook:
        exportWorkbook(target, kXlsxFilter, WorkbookKind::Xlsx);
        break;
    case FileFormat::Excel8:
        exportWorkbook(target, kXlsFilter, WorkbookKind::Xls);
        break;
    default:
        throw EngineError(ErrorCode::UnsupportedFormat, QString::number(fileFormat));
    }

    // As in the object model, the workbook now is the saved file, in the saved format.
    if (!m_source.path.isEmpty())
        m_engine->documentClosed(m_source.path);
    m_source.path = target;
    m_source.readOnly = false;
    switch (fileFormat) {
    case FileFormat::Csv:
    case FileFormat::Text:
        m_source.filterName = kTextFilter;
        break;
    case FileFormat::Html:
    case FileFormat::WebArchive:
        m_source.filterName = kHtmlFilter;
        break;
    case FileFormat::OpenXmlWorkbook:
        m_source.filterName = kXlsxFilter;
        m_source.kind = WorkbookKind::Xlsx;
        break;
    default:
        m_source.filterName = kXlsFilter;
        m_source.kind = WorkbookKind::Xls;
        break;
    }
    snapshotFile();
    m_modified = false;
    // The file is stored: an engine stopped or lost from here on (a cancelled run) does not
    // make the save a failure, which would report a changed file as left alone.
    try {
        m_engine->call(m_engine->limits().call, ErrorCode::Unexpected,
            [&] { Reference<util::XModifiable>(m_document, UNO_QUERY_THROW)->setModified(false); });
    } catch (const EngineError &) {
    }
}

void LoWorkbook::close(bool saveChanges)
{
    if (saveChanges && !m_source.readOnly) {
        const bool modified = m_modified || m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
            return Reference<util::XModifiable>(m_document, UNO_QUERY_THROW)->isModified();
        });
        if (modified)
            save();
    }
    releaseDocument();
}

bool LoWorkbook::printsAnything(int index)
{
    // What a printout shows: cell contents, notes and drawing objects (pictures, charts,
    // shapes) of visible sheets. Cell formats alone print nothing worth a page.
    return m_engine->call(m_engine->limits().call, ErrorCode::PrintOutputFailed, [&] {
        constexpr sal_Int16 kContent = sheet::CellFlags::VALUE | sheet::CellFlags::DATETIME | sheet::CellFlags::STRING
            | sheet::CellFlags::FORMULA | sheet::CellFlags::ANNOTATION;
        Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        Reference<container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
            if (index != 0 && i != index - 1)
                continue;
            Reference<sheet::XSpreadsheet> sheet(sheets->getByIndex(i), UNO_QUERY_THROW);
            bool visible = true;
            Reference<beans::XPropertySet>(sheet, UNO_QUERY_THROW)->getPropertyValue("IsVisible") >>= visible;
            if (!visible)
                continue;
            if (Reference<sheet::XCellRangesQuery>(sheet, UNO_QUERY_THROW)->queryContentCells(kContent)->getCount() > 0)
                return true;
            Reference<drawing::XDrawPageSupplier> drawings(sheet, UNO_QUERY);
            if (drawings.is() && drawings->getDrawPage().is() && drawings->getDrawPage()->getCount() > 0)
                return true;
        }
        return false;
    });
}

int LoWorkbook::writePdf(const QString &path, int index)
{
    if (!printsAnything(index))
        return 0;
    uno::Sequence<beans::PropertyValue> filterData;
    if (index != 0) {
        // The selection limits the export to that sheet, with its print ranges and page style.
        const uno::Any selection = m_engine->call(m_engine->limits().call, ErrorCode::PrintOutputFailed, [&] {
            Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
            return Reference<container::XIndexAccess>(doc->getSheets(), UNO_QUERY_THROW)->getByIndex(index - 1);
        });
        filterData = descriptor({prop("Selection", selection)});
    }
    try {
        storeTo(path, kPdfFilter, QString(), filterData);
    } catch (const EngineError &e) {
        if (e.code() == ErrorCode::SaveFailed)
            throw EngineError(ErrorCode::PrintOutputFailed, e.detail());
        throw;
    }
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly))
        throw EngineError(ErrorCode::PrintOutputFailed, written.errorString());
    const int pages = pdfPageCount(written.readAll());
    if (pages <= 0)
        throw EngineError(ErrorCode::PrintOutputFailed, QStringLiteral("the exported PDF has no pages"));
    return pages;
}

int LoWorkbook::exportPdf(const QString &path)
{
    return writePdf(path, 0);
}

int LoWorkbook::exportSheetPdf(const QString &path, int index)
{
    return writePdf(path, index);
}

HeaderFooterCodes LoWorkbook::headerFooterCodes(int index)
{
    auto cached = m_headerFooters.constFind(index);
    if (cached != m_headerFooters.constEnd())
        return *cached;
    // The engine keeps header fields as its own text fields; the file keeps the exact codes.
    if (index < 1 || index > m_biff.sheets.size())
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("header and footer codes of this workbook"));
    const BiffSheet &sheet = m_biff.sheets.at(index - 1);
    const auto header = xlsx::HeaderFooterText::parse(sheet.header);
    const auto footer = xlsx::HeaderFooterText::parse(sheet.footer);
    const HeaderFooterCodes codes = {header.left, header.center, header.right, footer.left, footer.center, footer.right};
    m_headerFooters.insert(index, codes);
    return codes;
}

void LoWorkbook::setHeaderFooterCode(int index, HeaderFooterSection section, const QString &code)
{
    HeaderFooterCodes codes;
    try {
        codes = headerFooterCodes(index);
    } catch (const EngineError &) {
        // Unknown codes of the other sections: they are set too by the callers that get here.
    }
    codes[static_cast<size_t>(section)] = code;
    m_headerFooters.insert(index, codes);
    if (!m_pendingHeaderFooters.contains(index))
        m_pendingHeaderFooters << index;
    m_modified = true;
}

Reference<beans::XPropertySet> LoWorkbook::pageStyle(int index, bool own)
{
    Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
    Reference<container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    Reference<beans::XPropertySet> sheetProperties(sheets->getByIndex(index - 1), UNO_QUERY_THROW);
    OUString styleName;
    sheetProperties->getPropertyValue("PageStyle") >>= styleName;
    Reference<style::XStyleFamiliesSupplier> families(m_document, UNO_QUERY_THROW);
    Reference<container::XNameContainer> pageStyles(families->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
    Reference<beans::XPropertySet> style(pageStyles->getByName(styleName), UNO_QUERY_THROW);
    if (!own)
        return style;

    int users = 0;
    for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
        OUString other;
        Reference<beans::XPropertySet>(sheets->getByIndex(i), UNO_QUERY_THROW)->getPropertyValue("PageStyle") >>= other;
        users += other == styleName ? 1 : 0;
    }
    if (users <= 1)
        return style;

    // Shared with other sheets: give this sheet its own copy of the style.
    Reference<lang::XMultiServiceFactory> factory(m_document, UNO_QUERY_THROW);
    Reference<beans::XPropertySet> copy(factory->createInstance("com.sun.star.style.PageStyle"), UNO_QUERY_THROW);
    OUString copyName;
    for (int n = 1; copyName.isEmpty() || pageStyles->hasByName(copyName); ++n)
        copyName = styleName + "_" + OUString::number(n);
    pageStyles->insertByName(copyName, uno::Any(copy));
    const auto properties = style->getPropertySetInfo()->getProperties();
    for (const beans::Property &property : properties) {
        if (property.Attributes & beans::PropertyAttribute::READONLY)
            continue;
        try {
            copy->setPropertyValue(property.Name, style->getPropertyValue(property.Name));
        } catch (const uno::Exception &) {
            // Properties that cannot be set on a fresh style keep their defaults.
        }
    }
    sheetProperties->setPropertyValue("PageStyle", uno::Any(copyName));
    return copy;
}

void LoWorkbook::applyHeaderFooters()
{
    if (m_pendingHeaderFooters.isEmpty())
        return;
    QList<HeaderFooterCodes> codes;
    for (int index : std::as_const(m_pendingHeaderFooters))
        codes << m_headerFooters.value(index);
    const QString carrierPath = QDir::temp().filePath(
        QStringLiteral("gridmule-hf-%1.xlsx").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
    struct RemoveFile
    {
        QString path;
        ~RemoveFile() { QFile::remove(path); }
    } removeCarrier{carrierPath};
    // The target's default font, so that the copied sections need no font codes of their own.
    const auto [fontName, fontSize] = m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<style::XStyleFamiliesSupplier> families(m_document, UNO_QUERY_THROW);
        Reference<container::XNameAccess> cellStyles(families->getStyleFamilies()->getByName("CellStyles"), UNO_QUERY_THROW);
        Reference<beans::XPropertySet> standard(cellStyles->getByName("Default"), UNO_QUERY_THROW);
        OUString name;
        float height = 10;
        standard->getPropertyValue("CharFontName") >>= name;
        standard->getPropertyValue("CharHeight") >>= height;
        return std::pair(toQ(name), static_cast<double>(height));
    });
    writeHeaderFooterPackage(carrierPath, codes, fontName, fontSize);

    m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        const auto args = descriptor(
            {prop("Hidden", uno::Any(true)), prop("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE))});
        Reference<lang::XComponent> carrier = m_engine->desktop()->loadComponentFromURL(fileUrl(carrierPath), "_blank", 0, args);
        if (!carrier.is())
            throw EngineError(ErrorCode::Unexpected, QStringLiteral("header carrier"));
        struct CloseCarrier
        {
            Reference<lang::XComponent> doc;
            ~CloseCarrier()
            {
                try {
                    Reference<util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
                } catch (...) { }
            }
        } closeCarrier{carrier};

        Reference<sheet::XSpreadsheetDocument> carrierDoc(carrier, UNO_QUERY_THROW);
        Reference<container::XIndexAccess> carrierSheets(carrierDoc->getSheets(), UNO_QUERY_THROW);
        Reference<style::XStyleFamiliesSupplier> carrierFamilies(carrier, UNO_QUERY_THROW);
        Reference<container::XNameAccess> carrierStyles(
            carrierFamilies->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
        for (int k = 0; k < m_pendingHeaderFooters.size(); ++k) {
            OUString name;
            Reference<beans::XPropertySet>(carrierSheets->getByIndex(k), UNO_QUERY_THROW)->getPropertyValue("PageStyle") >>= name;
            Reference<beans::XPropertySet> from(carrierStyles->getByName(name), UNO_QUERY_THROW);
            Reference<beans::XPropertySet> to = pageStyle(m_pendingHeaderFooters.at(k), true);
            for (const char *property : {"HeaderIsOn", "FooterIsOn", "RightPageHeaderContent", "LeftPageHeaderContent",
                     "RightPageFooterContent", "LeftPageFooterContent"})
                to->setPropertyValue(
                    OUString::createFromAscii(property), from->getPropertyValue(OUString::createFromAscii(property)));
        }
    });
    m_pendingHeaderFooters.clear();
}

void LoWorkbook::refreshFormulaResults()
{
    // The engine's .xls export writes a text or boolean result only for a formula it has
    // calculated in this session; results it loaded from the file come out as 0. Entering
    // each formula again makes the engine calculate and keep them. A formula that cannot be
    // entered again (part of an array formula) stays as it is; the check after the save
    // then refuses to replace the original if a result would still be lost.
    m_engine->call(m_engine->limitForFile(QFileInfo(m_source.path).size()), ErrorCode::Unexpected, [&] {
        Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        Reference<container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
            Reference<sheet::XSpreadsheet> sheet(sheets->getByIndex(i), UNO_QUERY_THROW);
            Reference<sheet::XSheetCellRanges> formulas
                = Reference<sheet::XCellRangesQuery>(sheet, UNO_QUERY_THROW)->queryContentCells(sheet::CellFlags::FORMULA);
            for (const table::CellRangeAddress &a : formulas->getRangeAddresses()) {
                Reference<sheet::XCellRangeFormula> range(
                    sheet->getCellRangeByPosition(a.StartColumn, a.StartRow, a.EndColumn, a.EndRow), UNO_QUERY_THROW);
                try {
                    range->setFormulaArray(range->getFormulaArray());
                } catch (const lang::DisposedException &) {
                    throw;
                } catch (const uno::Exception &) { }
            }
        }
    });
}

void LoWorkbook::restoreTabs(const QString &written)
{
    // The engine writes the sheet at the active index it read at load time as the active
    // one, and shows it even when it is hidden; once sheets were inserted in front, that is
    // another sheet. It also writes very hidden sheets as merely hidden. The written file
    // gets back the states and the active sheet this workbook holds.
    if (!m_biff.valid || m_biff.sheets.isEmpty() || m_biff.sheets.size() != sheetCount())
        return;
    QList<SheetVisibility> states;
    for (const BiffSheet &sheet : std::as_const(m_biff.sheets))
        states << (sheet.state == 0 ? SheetVisibility::Visible
                : sheet.state == 1  ? SheetVisibility::Hidden
                                    : SheetVisibility::VeryHidden);
    xls::XlsDocument document(written, false);
    xls::SheetRecords records(document.stream());
    if (records.sheetCount() != states.size())
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("written workbook has %1 sheets").arg(records.sheetCount()));
    if (!records.restoreTabs(states, std::max(m_biff.activeSheet, 0)))
        return;
    document.markModified();
    document.save();
}

void LoWorkbook::guardAgainstLoss(const QString &written)
{
    // A save must not change what the original had and the change did not touch: the engine
    // is known to drop empty-string cells, write text results as 0, recalculate formulas
    // that point at other workbooks, add and rename names, and drop storages and VBA
    // projects. Both files are read cell by cell and compared before the original is replaced.
    try {
        xls::checkSaveKeepsContent(m_source.path, written, m_expectedChanges);
    } catch (const EngineError &) {
        QFile::remove(written);
        throw;
    }
}

namespace {

// Properties the engine keeps as user-defined ones; it writes them where Excel keeps them in
// .xlsx (core category, extended Manager, Company, HyperlinkBase), not so in .xls.
const char *userDefinedName(DocumentProperty property)
{
    switch (property) {
    case DocumentProperty::Category:
        return "OOXMLCorePropertyCategory";
    case DocumentProperty::Manager:
        return "Manager";
    case DocumentProperty::Company:
        return "Company";
    case DocumentProperty::HyperlinkBase:
        return "HyperlinkBase";
    default:
        return nullptr;
    }
}

} // namespace

QString LoWorkbook::builtinProperty(DocumentProperty property)
{
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<document::XDocumentProperties> props
            = Reference<document::XDocumentPropertiesSupplier>(m_document, UNO_QUERY_THROW)->getDocumentProperties();
        switch (property) {
        case DocumentProperty::Title:
            return toQ(props->getTitle());
        case DocumentProperty::Subject:
            return toQ(props->getSubject());
        case DocumentProperty::Author:
            return toQ(props->getAuthor());
        case DocumentProperty::Comments:
            return toQ(props->getDescription());
        case DocumentProperty::Keywords: {
            QStringList words;
            for (const OUString &word : props->getKeywords())
                words << toQ(word);
            return words.join(QStringLiteral(", "));
        }
        default:
            break;
        }
        Reference<beans::XPropertySet> user(props->getUserDefinedProperties(), UNO_QUERY_THROW);
        const OUString name = OUString::createFromAscii(userDefinedName(property));
        OUString value;
        if (user->getPropertySetInfo()->hasPropertyByName(name))
            user->getPropertyValue(name) >>= value;
        return toQ(value);
    });
}

void LoWorkbook::setBuiltinProperty(DocumentProperty property, const QString &value)
{
    if (m_source.kind == WorkbookKind::Xls && userDefinedName(property))
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("this property of an .xls through the engine"));
    m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<document::XDocumentProperties> props
            = Reference<document::XDocumentPropertiesSupplier>(m_document, UNO_QUERY_THROW)->getDocumentProperties();
        const OUString text = toOU(value);
        switch (property) {
        case DocumentProperty::Title:
            props->setTitle(text);
            return;
        case DocumentProperty::Subject:
            props->setSubject(text);
            return;
        case DocumentProperty::Author:
            props->setAuthor(text);
            return;
        case DocumentProperty::Comments:
            props->setDescription(text);
            return;
        case DocumentProperty::Keywords:
            // One entry keeps the text exactly as given (the engine would rejoin a list with blanks).
            props->setKeywords(value.isEmpty() ? uno::Sequence<OUString>() : uno::Sequence<OUString>(&text, 1));
            return;
        default:
            break;
        }
        Reference<beans::XPropertyContainer> container = props->getUserDefinedProperties();
        Reference<beans::XPropertySet> user(container, UNO_QUERY_THROW);
        const OUString name = OUString::createFromAscii(userDefinedName(property));
        if (user->getPropertySetInfo()->hasPropertyByName(name))
            user->setPropertyValue(name, uno::Any(text));
        else
            container->addProperty(name, beans::PropertyAttribute::REMOVABLE, uno::Any(text));
    });
    m_modified = true;
}

bool LoWorkbook::hasXlsCells() const
{
    return m_source.kind == WorkbookKind::Xls && m_source.filterName == kXlsFilter;
}

void LoWorkbook::requireXlsCells(int index, bool reading)
{
    if (!hasXlsCells())
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("cell contents of this workbook through the engine"));
    if (reading && m_changedSheets.contains(index))
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("reading cells this session has changed"));
}

const xls::WorkbookContent &LoWorkbook::fileContent()
{
    if (!m_fileContent)
        m_fileContent = xls::readXlsContent(m_source.path);
    return *m_fileContent;
}

std::optional<CellBounds> LoWorkbook::fileUsedRange(int index)
{
    if (!m_fileUsage)
        m_fileUsage = worksheetUsage(m_source.path);
    const QString name = biffSheet(index).name;
    for (const SheetUsage &usage : std::as_const(*m_fileUsage)) {
        if (usage.name != name)
            continue;
        const UsedRange &r = usage.range;
        if (!r.isNonEmpty())
            return std::nullopt;
        return CellBounds{r.firstRow + 1, r.lastRow + 1, r.firstColumn + 1, r.lastColumn + 1};
    }
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("no worksheet of the file is named ") + name);
}

void LoWorkbook::cellsChanged(int index)
{
    m_changedSheets.insert(index);
    m_modified = true;
}

QString LoWorkbook::insertWorksheetCopy(Workbook &sourceBook, const QString &sheetName, const QString & /*sourcePath*/)
{
    auto *source = dynamic_cast<LoWorkbook *>(&sourceBook);
    if (!source || m_source.kind != WorkbookKind::Xls || m_source.filterName != kXlsFilter || !m_biff.valid)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("copying a worksheet into this workbook through the engine"));
    if (m_source.readOnly)
        throw EngineError(ErrorCode::ReadOnlyFile, m_source.path);
    const std::unique_ptr<Worksheet> from = source->worksheet(sheetName);
    if (from->visibility() == SheetVisibility::VeryHidden)
        throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("very hidden sheet ") + from->name());
    const QString fromName = from->name();
    const int fromIndex = from->sheetIndex();
    const bool hidden = from->visibility() != SheetVisibility::Visible;
    const int count = sheetCount();
    const QList<int> indices = worksheetIndices();
    const int position = indices.isEmpty() ? count + 1 : indices.first();
    QStringList taken;
    for (int i = 1; i <= count; ++i)
        taken << sheet(i)->name();
    const QString name = xlsx::copyName(fromName, taken);

    const bool linked = m_engine->call(m_engine->limitForFile(QFileInfo(m_source.path).size()), ErrorCode::Unexpected, [&] {
        Reference<sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        Reference<sheet::XSpreadsheets2> sheets(doc->getSheets(), UNO_QUERY_THROW);
        Reference<beans::XPropertySet> properties(m_document, UNO_QUERY_THROW);
        auto links = [&] {
            Reference<container::XIndexAccess> all(properties->getPropertyValue("ExternalDocLinks"), UNO_QUERY);
            return all.is() ? all->getCount() : 0;
        };
        const sal_Int32 linksBefore = links();
        Reference<sheet::XSpreadsheetDocument> from(source->document(), UNO_QUERY_THROW);
        const sal_Int32 at = sheets->importSheet(from, toOU(fromName), position - 1);
        Reference<container::XIndexAccess> byIndex(sheets, UNO_QUERY_THROW);
        Reference<container::XNamed>(byIndex->getByIndex(at), UNO_QUERY_THROW)->setName(toOU(name));
        Reference<beans::XPropertySet>(byIndex->getByIndex(at), UNO_QUERY_THROW)
            ->setPropertyValue("IsVisible", uno::Any(!hidden));
        // A formula that reads another sheet of the source would read the source file itself.
        if (links() != linksBefore) {
            sheets->removeByName(toOU(name));
            return true;
        }
        // The copy takes the source sheet's page setup, not the engine's default style with
        // its own header and footer.
        Reference<beans::XPropertySet> fromStyle = source->pageStyle(fromIndex, false);
        Reference<style::XStyleFamiliesSupplier> families(m_document, UNO_QUERY_THROW);
        Reference<container::XNameContainer> pageStyles(
            families->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
        Reference<lang::XMultiServiceFactory> factory(m_document, UNO_QUERY_THROW);
        Reference<beans::XPropertySet> style(factory->createInstance("com.sun.star.style.PageStyle"), UNO_QUERY_THROW);
        OUString styleName;
        for (int n = 1; styleName.isEmpty() || pageStyles->hasByName(styleName); ++n)
            styleName = "PageStyle_Copy_" + OUString::number(n);
        pageStyles->insertByName(styleName, uno::Any(style));
        for (const beans::Property &property : fromStyle->getPropertySetInfo()->getProperties()) {
            if (property.Attributes & beans::PropertyAttribute::READONLY)
                continue;
            try {
                style->setPropertyValue(property.Name, fromStyle->getPropertyValue(property.Name));
            } catch (const uno::Exception &) { }
        }
        Reference<beans::XPropertySet>(byIndex->getByIndex(at), UNO_QUERY_THROW)->setPropertyValue("PageStyle", uno::Any(styleName));
        return false;
    });
    if (linked)
        throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("formulas of %1 refer to other sheets").arg(fromName));

    // What the file recorded moves along with the sheets after the copy.
    // The copy becomes the active sheet, as a copy does in the spreadsheet program, unless it
    // is hidden: then the active sheet stays the one it was.
    BiffSheet copy;
    copy.name = name;
    copy.state = hidden ? 1 : 0;
    m_biff.sheets.insert(position - 1, copy);
    if (!hidden)
        m_biff.activeSheet = position - 1;
    else if (m_biff.activeSheet >= position - 1)
        ++m_biff.activeSheet;
    auto shifted = [&](const auto &map) {
        std::remove_cvref_t<decltype(map)> result;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            result.insert(it.key() >= position ? it.key() + 1 : it.key(), it.value());
        return result;
    };
    m_headerFooters = shifted(m_headerFooters);
    for (int &pending : m_pendingHeaderFooters)
        pending += pending >= position ? 1 : 0;
    m_expectedChanges.insertedSheets << position;
    m_modified = true;
    return name;
}

} // namespace gm::lo
