#include "automation/xlsx/WorkbookTheme.h"

#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/WorkbookModel.h"

namespace gm::xlsx {

namespace {

const QString themeRelationship = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme");
const QString themeType = QStringLiteral("application/vnd.openxmlformats-officedocument.theme+xml");

QString themePart(OpcPackage &package, const QString &workbookPart)
{
    for (const Relationship &relationship : package.relationships(workbookPart)) {
        if (rel::isType(relationship.type, themeRelationship) && !relationship.partName.isEmpty()
            && package.hasPart(relationship.partName))
            return relationship.partName;
    }
    return {};
}

} // namespace

void copyTheme(PackageDocument &source, PackageDocument &target)
{
    OpcPackage &from = source.package();
    const QString sourcePart = themePart(from, source.model().partName());
    if (sourcePart.isEmpty() || !from.relationships(sourcePart).empty())
        return;
    const QByteArray bytes = from.partBytes(sourcePart);
    OpcPackage &package = target.package();
    const QString workbookPart = target.model().partName();
    QString part = themePart(package, workbookPart);
    if (part.isEmpty()) {
        const QString folder = workbookPart.left(workbookPart.lastIndexOf(u'/') + 1);
        int n = 1;
        do {
            part = folder + QStringLiteral("theme/theme%1.xml").arg(n++);
        } while (package.hasPart(part));
        package.addRelationship(workbookPart, themeRelationship, part.mid(folder.size()));
    } else if (package.partBytes(part) == bytes) {
        return;
    }
    package.setBinary(part, bytes);
    package.ensureOverride(part, themeType);
}

} // namespace gm::xlsx
