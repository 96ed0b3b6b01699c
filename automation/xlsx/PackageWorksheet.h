#pragma once

#include "automation/Engine.h"
#include "automation/xlsx/WorkbookModel.h"

#include <memory>

namespace gm::xlsx {

class PackageDocument;

// A sheet of an open package. Page setup is offered on worksheets and chart sheets (the
// print area on worksheets only); other sheet kinds throw NotSupported.
class PackageWorksheet : public Worksheet
{
public:
    PackageWorksheet(std::shared_ptr<PackageDocument> document, SheetEntry entry);

    QString name() const override { return m_entry.name; }
    int sheetIndex() const override { return m_entry.position + 1; }
    bool isChart() const override { return m_entry.kind == SheetKind::Chart; }
    SheetVisibility visibility() const override { return m_entry.visibility; }

    QString headerFooter(HeaderFooterSection section) override;
    void setHeaderFooter(HeaderFooterSection section, const QString &code) override;
    QString printArea() override;
    void setPrintArea(const QString &range) override;
    Orientation orientation() override;
    void setOrientation(Orientation orientation) override;

    void setVisibility(SheetVisibility visibility) override;
    void setName(const QString &name) override;
    void deleteSheet() override;

    std::optional<CellBounds> usedRange() override;
    std::vector<QString> displayedTexts(const CellBounds &bounds) override;
    std::vector<QString> displayedTextsSeeking(const CellBounds &bounds, QChar sought) override;
    void setCellValues(const std::vector<CellWrite> &writes) override;

    // Worksheets only; a chart sheet throws NotSupported.
    void protect(const ProtectionPassword &password, SheetPermissions allowed) override;
    int deleteHyperlinks() override;
    void setBackgroundPicture(const QString &picturePath) override;
    void setColumnsHidden(const QString &columns) override;
    void setRowsHidden(const QString &rows) override;
    void setRowHeight(const QString &rows, double points) override;
    void setColumnWidth(const QString &columns, double characters) override;
    void deleteColumns(const QString &columns) override;
    void deleteRows(const QString &rows) override;

private:
    void requirePageSetup(const char *member) const;
    void requireWorksheet(const char *member);
    // Takes the sheet's name, state and position as the workbook now has them.
    void refresh();

    std::shared_ptr<PackageDocument> m_document;
    SheetEntry m_entry;
};

} // namespace gm::xlsx
