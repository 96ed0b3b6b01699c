#include "automation/xls/XlsWorksheet.h"

#include "automation/BackgroundPicture.h"
#include "automation/EngineError.h"
#include "automation/xls/ProtectionRecords.h"
#include "automation/xls/SheetCellRecords.h"
#include "automation/xls/SheetRecordEdits.h"
#include "automation/xls/SheetColumnRecords.h"
#include "automation/xls/SheetPageRecords.h"
#include "automation/xls/SheetRowRecords.h"
#include "automation/xls/SheetRecords.h"
#include "automation/xls/WorkbookNames.h"
#include "automation/xls/XlsCellTexts.h"
#include "automation/UsedRange.h"
#include "automation/xlsx/HeaderFooterText.h"
#include "automation/xlsx/SheetRowsColumns.h"

#include <QDate>

namespace gm::xls {

namespace {

bool isFooter(HeaderFooterSection section)
{
    return section == HeaderFooterSection::LeftFooter || section == HeaderFooterSection::CenterFooter
        || section == HeaderFooterSection::RightFooter;
}

QString &sectionOf(xlsx::HeaderFooterText &text, HeaderFooterSection section)
{
    switch (section) {
    case HeaderFooterSection::LeftHeader:
    case HeaderFooterSection::LeftFooter:
        return text.left;
    case HeaderFooterSection::CenterHeader:
    case HeaderFooterSection::CenterFooter:
        return text.center;
    case HeaderFooterSection::RightHeader:
    case HeaderFooterSection::RightFooter:
        break;
    }
    return text.right;
}

} // namespace

XlsWorksheet::XlsWorksheet(std::shared_ptr<XlsDocument> document, XlsSheet sheet)
    : m_document(std::move(document)), m_sheet(std::move(sheet))
{ }

void XlsWorksheet::requirePageSetup(const char *member, bool worksheetOnly) const
{
    m_document->ensureOpen();
    if (m_sheet.kind == SheetKind::Other || (worksheetOnly && m_sheet.kind != SheetKind::Worksheet))
        throw EngineError(ErrorCode::NotSupported, QString::fromLatin1(member));
}

template<typename Change> void XlsWorksheet::change(Change &&apply)
{
    try {
        if (apply())
            m_document->markModified();
    } catch (const EngineError &error) {
        m_document->refuseSave(error);
        throw;
    }
}

QString XlsWorksheet::headerFooter(HeaderFooterSection section)
{
    requirePageSetup("PageSetup header/footer");
    xlsx::HeaderFooterText text
        = xlsx::HeaderFooterText::parse(SheetPageRecords(m_document->stream(), m_sheet.position).headerFooter(isFooter(section)));
    return sectionOf(text, section);
}

void XlsWorksheet::setHeaderFooter(HeaderFooterSection section, const QString &code)
{
    requirePageSetup("PageSetup header/footer");
    change([&] {
        SheetPageRecords records(m_document->stream(), m_sheet.position);
        const bool footer = isFooter(section);
        xlsx::HeaderFooterText text = xlsx::HeaderFooterText::parse(records.headerFooter(footer));
        if (sectionOf(text, section) == code)
            return false;
        sectionOf(text, section) = code;
        return records.setHeaderFooter(footer, text.compose());
    });
}

QString XlsWorksheet::printArea()
{
    requirePageSetup("PageSetup.PrintArea", true);
    return WorkbookNames(m_document->stream()).printArea(m_sheet.position);
}

void XlsWorksheet::setPrintArea(const QString &range)
{
    requirePageSetup("PageSetup.PrintArea", true);
    change([&] { return WorkbookNames(m_document->stream()).setPrintArea(m_sheet.position, WorkbookNames::parseArea(range)); });
}

Orientation XlsWorksheet::orientation()
{
    requirePageSetup("PageSetup.Orientation");
    return SheetPageRecords(m_document->stream(), m_sheet.position).orientation();
}

void XlsWorksheet::setOrientation(Orientation orientation)
{
    requirePageSetup("PageSetup.Orientation");
    change([&] { return SheetPageRecords(m_document->stream(), m_sheet.position).setOrientation(orientation); });
}

void XlsWorksheet::refresh()
{
    m_document->ensureOpen();
    for (const XlsSheet &sheet : m_document->sheets()) {
        if (sheet.recordId == m_sheet.recordId) {
            m_sheet = sheet;
            return;
        }
    }
    throw EngineError(ErrorCode::SheetNotFound, m_sheet.name);
}

void XlsWorksheet::setVisibility(SheetVisibility visibility)
{
    refresh();
    if (SheetRecords(m_document->stream()).setVisibility(m_sheet.position, visibility)) {
        m_document->markModified();
        m_document->reloadSheets();
        refresh();
    }
}

void XlsWorksheet::setName(const QString &name)
{
    refresh();
    if (SheetRecords(m_document->stream()).rename(m_sheet.position, name)) {
        m_document->markModified();
        m_document->reloadSheets();
        refresh();
    }
}

void XlsWorksheet::deleteSheet()
{
    refresh();
    if (m_document->hasVbaProject())
        throw EngineError(ErrorCode::XlsSheetNotDeletable, QStringLiteral("the workbook holds a VBA project"));
    SheetRecords(m_document->stream()).remove(m_sheet.position);
    m_document->markModified();
    m_document->reloadSheets();
}

void XlsWorksheet::protect(const ProtectionPassword &password, SheetPermissions allowed)
{
    requirePageSetup("Worksheet.Protect", true);
    if (m_document->isShared())
        throw EngineError(ErrorCode::SharedWorkbook, m_document->path());
    try {
        if (ProtectionRecords(m_document->stream()).protectSheet(m_sheet.position, password, allowed))
            m_document->markModified();
    } catch (const EngineError &error) {
        if (error.code() != ErrorCode::ProtectedWithOtherPassword)
            m_document->refuseSave(error);
        throw;
    }
}

int XlsWorksheet::deleteHyperlinks()
{
    requirePageSetup("Hyperlinks.Delete", true);
    int removed = 0;
    change([&] {
        removed = SheetRecordEdits(m_document->stream(), m_sheet.position).removeHyperlinks();
        return removed > 0;
    });
    return removed;
}

void XlsWorksheet::setBackgroundPicture(const QString &picturePath)
{
    requirePageSetup("Worksheet.SetBackgroundPicture", true);
    if (picturePath.isEmpty()) {
        change([&] { return SheetRecordEdits(m_document->stream(), m_sheet.position).removeBackground(); });
        return;
    }
    // A picture that cannot be read fails this sheet only; the workbook is not refused.
    const QByteArray data = BackgroundPicture::load(picturePath)->bitmapRecordData();
    change([&] { return SheetRecordEdits(m_document->stream(), m_sheet.position).setBackground(data); });
}

namespace {

LineRun xlsColumns(const QString &text)
{
    const auto run = columnRun(text, kXlsColumns);
    if (!run)
        throw EngineError(ErrorCode::LineRunInvalid, text);
    return *run;
}

LineRun xlsRows(const QString &text)
{
    const auto run = rowRun(text, kXlsRows);
    if (!run)
        throw EngineError(ErrorCode::LineRunInvalid, text);
    return *run;
}

} // namespace

void XlsWorksheet::setColumnsHidden(const QString &columns)
{
    requirePageSetup("Range.Hidden", true);
    const LineRun run = xlsColumns(columns);
    change([&] { return SheetColumnRecords(m_document->stream(), m_sheet.position).hide(run); });
}

void XlsWorksheet::setColumnWidth(const QString &columns, double characters)
{
    requirePageSetup("Range.ColumnWidth", true);
    const LineRun run = xlsColumns(columns);
    // Refused before anything changes, so that the workbook's other changes are still saved.
    if (!(characters >= 0) || characters > xlsx::kMaxColumnWidth)
        throw EngineError(ErrorCode::LineSizeOutOfRange, QString::number(characters));
    change([&] { return SheetColumnRecords(m_document->stream(), m_sheet.position).setWidth(run, characters); });
}

void XlsWorksheet::setRowsHidden(const QString &rows)
{
    requirePageSetup("Range.Hidden", true);
    const LineRun run = xlsRows(rows);
    change([&] { return SheetRowRecords(m_document->stream(), m_sheet.position).hide(run); });
}

void XlsWorksheet::setRowHeight(const QString &rows, double points)
{
    requirePageSetup("Range.RowHeight", true);
    const LineRun run = xlsRows(rows);
    // Refused before anything changes, so that the workbook's other changes are still saved.
    if (!(points >= 0) || points > xlsx::kMaxRowHeight)
        throw EngineError(ErrorCode::LineSizeOutOfRange, QString::number(points));
    change([&] { return SheetRowRecords(m_document->stream(), m_sheet.position).setHeight(run, points); });
}

std::optional<CellBounds> XlsWorksheet::usedRange()
{
    requirePageSetup("Worksheet.UsedRange", true);
    for (const SheetUsage &usage : worksheetUsage(m_document->path())) {
        if (usage.name != m_sheet.name)
            continue;
        const UsedRange &r = usage.range;
        if (!r.isNonEmpty())
            return std::nullopt;
        return CellBounds{r.firstRow + 1, r.lastRow + 1, r.firstColumn + 1, r.lastColumn + 1};
    }
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("no worksheet of the file is named ") + m_sheet.name);
}

