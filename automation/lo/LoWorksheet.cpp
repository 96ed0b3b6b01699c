#include "automation/lo/LoWorksheet.h"

#include "automation/EngineError.h"
#include "automation/Notation.h"
#include "automation/lo/LoWorkbook.h"
#include "automation/lo/UnoSupport.h"
#include "automation/cells/NumberFormat.h"
#include "automation/cells/TypedEntry.h"
#include "automation/xls/XlsCellTexts.h"
#include "automation/xlsx/PrintAreaText.h"

#include <QDate>

#include <com/sun/star/awt/Size.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/AddressConvention.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaLanguage.hpp>
#include <com/sun/star/sheet/FormulaMapGroup.hpp>
#include <com/sun/star/sheet/XFormulaOpCodeMapper.hpp>
#include <com/sun/star/sheet/XFormulaParser.hpp>
#include <com/sun/star/sheet/XFormulaTokens.hpp>
#include <com/sun/star/sheet/XSheetOperation.hpp>
#include <com/sun/star/table/CellAddress.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/util/Date.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XPrintAreas.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace gm::lo {

namespace {

constexpr qint64 kXlsRows = 65536;
constexpr qint64 kXlsColumns = 256;

// The engine's codes for a formula it could not read; Excel refuses such an entry outright.
// Error results (#VALUE!, #REF!, #NAME?, #DIV/0! ...) are legitimate and not among them.
bool isSyntaxError(sal_Int32 code)
{
    return (code >= 501 && code <= 511) || (code >= 516 && code <= 518) || code == 520 || code == 521;
}

const lang::Locale kEnglishUs(OUString("en"), OUString("US"), OUString());

// Writes typed entries into cells of one document: numbers with the format typing gives them
// (only where the cell's own format is General), text as text, formulas in Excel's English
// syntax and A1 references, read by the engine's parser for that syntax.
class EntryWriter
{
public:
    EntryWriter(const Reference<lang::XComponent> &document, int sheet) : m_document(document), m_sheet(sheet)
    {
        Reference<util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
        m_formats = supplier->getNumberFormats();
        util::Date nullDate;
        Reference<beans::XPropertySet>(document, UNO_QUERY_THROW)->getPropertyValue("NullDate") >>= nullDate;
        m_context.system = nullDate.Year == 1904 ? DateSystem::Date1904 : DateSystem::Date1900;
        m_context.currentYear = QDate::currentDate().year();
    }

    void write(const Reference<table::XCell> &cell, int row, int column, const QString &text)
    {
        const QString address = xls::cellName(row, column);
        // A cell of an array formula reports the formula in braces.
        if (cell->getType() == table::CellContentType_FORMULA && cell->getFormula().startsWith("{"))
            throw EngineError(ErrorCode::ArrayFormulaPart, address);
        Reference<beans::XPropertySet> properties(cell, UNO_QUERY_THROW);
        sal_Int32 key = 0;
        properties->getPropertyValue("NumberFormat") >>= key;
        Reference<beans::XPropertySet> format = m_formats->getByKey(key);
        sal_Int16 type = 0;
        OUString code;
        format->getPropertyValue("Type") >>= type;
        format->getPropertyValue("FormatString") >>= code;
        EntryContext context = m_context;
        context.cellIsText = (type & util::NumberFormat::TEXT) != 0;
        const bool general = code.equalsIgnoreAsciiCase("General");
        const TypedEntry entry = parseTypedEntry(text, context);
        auto setFormat = [&](sal_Int32 newKey) {
            if (general)
                properties->setPropertyValue("NumberFormat", uno::Any(newKey));
        };
        switch (entry.type) {
        case TypedEntry::Type::Empty:
            Reference<sheet::XSheetOperation>(cell, UNO_QUERY_THROW)
                ->clearContents(sheet::CellFlags::VALUE | sheet::CellFlags::DATETIME | sheet::CellFlags::STRING
                    | sheet::CellFlags::FORMULA);
            break;
        case TypedEntry::Type::Number:
            cell->setValue(entry.number);
            if (entry.numberFormatId >= 0)
                setFormat(formatKey(builtInFormatCode(entry.numberFormatId)));
            break;
        case TypedEntry::Type::Text:
            Reference<text::XText>(cell, UNO_QUERY_THROW)->setString(toOU(entry.text));
            break;
        case TypedEntry::Type::Boolean:
            // The engine keeps a logical value as a number with its boolean format.
            cell->setValue(entry.number);
            setFormat(Reference<util::XNumberFormatTypes>(m_formats, UNO_QUERY_THROW)
                          ->getStandardFormat(util::NumberFormat::LOGICAL, kEnglishUs));
            break;
        case TypedEntry::Type::Error:
        case TypedEntry::Type::Formula:
            writeFormula(cell, row, column, entry.text, address);
            break;
        }
    }

private:
    sal_Int32 formatKey(const QString &code)
    {
        const sal_Int32 key = m_formats->queryKey(toOU(code), kEnglishUs, false);
        return key >= 0 ? key : m_formats->addNew(toOU(code), kEnglishUs);
    }

