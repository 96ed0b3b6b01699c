#pragma once

#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/xlsx/WorkbookModel.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace gm::xlsx {

// Content types of the parts sheet edits look for.
namespace contentType {
inline const QString worksheet = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml");
inline const QString chart = QStringLiteral("application/vnd.openxmlformats-officedocument.drawingml.chart+xml");
inline const QString chartEx = QStringLiteral("application/vnd.ms-office.chartex+xml");
inline const QString table = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml");
inline const QString pivotCache
    = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.pivotCacheDefinition+xml");
inline const QString pivotTable = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.pivotTable+xml");
} // namespace contentType

// Rewrites the text of every element with one of those local names below root (not below a
// match); returns whether any text changed.
bool rewriteElements(pugi::xml_node root, std::span<const std::string_view> names,
    const std::function<QString(const QString &)> &rewrite);

class OpcPackage;
class PackageDocument;

// The target of a relationship from `fromPart` to `toPart`, relative to the first's folder.
QString relativeTarget(const QString &fromPart, const QString &toPart);
// A part name for a copy of `sourcePart` that the target does not use and that is not in
// `reserved` (case-folded names, the new one added): the same folder and stem with the first
// free number (xl/media/image1.png -> xl/media/image4.png).
QString freshPartName(OpcPackage &target, const QString &sourcePart, QSet<QString> &reserved);

// Copies into `target` the parts that `sourceOwner` of `source` reaches through its
// relationships, and the parts those reach, each under a name `target` does not use (the same
// folder and stem, the first free number), with their content types; then gives `targetOwner`
// the relationships of `sourceOwner`, with the same ids, pointing at the copies (external
// ones as they were), so that the owner's content can be copied as it is. Returns the names
// of the copies. Throws EngineError(Damaged) for a relationship to a part the source lacks.
QStringList copyRelatedParts(OpcPackage &source, const QString &sourceOwner, OpcPackage &target, const QString &targetOwner);

// Every part reachable from the package's relationships, each once, nearest first.
QStringList reachableParts(OpcPackage &package);
// Removes the parts of `reachableBefore` (an earlier reachableParts) that nothing reaches any
// more, with their relationships parts and content type entries.
void removeUnreachableParts(OpcPackage &package, const QStringList &reachableBefore);
// Drops the calculation chain (part, relationship and content type), which lists cells by
// address, and asks for a full recalculation when the workbook is next loaded.
void recalculateOnLoad(OpcPackage &package, const QString &workbookPart);

// Checks a new sheet name against the rules of the workbook format: not empty, at most 31
// characters (UTF-16 units), none of \ / ? * : [ ], no "'" at either end, not "History", and
// not the name of another sheet of any kind, letter case aside. Throws SheetNameInvalid or
// SheetNameTaken.
void checkSheetName(const QString &name, const QStringList &otherSheetNames);

// The name a copy takes in a workbook that already has `taken`: the name itself when free,
// else "Base (n)" with the first free n, where a name already ending in " (k)" counts on
// from k + 1. The base is shortened so that the result keeps to 31 characters.
QString copyName(const QString &name, const QStringList &taken);

// Structural edits of the sheets of an open package, done as the spreadsheet program does
// them so that the workbook stays consistent:
// - visibility: visible, hidden and very hidden are kept apart; the active sheet, the first
//   shown tab and the selected tabs never stay on a hidden sheet; the last visible sheet is
//   never hidden;
// - rename: every formula, defined name, chart series, validation, conditional format, table
//   formula and pivot source that names the sheet names the new one (texts and references
//   into other workbooks stay as they are; hyperlink locations are static addresses and stay);
// - delete: references to the sheet become #REF!, its own names go and later sheet-scoped
//   names are renumbered, parts no longer reachable go with their relationships and content
//   types, the calculation chain is dropped and a full recalculation asked for on load;
// - copy from another package: the copy reads what its source sheet reads, the sheets copied
//   with it as the copies, the workbook names it uses as names added to this workbook (unless
//   it has its own), and the sheets left behind, names and 3-D spans over them included,
//   through a link to the source file that holds the values they show now.
// The document titles of docProps/app.xml follow each change. Sheets are named by their part,
// which does not change while sheets move. Refusals throw EngineError before anything changes.
class SheetStructure
{
public:
    explicit SheetStructure(PackageDocument &document);

