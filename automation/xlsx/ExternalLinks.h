#pragma once

#include "automation/FormulaReferences.h"

#include <QString>

#include <map>
#include <vector>

namespace gm::xlsx {

class OpcPackage;
class XmlPart;
class WorkbookModel;

// Links from a workbook to cells of another workbook file, as formulas read them with
// [n]Sheet!A1. Each link is an externalLink part listing the other workbook's sheets and
// holding the last values of the cells read from them, so that the formulas show those
// values before the link is ever updated; its relationship names the file, and the workbook
// lists the links in <externalReferences> in the order of their numbers.

// The cells read from each sheet of the other workbook, by sheet name as spelled there.
using LinkedCells = std::map<QString, std::vector<formula::Area>>;

// How a link names a workbook file: its absolute path as a file URL, the way the spreadsheet
// program writes a file that is not beside the linking workbook.
QString linkLocation(const QString &path);

// How many links the workbook has.
int linkCount(OpcPackage &package, const QString &workbookPart);

// The number of the workbook's link to `location` ([n] in formulas): that of the link it
// already has, or the one a new link would get.
int linkNumber(OpcPackage &package, const QString &workbookPart, const QString &location);

// Gives the workbook its link to `location` (a new externalLink part with its relationships,
// content type and <externalReferences> entry), or extends the link it has, so that it lists
// the sheets of `cells` and holds the values their cells have in `source`, the linked
// workbook's package as read now. The link lists the sheets in the source's tab order, so
// that a 3-D span ([n]Jan:Mar!B2) covers the same sheets through it. Returns the link's number. Throws EngineError(Damaged) when
// a sheet of `cells` is not in the source.
int addLink(OpcPackage &package, XmlPart &workbook, const QString &location, OpcPackage &source,
    const WorkbookModel &sourceModel, const LinkedCells &cells);

// Where the workbook's link `number` leads, as linkLocation() names it when the link names a
// file relative to the workbook's folder (`workbookPath`); as written otherwise; empty when
// the workbook has no such link.
QString linkLocationOf(OpcPackage &package, const QString &workbookPart, int number, const QString &workbookPath);

// Gives the workbook the link `sourceNumber` of the workbook `source` under `location` (a new
// link, or the link it has to that file, which then also lists the other one's sheets, names
// and cached values it lacks), so that a copied formula reads the same cells through it.
// Returns the link's number. Throws EngineError(Damaged) for a link the source lacks.
int copyLink(OpcPackage &package, XmlPart &workbook, const QString &location, OpcPackage &source,
    const QString &sourceWorkbookPart, int sourceNumber);

} // namespace gm::xlsx
