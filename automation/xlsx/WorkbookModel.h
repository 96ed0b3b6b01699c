#pragma once

#include "automation/Engine.h"

#include <QString>

#include <vector>

namespace gm::xlsx {

class OpcPackage;
class XmlPart;

enum class SheetKind { Worksheet, Chart, Other };

struct SheetEntry
{
    QString name;
    QString partName;
    SheetKind kind = SheetKind::Worksheet;
    SheetVisibility visibility = SheetVisibility::Visible;
    int position = 0; // 0-based among all sheets, in tab order
};

// The workbook part: its sheets in tab order (told apart by relationship type, never by part
// name), the active sheet and the defined names.
class WorkbookModel
{
public:
    // Reads the workbook part. Throws NotAWorkbook when the package's main part is not a
    // SpreadsheetML workbook, UnsupportedFormat for a binary workbook, Damaged when the
    // workbook or a sheet it lists cannot be found or read.
    explicit WorkbookModel(OpcPackage &package);

    // Whether a main part of this content type is a SpreadsheetML workbook in XML.
    static bool isWorkbookContentType(const QString &contentType);

    const QString &partName() const { return m_partName; }
    // The main part's content type; "" when the package does not declare it.
    const QString &contentType() const { return m_contentType; }
    const std::vector<SheetEntry> &sheets() const { return m_sheets; }
    // Reads the sheets again after the workbook part was edited.
    void reload() { readSheets(); }
    // 0-based position of the active sheet among all sheets.
    int activeTab() const;

    // The formula of a defined name with that sheet scope (-1: workbook scope); a null
    // QString when there is none. Names compare without regard to case.
    QString definedName(const QString &name, int localSheetId) const;
    // Sets or adds the name; returns false when it already had that formula.
    bool setDefinedName(const QString &name, int localSheetId, const QString &formula);
    // Removes the name; returns false when there was none.
    bool removeDefinedName(const QString &name, int localSheetId);

private:
    XmlPart &part() const;
    void readSheets();

    OpcPackage &m_package;
    QString m_partName;
    QString m_contentType;
    std::vector<SheetEntry> m_sheets;
};

} // namespace gm::xlsx
