#pragma once

#include "automation/FormulaReferences.h"
#include "automation/xlsx/SheetRowsColumns.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

#include <optional>
#include <utility>

// Objects that sit on the grid of a worksheet, moved when whole rows or columns of it are
// deleted: the anchors of a drawing part (pictures, charts, shapes), the comments of a
// comments part and the notes of a legacy VML drawing that show them.
namespace gm::xlsx::objects {

// How an anchor follows the cells (editAs of a two-cell anchor; a one-cell anchor moves but
// keeps its size; an absolute anchor stays where it is). Rows (or columns) after the deleted
// ones move back; a deletion after an object leaves it.
// - Move and size with cells: each end inside the deleted run goes to the edge of the run,
//   so a partly covered object shrinks; one that lies wholly inside the run is deleted.
// - Move but keep the size: an object whose start is deleted starts where the run was; its
//   end follows at its own size, measured in the sizes of the lines.
// - Stay: the object keeps its place and size on the grid, which other lines may now hold.
// The anchors an mc:AlternateContent offers (its choices and fallback) are each moved the
// same way, since a reader shows any one of them.

// The lines (0-based, first and last) whose sizes placing the drawing's objects needs; none
// when every object is placed without them.
std::optional<std::pair<qint64, qint64>> sizedLines(pugi::xml_node drawing, const formula::LineDeletion &deletion);

// Why the anchors of the drawing cannot be moved exactly: the name of the first object that
// cannot (an anchor without its markers, alternatives that the deletion would not treat
// alike), or of markup that is not understood; empty when all can.
QString drawingRefusal(pugi::xml_node drawing, const formula::LineDeletion &deletion);

// Moves the anchors of the drawing and removes those the deletion takes whole; `sizes` are
// the sizes of the lines sizedLines asks for, before the deletion. Relationship ids that
// removed objects used and that no remaining object uses are added to unusedIds. Returns
// whether anything changed.
bool moveDrawingAnchors(
    pugi::xml_node drawing, const formula::LineDeletion &deletion, const LineSizes &sizes, QStringList *unusedIds);

// Moves the comment references of a comments part, legacy or threaded (replies share their
// comment's cell); comments on deleted cells are removed. Returns whether anything changed.
bool moveComments(pugi::xml_node comments, const formula::LineDeletion &deletion);
// Whether a comments part, legacy or threaded, still holds a comment.
bool hasComments(pugi::xml_node comments);
// Whether a legacy VML drawing still holds a shape.
bool hasVmlShapes(const QByteArray &vml);

// Why the shapes of a legacy VML drawing cannot be moved: a shape that is not a cell note
// (buttons, check boxes and other controls, which carry cell links); empty when all can.
QString vmlRefusal(const QByteArray &vml);

// The VML drawing with each cell note moved with its cell: its row and column and the rows
// (columns) of its box; the note of a deleted cell is left out. The rest keeps its bytes.
QByteArray movedVmlNotes(const QByteArray &vml, const formula::LineDeletion &deletion);

} // namespace gm::xlsx::objects
