#pragma once

#include "automation/xls/BiffInfo.h"
#include "automation/Engine.h"
#include "automation/FileStamp.h"
#include "automation/Preflight.h"
#include "automation/lo/HeaderFooterPackage.h"
#include "automation/lo/LoEngine.h"
#include "automation/UsedRange.h"
#include "automation/xls/SaveGuard.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/lang/XComponent.hpp>

#include <QMap>
#include <QSet>

#include <memory>

namespace gm::lo {

class LoWorkbook : public Workbook
{
public:
    struct Source
    {
        QString path; // empty for a new workbook
        QString newName; // name of a new workbook ("Book1")
        QString filterName; // import filter the engine chose
        WorkbookKind kind = WorkbookKind::Xlsx;
        bool readOnly = false;
    };

    LoWorkbook(std::shared_ptr<LoEngine> engine, css::uno::Reference<css::lang::XComponent> document, Source source);
    ~LoWorkbook() override;

    // The import filter the engine chose, and what the .xls file itself records (the active
    // sheet, sheet kinds, header and footer codes), which the engine does not report.
    void setImportDetails(const QString &filterName, BiffSummary biff);

    QString name() const override;
    QString fullName() const override;
    int worksheetCount() override;
    std::unique_ptr<Worksheet> worksheet(int position) override;
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;
    int sheetCount() override;
    std::unique_ptr<Worksheet> sheet(int position) override;
    std::unique_ptr<Worksheet> sheet(const QString &name) override;
    std::unique_ptr<Worksheet> activeSheet() override;
    QString builtinProperty(DocumentProperty property) override;
    void setBuiltinProperty(DocumentProperty property, const QString &value) override;
    void save() override;
    void saveAs(const QString &path, int fileFormat) override;
    void close(bool saveChanges) override;
    int exportPdf(const QString &path) override;
    QString insertWorksheetCopy(Workbook &source, const QString &sheetName, const QString &sourcePath = {}) override;

    // The pages of one sheet (1-based position among all sheets) as a PDF file; 0 and no
    // file when it is hidden or holds nothing that prints.
    int exportSheetPdf(const QString &path, int index);

    // For the workbook's sheets (1-based positions among all sheets).
    BiffSheet biffSheet(int index) const;
    HeaderFooterCodes headerFooterCodes(int index);
    void setHeaderFooterCode(int index, HeaderFooterSection section, const QString &code);
    // The sheet's page style; with own, a style shared with other sheets is first copied
    // so that a change reaches this sheet only.
    css::uno::Reference<css::beans::XPropertySet> pageStyle(int index, bool own);
    void markModified() { m_modified = true; }
    // What the changes made so far may alter in an .xls (names, cells, sheet names); an
    // in-place save refuses a written file that differs from the original in anything else.
    xls::ExpectedChanges &expectedChanges() { return m_expectedChanges; }

    // Cell contents of an .xls through the engine. The engine formats values and reads typed
    // text its own way; what a cell shows is rendered from the file's own values and number
    // formats instead, as for an .xlsx, and typed text is read by the same en-US parser. Throws
    // NotSupported for anything but a BIFF8 .xls, and for reading a sheet this session has
    // already changed.
    void requireXlsCells(int index, bool reading);
    // Whether this is a BIFF8 .xls, whose cells the calls above may touch.
    bool hasXlsCells() const;
    std::optional<CellBounds> fileUsedRange(int index);
    const xls::WorkbookContent &fileContent();
    // Records that a sheet's cells changed (1-based position among all sheets).
    void cellsChanged(int index);
    css::uno::Reference<css::lang::XComponent> document() const { return m_document; }

private:
    QList<int> worksheetIndices(); // positions of the worksheets among all sheets
    void applyHeaderFooters();
    void guardAgainstLoss(const QString &written);
    void restoreTabs(const QString &written);
    void refreshFormulaResults();
    int activeIndex();
    void storeTo(const QString &path, const QString &filter, const QString &options,
        const css::uno::Sequence<css::beans::PropertyValue> &filterData = {});
    bool printsAnything(int index);
    int writePdf(const QString &path, int index);
    void exportText(const QString &target, bool csv);
    void exportHtml(const QString &target);
    void exportWebArchive(const QString &target);
    void exportWorkbook(const QString &target, const QString &filter, WorkbookKind kind);
    void requireWithinXlsLimits();
    void snapshotFile();
    void checkUnchangedOnDisk() const;
    void releaseDocument();

    std::shared_ptr<LoEngine> m_engine;
    css::uno::Reference<css::lang::XComponent> m_document;
    Source m_source;
    bool m_modified = false;
    BiffSummary m_biff; // the file's record of its sheets, when it matches the loaded ones
    BiffSummary m_originalBiff; // the file as loaded, to check saves against
    QMap<int, HeaderFooterCodes> m_headerFooters; // codes of sheets whose headers were read or set
    QList<int> m_pendingHeaderFooters; // sheets whose codes are still to be applied
    xls::ExpectedChanges m_expectedChanges;
    std::optional<xls::WorkbookContent> m_fileContent;
    std::optional<QList<SheetUsage>> m_fileUsage;
    QSet<int> m_changedSheets;
    // Identity of the file when it was loaded, to notice another program's write.
    std::optional<FileStamp> m_stamp;
};

} // namespace gm::lo
