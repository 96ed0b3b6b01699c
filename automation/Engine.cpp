#include "automation/Engine.h"

#include "automation/EngineError.h"
#include "automation/Protection.h"

namespace gm {

// Defaults for the members a backend may not offer.

QString Worksheet::headerFooter(HeaderFooterSection)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("PageSetup header/footer"));
}

void Worksheet::setHeaderFooter(HeaderFooterSection, const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("PageSetup header/footer"));
}

QString Worksheet::printArea()
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("PageSetup.PrintArea"));
}

void Worksheet::setPrintArea(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("PageSetup.PrintArea"));
}

Orientation Worksheet::orientation()
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("PageSetup.Orientation"));
}

void Worksheet::setOrientation(Orientation)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("PageSetup.Orientation"));
}

int Worksheet::exportPdf(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.PrintOut"));
}

int Workbook::exportPdf(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Workbook.PrintOut"));
}

void Worksheet::setVisibility(SheetVisibility)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.Visible"));
}

void Worksheet::setName(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.Name"));
}

int Worksheet::deleteHyperlinks()
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Hyperlinks.Delete"));
}

void Worksheet::setBackgroundPicture(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.SetBackgroundPicture"));
}

bool Workbook::multiUserEditing()
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Workbook.MultiUserEditing"));
}

void Workbook::share()
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Workbook.SaveAs xlShared"));
}

void Workbook::exclusiveAccess()
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Workbook.ExclusiveAccess"));
}

QString Workbook::insertWorksheetCopy(Workbook &, const QString &, const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.Copy"));
}

QStringList Workbook::insertWorksheetCopies(Workbook &, const QStringList &, const QString &, std::optional<EngineError> *)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheets.Copy"));
}

void Worksheet::deleteSheet()
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.Delete"));
}

QString Worksheet::cellText(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Text"));
}

std::optional<CellBounds> Worksheet::usedRange()
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.UsedRange"));
}

std::vector<QString> Worksheet::displayedTexts(const CellBounds &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Text"));
}

std::vector<QString> Worksheet::displayedTextsSeeking(const CellBounds &bounds, QChar)
{
    return displayedTexts(bounds);
}

void Worksheet::setCellValues(const std::vector<CellWrite> &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Value"));
}

void Worksheet::protect(const ProtectionPassword &, SheetPermissions)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.Protect"));
}

void Workbook::protect(const ProtectionPassword &, bool, bool)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Workbook.Protect"));
}

void Worksheet::setColumnsHidden(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Hidden"));
}

void Worksheet::setRowsHidden(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Hidden"));
}

void Worksheet::setRowHeight(const QString &, double)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.RowHeight"));
}

void Worksheet::setColumnWidth(const QString &, double)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.ColumnWidth"));
}

void Worksheet::deleteColumns(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Delete"));
}

void Worksheet::deleteRows(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Delete"));
}

QString Workbook::builtinProperty(DocumentProperty)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("BuiltinDocumentProperties"));
}

void Workbook::setBuiltinProperty(DocumentProperty, const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("BuiltinDocumentProperties"));
}

void Workbook::setPassword(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Workbook.Password"));
}

void Workbook::setWritePassword(const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Workbook.WritePassword"));
}

} // namespace gm
