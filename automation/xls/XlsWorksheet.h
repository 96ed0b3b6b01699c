#pragma once

#include "automation/Engine.h"
#include "automation/xls/XlsDocument.h"

#include <memory>

namespace gm::xls {

// A sheet of an open .xls workbook. Page setup is offered on worksheets and chart sheets (the
// print area on worksheets only); other sheet kinds throw NotSupported. A change that fails
// keeps the whole workbook from being saved, so that a file is never left half-changed; a
// refusal of a sheet change (the last visible sheet, a forbidden or taken name) changes
// nothing and leaves the other changes to be saved. The sheet is followed by its BOUNDSHEET8
// record, so it stays the same sheet while others are renamed or change state.
class XlsWorksheet : public Worksheet
{
public:
    XlsWorksheet(std::shared_ptr<XlsDocument> document, XlsSheet sheet);

    QString name() const override { return m_sheet.name; }
    int sheetIndex() const override { return m_sheet.position + 1; }
    bool isChart() const override { return m_sheet.kind == SheetKind::Chart; }
    SheetVisibility visibility() const override { return m_sheet.visibility; }

    QString headerFooter(HeaderFooterSection section) override;
    void setHeaderFooter(HeaderFooterSection section, const QString &code) override;
    QString printArea() override;
    void setPrintArea(const QString &range) override;
    Orientation orientation() override;
    void setOrientation(Orientation orientation) override;

    void setVisibility(SheetVisibility visibility) override;
    void setName(const QString &name) override;
    // A workbook with a VBA project is refused (XlsSheetNotDeletable): the sheet's code module
    // would stay behind in the project.
    void deleteSheet() override;
    // Worksheets only; other sheets throw NotSupported. A sheet protected with another
    // password is refused without keeping the workbook's other changes from being saved.
    void protect(const ProtectionPassword &password, SheetPermissions allowed) override;
    int deleteHyperlinks() override;
    void setBackgroundPicture(const QString &picturePath) override;
    void setColumnsHidden(const QString &columns) override;
    void setColumnWidth(const QString &columns, double characters) override;
    void setRowsHidden(const QString &rows) override;
    void setRowHeight(const QString &rows, double points) override;

    // Cells as the file held them when it was opened.
    std::optional<CellBounds> usedRange() override;
    std::vector<QString> displayedTexts(const CellBounds &bounds) override;
    // Constants are written into the records (see SheetCellRecords); an entry that needs the
    // spreadsheet engine (a formula ...) throws XlsCellsNeedEngine before anything changes.
    // The save then checks that no cell other than those written changed.
    void setCellValues(const std::vector<CellWrite> &writes) override;

private:
    // Reads the sheet's name, position and state again from the document.
    void refresh();
    void requirePageSetup(const char *member, bool worksheetOnly = false) const;
    // Runs a change; marks the document modified when it changed records, and refuses the
    // document's save when it failed.
    template<typename Change> void change(Change &&apply);

    std::shared_ptr<XlsDocument> m_document;
    XlsSheet m_sheet;
};

} // namespace gm::xls
