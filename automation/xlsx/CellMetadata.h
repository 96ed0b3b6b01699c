#pragma once

#include <QHash>
#include <QString>

#include <pugixml.hpp>

namespace gm::xlsx {

class OpcPackage;
class XmlPart;

// Cell metadata (the cm= attribute of a cell: a dynamic array formula's spill, for one) of a
// worksheet copied from one package into another. The records a copied cell points at are
// added to the target's metadata part (made when it has none) or found there, and the cell
// is given the target's index. Value metadata (vm=, rich values such as pictures in cells)
// leads on into the workbook's rich value parts and is not carried.
class CellMetadataCopy
{
public:
    CellMetadataCopy(OpcPackage &source, const QString &sourceWorkbookPart, OpcPackage &target,
        const QString &targetWorkbookPart);

    // Throws EngineError(SheetCopyUnsupported) for a record that cannot be carried: one the
    // source lacks, one of a kind kept outside the future metadata blocks, or one whose
    // namespace prefix the target binds to another namespace. Changes nothing.
    void check(int cellIndex);
    // The target's index for the source's cell metadata record `cellIndex` (1-based, as cm=
    // writes it), adding what the target lacks. Call check() first.
    int map(int cellIndex);
    // Marks the target's metadata part changed when map() added to it.
    void finish();

private:
    pugi::xml_node sourceBlock(int cellIndex) const;
    XmlPart &targetPart();
    int targetType(pugi::xml_node sourceType);
    int targetFuture(const QByteArray &typeName, pugi::xml_node block);

    OpcPackage &m_source;
    OpcPackage &m_target;
    QString m_targetWorkbookPart;
    QString m_sourcePart;
    QString m_targetPart;
    XmlPart *m_written = nullptr;
    QHash<int, int> m_mapped;
    bool m_changed = false;
};

} // namespace gm::xlsx
