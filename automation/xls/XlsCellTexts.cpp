#include "automation/xls/XlsCellTexts.h"

#include "automation/cells/NumberFormat.h"

namespace gm::xls {

std::vector<QString> displayedTexts(const WorkbookContent &book, int sheet, const CellBounds &bounds)
{
    std::vector<QString> texts(size_t(bounds.rowCount() * bounds.columnCount()));
    if (sheet < 0 || sheet >= book.sheets.size() || texts.empty())
        return texts;
    const DateSystem system = book.date1904 ? DateSystem::Date1904 : DateSystem::Date1900;
    NumberFormatCache formats;
    auto formatOf = [&](quint16 xf) -> const NumberFormat & {
        const int id = xf < book.xfNumberFormats.size() ? book.xfNumberFormats[xf] : 0;
        const auto own = book.numberFormats.constFind(id);
        return own != book.numberFormats.cend() ? formats.format(*own) : formats.builtIn(id < 164 ? id : 0);
    };
    const CellMap &cells = book.sheets[sheet].cells;
    const qint64 columns = bounds.columnCount();
    // Cells beyond the format's reach (row 65536, column 256) are simply not in the map.
    const qint64 firstRow = bounds.firstRow - 1, lastRow = std::min<qint64>(bounds.lastRow - 1, 0xFFFF);
    const qint64 firstColumn = bounds.firstColumn - 1, lastColumn = std::min<qint64>(bounds.lastColumn - 1, 0xFFFF);
    if (firstRow > lastRow || firstColumn > lastColumn || firstRow < 0 || firstColumn < 0)
        return texts;
    for (auto it = cells.lower_bound(cellKey(int(firstRow), 0)); it != cells.end(); ++it) {
        const qint64 row = it->first >> 16, column = it->first & 0xFFFF;
        if (row > lastRow)
            break;
        if (column < firstColumn || column > lastColumn)
            continue;
        const CellContent &cell = it->second;
        CellValue value;
        switch (cell.type) {
        case CellContent::Type::Blank:
            continue;
        case CellContent::Type::Number:
            value = CellValue::ofNumber(cell.number);
            break;
        case CellContent::Type::Text:
            value = CellValue::ofText(cell.text);
            break;
        case CellContent::Type::Boolean:
            value = CellValue::ofBoolean(cell.code != 0);
            break;
        case CellContent::Type::Error: {
            CellContent plain = cell;
            plain.formula = false;
            value = CellValue::ofError(plain.display());
            break;
        }
        }
        texts[size_t((row - firstRow) * columns + (column - firstColumn))] = formatOf(cell.xf).format(value, system);
    }
    return texts;
}

} // namespace gm::xls
