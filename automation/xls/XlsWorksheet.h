#pragma once

#include "automation/Engine.h"
#include "automation/xls/XlsDocument.h"

#include <memory>

namespace gm::xls {

// A sheet of an open .xls workbook. Page setup is offered on worksheets and chart sheets (the
// print area on worksheets only); other sheet kinds throw NotSupported. A change that fails
// keeps the whole workbook from being saved, so that a file is never left half-changed.
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

    void setColumnsHidden(const QString &columns) override;
    void setColumnWidth(const QString &columns, double characters) override;

private:
    void requirePageSetup(const char *member, bool worksheetOnly = false) const;
    // Runs a change; marks the document modified when it changed records, and refuses the
    // document's save when it failed.
    template<typename Change> void change(Change &&apply);

    std::shared_ptr<XlsDocument> m_document;
    XlsSheet m_sheet;
};

} // namespace gm::xls
