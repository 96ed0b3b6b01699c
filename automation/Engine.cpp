#include "automation/Engine.h"

#include "automation/EngineError.h"

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

QString Workbook::insertWorksheetCopy(Workbook &, const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.Copy"));
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

void Worksheet::setCellValues(const std::vector<CellWrite> &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Value"));
}

QString Workbook::builtinProperty(DocumentProperty)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("BuiltinDocumentProperties"));
}

void Workbook::setBuiltinProperty(DocumentProperty, const QString &)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("BuiltinDocumentProperties"));
}

} // namespace gm
