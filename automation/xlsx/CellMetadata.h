#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

namespace gm::xlsx {

class OpcPackage;
class XmlPart;

// Cell and value metadata of a worksheet copied from one package into another: cm= (a
// dynamic array formula's spill, for one) and vm= (a rich value: a picture in a cell). The
// records a copied cell points at are added to the target's metadata part (made when it has
// none) or found there, and the cell is given the target's index. A rich value comes along
// with its structure and the pictures it names, into the target's rich data parts.
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
    // The same for value metadata (vm=): rich values whose keys are plain values or
    // pictures; nested rich values, arrays and property bags are refused.
    void checkValue(int valueIndex);
    int mapValue(int valueIndex);
    // Marks the target's parts changed where map() and mapValue() added to them.
    void finish();

private:
    struct RichParts
    {
        QString values, structures, relations, types;
    };
    pugi::xml_node sourceBlock(const char *list, int index) const;
    void checkRecords(pugi::xml_node block);
    pugi::xml_node mapRecords(pugi::xml_node block, pugi::xml_document &built);
    // The target's index for record `index` of a block list ("cellMetadata", "valueMetadata").
    int mapBlock(const char *list, int index, QHash<int, int> &mapped);
    int mapRichValue(int sourceIndex);
    int addRelatedPicture(int sourceIndex);
    XmlPart &targetRichPart(QString &part, const QString &sourcePart, const char *relationshipTail);
    XmlPart &targetPart();
    int targetType(pugi::xml_node sourceType);
    int targetFuture(const QByteArray &typeName, pugi::xml_node block);

    OpcPackage &m_source;
    QString m_sourceWorkbookPart;
    OpcPackage &m_target;
    QString m_targetWorkbookPart;
    QString m_sourcePart;
    QString m_targetPart;
    XmlPart *m_written = nullptr;
    QHash<int, int> m_mapped;
    QHash<int, int> m_mappedValues;
    RichParts m_sourceRich;
    RichParts m_targetRich;
    QHash<QString, XmlPart *> m_dirtyParts;
    QSet<QString> m_reserved; // case-folded part names given out
    bool m_changed = false;
};

} // namespace gm::xlsx
