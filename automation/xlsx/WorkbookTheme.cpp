#include "automation/xlsx/WorkbookTheme.h"

#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SheetStructure.h"
#include "automation/xlsx/WorkbookModel.h"

#include <QSet>

namespace gm::xlsx {

namespace {

const QString themeRelationship = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme");
const QString themeType = QStringLiteral("application/vnd.openxmlformats-officedocument.theme+xml");

QString themePart(OpcPackage &package, const QString &workbookPart)
{
    return package.relatedPart(workbookPart, themeRelationship);
}

} // namespace

void copyTheme(PackageDocument &source, PackageDocument &target)
{
    OpcPackage &from = source.package();
    const QString sourcePart = themePart(from, source.model().partName());
    if (sourcePart.isEmpty())
        return;
    const QByteArray bytes = from.partBytes(sourcePart);
    const bool related = !from.relationships(sourcePart).empty();
    OpcPackage &package = target.package();
    const QString workbookPart = target.model().partName();
    QString part = themePart(package, workbookPart);
    std::vector<Relationship> replaced;
    if (part.isEmpty()) {
        const QString folder = workbookPart.left(workbookPart.lastIndexOf(u'/') + 1);
        int n = 1;
        do {
            part = folder + QStringLiteral("theme/theme%1.xml").arg(n++);
        } while (package.hasPart(part));
        package.addRelationship(workbookPart, themeRelationship, part.mid(folder.size()));
    } else {
        replaced = package.relationships(part);
        if (!related && replaced.empty() && package.partBytes(part) == bytes)
            return;
    }
    package.setBinary(part, bytes);
    package.ensureOverride(part, themeType);
    // The pictures the theme fills with, under names free in the target, with the
    // relationship ids the theme's content uses.
    copyRelatedParts(from, sourcePart, package, part);

    // What the replaced theme alone used goes with it.
    QSet<QString> reachable;
    for (const QString &name : reachableParts(package))
        reachable.insert(name.toCaseFolded());
    for (const Relationship &relationship : replaced) {
        const QString &old = relationship.partName;
        if (old.isEmpty() || !package.hasPart(old) || reachable.contains(old.toCaseFolded()))
            continue;
        const QString relsPart = OpcPackage::relationshipsPartName(old);
        if (package.hasPart(relsPart))
            package.removePart(relsPart);
        package.removePart(old);
        package.removeOverride(old);
    }
}

} // namespace gm::xlsx
