#pragma once

#include <array>
#include <string_view>

// Child element orders that the package schemas require, by local name. New elements are
// inserted before the first existing sibling that comes later in the list.
namespace gm::xlsx::order {

using namespace std::string_view_literals;

inline constexpr std::array worksheet{
    "sheetPr"sv, "dimension"sv, "sheetViews"sv, "sheetFormatPr"sv, "cols"sv, "sheetData"sv, "sheetCalcPr"sv,
    "sheetProtection"sv, "protectedRanges"sv, "scenarios"sv, "autoFilter"sv, "sortState"sv, "dataConsolidate"sv,
    "customSheetViews"sv, "mergeCells"sv, "phoneticPr"sv, "conditionalFormatting"sv, "dataValidations"sv,
    "hyperlinks"sv, "printOptions"sv, "pageMargins"sv, "pageSetup"sv, "headerFooter"sv, "rowBreaks"sv,
    "colBreaks"sv, "customProperties"sv, "cellWatches"sv, "ignoredErrors"sv, "smartTags"sv, "drawing"sv,
    "legacyDrawing"sv, "legacyDrawingHF"sv, "drawingHF"sv, "picture"sv, "oleObjects"sv, "controls"sv,
    "webPublishItems"sv, "tableParts"sv, "extLst"sv};

inline constexpr std::array chartsheet{
    "sheetPr"sv, "sheetViews"sv, "sheetProtection"sv, "customSheetViews"sv, "pageMargins"sv, "pageSetup"sv,
    "headerFooter"sv, "drawing"sv, "legacyDrawing"sv, "legacyDrawingHF"sv, "drawingHF"sv, "picture"sv,
    "webPublishItems"sv, "extLst"sv};

inline constexpr std::array workbook{
    "fileVersion"sv, "fileSharing"sv, "workbookPr"sv, "workbookProtection"sv, "bookViews"sv, "sheets"sv,
    "functionGroups"sv, "externalReferences"sv, "definedNames"sv, "calcPr"sv, "oleSize"sv,
    "customWorkbookViews"sv, "pivotCaches"sv, "smartTagPr"sv, "smartTagTypes"sv, "webPublishing"sv,
    "fileRecoveryPr"sv, "webPublishObjects"sv, "extLst"sv};

inline constexpr std::array headerFooter{
    "oddHeader"sv, "oddFooter"sv, "evenHeader"sv, "evenFooter"sv, "firstHeader"sv, "firstFooter"sv};

// Attributes of pageSetup in the order Excel writes them.
inline constexpr std::array pageSetupAttributes{
    "paperSize"sv, "paperHeight"sv, "paperWidth"sv, "scale"sv, "firstPageNumber"sv, "fitToWidth"sv,
    "fitToHeight"sv, "pageOrder"sv, "orientation"sv, "usePrinterDefaults"sv, "blackAndWhite"sv, "draft"sv,
    "cellComments"sv, "useFirstPageNumber"sv, "errors"sv, "horizontalDpi"sv, "verticalDpi"sv, "copies"sv, "id"sv};

// docProps/core.xml in the order Excel writes it (the schema allows any order).
inline constexpr std::array coreProperties{
    "title"sv, "subject"sv, "creator"sv, "keywords"sv, "description"sv, "lastModifiedBy"sv, "lastPrinted"sv,
    "created"sv, "modified"sv, "category"sv, "contentStatus"sv};

// docProps/app.xml in the order Excel writes it (the schema allows any order).
inline constexpr std::array extendedProperties{
    "Template"sv, "TotalTime"sv, "Application"sv, "DocSecurity"sv, "ScaleCrop"sv, "HeadingPairs"sv,
    "TitlesOfParts"sv, "Manager"sv, "Company"sv, "LinksUpToDate"sv, "SharedDoc"sv, "HyperlinkBase"sv,
    "HyperlinksChanged"sv, "AppVersion"sv};

} // namespace gm::xlsx::order
