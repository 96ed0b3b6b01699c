#pragma once

#include "automation/Engine.h"
#include "automation/Preflight.h"
#include "automation/lo/LoEngine.h"

#include <com/sun/star/lang/XComponent.hpp>

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
        int activeSheetHint = -1; // from the file itself where the engine does not report it
    };

    LoWorkbook(std::shared_ptr<LoEngine> engine, css::uno::Reference<css::lang::XComponent> document, Source source);
    ~LoWorkbook() override;

    void setImportDetails(const QString &filterName, int activeSheetHint);

    QString name() const override;
    QString fullName() const override;
    int worksheetCount() override;
    std::unique_ptr<Worksheet> worksheet(int position) override;
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;
    int sheetCount() override { return worksheetCount(); }
    std::unique_ptr<Worksheet> sheet(int position) override { return worksheet(position); }
    std::unique_ptr<Worksheet> sheet(const QString &name) override { return worksheet(name); }
    std::unique_ptr<Worksheet> activeSheet() override;
    void save() override;
    void saveAs(const QString &path, int fileFormat) override;
    void close(bool saveChanges) override;

private:
    int activeIndex();
    void storeTo(const QString &path, const QString &filter, const QString &options);
    void exportText(const QString &target, bool csv);
    void exportHtml(const QString &target);
    void exportWebArchive(const QString &target);
    void exportWorkbook(const QString &target, const QString &filter, WorkbookKind kind);
    void snapshotFile();
    void checkUnchangedOnDisk() const;
    void releaseDocument();

    std::shared_ptr<LoEngine> m_engine;
    css::uno::Reference<css::lang::XComponent> m_document;
    Source m_source;
    bool m_modified = false;
    // Identity of the file when it was loaded, to notice another program's write.
    qint64 m_size = -1;
    qint64 m_mtime = 0;
    quint64 m_inode = 0;
};

} // namespace gm::lo