std::vector<QString> XlsWorksheet::displayedTexts(const CellBounds &bounds)
{
    requirePageSetup("Range.Text", true);
    return xls::displayedTexts(m_document->originalContent(), m_sheet.position, bounds);
}

void XlsWorksheet::setCellValues(const std::vector<CellWrite> &writes)
{
    m_document->ensureOpen();
    if (m_sheet.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Value on ") + m_sheet.name);
    std::optional<EngineError> failure;
    std::vector<SheetCellRecords::Entry> entries;
    entries.reserve(writes.size());
    for (const CellWrite &write : writes) {
        if (write.row < 1 || write.row > kXlsRows || write.column < 1 || write.column > kXlsColumns) {
            failure = EngineError(ErrorCode::CellOutOfRange, QStringLiteral("row %1, column %2").arg(write.row).arg(write.column));
            continue;
        }
        entries.push_back({int(write.row - 1), int(write.column - 1), write.text});
    }
    if (!entries.empty()) {
        EntryContext context;
        context.system = usesDate1904(m_document->stream()) ? DateSystem::Date1904 : DateSystem::Date1900;
        context.currentYear = QDate::currentDate().year();
        // Nothing has changed when this throws, and the workbook may still be saved.
        SheetCellRecords(m_document->stream(), m_sheet.position).write(entries, context);
        ExpectedChanges &expected = m_document->expectedChanges();
        for (const SheetCellRecords::Entry &entry : entries)
            expected.addCell(m_sheet.position + 1, entry.row, entry.column);
        m_document->markModified();
    }
    if (failure)
        throw *failure;
}

} // namespace gm::xls
