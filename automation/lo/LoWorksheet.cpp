#include "automation/lo/LoWorksheet.h"

#include "automation/EngineError.h"
#include "automation/Notation.h"
#include "automation/lo/LoWorkbook.h"
#include "automation/lo/UnoSupport.h"
#include "automation/xlsx/PrintAreaText.h"

#include <com/sun/star/awt/Size.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/sheet/CellDeleteMode.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeMovement.hpp>
#include <com/sun/star/sheet/XPrintAreas.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace gm::lo {

LoWorksheet::LoWorksheet(std::shared_ptr<LoEngine> engine, LoWorkbook *book, Reference<sheet::XSpreadsheet> sheet, int index)
    : m_engine(std::move(engine)), m_book(book), m_sheet(std::move(sheet)), m_index(index)
{ }

QString LoWorksheet::name() const
{
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected,
        [&] { return toQ(Reference<container::XNamed>(m_sheet, UNO_QUERY_THROW)->getName()); });
}

bool LoWorksheet::isChart() const
{
    return m_book->biffSheet(m_index).type == 2;
}

SheetVisibility LoWorksheet::visibility() const
{
    if (m_book->biffSheet(m_index).state == 2)
        return SheetVisibility::VeryHidden;
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        bool visible = true;
        Reference<beans::XPropertySet>(m_sheet, UNO_QUERY_THROW)->getPropertyValue("IsVisible") >>= visible;
        return visible ? SheetVisibility::Visible : SheetVisibility::Hidden;
    });
}

QString LoWorksheet::cellText(const QString &address)
{
    return m_engine->call(m_engine->limits().call, ErrorCode::InvalidArgument, [&] {
        const Reference<table::XCellRange> cells(m_sheet, UNO_QUERY_THROW);
        const Reference<table::XCell> cell = cells->getCellRangeByName(toOU(address))->getCellByPosition(0, 0);
        return toQ(Reference<text::XText>(cell, UNO_QUERY_THROW)->getString());
    });
}

void LoWorksheet::deleteColumns(const QString &columns)
{
    removeLines(columns, true);
}

void LoWorksheet::deleteRows(const QString &rows)
{
    removeLines(rows, false);
}

void LoWorksheet::removeLines(const QString &text, bool columns)
{
    const std::optional<LineRun> run = columns ? columnRun(text, 16384) : rowRun(text, 1048576);
    if (!run)
        throw EngineError(ErrorCode::LineRunInvalid, text);
    m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        table::CellRangeAddress address = Reference<sheet::XCellRangeAddressable>(m_sheet, UNO_QUERY_THROW)->getRangeAddress();
        if (columns) {
            address.StartColumn = sal_Int32(run->first - 1);
            address.EndColumn = sal_Int32(run->last - 1);
        } else {
            address.StartRow = sal_Int32(run->first - 1);
            address.EndRow = sal_Int32(run->last - 1);
        }
        Reference<sheet::XCellRangeMovement>(m_sheet, UNO_QUERY_THROW)
            ->removeRange(address, columns ? sheet::CellDeleteMode_COLUMNS : sheet::CellDeleteMode_ROWS);
        return 0;
    });
}

QString LoWorksheet::headerFooter(HeaderFooterSection section)
{
    return m_book->headerFooterCodes(m_index)[static_cast<size_t>(section)];
}

void LoWorksheet::setHeaderFooter(HeaderFooterSection section, const QString &code)
{
    m_book->setHeaderFooterCode(m_index, section, code);
}

QString LoWorksheet::printArea()
{
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        const auto areas = Reference<sheet::XPrintAreas>(m_sheet, UNO_QUERY_THROW)->getPrintAreas();
        QStringList parts;
        for (const table::CellRangeAddress &a : areas) {
            auto cell = [](sal_Int32 column, sal_Int32 row) {
                return QStringLiteral("$%1$%2").arg(ColumnNumberToLetters(QString::number(column + 1))).arg(row + 1);
            };
            const QString first = cell(a.StartColumn, a.StartRow);
            const QString last = cell(a.EndColumn, a.EndRow);
            parts << (first == last ? first : first + QLatin1Char(':') + last);
        }
        return parts.join(QLatin1Char(','));
    });
}

void LoWorksheet::setPrintArea(const QString &range)
{
    const QString normalised = range.trimmed().isEmpty() ? QString() : xlsx::normalisePrintArea(range);
    m_engine->call(m_engine->limits().call, ErrorCode::InvalidArgument, [&] {
        std::vector<table::CellRangeAddress> addresses;
        if (!normalised.isEmpty()) {
            Reference<table::XCellRange> cells(m_sheet, UNO_QUERY_THROW);
            for (const QString &area : normalised.split(QLatin1Char(','))) {
                QString plain = area;
                plain.remove(QLatin1Char('$'));
                Reference<sheet::XCellRangeAddressable> range(cells->getCellRangeByName(toOU(plain)), UNO_QUERY_THROW);
                addresses.push_back(range->getRangeAddress());
            }
        }
        Reference<sheet::XPrintAreas>(m_sheet, UNO_QUERY_THROW)
            ->setPrintAreas(uno::Sequence<table::CellRangeAddress>(addresses.data(), static_cast<sal_Int32>(addresses.size())));
    });
    m_book->expectedChanges().addName(QStringLiteral("Print_Area"), m_index);
    m_book->markModified();
}

Orientation LoWorksheet::orientation()
{
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        bool landscape = false;
        m_book->pageStyle(m_index, false)->getPropertyValue("IsLandscape") >>= landscape;
        return landscape ? Orientation::Landscape : Orientation::Portrait;
    });
}

void LoWorksheet::setOrientation(Orientation orientation)
{
    m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<beans::XPropertySet> style = m_book->pageStyle(m_index, true);
        const bool landscape = orientation == Orientation::Landscape;
        awt::Size size;
        style->getPropertyValue("Size") >>= size;
        // The paper turns with the orientation: landscape pages are wider than high.
        if ((size.Width > size.Height) != landscape)
            std::swap(size.Width, size.Height);
        style->setPropertyValue("IsLandscape", uno::Any(landscape));
        style->setPropertyValue("Size", uno::Any(size));
    });
    m_book->markModified();
}

int LoWorksheet::exportPdf(const QString &path)
{
    return m_book->exportSheetPdf(path, m_index);
}

} // namespace gm::lo
