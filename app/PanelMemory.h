#pragma once

// The page and panel inputs that survive from one start of the program to the next: read at
// start-up, written when the main window closes.

#include "operations/workbook/PropertiesOperation.h"

#include <QString>

#include <array>

namespace gm {

class SettingsStore;

inline constexpr int kFirstFeatureIndex = 8;
inline constexpr int kLastFeatureIndex = 22;
inline constexpr int kDefaultPageIndex = 11;

// Choice of the sheet-operations panel, as stored under "OpIndex".
enum class SheetOperation { Delete = 0, Insert = 1, Rename = 2, Background = 3, Hide = 4, Unhide = 5 };

struct PanelMemory
{
    int pageIndex = 0; // toolbar index of the feature button to press; none when not 8 to 22
    QString activeSheetName;
    QString sheetOldName;
    QString sheetNewName;
    int opIndex = 0;
    int optBatchRenameSheet = 0;
    std::array<QString, kPropertyCount> properties;
    int abstractMask = 0;

    bool hasPage() const { return pageIndex >= kFirstFeatureIndex && pageIndex <= kLastFeatureIndex; }
    // Any stored value other than 1 to 5 selects the delete operation.
    SheetOperation sheetOperation() const;
    static int opIndexOf(SheetOperation operation) { return static_cast<int>(operation); }
    bool propertyChecked(int index) const { return (abstractMask >> index) & 1; }

    // Section "Page".
    void readPage(const SettingsStore &store);
    // Sections "BatchSheetOP" and "Param", in the order the panels are restored.
    void readInputs(const SettingsStore &store);
    // Everything, in exit order; the page only when a feature button is pressed.
    void write(SettingsStore &store) const;
};

} // namespace gm
