#pragma once

#include "automation/Engine.h"
#include "automation/lo/LoEngine.h"

#include <com/sun/star/sheet/XSpreadsheet.hpp>

#include <memory>

namespace gm::lo {

class LoWorkbook;

// A sheet of a workbook loaded in the engine. Lives no longer than its workbook.
class LoWorksheet : public Worksheet
{
public:
    LoWorksheet(
        std::shared_ptr<LoEngine> engine, LoWorkbook *book, css::uno::Reference<css::sheet::XSpreadsheet> sheet, int index);

    QString name() const override;
    int sheetIndex() const override { return m_index; }
    bool isChart() const override;
    SheetVisibility visibility() const override;

    QString headerFooter(HeaderFooterSection section) override;
    void setHeaderFooter(HeaderFooterSection section, const QString &code) override;
    QString printArea() override;
    void setPrintArea(const QString &range) override;
    Orientation orientation() override;
    void setOrientation(Orientation orientation) override;
    int exportPdf(const QString &path) override;
    QString cellText(const QString &address) override;

    // Cells, rows and columns of a BIFF8 .xls (see LoWorkbook::requireXlsCells). Every cell
    // written and every line deleted is declared to the workbook's save check. Deleting lines
    // (the engine's own deletion: cells below or to the right move, references follow) also
    // works in other formats, for comparisons.
    std::optional<CellBounds> usedRange() override;
    std::vector<QString> displayedTexts(const CellBounds &bounds) override;
    void setCellValues(const std::vector<CellWrite> &writes) override;
    void deleteColumns(const QString &columns) override;
    void deleteRows(const QString &rows) override;

private:
    void deleteLines(const QString &text, bool rows);

    std::shared_ptr<LoEngine> m_engine;
    LoWorkbook *m_book;
    css::uno::Reference<css::sheet::XSpreadsheet> m_sheet;
    int m_index; // 1-based position among all sheets
};

} // namespace gm::lo
