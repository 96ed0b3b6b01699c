#pragma once

#include "automation/xls/XlsContent.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

namespace gm::xls {

// What a change is allowed to alter in an .xls workbook. Everything else must come out of a
// save exactly as it was.
struct ExpectedChanges
{
    // A defined name the change adds, redefines or removes; built-in names by their English
    // name ("Print_Area"). scope: 0 for the workbook, else the 1-based sheet position.
    struct Name
    {
        QString name;
        int scope = 0;
    };
    // Cells the change writes: a rectangle of one sheet, all 0-based and inclusive.
    struct Cells
    {
        int sheet = 1; // 1-based position
        int firstRow = 0;
        int lastRow = 0;
        int firstColumn = 0;
        int lastColumn = 0;
    };

    QList<Name> names;
    QList<Cells> cells;
    QMap<int, QString> sheetNames; // sheets the change renames: 1-based position -> new name
    QMap<int, int> sheetStates; // sheets the change shows or hides: position -> 0 visible, 1 hidden, 2 very hidden
    QStringList streams; // streams the change rewrites, by path ("\005SummaryInformation")
    // Sheets the change deletes, by their 1-based position before it. Their cells and names
    // go, later sheets move down, and references to them read #REF!. Every other position of
    // this struct counts before the change too.
    QList<int> deletedSheets;
    // Sheets the change inserts, by their 1-based position after it; every earlier position
    // of this struct counts before the insertion. What the copies bring along (their cells and
    // the names scoped to them) is expected.
    QList<int> insertedSheets;
    // Whole rows or columns the change deletes from a sheet, in the order deleted: the cells
    // after them move back by `count`, all 0-based. Every other position of this struct counts
    // after the deletions. Formulas may give other results (a range that lost cells, a
    // reference to a deleted cell now #REF!) and names that refer to the sheet may change,
    // but a formula must stay a formula and a constant must keep its value at its new address.
    struct LineDeletion
    {
        int sheet = 1; // 1-based position
        bool rows = true;
        int first = 0;
        int count = 1;
    };
    QList<LineDeletion> deletedLines;
    // Single cells the change writes, by sheet and key (see cellKey); for changes that write
    // many scattered cells.
    QSet<quint64> writtenCells;

    void addCell(int sheet, int row, int column);
    void addName(const QString &name, int scope);
    bool allowsName(const QString &name, int scope) const;
    bool allowsCell(int sheet, quint32 key) const;
    bool allowsStream(const QString &path) const;
};

// What differs between a workbook and its saved copy beyond the expected changes, one line
// each ("Sheet1!A1: \"\" -> (blank)", "name added: Excel_BuiltIn_Print_Area (Sheet1)",
// "storage lost: MsoDataStore"); empty when the copy keeps everything.
//
// Cells compare by type and value, formula results included; a blank cell counts as no
// cell, an empty string does not. Results of volatile formulas may differ. The workbook
// stream itself and streams the change rewrites are compared by content, every other stream
// and storage must be there with the same bytes; streams that only the copy has do not count.
QStringList contentDifferences(const WorkbookContent &before, const WorkbookContent &after, const ExpectedChanges &expected);

// The differences as one line for a run log: the first few cells, then names and storages,
// and how many more there are.
QString describeDifferences(const QStringList &differences, int shown = 6);

// Before `written` replaces `original`: reads both and throws
// EngineError(WouldLoseContent) with the differences as detail when the save would change
// anything the change did not ask for, or when either file cannot be read for the check.
// Neither file is touched.
void checkSaveKeepsContent(const QString &original, const QString &written, const ExpectedChanges &expected);

} // namespace gm::xls