    void setVisibility(const QString &sheetPart, SheetVisibility visibility);
    void rename(const QString &sheetPart, const QString &newName);
    void remove(const QString &sheetPart);
    // Copies the worksheet `sourceSheetPart` of `source` into this workbook before its first
    // worksheet (after leading chart sheets) and returns the copy's name: the source's name,
    // or "Name (2)", "Name (3)"... when taken. Cells, merged ranges, columns, rows,
    // validations and conditional formats come along; the cell formats, fonts, fills,
    // borders, number formats and differential formats they use are added to this
    // workbook's styles, their shared strings to its string table, its own defined names
    // to its names. Drawings with their pictures and charts (ranges renamed to the copy),
    // tables (given workbook-unique ids, and names unique among tables and defined names,
    // with the copy's structured references following), comments with their VML (moved to
    // free shape-id blocks), external hyperlinks and printer settings are copied as new
    // parts with their relationships and content types. References of formulas, names and
    // chart ranges to other sheets of the source become references into the file
    // `sourcePath` through a link that holds the values the source shows now; references
    // into other workbooks keep reading them through this workbook's link to the same file
    // (added, or extended with what it lacks) and are renumbered. Workbook-level names of the
    // source that the copy uses and this workbook lacks are added to it, written like the
    // formulas (with the names they use in turn); a name this workbook has is its own. A 3-D
    // span over sheets not copied along reads the source file: one reference per spanned
    // sheet where it is an argument of SUM, COUNT, AVERAGE and the like (which reads the same
    // and which every reader computes from the link), the span [n]Jan:Mar!B2 elsewhere, the
    // link listing the sheets in the source's order. A name of another sheet (Other!Local)
    // that stands for fixed cells reads them through the link. The copy becomes the active
    // sheet unless it is hidden. Cell and value metadata (dynamic array formulas, pictures in
    // cells) go into this workbook's metadata and rich data parts; a pivot table brings its
    // cache, which reads the copy of its data sheet or the source file. Slicers, form
    // controls, embedded objects, threaded comments, names of other sheets that stand for
    // formulas or relative cells, or a very hidden sheet throw SheetCopyUnsupported before
    // anything changes.
    QString insertCopy(PackageDocument &source, const QString &sourceSheetPart, const QString &sourcePath);
    // Copies several worksheets of `source` together, as insertCopy does, so that they end up
    // in front in their own order: references between them name the copies (a 3-D span
    // whose sheets are all copied, in the same order, spans the copies), and only
    // references to sheets left behind lead into the source file. A sheet that cannot be
    // copied is left out (its name in the result is empty, the reason in `refused`) and the
    // others' references to it become links. Returns the copies' names, in the order asked.
    QStringList insertCopies(PackageDocument &source, const QStringList &sourceSheetParts, const QString &sourcePath,
        std::optional<EngineError> *refused);

private:
    const SheetEntry &entryOf(const QString &sheetPart) const;
    void refuseWhenStructureLocked() const;
    bool hasOtherVisibleSheet(int position) const;
    static const SheetEntry *sourceWorksheet(PackageDocument &source, const QString &sourceSheetPart);
    // One copy: `copies` gives the source sheets copied along (case-folded name -> copy's
    // name), `copyOrder` the same case-folded names in the order the copies stand in the
    // target; `givenName` the copy's name when already chosen. With checkOnly, everything is
    // read and checked and nothing changes.
    QString copySheet(PackageDocument &source, const QString &sourceSheetPart, const QString &sourcePath,
        QHash<QString, QString> copies, const QStringList &copyOrder, const QString &givenName, bool checkOnly);

    PackageDocument &m_document;
};

} // namespace gm::xlsx
