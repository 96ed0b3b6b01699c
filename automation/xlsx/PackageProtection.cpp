#include "automation/xlsx/PackageProtection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/SplicedXmlPart.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlTree.h"

#include <QList>

#include <array>
#include <iterator>

namespace gm::xlsx {

namespace {

// The sheetProtection attribute of each permission, in SheetPermission order.
constexpr std::array<const char *, kSheetPermissionCount> permissionAttributes{"formatCells", "formatColumns",
    "formatRows", "insertColumns", "insertRows", "insertHyperlinks", "deleteColumns", "deleteRows", "sort",
    "autoFilter", "pivotTables"};

bool isTrue(pugi::xml_attribute attribute)
{
    const QString value = QString::fromUtf8(attribute.value()).trimmed();
    return value == QLatin1String("1") || value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

QString value(pugi::xml_node node, const QString &name)
{
    return QString::fromUtf8(node.attribute(name.toUtf8().constData()).value()).trimmed();
}

// Whether the password opens the protection an element stores with attributes named
// `prefix` + "AlgorithmName" ... (prefix "" for a sheet: algorithmName ...) and the legacy
// hexadecimal `legacyName`. Protection without any password opens with every password.
bool opens(pugi::xml_node element, const QString &prefix, const char *legacyName, const ProtectionPassword &password)
{
    auto name = [&](const char *base) {
        QString result = QString::fromLatin1(base);
        if (!prefix.isEmpty())
            result[0] = result[0].toUpper();
        return prefix + result;
    };
    const QString hash = value(element, name("hashValue"));
    const QString legacy = QString::fromUtf8(element.attribute(legacyName).value()).trimmed();
    bool ok = false;
    const quint16 verifier = legacy.isEmpty() ? 0 : quint16(legacy.toUInt(&ok, 16));
    const bool hasLegacy = !legacy.isEmpty() && (!ok || verifier != 0);
    if (hash.isEmpty() && !hasLegacy)
        return true;
    if (!hash.isEmpty()
        && password.matchesIso(value(element, name("algorithmName")), value(element, name("saltValue")), hash,
            value(element, name("spinCount"))))
        return true;
    return hasLegacy && ok && !password.isEmpty() && password.matchesLegacy(verifier);
}

// The password attributes, with a leading space: ` algorithmName="SHA-512" hashValue=...`.
QByteArray passwordAttributes(const ProtectionPassword &password, const QString &prefix)
{
    if (password.isEmpty())
        return {};
    auto name = [&](const char *base) {
        QByteArray result(base);
        if (!prefix.isEmpty())
            result[0] = char(QChar::toUpper(result[0]));
        return prefix.toLatin1() + result;
    };
    return ' ' + name("algorithmName") + "=\"SHA-512\" " + name("hashValue") + "=\"" + password.hash().toBase64() + "\" "
        + name("saltValue") + "=\"" + password.salt().toBase64() + "\" " + name("spinCount") + "=\""
        + QByteArray::number(ProtectionPassword::kSpinCount) + '"';
}

} // namespace

bool protectWorkbook(PackageDocument &document, const ProtectionPassword &password, bool structure, bool windows)
{
    XmlPart &part = document.package().xml(document.model().partName());
    pugi::xml_node root = part.root();
    pugi::xml_node existing = xml::child(root, "workbookProtection");
    const QString prefix = QStringLiteral("workbook");
    if (existing && (isTrue(existing.attribute("lockStructure")) || isTrue(existing.attribute("lockWindows")))
        && !opens(existing, prefix, "workbookPassword", password))
        throw EngineError(ErrorCode::ProtectedWithOtherPassword, QStringLiteral("workbook %1").arg(document.path()));

    // What protects the change history of a shared workbook stays.
    QList<std::pair<QByteArray, QByteArray>> kept;
    for (pugi::xml_attribute attribute : existing.attributes()) {
        const QByteArray name(attribute.name());
        if (name.startsWith("revisions") || name == "lockRevision")
            kept.append({name, QByteArray(attribute.value())});
    }
    if (!structure && !windows && kept.isEmpty()) {
        if (!existing)
            return false;
        root.remove_child(existing);
        part.markDirty();
        return true;
    }

    // Built in the order of the schema: password, the change history's, then the flags.
    pugi::xml_document built;
    pugi::xml_node element = built.append_child(xml::siblingName(root, "workbookProtection").c_str());
    if (!password.isEmpty()) {
        element.append_attribute("workbookAlgorithmName").set_value("SHA-512");
        element.append_attribute("workbookHashValue").set_value(password.hash().toBase64().constData());
        element.append_attribute("workbookSaltValue").set_value(password.salt().toBase64().constData());
        element.append_attribute("workbookSpinCount").set_value(ProtectionPassword::kSpinCount);
    }
    for (const auto &[name, text] : kept) {
        if (name != "lockRevision")
            element.append_attribute(name.constData()).set_value(text.constData());
    }
    if (structure)
        element.append_attribute("lockStructure").set_value("1");
    if (windows)
        element.append_attribute("lockWindows").set_value("1");
    for (const auto &[name, text] : kept) {
        if (name == "lockRevision")
            element.append_attribute(name.constData()).set_value(text.constData());
    }

    if (existing) {
        bool same = std::distance(existing.attributes().begin(), existing.attributes().end())
            == std::distance(element.attributes().begin(), element.attributes().end());
        for (pugi::xml_attribute attribute : element.attributes())
            same = same && std::string_view(existing.attribute(attribute.name()).value()) == attribute.value();
        if (same && password.isEmpty())
            return false;
        existing = root.insert_copy_before(element, existing);
        root.remove_child(existing.next_sibling());
    } else {
        pugi::xml_node placed = xml::insertChild(root, element.name(), order::workbook);
        for (pugi::xml_attribute attribute : element.attributes())
            placed.append_attribute(attribute.name()).set_value(attribute.value());
    }
    part.markDirty();
    return true;
}

bool protectSheet(SplicedXmlPart &sheet, const ProtectionPassword &password, SheetPermissions allowed)
{
    const QByteArray current = sheet.element("sheetProtection");
    const QByteArray name = sheet.childName("sheetProtection");
    const XmlPart existing(sheet.name(), current.isEmpty() ? '<' + name + "/>" : current);
    const pugi::xml_node old = existing.root();
    if (isTrue(old.attribute("sheet")) && !opens(old, QString(), "password", password))
        throw EngineError(ErrorCode::ProtectedWithOtherPassword, QStringLiteral("sheet %1").arg(sheet.name()));

    QByteArray text = '<' + name + passwordAttributes(password, QString()) + " sheet=\"1\" objects=\"1\" scenarios=\"1\"";
    auto permission = [&](SheetPermission which) {
        if (allowed.allows(which))
            text += QByteArray(" ") + permissionAttributes[size_t(which)] + "=\"0\"";
    };
    for (int i = 0; i <= int(SheetPermission::DeleteRows); ++i)
        permission(SheetPermission(i));
    // Whether locked and unlocked cells may be selected is a setting of the sheet, not of
    // the protection call: it stays as it was.
    if (isTrue(old.attribute("selectLockedCells")))
        text += " selectLockedCells=\"1\"";
    for (int i = int(SheetPermission::Sort); i < kSheetPermissionCount; ++i)
        permission(SheetPermission(i));
    if (isTrue(old.attribute("selectUnlockedCells")))
        text += " selectUnlockedCells=\"1\"";
    text += "/>";
    return sheet.setElement("sheetProtection", text, order::worksheet);
}

} // namespace gm::xlsx