    void writeFormula(const Reference<table::XCell> &cell, int row, int column, const QString &formula, const QString &address)
    {
        if (!m_parser.is()) {
            Reference<lang::XMultiServiceFactory> factory(m_document, UNO_QUERY_THROW);
            m_parser.set(factory->createInstance("com.sun.star.sheet.FormulaParser"), UNO_QUERY_THROW);
            Reference<sheet::XFormulaOpCodeMapper> mapper(
                factory->createInstance("com.sun.star.sheet.FormulaOpCodeMapper"), UNO_QUERY_THROW);
            const auto special = mapper->getAvailableMappings(sheet::FormulaLanguage::XL_ENGLISH, sheet::FormulaMapGroup::SPECIAL);
            const auto others
                = mapper->getAvailableMappings(sheet::FormulaLanguage::XL_ENGLISH, sheet::FormulaMapGroup::ALL_EXCEPT_SPECIAL);
            uno::Sequence<sheet::FormulaOpCodeMapEntry> map(special.getLength() + others.getLength());
            std::copy(special.begin(), special.end(), map.getArray());
            std::copy(others.begin(), others.end(), map.getArray() + special.getLength());
            Reference<beans::XPropertySet> settings(m_parser, UNO_QUERY_THROW);
            settings->setPropertyValue("OpCodeMap", uno::Any(map));
            settings->setPropertyValue("FormulaConvention", uno::Any(sheet::AddressConvention::XL_A1));
            settings->setPropertyValue("CompileEnglish", uno::Any(true));
        }
        const table::CellAddress at(sal_Int16(m_sheet), column, row);
        const auto tokens = m_parser->parseFormula(toOU(formula), at);
        Reference<sheet::XFormulaTokens> target(cell, UNO_QUERY_THROW);
        // What the cell held, to put back when the engine cannot read the formula.
        const table::CellContentType was = cell->getType();
        const double value = cell->getValue();
        const OUString text = Reference<text::XText>(cell, UNO_QUERY_THROW)->getString();
        const auto oldTokens = target->getTokens();
        target->setTokens(tokens);
        if (!isSyntaxError(cell->getError()))
            return;
        switch (was) {
        case table::CellContentType_VALUE:
            cell->setValue(value);
            break;
        case table::CellContentType_TEXT:
            Reference<text::XText>(cell, UNO_QUERY_THROW)->setString(text);
            break;
        case table::CellContentType_FORMULA:
            target->setTokens(oldTokens);
            break;
        default:
            Reference<sheet::XSheetOperation>(cell, UNO_QUERY_THROW)->clearContents(sheet::CellFlags::FORMULA);
            break;
        }
        throw EngineError(ErrorCode::FormulaInvalid, address + QStringLiteral(": =") + formula);
    }

    Reference<lang::XComponent> m_document;
    int m_sheet; // 0-based
    Reference<util::XNumberFormats> m_formats;
    Reference<sheet::XFormulaParser> m_parser;
    EntryContext m_context;
};

} // namespace

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

std::optional<CellBounds> LoWorksheet::usedRange()
{
    m_book->requireXlsCells(m_index, true);
    if (isChart())
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Worksheet.UsedRange"));
    return m_book->fileUsedRange(m_index);
}

std::vector<QString> LoWorksheet::displayedTexts(const CellBounds &bounds)
{
    m_book->requireXlsCells(m_index, true);
    if (isChart())
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Text"));
    return xls::displayedTexts(m_book->fileContent(), m_index - 1, bounds);
}

void LoWorksheet::setCellValues(const std::vector<CellWrite> &writes)
{
    m_book->requireXlsCells(m_index, false);
    if (isChart())
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Value on ") + name());
    std::optional<EntryWriter> writer;
    std::optional<EngineError> failure;
    bool changed = false;
    for (const CellWrite &write : writes) {
        if (write.row < 1 || write.row > kXlsRows || write.column < 1 || write.column > kXlsColumns) {
            failure = EngineError(ErrorCode::CellOutOfRange, QStringLiteral("row %1, column %2").arg(write.row).arg(write.column));
            continue;
        }
        const int row = int(write.row - 1), column = int(write.column - 1);
        m_book->expectedChanges().addCell(m_index, row, column);
        try {
            m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
                if (!writer)
                    writer.emplace(m_book->document(), m_index - 1);
                writer->write(m_sheet->getCellByPosition(column, row), row, column, write.text);
            });
            changed = true;
        } catch (const EngineError &e) {
            if (e.code() == ErrorCode::EngineDied || e.code() == ErrorCode::TimedOut)
                throw;
            failure = e;
        }
    }
    if (changed)
        m_book->cellsChanged(m_index);
    if (failure)
        throw *failure;
}

void LoWorksheet::deleteColumns(const QString &columns)
{
    deleteLines(columns, false);
}

void LoWorksheet::deleteRows(const QString &rows)
{
    deleteLines(rows, true);
}

void LoWorksheet::deleteLines(const QString &text, bool rows)
{
    // In an .xls the save check is told which lines went. In a workbook of another format the
    // engine's own deletion only serves as the reference a deletion of ours is compared with.
    const bool xls = m_book->hasXlsCells();
    if (xls)
        m_book->requireXlsCells(m_index, false);
    if (isChart())
        throw EngineError(ErrorCode::NotSupported, rows ? QStringLiteral("Rows.Delete") : QStringLiteral("Columns.Delete"));
    const std::optional<LineRun> run
        = rows ? rowRun(text, xls ? kXlsRows : 1048576) : columnRun(text, xls ? kXlsColumns : 16384);
    if (!run)
        throw EngineError(ErrorCode::LineRunInvalid, text);
    m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        Reference<table::XColumnRowRange> lines(m_sheet, UNO_QUERY_THROW);
        if (rows)
            lines->getRows()->removeByIndex(sal_Int32(run->first - 1), sal_Int32(run->count()));
        else
            lines->getColumns()->removeByIndex(sal_Int32(run->first - 1), sal_Int32(run->count()));
    });
    if (!xls)
        return;
    m_book->expectedChanges().deletedLines << xls::ExpectedChanges::LineDeletion{m_index, rows, int(run->first - 1), int(run->count())};
    m_book->cellsChanged(m_index);
}

} // namespace gm::lo
