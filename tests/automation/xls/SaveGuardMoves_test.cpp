// The save comparison for changes that move cells or sheets: deleted rows and columns (cells
// compared at their new addresses), inserted sheet copies, and many single written cells.

#include "automation/xls/SaveGuard.h"

#include <gtest/gtest.h>

namespace gm::xls {
namespace {

CellContent number(double value, bool formula = false)
{
    CellContent cell;
    cell.type = CellContent::Type::Number;
    cell.number = value;
    cell.formula = formula;
    return cell;
}

CellContent text(const char *value)
{
    CellContent cell;
    cell.type = CellContent::Type::Text;
    cell.text = QString::fromUtf8(value);
    return cell;
}

// Two sheets; "Data" holds a 6 x 5 block whose value tells its own address (row * 10 + column),
// a formula in F1 and a name that refers to it; "Other" holds one formula and one constant.
WorkbookContent book()
{
    WorkbookContent content;
    SheetContent data;
    data.name = QStringLiteral("Data");
    for (int row = 0; row < 6; ++row)
        for (int column = 0; column < 5; ++column)
            data.cells[cellKey(row, column)] = number(row * 10 + column);
    data.cells[cellKey(0, 5)] = number(100, true);
    SheetContent other;
    other.name = QStringLiteral("Other");
    other.cells[cellKey(0, 0)] = number(7, true);
    other.cells[cellKey(1, 0)] = text("keep");
    content.sheets << data << other;
    content.names << DefinedName{QStringLiteral("Block"), 0, false, false, QStringLiteral("3b:#1!$A$1:$E$6")}
                  << DefinedName{QStringLiteral("Elsewhere"), 0, false, false, QStringLiteral("3a:#2!$A$2")};
    return content;
}

// The book as it reads once rows `first`.. of Data are gone (0-based), with names redefined
// and formula results recalculated as a spreadsheet does.
WorkbookContent withRowsDeleted(int first, int count)
{
    WorkbookContent content = book();
    CellMap moved;
    for (auto &[key, cell] : content.sheets[0].cells) {
        const int row = int(key >> 16), column = int(key & 0xFFFF);
        if (row >= first && row < first + count)
            continue;
        moved[cellKey(row >= first + count ? row - count : row, column)] = cell;
    }
    content.sheets[0].cells = moved;
    content.sheets[0].cells[cellKey(0, 5)].number = 60; // its sum read fewer cells
    content.sheets[1].cells[cellKey(0, 0)].number = 3;
    content.names[0].definition = QStringLiteral("3b:#1!$A$1:$E$%1").arg(6 - count);
    return content;
}

TEST(SaveGuardMoves, DeletedRowsAndColumnsAreComparedAtTheirNewAddresses)
{
    ExpectedChanges expected;
    expected.deletedLines << ExpectedChanges::LineDeletion{1, true, 1, 2};
    const WorkbookContent before = book();
    EXPECT_EQ(contentDifferences(before, withRowsDeleted(1, 2), expected), QStringList());

    // Without the declaration every moved cell differs.
    EXPECT_GT(contentDifferences(before, withRowsDeleted(1, 2), ExpectedChanges()).size(), 10);

    // A constant that did not move with its row, one that changed value, a formula turned
    // into a constant and a name on another sheet that changed are still faults.
    WorkbookContent after = withRowsDeleted(1, 2);
    after.sheets[0].cells[cellKey(2, 0)] = number(99);
    after.sheets[1].cells[cellKey(1, 0)] = text("lost");
    after.sheets[1].cells[cellKey(0, 0)] = number(3);
    after.names[1].definition = QStringLiteral("3a:#2!$A$3");
    EXPECT_EQ(contentDifferences(before, after, expected),
        QStringList({QStringLiteral("Data!A3: 40 \u2192 99"), QStringLiteral("Other!A1: =7 \u2192 3"),
            QStringLiteral("Other!A2: \"keep\" \u2192 \"lost\""),
            QStringLiteral("name changed: Elsewhere (workbook), refers to 3a:#2!$A$2 \u2192 3a:#2!$A$3")}));

    // The same rows declared on the other sheet, or other rows, do not cover it.
    for (const ExpectedChanges::LineDeletion &wrong :
        {ExpectedChanges::LineDeletion{2, true, 1, 2}, ExpectedChanges::LineDeletion{1, true, 2, 2},
            ExpectedChanges::LineDeletion{1, false, 1, 2}}) {
        ExpectedChanges other;
        other.deletedLines << wrong;
        EXPECT_FALSE(contentDifferences(before, withRowsDeleted(1, 2), other).isEmpty());
    }
}

TEST(SaveGuardMoves, ColumnsThenRowsMoveInTheOrderDeleted)
{
    // Columns B:C go first, then row 1 of what is left: the old D4 (value 33) ends up at B3.
    ExpectedChanges expected;
    expected.deletedLines << ExpectedChanges::LineDeletion{1, false, 1, 2} << ExpectedChanges::LineDeletion{1, true, 0, 1};
    WorkbookContent after = book();
    CellMap moved;
    for (const auto &[key, cell] : after.sheets[0].cells) {
        const int row = int(key >> 16), column = int(key & 0xFFFF);
        if (row == 0 || column == 1 || column == 2)
            continue;
        moved[cellKey(row - 1, column > 2 ? column - 2 : column)] = cell;
    }
    after.sheets[0].cells = moved;
    after.names[0].definition = QStringLiteral("3b:#1!$A$1:$C$5");
    EXPECT_EQ(after.sheets[0].cells.at(cellKey(2, 1)).number, 33);
    EXPECT_EQ(contentDifferences(book(), after, expected), QStringList());
    expected.deletedLines[1].first = 1;
    EXPECT_FALSE(contentDifferences(book(), after, expected).isEmpty());
}

TEST(SaveGuardMoves, AnInsertedSheetAndItsNamesAreSetAside)
{
    WorkbookContent after = book();
    SheetContent copy;
    copy.name = QStringLiteral("Data (2)");
    copy.cells[cellKey(0, 0)] = text("copied");
    after.sheets.prepend(copy);
    // The existing names now count the sheets one further; the copy brought its own name.
    after.names[0].definition = QStringLiteral("3b:#2!$A$1:$E$6");
    after.names[1].definition = QStringLiteral("3a:#3!$A$2");
    after.names << DefinedName{QStringLiteral("Print_Area"), 1, false, true, QStringLiteral("3b:#1!$A$1:$B$2")};

    ExpectedChanges expected;
    expected.insertedSheets << 1;
    EXPECT_EQ(contentDifferences(book(), after, expected), QStringList());
    EXPECT_FALSE(contentDifferences(book(), after, ExpectedChanges()).isEmpty());

    // Declared at the wrong position, the copy stands for Data and everything shifts.
    expected.insertedSheets = {2};
    EXPECT_FALSE(contentDifferences(book(), after, expected).isEmpty());

    // A change to a sheet that was already there is still found.
    expected.insertedSheets = {1};
    after.sheets[2].cells[cellKey(1, 0)] = text("changed");
    EXPECT_EQ(contentDifferences(book(), after, expected),
        QStringList{QStringLiteral("Other!A2: \"keep\" \u2192 \"changed\"")});
}

TEST(SaveGuardMoves, WrittenCellsAreAllowedOnTheirOwnSheetOnly)
{
    WorkbookContent after = book();
    after.sheets[0].cells[cellKey(3, 2)] = text("new");
    after.sheets[1].cells[cellKey(1, 0)] = text("new");
    ExpectedChanges expected;
    expected.addCell(1, 3, 2);
    EXPECT_EQ(contentDifferences(book(), after, expected), QStringList{QStringLiteral("Other!A2: \"keep\" \u2192 \"new\"")});
    expected.addCell(2, 1, 0);
    EXPECT_EQ(contentDifferences(book(), after, expected), QStringList());
}

} // namespace
} // namespace gm::xls
