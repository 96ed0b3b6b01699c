#pragma once

#include "automation/Engine.h"
#include "automation/xls/BiffRecordStream.h"

#include <QList>
#include <QString>

namespace gm::xls {

// Structural edits of the sheets of a workbook stream, made as the spreadsheet program makes
// them so that the workbook stays consistent:
// - visibility (BOUNDSHEET8 hsState): visible, hidden and very hidden are kept apart; the
//   active tab (WINDOW1 itabCur), the first shown tab (itabFirst) and the selected tabs
//   (WINDOW2 fSelected/fPaged, WINDOW1 ctabSel) never stay on a hidden sheet; the last
//   visible sheet is never hidden;
// - rename (BOUNDSHEET8 stName): formulas, defined names and charts refer to sheets by
//   position (EXTERNSHEET entries), so they follow without being touched. Texts that hold a
//   sheet name stay as they are: hyperlink locations (static addresses, as on the .xlsx
//   side), the Sheet_Title built-in name and the titles listed in the document summary
//   stream, which this editor never rewrites.
// - delete: the sheet's BOUNDSHEET8 and substream go; references to it (EXTERNSHEET entries
//   of the workbook itself) become #REF!, 3-D spans that end on it shrink, later sheets move
//   down by one in every sheet index (EXTERNSHEET, NAME scopes, SUPBOOK count, TABID,
//   WINDOW1); the sheet's own names go, later names move up and formulas that refer to a
//   name by its position follow, references to the names that went become #REF!; the
//   results are recalculated when the workbook is next loaded.
// Positions are 0-based in BOUNDSHEET8 (tab) order. Every refusal throws EngineError before
// any record changes; each edit returns whether records changed.
class SheetRecords
{
public:
    explicit SheetRecords(BiffRecordStream &stream);

    // Hidden also turns a very hidden sheet into a hidden one. Throws SheetNotFound,
    // LastVisibleSheet, WorkbookStructureProtected.
    bool setVisibility(int position, SheetVisibility visibility);
    // Throws SheetNotFound, SheetNameInvalid, SheetNameTaken, WorkbookStructureProtected.
    bool rename(int position, const QString &name);
    // Throws SheetNotFound, LastVisibleSheet, LastWorksheet, WorkbookStructureProtected,
    // NotSupported (a macro or module sheet), XlsSheetNotDeletable (formulas this editor
    // cannot follow exactly).
    void remove(int position);

    // Puts back the tabs of a workbook whose copy was written by a program that lost them:
    // each sheet's state as given (in tab order), `active` as the active and only selected
    // tab (the nearest visible sheet when it is not visible), the first shown tab no further
    // right than it. Returns whether records changed. Not a change of the structure, so a
    // protected structure does not refuse it; throws InvalidArgument when the states do not
    // match the sheets or leave none visible.
    bool restoreTabs(const QList<SheetVisibility> &states, int active);

    QString name(int position) const;
    SheetVisibility visibility(int position) const;
    int sheetCount() const { return int(m_sheets.size()); }

private:
    int state(int position) const;
    void refuseWhenStructureProtected() const;
    // Index of the sheet's own WINDOW2 (not one of a chart embedded in it), -1 when none.
    int window2Of(int position) const;
    // Moves the active, first and selected tabs off sheets that are no longer visible or no
    // longer there (`removed`: the sheet at `position` was deleted; positions are those after).
    void settleWindows(int position, bool removed, bool recount);
    // The first visible sheet at or right of `position`, else the nearest on its left.
    int visibleFrom(int position) const;

    BiffRecordStream &m_stream;
    QList<int> m_sheets; // indexes of the BOUNDSHEET8 records
};

// The payload of a BOUNDSHEET8 with a new name: the first six bytes of `data` (position,
// state, kind) kept, the name compressed when every character fits in one byte.
QByteArray boundSheetWithName(const QByteArray &data, const QString &name);

} // namespace gm::xls
