#pragma once

#include "automation/Engine.h"

#include <QString>

#include <memory>

namespace gm::xls {

class XlsDocument;

// An .xls workbook changed in place record by record, without a spreadsheet engine: only the
// records a change needs are replaced, inserted or removed, and every other stream and
// storage of the file is copied through byte for byte. Offers sheets (names, kinds,
// visibility, the active sheet) and page setup (headers and footers, print area,
// orientation); saves atomically over the original. BIFF8 (Excel 97 and later) only.
class XlsWorkbook : public Workbook
{
public:
    // Opens and checks the file; throws EngineError (see XlsDocument).
    XlsWorkbook(const QString &path, bool readOnly);
    ~XlsWorkbook() override;

    QString name() const override;
    QString fullName() const override;

    int worksheetCount() override;
    std::unique_ptr<Worksheet> worksheet(int position) override;
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;
    int sheetCount() override;
    std::unique_ptr<Worksheet> sheet(int position) override;
    std::unique_ptr<Worksheet> sheet(const QString &name) override;
    std::unique_ptr<Worksheet> activeSheet() override;

    void protect(const ProtectionPassword &password, bool structure, bool windows) override;
    // RC4 encryption of the workbook stream; the FILESHARING reservation.
    void setPassword(const QString &password) override;
    void setWritePassword(const QString &password) override;
    // Shared exactly when the file has a "User Names" stream. Sharing an .xls is refused
    // (XlsSharingUnsupported); unsharing drops the user names and the revision log.
    bool multiUserEditing() override;
    void share() override;
    void exclusiveAccess() override;

    void save() override;
    // Only over the workbook itself; other targets throw NotSupported.
    void saveAs(const QString &path, int fileFormat) override;
    void close(bool saveChanges) override;

private:
    std::shared_ptr<XlsDocument> m_document;
};

// Opens an .xls workbook for in-place editing; throws EngineError.
std::unique_ptr<Workbook> openXlsRecords(const QString &path, bool readOnly = false);

} // namespace gm::xls
