#include "automation/xlsx/PackageWorksheet.h"

#include "automation/BackgroundPicture.h"
#include "automation/EngineError.h"
#include "automation/xlsx/CellTexts.h"
#include "automation/xlsx/CellValues.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/PackageProtection.h"
#include "automation/xlsx/PrintAreaText.h"
#include "automation/xlsx/SheetDecorations.h"
#include "automation/xlsx/SheetPageSetup.h"
#include "automation/xlsx/SheetLineDeletion.h"
#include "automation/xlsx/SheetRowsColumns.h"
#include "automation/xlsx/SheetStructure.h"

namespace gm::xlsx {

namespace {

const QString printAreaName = QStringLiteral("_xlnm.Print_Area");

} // namespace

PackageWorksheet::PackageWorksheet(std::shared_ptr<PackageDocument> document, SheetEntry entry)
    : m_document(std::move(document)), m_entry(std::move(entry))
{
}

void PackageWorksheet::refresh()
{
    for (const SheetEntry &entry : m_document->model().sheets()) {
        if (entry.partName == m_entry.partName)
            m_entry = entry;
    }
}

std::optional<CellBounds> PackageWorksheet::usedRange()
{
    m_document->ensureOpen();
    refresh();
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.UsedRange"));
    return xlsx::usedRange(*m_document, m_entry);
}

std::vector<QString> PackageWorksheet::displayedTexts(const CellBounds &bounds)
{
    m_document->ensureOpen();
    refresh();
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Text"));
    return xlsx::displayedTexts(*m_document, m_entry, bounds);
}

std::vector<QString> PackageWorksheet::displayedTextsSeeking(const CellBounds &bounds, QChar sought)
{
    m_document->ensureOpen();
    refresh();
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Text"));
    return xlsx::displayedTexts(*m_document, m_entry, bounds, sought);
}

void PackageWorksheet::setCellValues(const std::vector<CellWrite> &writes)
{
    m_document->ensureOpen();
    refresh();
    xlsx::setCellValues(*m_document, m_entry, writes);
}

void PackageWorksheet::protect(const ProtectionPassword &password, SheetPermissions allowed)
{
    m_document->ensureOpen();
    refresh();
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.Protect"));
    if (m_document->isShared())
        throw EngineError(ErrorCode::SharedWorkbook, m_document->path());
    protectSheet(m_document->sheetPart(m_entry), password, allowed);
}

int PackageWorksheet::deleteHyperlinks()
{
    m_document->ensureOpen();
    refresh();
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Hyperlinks.Delete"));
    return removeHyperlinks(*m_document, m_entry);
}

void PackageWorksheet::setBackgroundPicture(const QString &picturePath)
{
    m_document->ensureOpen();
    refresh();
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.SetBackgroundPicture"));
    if (picturePath.isEmpty()) {
        removeBackground(*m_document, m_entry);
        return;
    }
    setBackground(*m_document, m_entry, *BackgroundPicture::load(picturePath));
}

void PackageWorksheet::requireWorksheet(const char *member)
{
    m_document->ensureOpen();
    refresh();
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QString::fromLatin1(member));
}

namespace {

LineRun rowsOf(const QString &text)
{
    const auto run = rowRun(text, kSheetRows);
    if (!run)
        throw EngineError(ErrorCode::LineRunInvalid, text);
    return *run;
}

LineRun columnsOf(const QString &text)
{
    const auto run = columnRun(text, kSheetColumns);
    if (!run)
        throw EngineError(ErrorCode::LineRunInvalid, text);
    return *run;
}

} // namespace

void PackageWorksheet::setColumnsHidden(const QString &columns)
{
    requireWorksheet("Range.Hidden");
    SheetRowsColumns(*m_document, m_entry).hideColumns(columnsOf(columns));
}

void PackageWorksheet::setRowsHidden(const QString &rows)
{
    requireWorksheet("Range.Hidden");
    SheetRowsColumns(*m_document, m_entry).hideRows(rowsOf(rows));
}

void PackageWorksheet::setRowHeight(const QString &rows, double points)
{
    requireWorksheet("Range.RowHeight");
    SheetRowsColumns(*m_document, m_entry).setRowHeight(rowsOf(rows), points);
}

void PackageWorksheet::setColumnWidth(const QString &columns, double characters)
{
    requireWorksheet("Range.ColumnWidth");
    SheetRowsColumns(*m_document, m_entry).setColumnWidth(columnsOf(columns), characters);
}

void PackageWorksheet::deleteColumns(const QString &columns)
{
    requireWorksheet("Range.Delete");
    SheetLineDeletion(*m_document, m_entry).deleteColumns(columnsOf(columns));
}

void PackageWorksheet::deleteRows(const QString &rows)
{
    requireWorksheet("Range.Delete");
    SheetLineDeletion(*m_document, m_entry).deleteRows(rowsOf(rows));
}

void PackageWorksheet::setVisibility(SheetVisibility visibility)
{
    refresh();
    SheetStructure(*m_document).setVisibility(m_entry.partName, visibility);
    refresh();
}

void PackageWorksheet::setName(const QString &name)
{
    refresh();
    SheetStructure(*m_document).rename(m_entry.partName, name);
    refresh();
}

void PackageWorksheet::deleteSheet()
{
    refresh();
    SheetStructure(*m_document).remove(m_entry.partName);
}

void PackageWorksheet::requirePageSetup(const char *member) const
{
    m_document->ensureOpen();
    if (m_entry.kind == SheetKind::Other)
        throw EngineError(ErrorCode::NotSupported, QString::fromLatin1(member));
}

QString PackageWorksheet::headerFooter(HeaderFooterSection section)
{
    requirePageSetup("PageSetup header/footer");
    return SheetPageSetup(m_document->sheetPart(m_entry)).headerFooter(section);
}

void PackageWorksheet::setHeaderFooter(HeaderFooterSection section, const QString &code)
{
    requirePageSetup("PageSetup header/footer");
    SheetPageSetup(m_document->sheetPart(m_entry)).setHeaderFooter(section, code);
}

QString PackageWorksheet::printArea()
{
    requirePageSetup("PageSetup.PrintArea");
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("PageSetup.PrintArea"));
    const QString formula = m_document->model().definedName(printAreaName, m_entry.position);
    return formula.isNull() ? QString() : areaWithoutSheet(formula);
}

void PackageWorksheet::setPrintArea(const QString &range)
{
    requirePageSetup("PageSetup.PrintArea");
    if (m_entry.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("PageSetup.PrintArea"));
    WorkbookModel &model = m_document->editableModel();
    if (range.trimmed().isEmpty()) {
        model.removeDefinedName(printAreaName, m_entry.position);
        return;
    }
    model.setDefinedName(printAreaName, m_entry.position, printAreaFormula(m_entry.name, normalisePrintArea(range)));
}

Orientation PackageWorksheet::orientation()
{
    requirePageSetup("PageSetup.Orientation");
    return SheetPageSetup(m_document->sheetPart(m_entry)).orientation();
}

void PackageWorksheet::setOrientation(Orientation orientation)
{
    requirePageSetup("PageSetup.Orientation");
    if (orientation != Orientation::Portrait && orientation != Orientation::Landscape)
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("orientation %1").arg(int(orientation)));
    m_document->setOrientation(m_entry, orientation);
}

} // namespace gm::xlsx
